// Resonant high-pass: a second-order section per channel, resonance as in the low-pass
// (quality factor r / sqrt(2)). The deck's slider gives 0 Hz and resonance 0 at its bottom: a
// cut-off of 0 passes the input bit for bit (a resonant section at a few hertz would thump the
// woofer and eat headroom); resonance 0 is clamped to 1.
#include <algorithm>
#include <cmath>

#include "biquad.hpp"
#include "effect_base.hpp"
#include "effect_types.hpp"

namespace pw::fx {
namespace {

enum { kCutoff, kResonance, kCount };

constexpr ParamInfo kParams[kCount] = {
    {0.0f, 22000.0f, 5000.0f, "Cutoff freq", "Hz"},
    {1.0f, 10.0f, 1.0f, "Resonance", ""},
};

class HighPassEffect final : public EffectBase {
public:
    explicit HighPassEffect(int sampleRate) : EffectBase(kParams, kCount, sampleRate) {}

    // Starting over: the next settings are taken at once, as by a fresh unit, not glided to.
    void reset() override {
        bank_.reset();
        first_ = true;
    }

    void process(const float* in, float* out, unsigned frames, int channels) override {
        if (!validBlock(in, out, channels)) return;
        if (takeChanges() || first_) {
            // A cut-off above 0.49 x rate is designed at 0.49 x rate: nearly everything is removed.
            const double cutoff = param(kCutoff);
            open_ = cutoff <= 0.0;
            const Setting to{std::clamp(cutoff, 1.0, 0.49 * sampleRate_), param(kResonance) / std::sqrt(2.0)};
            if (first_) {
                bank_.setCoefs(design(to));
            } else {
                // A moved cut-off glides over the block, evenly in octaves; 0 Hz glides as 1 Hz, the section that is
                // as good as none.
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
            bank_.passThrough(in, out, frames, channels, 0.0);
        else
            bank_.process(in, out, frames, channels);
    }

private:
    struct Setting {
        double hz, q;
    };
    BiquadCoefs design(const Setting& s) const { return designHighPass(s.hz, s.q, sampleRate_); }

    BiquadBank bank_;
    Setting now_{};
    bool open_ = false;
    bool first_ = true;
};

}  // namespace

std::unique_ptr<Effect> makeHighPass(int sampleRate) {
    return std::make_unique<HighPassEffect>(sampleRate);
}

}  // namespace pw::fx
