// The resonant low- and high-pass: one second-order section per channel, resonance r giving the
// quality factor r / sqrt(2) (1 is the flat Butterworth response, 10 a peak of about 17 dB at the
// cut-off). Each has a resting cut-off at which it passes its input bit for bit: the low-pass at
// or above 0.49 x rate (the scratch filter rests at 22000 Hz and must not colour a deck), the
// high-pass at 0 Hz (the slider's bottom; a section at a few hertz would thump the woofer).
#pragma once

#include <algorithm>
#include <cmath>

#include "biquad.hpp"
#include "effect_base.hpp"

namespace pw::fx {

struct PassFilterKind {
    BiquadCoefs (*design)(double hz, double q, double sampleRate);
    bool (*rests)(double cutoff, double sampleRate);  // passes the input unchanged at this cut-off
    double lowFollows;                                 // BiquadBank::passThrough's, at rest
};

class PassFilterEffect final : public EffectBase {
public:
    enum { kCutoff, kResonance, kCount };

    PassFilterEffect(const PassFilterKind& kind, const ParamInfo* params, int sampleRate)
        : EffectBase(params, kCount, sampleRate), kind_(kind) {}

    // Starting over: the next settings are taken at once, as by a fresh unit, not glided to.
    void reset() override {
        bank_.reset();
        first_ = true;
    }

    void process(const float* in, float* out, unsigned frames, int channels) override {
        if (!validBlock(in, out, channels)) return;
        if (takeChanges() || first_) {
            // A cut-off above 0.49 x rate is designed at 0.49 x rate; 0 Hz as 1 Hz, the section
            // that is as good as none, so that a glide to or from rest has a path.
            const double cutoff = param(kCutoff);
            open_ = kind_.rests(cutoff, sampleRate_);
            const Setting to{std::clamp(cutoff, 1.0, 0.49 * sampleRate_), param(kResonance) / std::sqrt(2.0)};
            if (first_) {
                bank_.setCoefs(design(to));
                first_ = false;
            } else {
                // A moved setting glides over the block, the cut-off evenly in octaves.
                const Setting from = now_;
                glideBlock(
                    bank_, [&](double t) { return design({logBetween(from.hz, to.hz, t), linBetween(from.q, to.q, t)}); },
                    in, out, frames, channels);
                now_ = to;
                return;
            }
            now_ = to;
        }
        if (open_)
            bank_.passThrough(in, out, frames, channels, kind_.lowFollows);
        else
            bank_.process(in, out, frames, channels);
    }

private:
    struct Setting {
        double hz, q;
    };
    BiquadCoefs design(const Setting& s) const { return kind_.design(s.hz, s.q, sampleRate_); }

    const PassFilterKind& kind_;
    BiquadBank bank_;
    Setting now_{};
    bool open_ = false;
    bool first_ = true;
};

}  // namespace pw::fx
