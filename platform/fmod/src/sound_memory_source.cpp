#include "sound_memory_source.hpp"

#include <algorithm>
#include <cstring>

#include "sound_format.hpp"

namespace pw::sound {

MemorySource::MemorySource(std::shared_ptr<SoundImpl> sound)
    : SoundSource(std::move(sound)), scratch_(static_cast<size_t>(kChunkFrames) * sound_->format().frameBytes) {}

unsigned MemorySource::pull(float* out, unsigned frames) {
    const SoundImpl::Format& f = sound_->format();
    const auto ch = static_cast<size_t>(f.channels);
    const uint64_t length = sound_->lengthFrames();
    unsigned n = 0;
    bool ended = ctl_->ended.load(std::memory_order_relaxed) || sound_->released();

    const uint64_t seek = ctl_->seek.load(std::memory_order_acquire);
    if (PlayControl::hi(seek) != appliedGen_) {
        appliedGen_ = PlayControl::hi(seek);
        pos_ = PlayControl::lo(seek);
        // The position first, then the generation: a reader that sees the generation applied
        // also sees where it led.
        ctl_->position.store(static_cast<uint32_t>(pos_), std::memory_order_release);
        ctl_->appliedSeekGen.store(appliedGen_, std::memory_order_release);
    }

    while (!ended && n < frames) {
        uint64_t loopStart = 0;
        const uint64_t end = passEnd(*ctl_, length, &loopStart);
        if (pos_ >= end) {
            if (ctl_->wrapsAt(end, loopStart)) {
                pos_ = loopStart;
                continue;
            }
            ended = true;
            break;
        }
        const unsigned take =
            static_cast<unsigned>(std::min<uint64_t>({end - pos_, uint64_t{frames - n}, uint64_t{kChunkFrames}}));
        const unsigned char* src = sound_->memory() + pos_ * f.frameBytes;
        if (sound_->isUserSound()) {
            // A recording may be writing this buffer right now.
            atomicCopyOut(scratch_.data(), src, static_cast<size_t>(take) * f.frameBytes);
            src = scratch_.data();
        }
        pcmToFloat(src, f.format, out + n * ch, take * ch);
        pos_ += take;
        n += take;
    }
    ctl_->position.store(static_cast<uint32_t>(std::min<uint64_t>(pos_, 0xffffffffu)), std::memory_order_release);
    return finishPull(out, n, frames, ended);
}

}  // namespace pw::sound
