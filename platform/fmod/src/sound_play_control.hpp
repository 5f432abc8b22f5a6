// PlayControl: the settings of one playback of a sound, shared between the threads that set them
// (any thread, through Channel calls) and the thread that applies them (the mixer for samples,
// the prefetch worker for streams).
//
// Thread safety: every field is an atomic; no call here blocks. Pairs of values that must be
// seen together (loop start and end; a seek's generation and target) share one 64-bit atomic,
// so a reader never sees half of one update and half of another.
#pragma once

#include <atomic>
#include <cstdint>

#include "fmod.hpp"

namespace pw::sound {

struct PlayControl {
    std::atomic<FMOD_MODE> mode{FMOD_LOOP_OFF};
    std::atomic<int> loopCount{-1};          // -1 endless, 0 play once, n: n more passes
    std::atomic<uint64_t> loopPoints{0};     // start << 32 | end (frames, end inclusive)
    std::atomic<uint64_t> seek{0};           // generation << 32 | target frame
    std::atomic<uint32_t> appliedSeekGen{0}; // the generation the audio now reflects
    std::atomic<uint32_t> position{0};       // frame last handed to the mixer
    std::atomic<bool> ended{false};

    static uint64_t pack(uint32_t hi, uint32_t lo) { return static_cast<uint64_t>(hi) << 32 | lo; }
    static uint32_t hi(uint64_t v) { return static_cast<uint32_t>(v >> 32); }
    static uint32_t lo(uint64_t v) { return static_cast<uint32_t>(v & 0xffffffffu); }

    // Any thread: asks the applying thread to continue from `frame`.
    void requestSeek(uint32_t frame) {
        uint64_t cur = seek.load(std::memory_order_relaxed);
        while (!seek.compare_exchange_weak(cur, pack(hi(cur) + 1, frame), std::memory_order_acq_rel)) {
        }
    }
    // The position a caller should see: a pending seek's target until the audio reflects it.
    uint32_t reportedPosition() const {
        const uint64_t s = seek.load(std::memory_order_acquire);
        if (hi(s) != appliedSeekGen.load(std::memory_order_acquire)) return lo(s);
        return position.load(std::memory_order_acquire);
    }
    bool looping() const {
        return (mode.load(std::memory_order_relaxed) & (FMOD_LOOP_NORMAL | FMOD_LOOP_BIDI)) != 0 &&
               loopCount.load(std::memory_order_relaxed) != 0;
    }
    // Called by the applying thread when it wraps from the loop end to the loop start.
    void consumeLoop() {
        int c = loopCount.load(std::memory_order_relaxed);
        while (c > 0 && !loopCount.compare_exchange_weak(c, c - 1, std::memory_order_relaxed)) {
        }
    }
    // The applying thread's one decision where a pass runs out of audio at `at`: true when the
    // playback wraps to `loopStart` (the lap is counted), false when the sound ends there. A
    // loop that starts at or after `at` has nothing to play again and ends the sound too.
    bool wrapsAt(uint64_t at, uint64_t loopStart) {
        if (!looping() || loopStart >= at) return false;
        consumeLoop();
        return true;
    }
};

// Where the audio ends for the current pass: one past the loop end while looping, else `length`.
// `loopStart` receives the loop start.
inline uint64_t passEnd(const PlayControl& ctl, uint64_t length, uint64_t* loopStart) {
    const uint64_t lp = ctl.loopPoints.load(std::memory_order_acquire);
    *loopStart = PlayControl::hi(lp);
    if (!ctl.looping() || length == 0) return length;
    const uint64_t loopEnd = PlayControl::lo(lp);
    const uint64_t end = (loopEnd < length ? loopEnd : length - 1) + 1;
    return end > *loopStart ? end : length;
}

}  // namespace pw::sound
