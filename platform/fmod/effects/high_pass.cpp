// Resonant high-pass: a second-order section per channel, resonance as in the low-pass
// (quality factor r / sqrt(2)). The deck's slider gives 0 Hz and resonance 0 at its bottom; both
// are clamped to the range here (10 Hz, resonance 1), which is as good as no filter.
#include <cmath>

#include "biquad.hpp"
#include "effect_base.hpp"
#include "effect_types.hpp"

namespace pw::fx {
namespace {

enum { kCutoff, kResonance, kCount };

constexpr ParamInfo kParams[kCount] = {
    {10.0f, 22000.0f, 5000.0f, "Cutoff freq", "Hz"},
    {1.0f, 10.0f, 1.0f, "Resonance", ""},
};

class HighPassEffect final : public EffectBase {
public:
    explicit HighPassEffect(int sampleRate) : EffectBase(kParams, kCount, sampleRate) {}

    void reset() override { bank_.reset(); }

    void process(const float* in, float* out, unsigned frames, int channels) override {
        if (!validBlock(in, out, channels)) return;
        // A cut-off above 0.49 x rate is designed at 0.49 x rate: nearly everything is removed.
        if (takeChanges())
            bank_.setCoefs(designHighPass(param(kCutoff), param(kResonance) / std::sqrt(2.0), sampleRate_));
        bank_.process(in, out, frames, channels);
    }

private:
    BiquadBank bank_;
};

}  // namespace

std::unique_ptr<Effect> makeHighPass(int sampleRate) {
    return std::make_unique<HighPassEffect>(sampleRate);
}

}  // namespace pw::fx
