#include "biquad.hpp"

#include <algorithm>
#include <cmath>

#include "effect_base.hpp"

namespace pw::fx {
namespace {

constexpr double kPi = 3.14159265358979323846;

// A resonant section fed silence does not always decay to zero: flushing its tiniest values (see
// keepable) acts like a dead band, and a high-Q low cut-off then hums at about 1e-27 for ever.
// Once input and output have both stayed below this level for two frames (-400 dB, far below any
// audio), the output history is cleared and the section falls silent. Decided per frame, so the
// output never depends on where blocks begin.
constexpr double kQuiet = 1e-20;

double clampHz(double hz, double sampleRate) {
    return std::clamp(hz, 1.0, 0.49 * sampleRate);
}

BiquadCoefs normalise(double b0, double b1, double b2, double a0, double a1, double a2) {
    BiquadCoefs c;
    c.b0 = b0 / a0;
    c.b1 = b1 / a0;
    c.b2 = b2 / a0;
    c.a1 = a1 / a0;
    c.a2 = a2 / a0;
    return c;
}

}  // namespace

BiquadCoefs designLowPass(double hz, double q, double sampleRate) {
    const double w0 = 2.0 * kPi * clampHz(hz, sampleRate) / sampleRate;
    const double cw = std::cos(w0);
    const double alpha = std::sin(w0) / (2.0 * std::max(q, 0.01));
    return normalise((1.0 - cw) / 2.0, 1.0 - cw, (1.0 - cw) / 2.0, 1.0 + alpha, -2.0 * cw,
                     1.0 - alpha);
}

BiquadCoefs designHighPass(double hz, double q, double sampleRate) {
    const double w0 = 2.0 * kPi * clampHz(hz, sampleRate) / sampleRate;
    const double cw = std::cos(w0);
    const double alpha = std::sin(w0) / (2.0 * std::max(q, 0.01));
    return normalise((1.0 + cw) / 2.0, -(1.0 + cw), (1.0 + cw) / 2.0, 1.0 + alpha, -2.0 * cw,
                     1.0 - alpha);
}

BiquadCoefs designPeaking(double hz, double octaves, double gain, double sampleRate) {
    const double w0 = 2.0 * kPi * clampHz(hz, sampleRate) / sampleRate;
    const double sw = std::sin(w0);
    const double cw = std::cos(w0);
    // The bilinear warp makes w0 / sin(w0) grow without bound near Nyquist; beyond sinh(20) the
    // band is wider than the spectrum anyway, and the cap keeps the coefficients finite.
    const double arg = std::min(std::log(2.0) / 2.0 * octaves * w0 / sw, 20.0);
    const double alpha = sw * std::sinh(arg);
    const double a = std::sqrt(std::max(gain, 1e-6));  // amplitude at the centre is a * a
    return normalise(1.0 + alpha * a, -2.0 * cw, 1.0 - alpha * a, 1.0 + alpha / a, -2.0 * cw,
                     1.0 - alpha / a);
}

void BiquadBank::reset() {
    state_.fill(State{});
}

void BiquadBank::process(const float* in, float* out, unsigned frames, int channels) {
    if (gliding_ && frames > 0) {
        run<true>(in, out, frames, channels);
        c_ = target_;
        gliding_ = false;
    } else {
        run<false>(in, out, frames, channels);
    }
}

template <bool Glide>
void BiquadBank::run(const float* in, float* out, unsigned frames, int channels) {
    const BiquadCoefs from = c_;
    const BiquadCoefs to = Glide ? target_ : c_;
    for (int ch = 0; ch < channels; ++ch) {
        State s = state_[ch];
        BiquadCoefs c = from;
        for (unsigned f = 0; f < frames; ++f) {
            if (Glide) {
                const double t = static_cast<double>(f + 1) / frames;
                c.b0 = from.b0 + (to.b0 - from.b0) * t;
                c.b1 = from.b1 + (to.b1 - from.b1) * t;
                c.b2 = from.b2 + (to.b2 - from.b2) * t;
                c.a1 = from.a1 + (to.a1 - from.a1) * t;
                c.a2 = from.a2 + (to.a2 - from.a2) * t;
            }
            const size_t i = static_cast<size_t>(f) * channels + ch;
            const double x = keepable<double>(in[i]);
            double y = keepable(c.b0 * x + c.b1 * s.x1 + c.b2 * s.x2 - c.a1 * s.y1 - c.a2 * s.y2);
            if (std::fabs(y) < kQuiet && std::fabs(s.y1) < kQuiet && std::fabs(x) < kQuiet &&
                std::fabs(s.x1) < kQuiet) {
                y = 0.0;
                s.y1 = 0.0;
            }
            s.x2 = s.x1;
            s.x1 = x;
            s.y2 = s.y1;
            s.y1 = y;
            out[i] = static_cast<float>(y);
        }
        state_[ch] = s;
    }
}

void BiquadBank::passThrough(const float* in, float* out, unsigned frames, int channels) {
    if (frames == 0) return;
    for (int ch = 0; ch < channels; ++ch) {
        State& s = state_[ch];
        const double last = keepable<double>(in[static_cast<size_t>(frames - 1) * channels + ch]);
        const double before =
            frames >= 2 ? keepable<double>(in[static_cast<size_t>(frames - 2) * channels + ch]) : s.x1;
        s.x1 = s.y1 = last;
        s.x2 = s.y2 = before;
    }
    copyFrames(in, out, frames, channels);
}

}  // namespace pw::fx
