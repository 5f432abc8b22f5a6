// Built-in effect units (parametric EQ, low-pass, high-pass, echo, flange, compressor, normalise).
//
// An Effect is the signal-processing half of a built-in DSP unit; the unit itself (bypass, active,
// position in a chain) lives in the mixer. One Effect per unit.
#pragma once

#include <memory>

#include "fmod.hpp"

namespace pw::fx {

struct ParamInfo {
    float min;
    float max;
    float defaultValue;
    const char* name;   // short, e.g. "Center"
    const char* label;  // unit, e.g. "Hz"
};

class Effect {
public:
    virtual ~Effect() = default;

    virtual int numParameters() const = 0;
    virtual ParamInfo parameterInfo(int index) const = 0;

    // Thread safety: setParameter and getParameter may be called from any thread, also while
    // process() runs on the mixer thread; they never block. `value` is already clamped to the
    // parameter's range by the caller. Indexes out of range are ignored (get returns 0).
    virtual void setParameter(int index, float value) = 0;
    virtual float getParameter(int index) const = 0;

    // Mixer thread only. Clears delay lines and envelopes.
    virtual void reset() = 0;

    // Mixer thread only: the unit is switched on again after a bypass (not called on creation).
    // An effect whose level should rise gradually when switched on starts over from here.
    virtual void engage() {}

    // Mixer thread only; never allocates, never blocks. `in` and `out` hold `frames` interleaved
    // frames of `channels` channels (1..kMaxChannels, frames <= the maxFrames given at creation);
    // in == out is allowed.
    virtual void process(const float* in, float* out, unsigned frames, int channels) = 0;
};

constexpr int kMaxChannels = 8;

// A new effect of a built-in type at its default parameters, sized for `sampleRate` and blocks of
// at most `maxFrames` frames; null for a type that is not built in. Throws bad_alloc (the echo's
// delay line is several megabytes), which the layer's entry point answers as a memory error.
std::unique_ptr<Effect> createEffect(FMOD_DSP_TYPE type, int sampleRate, unsigned maxFrames);

}  // namespace pw::fx
