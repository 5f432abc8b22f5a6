// Compressor: a peak envelope over all channels (linked, so the stereo image never shifts), a hard
// knee at the threshold with a fixed 4:1 ratio, then make-up gain.
//
// The envelope rises with the attack time constant and falls with the release one; each is the
// time to move 63 % of the way to a new level. The deck switches this unit together with the
// normaliser, which follows it in the chain.
#include <algorithm>
#include <cmath>

#include "effect_base.hpp"
#include "effect_types.hpp"

namespace pw::fx {
namespace {

enum { kThreshold, kAttack, kRelease, kMakeup, kCount };

constexpr ParamInfo kParams[kCount] = {
    {-60.0f, 0.0f, 0.0f, "Threshold", "dB"},
    {10.0f, 200.0f, 50.0f, "Attack", "ms"},
    {10.0f, 1000.0f, 50.0f, "Release", "ms"},
    {0.0f, 30.0f, 0.0f, "Make up gain", "dB"},
};

// Above the threshold, 4 dB of input give 1 dB of output: firm but not a limiter.
constexpr float kRatio = 4.0f;

float smoothing(double ms, int sampleRate) {
    return static_cast<float>(1.0 - std::exp(-1000.0 / (ms * sampleRate)));
}

class CompressorEffect final : public EffectBase {
public:
    explicit CompressorEffect(int sampleRate) : EffectBase(kParams, kCount, sampleRate) {}

    void reset() override { envelope_ = 0.0f; }

    void process(const float* in, float* out, unsigned frames, int channels) override {
        if (!validBlock(in, out, channels)) return;
        if (takeChanges()) {
            threshold_ = std::pow(10.0f, param(kThreshold) / 20.0f);
            attack_ = smoothing(param(kAttack), sampleRate_);
            release_ = smoothing(param(kRelease), sampleRate_);
            makeup_ = std::pow(10.0f, param(kMakeup) / 20.0f);
        }
        float env = envelope_;
        for (unsigned f = 0; f < frames; ++f) {
            const float* x = in + static_cast<size_t>(f) * channels;
            float* y = out + static_cast<size_t>(f) * channels;
            float peak = 0.0f;
            for (int ch = 0; ch < channels; ++ch) peak = std::max(peak, std::fabs(x[ch]));
            // NaN or infinite input must not poison the envelope for good: it does not count.
            peak = keepable(peak);
            env = keepable(env + (peak > env ? attack_ : release_) * (peak - env));
            float gain = makeup_;
            // Over the threshold by a factor k, the output is over by k^(1/ratio): the gain is
            // k^(1/ratio - 1), one pow instead of a round trip through decibels.
            if (env > threshold_) gain *= std::pow(env / threshold_, 1.0f / kRatio - 1.0f);
            for (int ch = 0; ch < channels; ++ch) y[ch] = x[ch] * gain;
        }
        envelope_ = env;
    }

private:
    float envelope_ = 0.0f;
    float threshold_ = 1.0f;
    float attack_ = 1.0f, release_ = 1.0f, makeup_ = 1.0f;
};

}  // namespace

std::unique_ptr<Effect> makeCompressor(int sampleRate) {
    return std::make_unique<CompressorEffect>(sampleRate);
}

}  // namespace pw::fx
