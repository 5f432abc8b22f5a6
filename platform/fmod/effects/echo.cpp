// Echo: a feedback delay line per channel.
//
//   out = dry x in + wet x line[t - delay]
//   line[t] = in + decay x line[t - delay]
// so an impulse comes back after one delay at the wet level and then decays by `decay` per repeat.
//
// Loading a deck never sets these parameters (the unit stays bypassed until the deck's echo is
// switched on), so the defaults are what a deck gets until then: half a second, halving per
// repeat, every channel, full dry and wet. The line is sized at creation for the longest delay on
// kMaxChannels channels; process() only moves indexes.
#include <algorithm>
#include <cmath>
#include <vector>

#include "effect_base.hpp"
#include "effect_types.hpp"

namespace pw::fx {
namespace {

enum { kDelay, kDecay, kMaxCh, kDry, kWet, kCount };

constexpr float kMaxDelayMs = 5000.0f;

constexpr ParamInfo kParams[kCount] = {
    {10.0f, kMaxDelayMs, 500.0f, "Delay", "ms"},
    {0.0f, 1.0f, 0.5f, "Decay", ""},
    // 0: every channel; n: the first n channels echo and the others pass dry.
    {0.0f, 16.0f, 0.0f, "Max channels", ""},
    {0.0f, 1.0f, 1.0f, "Drymix", ""},
    {0.0f, 1.0f, 1.0f, "Wetmix", ""},
};

class EchoEffect final : public EffectBase {
public:
    explicit EchoEffect(int sampleRate)
        : EffectBase(kParams, kCount, sampleRate),
          length_(static_cast<size_t>(std::lround(kMaxDelayMs / 1000.0 * sampleRate)) + 1),
          line_(length_ * kMaxChannels, 0.0f) {}

    void reset() override {
        std::fill(line_.begin(), line_.end(), 0.0f);
        write_ = 0;
    }

    // Switched on again: what the line held from before the bypass ends where the bypass began,
    // and would be heard as a step one delay later. The part still to be read is cleared, and
    // the first block enters the line fading in.
    void engage() override { engaging_ = true; }

    void process(const float* in, float* out, unsigned frames, int channels) override {
        if (!validBlock(in, out, channels)) return;
        if (takeChanges()) {
            delay_ = std::clamp<size_t>(static_cast<size_t>(std::lround(param(kDelay) / 1000.0 * sampleRate_)),
                                        1, length_ - 1);
            decay_ = param(kDecay);
            dry_ = param(kDry);
            wet_ = param(kWet);
            const int limit = static_cast<int>(param(kMaxCh));
            echoed_ = limit == 0 ? kMaxChannels : std::min(limit, kMaxChannels);
        }
        const int echoed = std::min(echoed_, channels);
        size_t write = write_;
        size_t read = write >= delay_ ? write - delay_ : write + length_ - delay_;
        const bool fadeIn = engaging_;
        if (engaging_) {
            engaging_ = false;
            for (size_t k = 0, at = read; k < delay_; ++k, at = at + 1 == length_ ? 0 : at + 1)
                std::fill_n(&line_[at * kMaxChannels], kMaxChannels, 0.0f);
        }
        for (unsigned f = 0; f < frames; ++f) {
            const float* x = in + static_cast<size_t>(f) * channels;
            float* y = out + static_cast<size_t>(f) * channels;
            float* head = &line_[write * kMaxChannels];
            const float* tail = &line_[read * kMaxChannels];
            const float entering = fadeIn ? static_cast<float>(f + 1) / static_cast<float>(frames) : 1.0f;
            for (int ch = 0; ch < echoed; ++ch) {
                const float input = x[ch];
                const float back = tail[ch];
                head[ch] = keepable(input * entering + decay_ * back);
                y[ch] = dry_ * input + wet_ * back;
            }
            for (int ch = echoed; ch < channels; ++ch) y[ch] = x[ch];
            if (++write == length_) write = 0;
            if (++read == length_) read = 0;
        }
        write_ = write;
    }

private:
    const size_t length_;  // frames in the line: the longest delay plus one
    std::vector<float> line_;
    size_t write_ = 0;
    size_t delay_ = 1;
    float decay_ = 0.0f, dry_ = 1.0f, wet_ = 0.0f;
    int echoed_ = kMaxChannels;
    bool engaging_ = false;
};

}  // namespace

std::unique_ptr<Effect> makeEcho(int sampleRate) {
    return std::make_unique<EchoEffect>(sampleRate);
}

}  // namespace pw::fx
