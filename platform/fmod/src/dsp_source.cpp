#include "dsp_source.hpp"

#include <algorithm>
#include <cstring>

namespace pw::mix {

DspSource::DspSource(DSPImpl* head, int channels, unsigned blockFrames)
    : head_(head), channels_(channels), block_(blockFrames),
      input_(static_cast<size_t>(blockFrames) * channels, 0.0f),
      staged_(static_cast<size_t>(blockFrames) * channels, 0.0f) {}

float DspSource::defaultFrequency() const {
    return head_->defaultFrequency.load(std::memory_order_relaxed);
}

unsigned DspSource::pull(float* out, unsigned frames) {
    const unsigned total = frames;
    while (frames > 0) {
        if (stagedOffset_ == stagedFrames_) {
            // A generator's input is silence; a callback that scribbles on it must not leak into
            // the next block.
            std::memset(input_.data(), 0, sizeof(float) * input_.size());
            if (!head_->process(channel_, input_.data(), staged_.data(), block_, channels_)) {
                std::memset(staged_.data(), 0, sizeof(float) * staged_.size());  // bypassed: silence
            }
            stagedFrames_ = block_;
            stagedOffset_ = 0;
        }
        const unsigned n = std::min(frames, stagedFrames_ - stagedOffset_);
        std::memcpy(out, staged_.data() + static_cast<size_t>(stagedOffset_) * channels_,
                    sizeof(float) * n * channels_);
        out += static_cast<size_t>(n) * channels_;
        stagedOffset_ += n;
        frames -= n;
    }
    return total;  // a unit never ends
}

}  // namespace pw::mix
