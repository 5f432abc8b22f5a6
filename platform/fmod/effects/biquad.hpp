// A second-order IIR section in direct form 1, one state per channel, and the designs the
// filters and the equaliser use (the well-known bilinear-transform "cookbook" forms).
//
// Direct form 1 in double precision: its state is the last two inputs and outputs, so a change of
// coefficients between blocks causes no burst (the state stays meaningful whatever the
// coefficients), and low cut-offs at high rates keep their precision.
#pragma once

#include <array>

#include "effect.hpp"

namespace pw::fx {

// Coefficients normalised so that a0 == 1.
struct BiquadCoefs {
    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
};

// The identity section (what a default BiquadCoefs is): output equals input.
constexpr BiquadCoefs kIdentity{};

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
    // The next process() moves from the current coefficients to `c` frame by frame over its block,
    // so a changed setting never steps and a sweep set block by block follows one continuous path.
    // Every point of the line between two stable sections is stable (the stable (a1, a2) pairs form
    // a triangle), and from the block after, the response is exactly the one designed.
    void glideTo(const BiquadCoefs& c) {
        target_ = c;
        gliding_ = true;
    }
    bool gliding() const { return gliding_; }
    void reset();

    // Filters `frames` interleaved frames of `channels` (1..kMaxChannels); in == out allowed.
    void process(const float* in, float* out, unsigned frames, int channels);

    // Copies the input unchanged (bit for bit) and records it as both input and output history,
    // so that switching back to filtering continues from the signal instead of from silence.
    void passThrough(const float* in, float* out, unsigned frames, int channels);

private:
    struct State {
        double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
    };
    template <bool Glide>
    void run(const float* in, float* out, unsigned frames, int channels);

    BiquadCoefs c_;
    BiquadCoefs target_;
    bool gliding_ = false;
    std::array<State, kMaxChannels> state_{};
};

}  // namespace pw::fx
