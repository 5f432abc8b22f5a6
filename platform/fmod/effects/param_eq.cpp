// Parametric equaliser band: one peaking section per channel.
//
// The engine's deck bands sit at 100 Hz, 2 kHz and 12 kHz with gains from 0.05 (a cut of 26 dB,
// the "kill" position) to 2.0 and more, 0.25 to 4 octaves wide; the master bands anywhere.
#include "biquad.hpp"
#include "effect_base.hpp"
#include "effect_types.hpp"

namespace pw::fx {
namespace {

enum { kCenter, kBandwidth, kGain, kCount };

constexpr ParamInfo kParams[kCount] = {
    {20.0f, 22000.0f, 8000.0f, "Center", "Hz"},
    {0.2f, 5.0f, 1.0f, "Octaves", "oct"},
    {0.05f, 3.0f, 1.0f, "Gain", ""},
};

class ParamEqEffect final : public EffectBase {
public:
    explicit ParamEqEffect(int sampleRate) : EffectBase(kParams, kCount, sampleRate) {}

    // Starting over: the next settings are taken at once, as by a fresh unit, not glided to.
    void reset() override {
        bank_.reset();
        first_ = true;
    }

    void process(const float* in, float* out, unsigned frames, int channels) override {
        if (!validBlock(in, out, channels)) return;
        if (takeChanges() || first_) {
            // A centre above Nyquist (a 12 kHz band on a 22.05 kHz mix) is designed at 0.49 x rate.
            const Setting to{param(kCenter), param(kBandwidth), param(kGain)};
            unity_ = to.gain == 1.0;
            if (first_) {
                bank_.setCoefs(design(to));
            } else {
                // A band back from a kill rises over the block; the section at unity (poles and
                // zeros cancelled) is where a glide from or to a flat band starts or ends.
                const Setting from = now_;
                glideBlock(
                    bank_,
                    [&](double t) {
                        return design({logBetween(from.hz, to.hz, t), linBetween(from.octaves, to.octaves, t),
                                       logBetween(from.gain, to.gain, t)});
                    },
                    in, out, frames, channels);
                now_ = to;
                return;
            }
            first_ = false;
            now_ = to;
        }
        // At unity the section is the identity in theory but not bit for bit in practice: keep
        // the history fed so a later gain change starts from the signal.
        if (unity_)
            bank_.passThrough(in, out, frames, channels, 0.0);
        else
            bank_.process(in, out, frames, channels);
    }

private:
    struct Setting {
        double hz, octaves, gain;
    };
    BiquadCoefs design(const Setting& s) const { return designPeaking(s.hz, s.octaves, s.gain, sampleRate_); }

    BiquadBank bank_;
    Setting now_{};
    bool unity_ = true;
    bool first_ = true;
};

}  // namespace

std::unique_ptr<Effect> makeParamEq(int sampleRate) {
    return std::make_unique<ParamEqEffect>(sampleRate);
}

}  // namespace pw::fx
