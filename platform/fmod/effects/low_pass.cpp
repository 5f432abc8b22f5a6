// Resonant low-pass: a second-order section per channel.
//
// Resonance r gives the quality factor r / sqrt(2): 1 is the flat (Butterworth) response, 10 a
// peak of about 17 dB at the cut-off. A cut-off at or above 0.49 x rate passes the signal through
// bit for bit: the scratch filter rests at 22000 Hz and must not colour a 44.1 kHz deck.
#include <algorithm>
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

class LowPassEffect final : public EffectBase {
public:
    explicit LowPassEffect(int sampleRate) : EffectBase(kParams, kCount, sampleRate) {}

    // Starting over: the next settings are taken at once, as by a fresh unit, not glided to.
    void reset() override {
        bank_.reset();
        first_ = true;
    }

    void process(const float* in, float* out, unsigned frames, int channels) override {
        if (!validBlock(in, out, channels)) return;
        if (takeChanges() || first_) {
            const double cutoff = param(kCutoff);
            open_ = cutoff >= 0.49 * sampleRate_;
            const Setting to{std::clamp(cutoff, 1.0, 0.49 * sampleRate_), param(kResonance) / std::sqrt(2.0)};
            if (first_) {
                bank_.setCoefs(design(to));
            } else {
                // A moved cut-off glides over the block, evenly in octaves.
                const Setting from = now_;
                glideBlock(
                    bank_, [&](double t) { return design({logBetween(from.hz, to.hz, t), linBetween(from.q, to.q, t)}); },
                    in, out, frames, channels);
                now_ = to;
                return;
            }
            first_ = false;
            now_ = to;
        }
        if (open_)
            bank_.passThrough(in, out, frames, channels, 1.0);
        else
            bank_.process(in, out, frames, channels);
    }

private:
    struct Setting {
        double hz, q;
    };
    BiquadCoefs design(const Setting& s) const { return designLowPass(s.hz, s.q, sampleRate_); }

    BiquadBank bank_;
    Setting now_{};
    bool open_ = false;
    bool first_ = true;
};

}  // namespace

std::unique_ptr<Effect> makeLowPass(int sampleRate) {
    return std::make_unique<LowPassEffect>(sampleRate);
}

}  // namespace pw::fx
