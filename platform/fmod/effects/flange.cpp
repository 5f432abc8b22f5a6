// Flanger: the input mixed with a copy delayed by a slowly swept few milliseconds.
//
//   delay(t) = depth x 10 ms x (1 + sin(phase(t))) / 2,   phase advancing at `rate` Hz
//   out = dry x in + wet x in(t - delay(t))   (linear interpolation between samples)
// The sweep starts at its middle (phase 0), so a rate of 0 holds the delay at depth x 5 ms: a
// fixed comb with notches at odd multiples of 1 / (2 x delay). One sweep serves all channels,
// which keeps the stereo image. The line is sized at creation for the widest sweep.
#include <algorithm>
#include <cmath>
#include <vector>

#include "effect_base.hpp"
#include "effect_types.hpp"

namespace pw::fx {
namespace {

enum { kDry, kWet, kDepth, kRate, kCount };

constexpr ParamInfo kParams[kCount] = {
    {0.0f, 1.0f, 0.45f, "Drymix", ""},
    {0.0f, 1.0f, 0.55f, "Wetmix", ""},
    {0.0f, 1.0f, 1.0f, "Depth", ""},  // 0: no sweep, a plain mix of two equal copies
    {0.0f, 20.0f, 0.1f, "Rate", "Hz"},
};

constexpr double kSweepMs = 10.0;
constexpr double kTwoPi = 6.28318530717958647692;

size_t powerOfTwoAtLeast(size_t n) {
    size_t p = 1;
    while (p < n) p <<= 1;
    return p;
}

class FlangeEffect final : public EffectBase {
public:
    explicit FlangeEffect(int sampleRate)
        : EffectBase(kParams, kCount, sampleRate),
          length_(powerOfTwoAtLeast(static_cast<size_t>(std::ceil(kSweepMs / 1000.0 * sampleRate)) + 4)),
          line_(length_ * kMaxChannels, 0.0f) {}

    void reset() override {
        std::fill(line_.begin(), line_.end(), 0.0f);
        write_ = 0;
        phase_ = 0.0;
    }

    // Switched on again: the short line still holds what played before the bypass, which ends in
    // a step. It is cleared, and the first block enters it fading in.
    void engage() override { engaging_ = true; }

    void process(const float* in, float* out, unsigned frames, int channels) override {
        if (!validBlock(in, out, channels)) return;
        if (takeChanges()) {
            dry_ = param(kDry);
            wet_ = param(kWet);
            halfSweep_ = param(kDepth) * kSweepMs / 1000.0 * sampleRate_ / 2.0;  // frames
            step_ = kTwoPi * param(kRate) / sampleRate_;
        }
        const bool fadeIn = engaging_;
        if (engaging_) {
            engaging_ = false;
            std::fill(line_.begin(), line_.end(), 0.0f);
        }
        const size_t mask = length_ - 1;
        size_t write = write_;
        double phase = phase_;
        for (unsigned f = 0; f < frames; ++f) {
            const float* x = in + static_cast<size_t>(f) * channels;
            float* y = out + static_cast<size_t>(f) * channels;
            float* head = &line_[write * kMaxChannels];
            const float entering = fadeIn ? static_cast<float>(f + 1) / static_cast<float>(frames) : 1.0f;
            for (int ch = 0; ch < channels; ++ch) head[ch] = x[ch] * entering;

            const double delay = halfSweep_ * (1.0 + std::sin(phase));
            const double whole = std::floor(delay);
            const float frac = static_cast<float>(delay - whole);
            const size_t near = (write - static_cast<size_t>(whole)) & mask;
            const size_t far = (near - 1) & mask;
            const float* a = &line_[near * kMaxChannels];
            const float* b = &line_[far * kMaxChannels];
            for (int ch = 0; ch < channels; ++ch) {
                const float delayed = a[ch] + frac * (b[ch] - a[ch]);
                y[ch] = dry_ * x[ch] + wet_ * delayed;
            }
            write = (write + 1) & mask;
            phase += step_;
            if (phase >= kTwoPi) phase -= kTwoPi;
        }
        write_ = write;
        phase_ = phase;
    }

private:
    const size_t length_;  // frames in the line, a power of two
    std::vector<float> line_;
    size_t write_ = 0;
    double phase_ = 0.0;
    double halfSweep_ = 0.0, step_ = 0.0;
    float dry_ = 1.0f, wet_ = 0.0f;
    bool engaging_ = false;
};

}  // namespace

std::unique_ptr<Effect> makeFlange(int sampleRate) {
    return std::make_unique<FlangeEffect>(sampleRate);
}

}  // namespace pw::fx
