// Normaliser: raises the signal towards full scale.
//
// A peak follower over all channels jumps up to every louder frame at once and falls back
// exponentially, with the fade time as its time constant. The gain is
//     min(maximum amplification, 1 / max(peak, threshold))
// so the output never exceeds full scale (the peak is never below the current frame), quiet music
// is raised at most to the maximum amplification, and the threshold keeps near-silence from being
// blown up to the maximum. A fade time of 0 follows every frame (hard levelling).
//
// The follower starts at full scale (when made, reset, or switched on after a bypass), as after a
// loud passage: a quiet track is brought up over the fade time, not in the unit's first block.
#include <algorithm>
#include <cmath>

#include "effect_base.hpp"
#include "effect_types.hpp"

namespace pw::fx {
namespace {

enum { kFadeTime, kThreshold, kMaxAmp, kCount };

constexpr ParamInfo kParams[kCount] = {
    {0.0f, 20000.0f, 5000.0f, "Fade time", "ms"},
    {0.0f, 1.0f, 0.1f, "Threshold", ""},
    {1.0f, 100000.0f, 20.0f, "Max amp", "x"},
};

constexpr float kFloor = 1e-30f;

class NormalizeEffect final : public EffectBase {
public:
    explicit NormalizeEffect(int sampleRate) : EffectBase(kParams, kCount, sampleRate) {}

    void reset() override { peak_ = 1.0f; }
    void engage() override { peak_ = 1.0f; }

    void process(const float* in, float* out, unsigned frames, int channels) override {
        if (!validBlock(in, out, channels)) return;
        if (takeChanges()) {
            const double fadeFrames = param(kFadeTime) / 1000.0 * sampleRate_;
            fall_ = fadeFrames > 0.0 ? static_cast<float>(std::exp(-1.0 / fadeFrames)) : 0.0f;
            // The floor also keeps 1 / peak finite on silence with a threshold of 0.
            floor_ = std::max(param(kThreshold), kFloor);
            maxAmp_ = param(kMaxAmp);
        }
        float peak = peak_;
        for (unsigned f = 0; f < frames; ++f) {
            const float* x = in + static_cast<size_t>(f) * channels;
            float* y = out + static_cast<size_t>(f) * channels;
            float level = 0.0f;
            for (int ch = 0; ch < channels; ++ch) level = std::max(level, std::fabs(x[ch]));
            // NaN or infinite input never enters the follower.
            peak = keepable(std::max(keepable(level), peak * fall_));
            const float gain = std::min(maxAmp_, 1.0f / std::max(peak, floor_));
            for (int ch = 0; ch < channels; ++ch) y[ch] = x[ch] * gain;
        }
        peak_ = peak;
    }

private:
    float peak_ = 1.0f;
    float fall_ = 0.0f, floor_ = kFloor, maxAmp_ = 1.0f;
};

}  // namespace

std::unique_ptr<Effect> makeNormalize(int sampleRate) {
    return std::make_unique<NormalizeEffect>(sampleRate);
}

}  // namespace pw::fx
