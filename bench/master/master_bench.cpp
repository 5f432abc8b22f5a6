// Mixer cost per block: two stepped virtual cards (stereo, 44.1 kHz, 1024-frame blocks) with the
// engine started on them and their MasterGain units active, first bare, then with 8 master bands
// switched on per card and 8 looping samples on the first card. Each iteration lets one block
// through on each card and waits until both were written; the difference between the two runs
// is what the bands and samples cost the mixer threads.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "TKCore.h"
#include "device_table_file.hpp"
#include "fmod_testhooks.hpp"

namespace {

constexpr int kRate = 44100;
constexpr int kBands = 8;
constexpr int kSamples = 8;

// A 2-second stereo sine as a 16-bit WAV file.
bool writeSample(const std::string& path, double hz) {
    const int frames = 2 * kRate;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const unsigned data = static_cast<unsigned>(frames) * 4;
    auto u32 = [f](unsigned v) { std::fwrite(&v, 4, 1, f); };
    auto u16 = [f](unsigned short v) { std::fwrite(&v, 2, 1, f); };
    std::fwrite("RIFF", 1, 4, f);
    u32(36 + data);
    std::fwrite("WAVEfmt ", 1, 8, f);
    u32(16);
    u16(1);
    u16(2);
    u32(kRate);
    u32(kRate * 4);
    u16(4);
    u16(16);
    std::fwrite("data", 1, 4, f);
    u32(data);
    for (int i = 0; i < frames; ++i) {
        const short s = static_cast<short>(8000.0 * std::sin(2 * M_PI * hz * i / kRate));
        std::fwrite(&s, 2, 1, f);
        std::fwrite(&s, 2, 1, f);
    }
    return std::fclose(f) == 0;
}

void MasterBusPerBlock(benchmark::State& state) {
    const bool loaded = state.range(0) != 0;
    pw::test::DeviceTableFile table("output name=\"Card1\" channels=2 sink=discard pacing=stepped\n"
                                    "output name=\"Card2\" channels=2 sink=discard pacing=stepped\n");
    if (t_core.InitPlayer(0, 1, kRate) != 1 || CTKCore::g_soundcardcount != 2) {
        state.SkipWithError("start-up on the virtual cards failed");
        t_core.CleanUp();
        return;
    }
    // Both cards in use, so that their units and bands take part in the mix.
    CTKCore::g_SystemsUseCount[0] = CTKCore::g_SystemsUseCount[1] = 1;
    t_core.SetMasterGain(6000);
    if (loaded) {
        for (int b = 0; b < kBands; ++b) {
            t_core.AddMasterEq(60.0f * std::pow(2.0f, static_cast<float>(b)), 1.0f);
            CTKCore::SetMasterEq(b, 6000 + 250 * b, true);
        }
        t_core.SetupSampler(0);
        for (int s = 0; s < kSamples; ++s) {
            const std::string path = table.file("sample" + std::to_string(s) + ".wav");
            if (!writeSample(path, 220.0 * (s + 1))) state.SkipWithError("no sample file");
            std::vector<char> name(path.begin(), path.end());
            name.push_back('\0');
            t_core.LoadSample(s, name.data(), false, false);
            t_core.SetSampleMode(s, true);
            t_core.SetSampleVolume(s, 1000);
            t_core.PlaySample(s, false);
        }
    }
    for (auto _ : state) {
        pw::testhooks::step("Card1", 1);
        pw::testhooks::step("Card2", 1);
    }
    // Time is per iteration: one block (1024 frames, 23.2 ms of audio) on each of the two cards.
    state.counters["cards"] = 2;
    for (int s = 0; s < kSamples; ++s) t_core.UnloadSample(s);
    CTKCore::g_SystemsUseCount[0] = CTKCore::g_SystemsUseCount[1] = 0;
    t_core.SetMasterGain(5000);
    t_core.CleanUp();
}

BENCHMARK(MasterBusPerBlock)->Arg(0)->Arg(1)->ArgNames({"bands_and_samples"})->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
