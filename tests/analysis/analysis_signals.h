// Test signals for the analysis kernel: click tracks (short noise bursts at an exact interval,
// optionally over a noise bed) and a helper that feeds PCM to an AudioProcessor hop by hop, as
// the deck tracker and the whole-file task do.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "AudioProcessor.h"

namespace analysis_test {

struct Track {
    std::vector<int16_t> pcm;  // interleaved
    int channels = 2;
    float rate = 44100.0f;
    std::vector<double> clicks;  // seconds
    unsigned frames() const { return static_cast<unsigned>(pcm.size() / channels); }
};

inline int16_t toPcm(double x) {
    const double v = std::round(x * 32767.0);
    return static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
}

// Clicks of 6 ms decaying noise at first + k * 60 / bpm until the end; noiseRms adds a white
// noise bed. `clickChannels` selects which channels carry the signal (bit mask; all by default);
// gains[k], when given, scales click k.
inline Track clickTrack(double bpm, double seconds, double noiseRms = 0.0, unsigned seed = 1,
                        int channels = 2, float rate = 44100.0f, double first = 0.25,
                        unsigned clickChannels = ~0u, const std::vector<double>& gains = {}) {
    Track t;
    t.channels = channels;
    t.rate = rate;
    const size_t frames = static_cast<size_t>(seconds * rate);
    std::vector<double> mono(frames, 0.0);
    std::mt19937 rng(seed);
    std::normal_distribution<double> gauss(0.0, 1.0);
    std::uniform_real_distribution<double> uni(-1.0, 1.0);
    if (noiseRms > 0)
        for (double& x : mono) x = noiseRms * gauss(rng);
    const size_t burst = static_cast<size_t>(0.006 * rate);
    for (int k = 0;; ++k) {
        const double when = first + k * 60.0 / bpm;
        const size_t start = static_cast<size_t>(std::llround(when * rate));
        if (start >= frames) break;
        t.clicks.push_back(static_cast<double>(start) / rate);
        const double gain = static_cast<size_t>(k) < gains.size() ? gains[static_cast<size_t>(k)] : 1.0;
        for (size_t i = 0; i < burst && start + i < frames; ++i) {
            mono[start + i] +=
                gain * 0.8 * uni(rng) * std::exp(-5.0 * static_cast<double>(i) / burst);
        }
    }
    t.pcm.resize(frames * channels);
    for (size_t f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c)
            t.pcm[f * channels + c] = (clickChannels >> c) & 1u ? toPcm(mono[f]) : 0;
    return t;
}

// Configures a processor for the whole track and feeds the first `feedFrames` hops (all hops by
// default) with consecutive indices.
inline std::unique_ptr<AudioProcessor> analyse(const Track& t, unsigned precision = 2,
                                               long feedHops = -1) {
    std::unique_ptr<AudioProcessor> p(new AudioProcessor(precision));
    unsigned chunkBytes = 0;
    p->setConfig(t.channels, t.rate, t.frames(), &chunkBytes);
    const char* bytes = reinterpret_cast<const char*>(t.pcm.data());
    const unsigned hops = p->totalFrames;
    for (unsigned h = 0; h < hops && (feedHops < 0 || h < feedHops); ++h) {
        p->processFrame(bytes + static_cast<size_t>(h) * chunkBytes, chunkBytes, h);
    }
    return p;
}

}  // namespace analysis_test
