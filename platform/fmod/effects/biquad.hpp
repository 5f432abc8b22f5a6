// A second-order section per channel, and the designs the filters and the equaliser use: the
// well-known bilinear-transform "cookbook" responses, built as a trapezoidal state-variable filter.
//
// Why a state-variable filter and not a direct form: its two states are the band-pass and
// low-pass integrators, whose meaning does not depend on the response chosen, so the coefficients
// may move while it runs (a band back from a kill, a cut-off swept or jumped) without the burst a
// direct form gives when its output history no longer fits its poles (worst at low frequencies,
// where the poles sit next to 1). The response of each design is exactly the cookbook one; double
// precision keeps low cut-offs at high rates accurate.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>

#include "effect.hpp"

namespace pw::fx {

// g = tan(w0 / 2), k = 1 / Q of the analog prototype; the output mixes the input, the band-pass
// and the low-pass outputs by m0, m1, m2. The default passes the input exactly.
struct BiquadCoefs {
    double g = 0.0, k = 2.0, m0 = 1.0, m1 = 0.0, m2 = 0.0;
};

// Low-pass and high-pass with quality factor `q`; `hz` is limited to (0, 0.49 x rate].
BiquadCoefs designLowPass(double hz, double q, double sampleRate);
BiquadCoefs designHighPass(double hz, double q, double sampleRate);
// Peaking band around `hz`, `octaves` wide at the half-gain points, `gain` linear at the centre.
BiquadCoefs designPeaking(double hz, double octaves, double gain, double sampleRate);

class BiquadBank {
public:
    // Takes `c` at once (a fresh section, before its first block).
    void setCoefs(const BiquadCoefs& c) {
        c_ = c;
        gliding_ = false;
    }
    // The next process() moves from the current coefficients to `c` frame by frame over its
    // block. Every point of the line between two stable sections is stable (the stable (a1, a2)
    // pairs form a triangle), but between two far-apart designs it passes through sections with a
    // large gain: glideBlock below keeps each straight stretch short.
    void glideTo(const BiquadCoefs& c) {
        target_ = c;
        gliding_ = true;
    }
    bool gliding() const { return gliding_; }
    void reset();

    // Filters `frames` interleaved frames of `channels` (1..kMaxChannels); in == out allowed.
    void process(const float* in, float* out, unsigned frames, int channels);

    // Copies the input unchanged (bit for bit), cheaply, and leaves the states as a section at
    // rest on the signal would have them, so that switching back to filtering continues from the
    // signal: the low-pass state follows the last input times `lowFollows` (1 for a low-pass open
    // at the top, 0 for a high-pass at the bottom or a flat band), the band-pass state is 0. A
    // glide still pending is run as a filter instead.
    void passThrough(const float* in, float* out, unsigned frames, int channels, double lowFollows);

private:
    struct State {
        double band = 0.0, low = 0.0;  // the integrators' trapezoidal states
    };
    template <bool Glide>
    void run(const float* in, float* out, unsigned frames, int channels);
    template <bool Glide, int N>
    void runChannels(const float* in, float* out, unsigned frames, int channels);

    BiquadCoefs c_;
    BiquadCoefs target_;
    bool gliding_ = false;
    std::array<State, kMaxChannels> state_{};
};

// Frames of one straight stretch of a glide: short enough that the designs at its two ends are
// close, long enough that the designs cost little.
constexpr unsigned kGlideSpan = 32;

// Runs `bank` over a block while a setting moves from its old to its new value: `design(t)` is the
// section at the fraction t (0 < t <= 1) of the way, and must answer the new design exactly at 1,
// so the block after is filtered as designed. A change never steps, and a sweep set block by
// block follows one continuous path.
template <typename Design>
void glideBlock(BiquadBank& bank, Design design, const float* in, float* out, unsigned frames, int channels) {
    for (unsigned done = 0; done < frames;) {
        const unsigned n = std::min(kGlideSpan, frames - done);
        bank.glideTo(design(static_cast<double>(done + n) / frames));
        const size_t at = static_cast<size_t>(done) * channels;
        bank.process(in + at, out + at, n, channels);
        done += n;
    }
}

// The point a fraction t of the way from a to b on a log scale (both above 0): frequencies and
// gains glide evenly in octaves and decibels.
inline double logBetween(double a, double b, double t) {
    return t >= 1.0 ? b : a * std::pow(b / a, t);
}

inline double linBetween(double a, double b, double t) {
    return t >= 1.0 ? b : a + (b - a) * t;
}

}  // namespace pw::fx
