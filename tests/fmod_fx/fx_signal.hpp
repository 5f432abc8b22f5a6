// Signals and measurements shared by the effect tests.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "effect.hpp"

namespace pw::fx::test {

constexpr double kPi = 3.14159265358979323846;

// `frames` interleaved frames; every channel carries the same sine of amplitude `amp`.
inline std::vector<float> sine(double hz, int rate, size_t frames, int channels = 1, float amp = 0.5f) {
    std::vector<float> v(frames * channels);
    for (size_t f = 0; f < frames; ++f) {
        const float s = amp * static_cast<float>(std::sin(2.0 * kPi * hz * f / rate));
        for (int ch = 0; ch < channels; ++ch) v[f * channels + ch] = s;
    }
    return v;
}

// Reproducible white noise in [-amp, amp].
inline std::vector<float> noise(size_t frames, int channels, float amp = 0.5f, uint32_t seed = 12345) {
    std::vector<float> v(frames * channels);
    for (float& s : v) {
        seed = seed * 1664525u + 1013904223u;
        s = amp * (static_cast<float>(seed >> 8) / 8388608.0f - 1.0f);
    }
    return v;
}

// RMS of one channel over frames [from, to).
inline double rms(const std::vector<float>& v, int channels, size_t from, size_t to, int ch = 0) {
    double sum = 0.0;
    for (size_t f = from; f < to; ++f) sum += double(v[f * channels + ch]) * v[f * channels + ch];
    return std::sqrt(sum / double(to - from));
}

inline double peak(const std::vector<float>& v, int channels, size_t from, size_t to, int ch = 0) {
    double p = 0.0;
    for (size_t f = from; f < to; ++f) p = std::max(p, double(std::fabs(v[f * channels + ch])));
    return p;
}

inline double db(double ratio) { return 20.0 * std::log10(ratio); }

// Runs `buf` through `fx` in place, in blocks of `block` frames.
inline void run(Effect& fx, std::vector<float>& buf, int channels, unsigned block = 1024) {
    const size_t frames = buf.size() / channels;
    for (size_t f = 0; f < frames; f += block) {
        const unsigned n = static_cast<unsigned>(std::min<size_t>(block, frames - f));
        fx.process(&buf[f * channels], &buf[f * channels], n, channels);
    }
}

// Gain in dB that `fx` applies to a sine of `hz` (amplitude 0.5), measured on the second half of
// `seconds` of signal so that the filter has settled.
inline double sineGainDb(Effect& fx, double hz, int rate, double seconds = 1.0) {
    const size_t frames = static_cast<size_t>(seconds * rate);
    std::vector<float> in = sine(hz, rate, frames);
    std::vector<float> out = in;
    run(fx, out, 1);
    return db(rms(out, 1, frames / 2, frames) / rms(in, 1, frames / 2, frames));
}

constexpr FMOD_DSP_TYPE kAllTypes[] = {
    FMOD_DSP_TYPE_PARAMEQ, FMOD_DSP_TYPE_LOWPASS, FMOD_DSP_TYPE_HIGHPASS, FMOD_DSP_TYPE_ECHO,
    FMOD_DSP_TYPE_FLANGE,  FMOD_DSP_TYPE_COMPRESSOR, FMOD_DSP_TYPE_NORMALIZE,
};

// Parameters that make each type do audible work (defaults of some are neutral).
struct Setting {
    int index;
    float value;
};
inline std::vector<Setting> activeSettings(FMOD_DSP_TYPE type) {
    switch (type) {
        case FMOD_DSP_TYPE_PARAMEQ: return {{0, 1000.0f}, {1, 2.0f}, {2, 2.5f}};
        case FMOD_DSP_TYPE_LOWPASS: return {{0, 800.0f}, {1, 8.0f}};
        case FMOD_DSP_TYPE_HIGHPASS: return {{0, 3000.0f}, {1, 6.0f}};
        case FMOD_DSP_TYPE_ECHO: return {{0, 10.0f}, {1, 0.7f}};
        case FMOD_DSP_TYPE_FLANGE: return {{3, 5.0f}};
        case FMOD_DSP_TYPE_COMPRESSOR: return {{0, -30.0f}, {1, 10.0f}, {2, 20.0f}, {3, 12.0f}};
        case FMOD_DSP_TYPE_NORMALIZE: return {{0, 20.0f}, {1, 0.0f}, {2, 50.0f}};
        default: return {};
    }
}

inline std::unique_ptr<Effect> makeActive(FMOD_DSP_TYPE type, int rate, unsigned maxFrames = 4096) {
    auto fx = createEffect(type, rate, maxFrames);
    if (fx)
        for (const Setting& s : activeSettings(type)) fx->setParameter(s.index, s.value);
    return fx;
}

}  // namespace pw::fx::test
