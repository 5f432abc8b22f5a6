// Mixer cost per channel: N stereo channels, each a generator unit followed by the seven built-in
// effect units (parametric EQ, echo, flange, low-pass, high-pass, compressor, normalise), mixed
// on a no-sound system as fast as it goes. Reports the time per channel per second of audio.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "fmod.hpp"
#include "mixer_drive.hpp"

namespace {

constexpr unsigned kBlock = 1024;
constexpr int kRate = 44100;

FMOD_RESULT noise(FMOD_DSP_STATE* state, float*, float* out, unsigned length, int, int outch) {
    void* ud = nullptr;
    state->instance->getUserData(&ud);
    auto* seed = static_cast<unsigned*>(ud);
    for (unsigned k = 0; k < length * static_cast<unsigned>(outch); ++k) {
        *seed = *seed * 1664525u + 1013904223u;
        out[k] = static_cast<float>(*seed >> 8) / 16777216.0f - 0.5f;
    }
    return FMOD_OK;
}

void MixerPerChannel(benchmark::State& state) {
    const int channels = static_cast<int>(state.range(0));
    const bool effects = state.range(1) != 0;
    FMOD::System* system = nullptr;
    FMOD_System_Create(&system);
    system->setOutput(FMOD_OUTPUTTYPE_NOSOUND_NRT);
    system->setSoftwareFormat(kRate, FMOD_SOUND_FORMAT_PCMFLOAT, 0, 6, FMOD_DSP_RESAMPLER_LINEAR);
    system->setDSPBufferSize(kBlock, 4);
    if (system->init(channels, FMOD_INIT_NORMAL, nullptr) != FMOD_OK) {
        state.SkipWithError("init failed");
        return;
    }
    std::vector<unsigned> seeds(channels, 1);
    const FMOD_DSP_TYPE chain[] = {FMOD_DSP_TYPE_PARAMEQ, FMOD_DSP_TYPE_ECHO, FMOD_DSP_TYPE_FLANGE,
                                   FMOD_DSP_TYPE_LOWPASS, FMOD_DSP_TYPE_HIGHPASS, FMOD_DSP_TYPE_COMPRESSOR,
                                   FMOD_DSP_TYPE_NORMALIZE};
    for (int c = 0; c < channels; ++c) {
        seeds[c] = 12345u + c;
        FMOD_DSP_DESCRIPTION d;
        std::memset(&d, 0, sizeof(d));
        std::strcpy(d.name, "Player");
        d.channels = 2;
        d.read = noise;
        d.userdata = &seeds[c];
        FMOD::DSP* head = nullptr;
        system->createDSP(&d, &head);
        FMOD::Channel* channel = nullptr;
        system->playDSP(FMOD_CHANNEL_FREE, head, false, &channel);
        channel->setFrequency(kRate * 1.03f);  // a deck slightly off its rate: the resampler works
        if (!effects) continue;
        for (FMOD_DSP_TYPE type : chain) {
            FMOD::DSP* unit = nullptr;
            system->createDSPByType(type, &unit);
            channel->addDSP(unit, nullptr);
        }
    }
    for (auto _ : state) pw::mix::renderBlocks(system, 1, nullptr);
    const double audioSeconds = static_cast<double>(state.iterations()) * kBlock / kRate;
    state.counters["audio_s_per_s"] = benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
    state.counters["channels"] = channels;
    // Time spent over audio produced, per channel, in percent of one core: rate-inverted counter.
    state.counters["core_pct_per_channel"] = benchmark::Counter(
        audioSeconds * channels / 100.0, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    system->release();
}

// One playDSP and stop after `plays` earlier ones: the start must not grow with the session.
void ChannelStartAfterPlays(benchmark::State& state) {
    FMOD::System* system = nullptr;
    FMOD_System_Create(&system);
    system->setOutput(FMOD_OUTPUTTYPE_NOSOUND_NRT);
    system->setDSPBufferSize(256, 4);
    if (system->init(64, FMOD_INIT_NORMAL, nullptr) != FMOD_OK) {
        state.SkipWithError("init failed");
        return;
    }
    unsigned seed = 1;
    FMOD_DSP_DESCRIPTION d;
    std::memset(&d, 0, sizeof(d));
    std::strcpy(d.name, "Player");
    d.channels = 2;
    d.read = noise;
    d.userdata = &seed;
    FMOD::DSP* head = nullptr;
    system->createDSP(&d, &head);
    auto playAndStop = [&] {
        FMOD::Channel* channel = nullptr;
        return system->playDSP(FMOD_CHANNEL_FREE, head, false, &channel) == FMOD_OK && channel->stop() == FMOD_OK;
    };
    for (int64_t i = 0; i < state.range(0); ++i) playAndStop();
    for (auto _ : state) {
        if (!playAndStop()) {
            state.SkipWithError("playDSP or stop failed");
            break;
        }
    }
    system->release();
}

BENCHMARK(ChannelStartAfterPlays)->Arg(1000)->Arg(1000000)->ArgNames({"plays"})->Unit(benchmark::kMicrosecond);

BENCHMARK(MixerPerChannel)
    ->ArgsProduct({{1, 4, 16, 64}, {0, 1}})
    ->ArgNames({"channels", "effects"})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
