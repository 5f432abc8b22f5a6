// Renders 60 s of output at tempo +20 % (tempo factor 1 / 1.2) through the channel's render step
// on the calling thread (ring bypassed, prefetch driven by the loop), for each stretcher quality,
// and the same audio through the stretcher alone with the same settings. Reports CPU time per
// minute rendered; the difference is the channel's own cost (source reads, conversion, position
// bookkeeping).
#include <SoundTouch.h>
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "FMODSystem.h"
#include "TKCore.h"
#include "TimestretchedChannel.h"

namespace {

constexpr int kRate = 44100;
constexpr unsigned int kBlock = 1024;
constexpr double kSeconds = 60.0;
constexpr float kFactor = 1.0f / 1.2f;
constexpr unsigned int kSourceFrames = 75 * kRate;  // 60 s at 1.2 needs 72 s of source

std::vector<int16_t>& sourcePcm() {
    static std::vector<int16_t> pcm = [] {
        std::vector<int16_t> v(static_cast<size_t>(kSourceFrames) * 2);
        for (unsigned int i = 0; i < kSourceFrames; ++i) {
            // A chord with a slow beat: something for the stretcher's search to work on.
            const double t = static_cast<double>(i) / kRate;
            const double env = 0.6 + 0.4 * std::sin(2.0 * M_PI * 2.0 * t);
            const double l = env * (0.3 * std::sin(2 * M_PI * 220.0 * t) + 0.2 * std::sin(2 * M_PI * 330.0 * t));
            const double r = env * (0.3 * std::sin(2 * M_PI * 277.0 * t) + 0.2 * std::sin(2 * M_PI * 440.0 * t));
            v[2 * i] = static_cast<int16_t>(std::lrint(l * 32767.0));
            v[2 * i + 1] = static_cast<int16_t>(std::lrint(r * 32767.0));
        }
        return v;
    }();
    return pcm;
}

FMOD::System* noSoundSystem() {
    static FMOD::System* system = [] {
        FMOD::System* s = nullptr;
        if (FMOD_System_Create(&s) != FMOD_OK || !s) return static_cast<FMOD::System*>(nullptr);
        s->setOutput(FMOD_OUTPUTTYPE_NOSOUND_NRT);
        if (s->init(16, FMOD_INIT_NORMAL, nullptr) != FMOD_OK) return static_cast<FMOD::System*>(nullptr);
        return s;
    }();
    return system;
}

FMOD::Sound* makeSound() {
    FMOD::System* system = noSoundSystem();
    if (!system) return nullptr;
    const std::vector<int16_t>& pcm = sourcePcm();
    const unsigned int bytes = static_cast<unsigned int>(pcm.size() * sizeof(int16_t));
    FMOD_CREATESOUNDEXINFO ex;
    std::memset(&ex, 0, sizeof ex);
    ex.cbsize = sizeof ex;
    ex.length = bytes;
    ex.numchannels = 2;
    ex.defaultfrequency = kRate;
    ex.format = FMOD_SOUND_FORMAT_PCM16;
    FMOD::Sound* sound = nullptr;
    if (system->createSound(nullptr, FMOD_OPENUSER | FMOD_SOFTWARE, &ex, &sound) != FMOD_OK || !sound) return nullptr;
    void *p1 = nullptr, *p2 = nullptr;
    unsigned int l1 = 0, l2 = 0;
    if (sound->lock(0, bytes, &p1, &p2, &l1, &l2) == FMOD_OK) {
        std::memcpy(p1, pcm.data(), l1);
        if (p2 && l2) std::memcpy(p2, reinterpret_cast<const char*>(pcm.data()) + l1, l2);
        sound->unlock(p1, p2, l1, l2);
    }
    return sound;
}

void configure(soundtouch::SoundTouch& st, int quality) {
    if (quality == 0) {
        st.setSetting(SETTING_USE_AA_FILTER, 0);
        st.setSetting(SETTING_AA_FILTER_LENGTH, 128);
        st.setSetting(SETTING_USE_QUICKSEEK, 0);
        st.setSetting(SETTING_SEQUENCE_MS, 16);
        st.setSetting(SETTING_SEEKWINDOW_MS, 16);
        st.setSetting(SETTING_OVERLAP_MS, 32);
    } else {
        st.setSetting(SETTING_USE_AA_FILTER, 1);
        st.setSetting(SETTING_AA_FILTER_LENGTH, quality == 1 ? 32 : 64);
        st.setSetting(SETTING_USE_QUICKSEEK, 0);
        st.setSetting(SETTING_OVERLAP_MS, quality == 1 ? 16 : 8);
    }
    st.setSampleRate(kRate);
    st.setChannels(2);
    st.setTempo(1.0 / kFactor);
}

void BM_ChannelTempo12(benchmark::State& state) {
    const int quality = static_cast<int>(state.range(0));
    FMOD::System* system = noSoundSystem();
    if (!system) {
        state.SkipWithError("no audio system");
        return;
    }
    FMODSystem wrapper(system);
    FMOD::Sound* sound = makeSound();
    if (!sound) {
        wrapper.detach();
        state.SkipWithError("no sound");
        return;
    }
    const unsigned int blocks = static_cast<unsigned int>(kSeconds * kRate / kBlock);
    std::vector<float> out(kBlock * 2);
    double produced = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        CTKCore::g_uiTimeStretcherQuality = static_cast<unsigned int>(quality);
        auto channel = std::make_unique<TimeStretchedChannel>(&wrapper, sound, true);
        if (channel->getOutputBuffer()) channel->getOutputBuffer()->setBypass(true);
        BufferingSound* prefetch = channel->getLoopSound()->getBufferingSound();
        prefetch->stopBuffering();
        for (int i = 0; i < 32; ++i) prefetch->workerPass();
        channel->setTimeStretch(kFactor, false);
        channel->setPaused(false);
        state.ResumeTiming();
        for (unsigned int b = 0; b < blocks; ++b) {
            prefetch->workerPass();
            channel->readFromBuffer(out.data(), kBlock, 2);
            benchmark::DoNotOptimize(out.data());
        }
        state.PauseTiming();
        unsigned int heard = 0;
        channel->getPosition(&heard, FMOD_TIMEUNIT_PCM, false);
        produced = heard;
        channel.reset();
        state.ResumeTiming();
    }
    state.counters["source_s"] = produced / kRate;
    sound->release();
    wrapper.detach();
}

void BM_StretcherAloneTempo12(benchmark::State& state) {
    const int quality = static_cast<int>(state.range(0));
    const std::vector<int16_t>& pcm = sourcePcm();
    std::vector<float> in(pcm.size());
    for (size_t i = 0; i < pcm.size(); ++i) in[i] = static_cast<float>(pcm[i]) * (1.0f / 32768.0f);
    const unsigned int outFrames = static_cast<unsigned int>(kSeconds * kRate);
    std::vector<float> out(kBlock * 2);
    for (auto _ : state) {
        soundtouch::SoundTouch st;
        configure(st, quality);
        unsigned int fed = 0, got = 0;
        while (got < outFrames) {
            while (st.numSamples() < kBlock && fed + kBlock <= kSourceFrames) {
                st.putSamples(&in[static_cast<size_t>(fed) * 2], kBlock);
                fed += kBlock;
            }
            const unsigned int r = st.receiveSamples(out.data(), kBlock);
            if (r == 0) break;
            got += r;
            benchmark::DoNotOptimize(out.data());
        }
    }
}

}  // namespace

BENCHMARK(BM_ChannelTempo12)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_StretcherAloneTempo12)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
