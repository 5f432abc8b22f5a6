#include "resampler.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace pw::mix {

void Resampler::allocate(int channels) {
    const auto capacity = static_cast<unsigned>(kMaxRatio * kChunk) + 4;
    fifo_.assign(static_cast<size_t>(capacity) * channels, 0.0f);  // may throw: nothing changed then
    channels_ = channels;
    capacity_ = capacity;
    reset();
}

void Resampler::release() {
    std::vector<float>().swap(fifo_);
    capacity_ = 0;
    channels_ = 0;
    reset();
}

void Resampler::reset() {
    count_ = 0;
    pos_ = 0.0;
    ended_ = false;
}

bool Resampler::render(ChannelSource& source, float* out, unsigned frames, double ratio) {
    const int ch = channels_;
    if (!(ratio > 0.0)) {  // 0 (and NaN) pull nothing
        std::memset(out, 0, sizeof(float) * frames * ch);
        return !ended_;
    }
    ratio = std::min(ratio, kMaxRatio);
    for (unsigned done = 0; done < frames;) {
        const unsigned n = std::min(kChunk, frames - done);
        // The last output frame of this chunk sits at pos + (n-1) * ratio; it needs the frame
        // after it only when it falls between two frames.
        const double last = pos_ + (n - 1) * ratio;
        const double lastFloor = std::floor(last);
        const unsigned need = static_cast<unsigned>(lastFloor) + (last > lastFloor ? 2 : 1);
        while (count_ < need && !ended_) {
            const unsigned want = need - count_;
            float* dst = fifo_.data() + static_cast<size_t>(count_) * ch;
            const unsigned got = source.pull(dst, want);
            if (got < want) {
                std::memset(dst + static_cast<size_t>(got) * ch, 0, sizeof(float) * (want - got) * ch);
                ended_ = true;
            }
            count_ += want;
        }
        if (count_ < need) {  // ended: pad with silence
            std::memset(fifo_.data() + static_cast<size_t>(count_) * ch, 0,
                        sizeof(float) * (need - count_) * ch);
            count_ = need;
        }
        float* o = out + static_cast<size_t>(done) * ch;
        for (unsigned i = 0; i < n; ++i) {
            const double p = pos_ + i * ratio;
            const double pf = std::floor(p);
            const size_t idx = static_cast<size_t>(pf);
            const float frac = static_cast<float>(p - pf);
            const float* x0 = fifo_.data() + idx * ch;
            if (frac == 0.0f) {
                std::memcpy(o + static_cast<size_t>(i) * ch, x0, sizeof(float) * ch);
            } else {
                const float* x1 = x0 + ch;
                for (int c = 0; c < ch; ++c) o[i * ch + c] = x0[c] + frac * (x1[c] - x0[c]);
            }
        }
        pos_ += n * ratio;
        const unsigned drop = std::min(count_, static_cast<unsigned>(std::floor(pos_)));
        std::memmove(fifo_.data(), fifo_.data() + static_cast<size_t>(drop) * ch,
                     sizeof(float) * (count_ - drop) * ch);
        count_ -= drop;
        pos_ -= drop;
        done += n;
    }
    return !ended_;
}

}  // namespace pw::mix
