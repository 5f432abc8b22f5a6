// Per-block cost of the sources that playSound hands to the mixer (1024 frames of stereo).
// The sources are driven directly, as the mixer thread would, without a device.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fmod.hpp"
#include "sound_memory_source.hpp"
#include "sound_registry.hpp"
#include "sound_stream_source.hpp"

namespace {

constexpr unsigned kBlock = 1024;

struct Fixture {
    FMOD::System* system = nullptr;
    std::string dir;
    std::string wav;

    Fixture() {
        char tmpl[] = "/tmp/pw-sound-bench-XXXXXX";
        dir = mkdtemp(tmpl) ? tmpl : "/tmp";
        wav = dir + "/tone.wav";
        const std::string cmd = "sox -n -r 44100 -b 16 -c 2 " + wav + " synth 30 sine 440 vol 0.5";
        if (std::system(cmd.c_str()) != 0) std::abort();
        FMOD_System_Create(&system);
        system->setOutput(FMOD_OUTPUTTYPE_NOSOUND_NRT);
        system->init(8, FMOD_INIT_NORMAL, nullptr);
    }
    ~Fixture() {
        system->release();
        std::system(("rm -rf " + dir).c_str());
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

std::shared_ptr<pw::sound::SoundImpl> open(FMOD_MODE mode, FMOD_CREATESOUNDEXINFO* ex = nullptr) {
    FMOD::Sound* s = nullptr;
    if (fixture().system->createSound(mode & FMOD_OPENUSER ? nullptr : fixture().wav.c_str(), mode, ex, &s) != FMOD_OK)
        std::abort();
    return pw::sound::lookup(s);
}

void pullLoop(benchmark::State& state, pw::ChannelSource& source) {
    std::vector<float> out(kBlock * 2);
    for (auto _ : state) {
        source.pull(out.data(), kBlock);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
}

void BM_SampleFromMemory(benchmark::State& state) {
    auto sound = open(0x249 | FMOD_LOOP_NORMAL);
    pw::sound::MemorySource source(sound);
    pullLoop(state, source);
    sound->release();
}
BENCHMARK(BM_SampleFromMemory);

void BM_UserSoundWithAtomicCopies(benchmark::State& state) {
    FMOD_CREATESOUNDEXINFO ex;
    std::memset(&ex, 0, sizeof ex);
    ex.cbsize = sizeof ex;
    ex.length = 44100 * 4;
    ex.numchannels = 2;
    ex.defaultfrequency = 44100;
    ex.format = FMOD_SOUND_FORMAT_PCM16;
    auto sound = open(0x44A, &ex);
    pw::sound::MemorySource source(sound);
    pullLoop(state, source);
    sound->release();
}
BENCHMARK(BM_UserSoundWithAtomicCopies);

// The mixer's share of a stream: taking blocks from the ring. The ring is refilled outside the
// timing, as the prefetch worker would do on its own thread.
void BM_StreamFromRing(benchmark::State& state) {
    auto sound = open(0xC0CA);
    std::shared_ptr<pw::sound::StreamFeed> feed;
    auto source = pw::sound::makeStreamSource(sound, &feed);
    std::vector<float> out(kBlock * 2);
    for (auto _ : state) {
        if (feed->ring().empty()) {
            state.PauseTiming();
            feed->produce();
            state.ResumeTiming();
        }
        source->pull(out.data(), kBlock);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
    source.reset();
    sound->release();
}
BENCHMARK(BM_StreamFromRing);

}  // namespace

BENCHMARK_MAIN();
