#include "biquad.hpp"

#include <algorithm>
#include <cmath>

#include "effect_base.hpp"

namespace pw::fx {
namespace {

constexpr double kPi = 3.14159265358979323846;

// A resonant section fed silence does not always decay to zero: flushing its tiniest values (see
// keepable) acts like a dead band, and a high-Q low cut-off then hums at about 1e-27 for ever.
// Once input, output and both states are below this level (-400 dB, far below any audio), the
// states are cleared and the section falls silent. Decided per frame, so the output never depends
// on where blocks begin.
constexpr double kQuiet = 1e-20;

double clampHz(double hz, double sampleRate) {
    return std::clamp(hz, 1.0, 0.49 * sampleRate);
}

}  // namespace

BiquadCoefs designLowPass(double hz, double q, double sampleRate) {
    BiquadCoefs c;
    c.g = std::tan(kPi * clampHz(hz, sampleRate) / sampleRate);
    c.k = 1.0 / std::max(q, 0.01);
    c.m0 = 0.0;
    c.m1 = 0.0;
    c.m2 = 1.0;
    return c;
}

BiquadCoefs designHighPass(double hz, double q, double sampleRate) {
    BiquadCoefs c;
    c.g = std::tan(kPi * clampHz(hz, sampleRate) / sampleRate);
    c.k = 1.0 / std::max(q, 0.01);
    c.m0 = 1.0;
    c.m1 = -c.k;
    c.m2 = -1.0;
    return c;
}

BiquadCoefs designPeaking(double hz, double octaves, double gain, double sampleRate) {
    const double w0 = 2.0 * kPi * clampHz(hz, sampleRate) / sampleRate;
    // The bilinear warp makes w0 / sin(w0) grow without bound near Nyquist; beyond sinh(20) the
    // band is wider than the spectrum anyway, and the cap keeps the coefficients finite.
    const double arg = std::min(std::log(2.0) / 2.0 * octaves * w0 / std::sin(w0), 20.0);
    const double a = std::sqrt(std::max(gain, 1e-6));  // amplitude at the centre is a * a
    BiquadCoefs c;
    c.g = std::tan(w0 / 2.0);
    c.k = 2.0 * std::sinh(arg) / a;
    c.m0 = 1.0;
    c.m1 = c.k * (a * a - 1.0);
    c.m2 = 0.0;
    return c;
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

void BiquadBank::passThrough(const float* in, float* out, unsigned frames, int channels, double lowFollows) {
    if (gliding_ || frames == 0) {
        process(in, out, frames, channels);
        return;
    }
    for (int ch = 0; ch < channels; ++ch) {
        state_[ch].low = lowFollows * keepable<double>(in[static_cast<size_t>(frames - 1) * channels + ch]);
        state_[ch].band = 0.0;
    }
    copyFrames(in, out, frames, channels);
}

// Subnormal states cannot arise: the quiet test below clears them long before (doubles).
// Channels run side by side frame by frame: each channel's recursion is a long dependency chain,
// and interleaving two of them lets the processor overlap them. `N` is the channel count when
// known at compile time (the stereo case), else 0.
template <bool Glide, int N>
void BiquadBank::runChannels(const float* in, float* out, unsigned frames, int channels) {
    const int count = N > 0 ? N : channels;
    const BiquadCoefs from = c_;
    const BiquadCoefs to = Glide ? target_ : c_;
    std::array<State, kMaxChannels> st = state_;
    BiquadCoefs c = from;
    double a1 = 1.0 / (1.0 + c.g * (c.g + c.k));
    double a2 = c.g * a1;
    double a3 = c.g * a2;
    for (unsigned f = 0; f < frames; ++f) {
        if (Glide) {
            const double t = static_cast<double>(f + 1) / frames;
            c.g = from.g + (to.g - from.g) * t;
            c.k = from.k + (to.k - from.k) * t;
            c.m0 = from.m0 + (to.m0 - from.m0) * t;
            c.m1 = from.m1 + (to.m1 - from.m1) * t;
            c.m2 = from.m2 + (to.m2 - from.m2) * t;
            a1 = 1.0 / (1.0 + c.g * (c.g + c.k));
            a2 = c.g * a1;
            a3 = c.g * a2;
        }
        for (int ch = 0; ch < count; ++ch) {
            State& s = st[ch];
            const size_t i = static_cast<size_t>(f) * count + ch;
            const double x = keepable<double>(in[i]);
            const double v3 = x - s.low;
            const double v1 = a1 * s.band + a2 * v3;
            const double v2 = s.low + a2 * s.band + a3 * v3;
            s.band = 2.0 * v1 - s.band;
            s.low = 2.0 * v2 - s.low;
            double y = keepable(c.m0 * x + c.m1 * v1 + c.m2 * v2);
            if (std::fabs(x) < kQuiet && std::fabs(y) < kQuiet && std::fabs(s.band) < kQuiet &&
                std::fabs(s.low) < kQuiet) {
                y = 0.0;
                s.band = 0.0;
                s.low = 0.0;
            }
            out[i] = static_cast<float>(y);
        }
    }
    state_ = st;
}

template <bool Glide>
void BiquadBank::run(const float* in, float* out, unsigned frames, int channels) {
    if (channels == 2)
        runChannels<Glide, 2>(in, out, frames, channels);
    else
        runChannels<Glide, 0>(in, out, frames, channels);
}

}  // namespace pw::fx
