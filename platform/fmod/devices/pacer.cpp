#include "pacer.hpp"

namespace pw::dev {

namespace {
constexpr uint64_t kNanosPerSecond = 1000000000ULL;
}

Pacer::Clock::time_point Pacer::timeOfFrame(uint64_t frame) const {
    // Split into whole seconds and a remainder so that frame * 1e9 cannot overflow.
    const uint64_t seconds = frame / rate_;
    const uint64_t rest = frame % rate_;
    const uint64_t nanos = seconds * kNanosPerSecond + rest * kNanosPerSecond / rate_;
    return origin_ + std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(nanos));
}

uint64_t Pacer::framesAt(Clock::time_point now) const {
    if (now <= origin_) return 0;
    const uint64_t nanos = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(now - origin_).count());
    const uint64_t seconds = nanos / kNanosPerSecond;
    const uint64_t rest = nanos % kNanosPerSecond;
    uint64_t frames = seconds * rate_ + rest * rate_ / kNanosPerSecond;
    // timeOfFrame rounds down, so frame f may be due a fraction of a nanosecond before the
    // exact instant; make the two functions agree exactly.
    while (timeOfFrame(frames + 1) <= now) ++frames;
    return frames;
}

Pacer::Clock::time_point Pacer::advance(unsigned frames, Clock::time_point now) {
    if (now > timeOfFrame(frames_) + kMaxLag) {
        origin_ = now;
        frames_ = 0;
    }
    frames_ += frames;
    return timeOfFrame(frames_);
}

}  // namespace pw::dev
