// Prints the time each built-in effect takes per stereo frame at 44.1 kHz, in blocks of 1024
// frames (the mixer's usual block), with parameters that make every unit do its full work.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "effect.hpp"

namespace {

struct Bench {
    const char* name;
    FMOD_DSP_TYPE type;
    std::vector<std::pair<int, float>> settings;
};

}  // namespace

int main() {
    using Clock = std::chrono::steady_clock;
    constexpr int kRate = 44100, kChannels = 2;
    constexpr unsigned kBlock = 1024;
    constexpr int kBlocks = 2000;  // about 46 s of audio per effect

    const Bench benches[] = {
        {"parametric EQ", FMOD_DSP_TYPE_PARAMEQ, {{0, 1000.0f}, {2, 2.0f}}},
        {"low-pass", FMOD_DSP_TYPE_LOWPASS, {{0, 2000.0f}, {1, 4.0f}}},
        {"low-pass (open)", FMOD_DSP_TYPE_LOWPASS, {{0, 22000.0f}}},
        {"high-pass", FMOD_DSP_TYPE_HIGHPASS, {{0, 500.0f}}},
        {"echo", FMOD_DSP_TYPE_ECHO, {}},
        {"flange", FMOD_DSP_TYPE_FLANGE, {}},
        {"compressor", FMOD_DSP_TYPE_COMPRESSOR, {{0, -30.0f}}},
        {"normalise", FMOD_DSP_TYPE_NORMALIZE, {}},
    };

    std::vector<float> signal(kBlock * kChannels);
    for (unsigned f = 0; f < kBlock; ++f)
        for (int ch = 0; ch < kChannels; ++ch)
            signal[f * kChannels + ch] = 0.5f * static_cast<float>(std::sin(0.05 * f + ch));
    std::vector<float> out(signal.size());

    std::printf("%-18s %10s\n", "effect", "ns/frame");
    for (const Bench& b : benches) {
        auto fx = pw::fx::createEffect(b.type, kRate, kBlock);
        if (!fx) {
            std::printf("%-18s %10s\n", b.name, "n/a");
            continue;
        }
        for (const auto& [index, value] : b.settings) fx->setParameter(index, value);
        for (int i = 0; i < 50; ++i) fx->process(signal.data(), out.data(), kBlock, kChannels);  // warm up
        const auto start = Clock::now();
        for (int i = 0; i < kBlocks; ++i) fx->process(signal.data(), out.data(), kBlock, kChannels);
        const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
        std::printf("%-18s %10.2f\n", b.name, ns / (double(kBlocks) * kBlock));
    }
    return 0;
}
