// Shared parameter handling of the built-in effects.
//
// Each effect publishes one table of ParamInfo (its ranges and defaults) and keeps the current
// values in atomics, so that any thread may set or read a parameter while the mixer thread runs
// process(). A "changed" flag tells process() to rebuild its coefficients at the start of the next
// block; values are taken only there, which keeps a block's output a function of the values seen
// at its start (the filters then glide to them over that block rather than step).
#pragma once

#include <array>
#include <atomic>

#include "effect.hpp"

namespace pw::fx {

// The most parameters any built-in effect has (the echo's five).
constexpr int kMaxParams = 5;

class EffectBase : public Effect {
public:
    int numParameters() const override { return count_; }
    ParamInfo parameterInfo(int index) const override;

    // Thread safety: any thread, never blocks. Values are clamped to the table's range here as
    // well (the unit wrapper clamps first); NaN and bad indexes are ignored.
    void setParameter(int index, float value) override;
    float getParameter(int index) const override;

protected:
    // `table` has static storage and `count` (<= kMaxParams) entries; every value starts at its
    // default and the first process() sees a change.
    EffectBase(const ParamInfo* table, int count, int sampleRate);

    // Mixer thread: true once after any parameter was set (and on the first call). The values set
    // before the flag was raised are visible once this returns true (release/acquire pair).
    bool takeChanges() { return changed_.exchange(false, std::memory_order_acquire); }

    // Mixer thread: the current value of a parameter (an index of the table).
    float param(int index) const { return values_[index].load(std::memory_order_relaxed); }

    const int sampleRate_;

private:
    const ParamInfo* table_;
    int count_;
    std::array<std::atomic<float>, kMaxParams> values_;
    std::atomic<bool> changed_{true};
};

// What a feedback path or filter state keeps of a value: magnitudes below 1e-30 become 0 (a decaying
// tail would otherwise end in subnormal numbers, a hundred times slower on x86 and passed on to the
// next unit), and NaN or infinity become 0 (one bad input sample would otherwise stay in the state
// for good and silence the unit until it is reset).
template <typename T>
inline T keepable(T v) {
    const T m = v < 0 ? -v : v;
    return (m >= T(1e-30) && m <= T(1e30)) ? v : T(0);
}

// Copies `in` to `out` unless they are the same buffer.
void copyFrames(const float* in, float* out, unsigned frames, int channels);

// True when a process() call may touch the buffers at all; the callers skip the block otherwise.
inline bool validBlock(const float* in, const float* out, int channels) {
    return in != nullptr && out != nullptr && channels >= 1 && channels <= kMaxChannels;
}

}  // namespace pw::fx
