// Real-time pacing for virtual devices: maps frame counts to absolute instants of a monotonic
// clock. Every deadline is computed from the origin and the total frame count, never by adding
// per-block durations, so rounding and late wake-ups never accumulate: block k of a 44100 Hz
// device leaves at origin + k*frames/44100 s however late the thread woke for block k-1.
#pragma once

#include <chrono>
#include <cstdint>

namespace pw::dev {

class Pacer {
public:
    using Clock = std::chrono::steady_clock;

    // After a stall longer than this (a debugger, a suspended machine) the origin moves to now
    // instead of racing through the backlog.
    static constexpr std::chrono::milliseconds kMaxLag{500};

    Pacer(unsigned rate, Clock::time_point origin) : rate_(rate == 0 ? 1 : rate), origin_(origin) {}

    // The instant at which `frame` frames have passed since the origin.
    Clock::time_point timeOfFrame(uint64_t frame) const;

    // The number of whole frames that have passed at `now` (0 before the origin).
    uint64_t framesAt(Clock::time_point now) const;

    // Accounts `frames` more frames and returns the instant they are due: the caller sleeps
    // until then. `now` is used only to detect a stall (see kMaxLag).
    Clock::time_point advance(unsigned frames, Clock::time_point now);

    uint64_t framesAccounted() const { return frames_; }
    Clock::time_point origin() const { return origin_; }

private:
    unsigned rate_;
    Clock::time_point origin_;
    uint64_t frames_ = 0;
};

}  // namespace pw::dev
