// The mix graph without a device: channels made from units, frequency, pause, chains, bypass,
// master group and system-level units, built-in units, spectra. Mixed with renderBlocks on a
// no-sound system, so every block is deterministic.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "effect.hpp"
#include "fmod_testhooks.hpp"
#include "mixer_drive.hpp"
#include "mixer_test_util.hpp"
#include "services.hpp"

using namespace pw::mixtest;

namespace {

constexpr unsigned kBlock = 256;

struct MixerOffline : ::testing::Test {
    void SetUp() override {
        system = makeOfflineSystem(kBlock);
        ASSERT_NE(system, nullptr);
    }
    void TearDown() override {
        if (system) {
            EXPECT_EQ(system->release(), FMOD_OK);
        }
    }
    FMOD::DSP* unit(const char* name, int channels, FMOD_DSP_READCALLBACK read, void* userdata) {
        FMOD_DSP_DESCRIPTION d = describe(name, channels, read, userdata);
        FMOD::DSP* dsp = nullptr;
        EXPECT_EQ(system->createDSP(&d, &dsp), FMOD_OK);
        return dsp;
    }
    std::vector<float> render(unsigned blocks) {
        std::vector<float> out;
        EXPECT_EQ(pw::mix::renderBlocks(system, blocks, &out), FMOD_OK);
        return out;
    }
    FMOD::System* system = nullptr;
};

TEST_F(MixerOffline, GeneratorPassesSampleExactAtItsOwnRate) {
    GenState gen;
    FMOD::DSP* head = unit("Gen", 2, genRead, &gen);
    FMOD::Channel* channel = nullptr;
    ASSERT_EQ(system->playDSP(FMOD_CHANNEL_FREE, head, false, &channel), FMOD_OK);
    const auto out = render(20);
    ASSERT_EQ(out.size(), 20u * kBlock * 2);
    for (size_t f = 0; f < 20 * kBlock; ++f)
        for (int c = 0; c < 2; ++c) ASSERT_EQ(out[f * 2 + c], genValue(f, c)) << "frame " << f;
    EXPECT_EQ(gen.calls.load(), 20);
    EXPECT_EQ(gen.lastLength.load(), kBlock);  // the callback always gets the DSP buffer length
}

struct RatioCase {
    double ratio;
    int callsPer10Blocks;  // head pulls in 10 blocks
};

class MixerFrequencyRatio : public MixerOffline, public ::testing::WithParamInterface<RatioCase> {};

TEST_P(MixerFrequencyRatio, HeadIsPulledAtTheChannelFrequency) {
    const RatioCase rc = GetParam();
    GenState gen;
    FMOD::DSP* head = unit("Gen", 2, genRead, &gen);
    FMOD::Channel* channel = nullptr;
    ASSERT_EQ(system->playDSP(FMOD_CHANNEL_FREE, head, true, &channel), FMOD_OK);
    ASSERT_EQ(channel->setFrequency(static_cast<float>(rc.ratio * 44100.0)), FMOD_OK);
    ASSERT_EQ(channel->setPaused(false), FMOD_OK);
    const auto out = render(10);
    EXPECT_EQ(gen.calls.load(), rc.callsPer10Blocks);
    for (size_t f = 0; f < 10 * kBlock; ++f) {
        const double pos = f * rc.ratio;
        const double lower = std::floor(pos);
        float expected = 0.0f;
        if (rc.ratio > 0) {
            const float a = genValue(static_cast<unsigned long>(lower), 0);
            const float b = genValue(static_cast<unsigned long>(lower) + 1, 0);
            const float frac = static_cast<float>(pos - lower);
            expected = frac == 0.0f ? a : a + frac * (b - a);
        }
        ASSERT_NEAR(out[f * 2], expected, 1e-6) << "frame " << f;
    }
}

INSTANTIATE_TEST_SUITE_P(Ratios, MixerFrequencyRatio,
                         ::testing::Values(RatioCase{1.0, 10}, RatioCase{2.0, 20}, RatioCase{0.5, 6},
                                           RatioCase{25.0, 250}, RatioCase{0.0, 0}));

TEST_F(MixerOffline, PausedChannelPullsNothingAndStoppedChannelEnds) {
    GenState gen;
    FMOD::DSP* head = unit("Gen", 2, genRead, &gen);
    FMOD::Channel* channel = nullptr;
    ASSERT_EQ(system->playDSP(FMOD_CHANNEL_FREE, head, true, &channel), FMOD_OK);
    bool paused = false, playing = false;
    EXPECT_EQ(channel->getPaused(&paused), FMOD_OK);
    EXPECT_TRUE(paused);
    auto out = render(3);
    EXPECT_EQ(gen.calls.load(), 0);
    for (float v : out) ASSERT_EQ(v, 0.0f);
    channel->setPaused(false);
    render(3);
    EXPECT_EQ(gen.calls.load(), 3);
    EXPECT_EQ(channel->isPlaying(&playing), FMOD_OK);
    EXPECT_TRUE(playing);
    EXPECT_EQ(channel->stop(), FMOD_OK);
    EXPECT_EQ(channel->isPlaying(&playing), FMOD_OK);
    EXPECT_FALSE(playing);
    out = render(2);
    EXPECT_EQ(gen.calls.load(), 3);
    for (float v : out) ASSERT_EQ(v, 0.0f);
    // A stale handle stays callable: refused, and stopping it again is harmless.
    EXPECT_EQ(channel->setVolume(0.5f), FMOD_ERR_INVALID_HANDLE);
    unsigned pos = 0;
    EXPECT_EQ(channel->getPosition(&pos, FMOD_TIMEUNIT_MS), FMOD_ERR_INVALID_HANDLE);
    EXPECT_EQ(channel->stop(), FMOD_OK);
}

TEST_F(MixerOffline, ChannelReuseRestartsALiveHandleAndAllocatesForAStaleOne) {
    GenState a, b;
    FMOD::DSP* headA = unit("A", 2, genRead, &a);
    FMOD::DSP* headB = unit("B", 2, genRead, &b);
    FMOD::Channel* channel = nullptr;
    ASSERT_EQ(system->playDSP(FMOD_CHANNEL_REUSE, headA, false, &channel), FMOD_OK);
    FMOD::Channel* first = channel;
    ASSERT_EQ(system->playDSP(FMOD_CHANNEL_REUSE, headB, false, &channel), FMOD_OK);
    EXPECT_EQ(channel, first);  // live: the same handle, now playing B
    render(2);
    EXPECT_EQ(a.calls.load(), 0);
    EXPECT_EQ(b.calls.load(), 2);
    ASSERT_EQ(system->playDSP(FMOD_CHANNEL_REUSE, headB, false, &channel), FMOD_OK);
    EXPECT_EQ(channel, first);  // restarting with its own head keeps the handle too
    render(1);
    EXPECT_EQ(b.calls.load(), 3);
    channel->stop();
    ASSERT_EQ(system->playDSP(FMOD_CHANNEL_REUSE, headA, false, &channel), FMOD_OK);
    EXPECT_NE(channel, first);  // stale: a new handle
    bool playing = true;
    first->isPlaying(&playing);
    EXPECT_FALSE(playing);
}

TEST_F(MixerOffline, RunsOutOfChannelsCleanly) {
    std::vector<std::unique_ptr<GenState>> gens;
    FMOD_RESULT last = FMOD_OK;
    int started = 0;
    for (int i = 0; i < 40 && last == FMOD_OK; ++i) {
        gens.push_back(std::make_unique<GenState>());
        FMOD::Channel* channel = nullptr;
        last = system->playDSP(FMOD_CHANNEL_FREE, unit("G", 2, genRead, gens.back().get()), false, &channel);
        if (last == FMOD_OK) ++started;
    }
    EXPECT_EQ(started, 32);  // init(32)
    EXPECT_EQ(last, FMOD_ERR_CHANNEL_ALLOC);
}

TEST_F(MixerOffline, AddDspPlacesEachUnitNearerTheOutputAndRemoveSplices) {
    GenState gen;
    float two = 2.0f;
    FMOD::DSP* head = unit("Gen", 2, genRead, &gen);
    FMOD::DSP* scale = unit("Scale", 0, scaleRead, &two);
    FMOD::DSP* add = unit("AddOne", 0, addOneRead, nullptr);
    FMOD::Channel* channel = nullptr;
    ASSERT_EQ(system->playDSP(FMOD_CHANNEL_FREE, head, false, &channel), FMOD_OK);
    ASSERT_EQ(channel->addDSP(scale, nullptr), FMOD_OK);
    ASSERT_EQ(channel->addDSP(add, nullptr), FMOD_OK);
    bool active = false;
    scale->getActive(&active);
    EXPECT_TRUE(active);  // addDSP activates
    EXPECT_EQ(pw::testhooks::channelChain(channel), (std::vector<std::string>{"Gen", "Scale", "AddOne"}));
    auto out = render(1);
    for (size_t f = 0; f < kBlock; ++f) ASSERT_EQ(out[f * 2], genValue(f, 0) * 2.0f + 1.0f);

    ASSERT_EQ(scale->remove(), FMOD_OK);
    EXPECT_EQ(scale->remove(), FMOD_OK);  // harmless when detached
    EXPECT_EQ(pw::testhooks::channelChain(channel), (std::vector<std::string>{"Gen", "AddOne"}));
    out = render(1);
    for (size_t f = 0; f < kBlock; ++f) ASSERT_EQ(out[f * 2], genValue(kBlock + f, 0) + 1.0f);
}

struct PassCase {
    const char* what;
    bool bypass;
    bool active;
    bool passes;
};

class MixerUnitSwitches : public MixerOffline, public ::testing::WithParamInterface<PassCase> {};

TEST_P(MixerUnitSwitches, BypassedOrInactiveUnitPassesItsInput) {
    const PassCase pc = GetParam();
    GenState gen;
    FMOD::DSP* head = unit("Gen", 2, genRead, &gen);
    FMOD::DSP* zero = unit("Zero", 0, zeroRead, nullptr);
    FMOD::Channel* channel = nullptr;
    ASSERT_EQ(system->playDSP(FMOD_CHANNEL_FREE, head, false, &channel), FMOD_OK);
    ASSERT_EQ(channel->addDSP(zero, nullptr), FMOD_OK);
    zero->setBypass(pc.bypass);
    zero->setActive(pc.active);
    const auto out = render(1);
    for (size_t f = 0; f < kBlock; ++f) ASSERT_EQ(out[f * 2 + 1], pc.passes ? genValue(f, 1) : 0.0f) << pc.what;
}

INSTANTIATE_TEST_SUITE_P(Switches, MixerUnitSwitches,
                         ::testing::Values(PassCase{"running", false, true, false},
                                           PassCase{"bypassed", true, true, true},
                                           PassCase{"inactive", false, false, true},
                                           PassCase{"both", true, false, true}));

FMOD_RESULT failingRead(FMOD_DSP_STATE* state, float* in, float* out, unsigned length, int inch, int) {
    void* ud = nullptr;
    state->instance->getUserData(&ud);
    static_cast<GenState*>(ud)->calls.fetch_add(1);
    for (unsigned k = 0; k < length * static_cast<unsigned>(inch); ++k) out[k] = in[k] * 2.0f;
    return FMOD_ERR_INTERNAL;
}

TEST_F(MixerOffline, FailingCallbackNeverStopsTheMix) {
    GenState gen, failing;
    FMOD::DSP* head = unit("Gen", 2, genRead, &gen);
    FMOD::DSP* bad = unit("Failing", 0, failingRead, &failing);
    FMOD::Channel* channel = nullptr;
    ASSERT_EQ(system->playDSP(FMOD_CHANNEL_FREE, head, false, &channel), FMOD_OK);
    ASSERT_EQ(channel->addDSP(bad, nullptr), FMOD_OK);
    const auto out = render(5);
    EXPECT_EQ(gen.calls.load(), 5);
    EXPECT_EQ(failing.calls.load(), 5);
    for (size_t f = 0; f < 5 * kBlock; ++f) ASSERT_EQ(out[f * 2], 2.0f * genValue(f, 0));  // what it wrote
    bool playing = false;
    channel->isPlaying(&playing);
    EXPECT_TRUE(playing);
}

TEST_F(MixerOffline, CreatedUnitIsInactiveCarriesItsUserDataAndItsState) {
    float gain = 3.0f;
    FMOD::DSP* dsp = unit("Scale", 0, scaleRead, &gain);
    bool active = true, bypass = true;
    void* ud = nullptr;
    dsp->getActive(&active);
    dsp->getBypass(&bypass);
    dsp->getUserData(&ud);
    EXPECT_FALSE(active);
    EXPECT_FALSE(bypass);
    EXPECT_EQ(ud, &gain);
    char name[32] = {0};
    int channels = -1;
    EXPECT_EQ(dsp->getInfo(name, nullptr, &channels, nullptr, nullptr), FMOD_OK);
    EXPECT_STREQ(name, "Scale");
    EXPECT_EQ(channels, 0);
}

TEST_F(MixerOffline, PlayDspStartsWithTheUnitsDefaults) {
    GenState gen;
    FMOD::DSP* head = unit("Gen", 2, genRead, &gen);
    ASSERT_EQ(head->setDefaults(22050.0f, 0.5f, 0.0f, 0), FMOD_OK);
    FMOD::Channel* channel = nullptr;
    ASSERT_EQ(system->playDSP(FMOD_CHANNEL_FREE, head, false, &channel), FMOD_OK);
    float freq = 0, vol = 0;
    channel->getFrequency(&freq);
    channel->getVolume(&vol);
    EXPECT_EQ(freq, 22050.0f);
    EXPECT_EQ(vol, 0.5f);
    FMOD::Sound* sound = reinterpret_cast<FMOD::Sound*>(1);
    EXPECT_EQ(channel->getCurrentSound(&sound), FMOD_OK);
    EXPECT_EQ(sound, nullptr);
    const auto out = render(4);
    EXPECT_EQ(gen.calls.load(), 3);  // half the mix rate: 512 frames and the one after
    for (size_t f = 0; f < 4 * kBlock; f += 2) ASSERT_EQ(out[f * 2], 0.5f * genValue(f / 2, 0));
}

TEST_F(MixerOffline, MasterGroupAndSystemUnitsActInOrderOnTheWholeMix) {
    GenState gen;
    float half = 0.5f;
    FMOD::DSP* head = unit("Gen", 2, genRead, &gen);
    FMOD::DSP* gain = unit("MasterGain", 0, scaleRead, &half);
    FMOD::DSP* add = unit("AddOne", 0, addOneRead, nullptr);
    FMOD::Channel* channel = nullptr;
    FMOD::ChannelGroup* master = nullptr;
    ASSERT_EQ(system->getMasterChannelGroup(&master), FMOD_OK);
    ASSERT_EQ(system->addDSP(add, nullptr), FMOD_OK);  // system level: after the master group
    ASSERT_EQ(master->addDSP(gain, nullptr), FMOD_OK);
    ASSERT_EQ(system->playDSP(FMOD_CHANNEL_FREE, head, false, &channel), FMOD_OK);
    auto out = render(1);
    for (size_t f = 0; f < kBlock; ++f) ASSERT_EQ(out[f * 2], genValue(f, 0) * 0.5f + 1.0f);
    master->setVolume(0.25f);
    render(1);  // the volume ramps over this block
    out = render(1);
    for (size_t f = 0; f < kBlock; ++f) ASSERT_EQ(out[f * 2], genValue(2 * kBlock + f, 0) * 0.5f * 0.25f + 1.0f);
    master->setMute(true);
    render(1);
    out = render(1);
    for (size_t f = 0; f < kBlock; ++f) ASSERT_EQ(out[f * 2], 1.0f);
}

TEST_F(MixerOffline, ParametricEqCutsItsBandByTheGainAsked) {
    auto level = [&](bool withEq) {
        GenState gen;
        gen.hz = 100.0;
        gen.amplitude = 0.5f;
        FMOD::DSP* head = unit("Sine", 1, sineRead, &gen);
        FMOD::DSP* eq = nullptr;
        EXPECT_EQ(system->createDSPByType(FMOD_DSP_TYPE_PARAMEQ, &eq), FMOD_OK);
        EXPECT_EQ(eq->setParameter(0, 100.0f), FMOD_OK);
        EXPECT_EQ(eq->setParameter(1, 1.0f), FMOD_OK);
        EXPECT_EQ(eq->setParameter(2, 0.05f), FMOD_OK);
        eq->setBypass(!withEq);
        FMOD::Channel* channel = nullptr;
        EXPECT_EQ(system->playDSP(FMOD_CHANNEL_FREE, head, false, &channel), FMOD_OK);
        EXPECT_EQ(channel->addDSP(eq, nullptr), FMOD_OK);
        render(200);  // settle
        const auto out = render(100);
        channel->stop();
        head->release();
        eq->release();
        return rms(out.data(), out.size() / 2, 2);
    };
    const double dry = level(false);
    const double wet = level(true);
    ASSERT_GT(dry, 0.1);
    EXPECT_NEAR(20 * std::log10(wet / dry), -26.0, 1.0);
}

TEST_F(MixerOffline, BuiltInParametersAreClampedToTheirRanges) {
    const FMOD_DSP_TYPE types[] = {FMOD_DSP_TYPE_LOWPASS, FMOD_DSP_TYPE_HIGHPASS, FMOD_DSP_TYPE_ECHO,
                                   FMOD_DSP_TYPE_FLANGE, FMOD_DSP_TYPE_NORMALIZE, FMOD_DSP_TYPE_PARAMEQ,
                                   FMOD_DSP_TYPE_COMPRESSOR};
    for (FMOD_DSP_TYPE type : types) {
        auto reference = pw::fx::createEffect(type, 44100, kBlock);
        ASSERT_NE(reference, nullptr) << type;
        FMOD::DSP* dsp = nullptr;
        ASSERT_EQ(system->createDSPByType(type, &dsp), FMOD_OK) << type;
        int count = 0;
        dsp->getNumParameters(&count);
        ASSERT_EQ(count, reference->numParameters());
        for (int i = 0; i < count; ++i) {
            const pw::fx::ParamInfo info = reference->parameterInfo(i);
            float value = 0;
            EXPECT_EQ(dsp->setParameter(i, info.max + 1000.0f), FMOD_OK);
            dsp->getParameter(i, &value, nullptr, 0);
            EXPECT_FLOAT_EQ(value, info.max) << "type " << type << " parameter " << i;
            EXPECT_EQ(dsp->setParameter(i, info.min - 1000.0f), FMOD_OK);
            dsp->getParameter(i, &value, nullptr, 0);
            EXPECT_FLOAT_EQ(value, info.min) << "type " << type << " parameter " << i;
        }
        EXPECT_EQ(dsp->setParameter(count, 1.0f), FMOD_ERR_INVALID_PARAM);
        EXPECT_EQ(dsp->setParameter(-1, 1.0f), FMOD_ERR_INVALID_PARAM);
        EXPECT_EQ(dsp->setParameter(0, NAN), FMOD_ERR_INVALID_FLOAT);
        EXPECT_EQ(dsp->release(), FMOD_OK);
    }
    FMOD::DSP* none = nullptr;
    EXPECT_EQ(system->createDSPByType(FMOD_DSP_TYPE_MIXER, &none), FMOD_ERR_UNSUPPORTED);
    EXPECT_EQ(none, nullptr);
}

TEST_F(MixerOffline, BypassedBuiltInUnitPassesExactly) {
    GenState gen;
    FMOD::DSP* head = unit("Gen", 2, genRead, &gen);
    FMOD::DSP* echo = nullptr;
    ASSERT_EQ(system->createDSPByType(FMOD_DSP_TYPE_ECHO, &echo), FMOD_OK);
    FMOD::Channel* channel = nullptr;
    ASSERT_EQ(system->playDSP(FMOD_CHANNEL_FREE, head, false, &channel), FMOD_OK);
    ASSERT_EQ(channel->addDSP(echo, nullptr), FMOD_OK);
    echo->setBypass(true);
    const auto out = render(4);
    for (size_t f = 0; f < 4 * kBlock; ++f) ASSERT_EQ(out[f * 2], genValue(f, 0));
}

FMOD_RESULT impulseRead(FMOD_DSP_STATE* state, float*, float* out, unsigned length, int, int outch) {
    void* ud = nullptr;
    state->instance->getUserData(&ud);
    auto* g = static_cast<GenState*>(ud);
    std::fill_n(out, length * static_cast<unsigned>(outch), 0.0f);
    if (g->calls.fetch_add(1) == 0) out[0] = 1.0f;
    return FMOD_OK;
}

TEST_F(MixerOffline, ResetClearsABuiltInUnitsTail) {
    auto tail = [&](bool reset) {
        GenState gen;
        FMOD::DSP* head = unit("Impulse", 1, impulseRead, &gen);
        FMOD::DSP* echo = nullptr;
        EXPECT_EQ(system->createDSPByType(FMOD_DSP_TYPE_ECHO, &echo), FMOD_OK);
        EXPECT_EQ(echo->setParameter(0, 20.0f), FMOD_OK);  // 882 frames
        FMOD::Channel* channel = nullptr;
        EXPECT_EQ(system->playDSP(FMOD_CHANNEL_FREE, head, false, &channel), FMOD_OK);
        EXPECT_EQ(channel->addDSP(echo, nullptr), FMOD_OK);
        render(1);  // the impulse enters the delay line
        if (reset) {
            EXPECT_EQ(echo->reset(), FMOD_OK);
        }
        const auto out = render(8);
        channel->stop();
        head->release();
        echo->release();
        double energy = 0.0;
        for (float v : out) energy += static_cast<double>(v) * v;
        return energy;
    };
    EXPECT_GT(tail(false), 0.1);  // the echo of the impulse
    EXPECT_EQ(tail(true), 0.0);
}

struct SpectrumCase {
    FMOD_DSP_FFT_WINDOW window;
    int values;
    int bin;
};

class MixerSpectrum : public MixerOffline, public ::testing::WithParamInterface<SpectrumCase> {};

TEST_P(MixerSpectrum, FullScaleSinePeaksNearOneInItsBin) {
    const SpectrumCase sc = GetParam();
    GenState gen;
    gen.hz = sc.bin * 44100.0 / (2.0 * sc.values);  // on the bin's centre
    FMOD::DSP* head = unit("Sine", 1, sineRead, &gen);
    FMOD::Channel* channel = nullptr;
    ASSERT_EQ(system->playDSP(FMOD_CHANNEL_FREE, head, false, &channel), FMOD_OK);
    channel->setSpeakerMix(1, 0, 0, 0, 0, 0, 0, 0);  // left only
    render(2 * sc.values / kBlock + 2);
    std::vector<float> values(sc.values);
    for (int source = 0; source < 2; ++source) {
        FMOD_RESULT r = source == 0 ? channel->getSpectrum(values.data(), sc.values, 0, sc.window)
                                    : system->getSpectrum(values.data(), sc.values, 0, sc.window);
        ASSERT_EQ(r, FMOD_OK);
        const int peak = static_cast<int>(std::max_element(values.begin(), values.end()) - values.begin());
        EXPECT_EQ(peak, sc.bin);
        EXPECT_NEAR(values[sc.bin], 1.0f, 0.05f);
    }
    ASSERT_EQ(system->getSpectrum(values.data(), sc.values, 1, sc.window), FMOD_OK);  // the silent right
    EXPECT_LT(*std::max_element(values.begin(), values.end()), 1e-6f);
}

INSTANTIATE_TEST_SUITE_P(Windows, MixerSpectrum,
                         ::testing::Values(SpectrumCase{FMOD_DSP_FFT_WINDOW_RECT, 64, 5},
                                           SpectrumCase{FMOD_DSP_FFT_WINDOW_TRIANGLE, 512, 40},
                                           SpectrumCase{FMOD_DSP_FFT_WINDOW_HANNING, 1024, 100},
                                           SpectrumCase{FMOD_DSP_FFT_WINDOW_BLACKMANHARRIS, 8192, 300}));

TEST_F(MixerOffline, ChannelSpectrumIsTakenAfterTheChainAndBeforeTheMatrix) {
    GenState gen;
    gen.hz = 10 * 44100.0 / 128.0;  // bin 10 of 64 values
    float half = 0.5f;
    FMOD::DSP* head = unit("Sine", 1, sineRead, &gen);
    FMOD::DSP* scale = unit("Scale", 0, scaleRead, &half);
    FMOD::Channel* channel = nullptr;
    ASSERT_EQ(system->playDSP(FMOD_CHANNEL_FREE, head, false, &channel), FMOD_OK);
    ASSERT_EQ(channel->addDSP(scale, nullptr), FMOD_OK);
    ASSERT_EQ(channel->setVolume(0.0f), FMOD_OK);  // nothing reaches the mix
    render(4);
    std::vector<float> values(64);
    ASSERT_EQ(channel->getSpectrum(values.data(), 64, 0, FMOD_DSP_FFT_WINDOW_RECT), FMOD_OK);
    EXPECT_NEAR(values[10], 0.5f, 0.02f);
    ASSERT_EQ(system->getSpectrum(values.data(), 64, 0, FMOD_DSP_FFT_WINDOW_RECT), FMOD_OK);
    EXPECT_LT(values[10], 1e-6f);
    EXPECT_EQ(channel->getSpectrum(values.data(), 64, 1, FMOD_DSP_FFT_WINDOW_RECT), FMOD_ERR_INVALID_PARAM);
}

struct LevelCase {
    const char* what;
    float volume;
    bool mute;
    float pan;
    float left, right;  // gains on FL and FR of a stereo source
};

class MixerLevels : public MixerOffline, public ::testing::WithParamInterface<LevelCase> {};

TEST_P(MixerLevels, VolumeMuteAndPanScaleTheFrontPair) {
    const LevelCase lc = GetParam();
    GenState gen;
    gen.constant[0] = 0.5f;
    gen.constant[1] = 0.25f;
    FMOD::DSP* head = unit("Const", 2, constantRead, &gen);
    FMOD::Channel* channel = nullptr;
    ASSERT_EQ(system->playDSP(FMOD_CHANNEL_FREE, head, false, &channel), FMOD_OK);
    ASSERT_EQ(channel->setVolume(lc.volume), FMOD_OK);
    ASSERT_EQ(channel->setMute(lc.mute), FMOD_OK);
    ASSERT_EQ(channel->setPan(lc.pan), FMOD_OK);
    const auto out = render(1);
    EXPECT_FLOAT_EQ(out[0], 0.5f * lc.left) << lc.what;
    EXPECT_FLOAT_EQ(out[1], 0.25f * lc.right) << lc.what;
    bool mute = !lc.mute;
    channel->getMute(&mute);
    EXPECT_EQ(mute, lc.mute);
}

INSTANTIATE_TEST_SUITE_P(Levels, MixerLevels,
                         ::testing::Values(LevelCase{"unity", 1.0f, false, 0.0f, 1.0f, 1.0f},
                                           LevelCase{"half volume", 0.5f, false, 0.0f, 0.5f, 0.5f},
                                           LevelCase{"muted", 1.0f, true, 0.0f, 0.0f, 0.0f},
                                           LevelCase{"pan right", 1.0f, false, 1.0f, 0.0f, 1.0f},
                                           LevelCase{"pan half left", 1.0f, false, -0.5f, 1.0f, 0.5f},
                                           LevelCase{"pan beyond range clamps", 1.0f, false, -3.0f, 1.0f, 0.0f}));

TEST_F(MixerOffline, SpectrumRefusesBadRequests) {
    std::vector<float> values(8192);
    const struct {
        int count;
        int channel;
        int window;
    } bad[] = {{100, 0, 0}, {32, 0, 0}, {16384, 0, 0}, {64, 2, 0}, {64, -1, 0}, {64, 0, 9}};
    for (const auto& b : bad) {
        EXPECT_EQ(system->getSpectrum(values.data(), b.count, b.channel, static_cast<FMOD_DSP_FFT_WINDOW>(b.window)),
                  FMOD_ERR_INVALID_PARAM)
            << b.count << " " << b.channel << " " << b.window;
    }
    EXPECT_EQ(system->getSpectrum(nullptr, 64, 0, FMOD_DSP_FFT_WINDOW_RECT), FMOD_ERR_INVALID_PARAM);
}

TEST_F(MixerOffline, LiveCountsFollowCreationAndRelease) {
    using pw::testhooks::Kind;
    const int dsps = pw::testhooks::liveCount(Kind::DSP);
    const int channels = pw::testhooks::liveCount(Kind::Channel);
    GenState gen;
    FMOD::DSP* head = unit("Gen", 2, genRead, &gen);
    EXPECT_EQ(pw::testhooks::liveCount(Kind::DSP), dsps + 1);
    FMOD::Channel* channel = nullptr;
    ASSERT_EQ(system->playDSP(FMOD_CHANNEL_FREE, head, false, &channel), FMOD_OK);
    EXPECT_EQ(pw::testhooks::liveCount(Kind::Channel), channels + 1);
    EXPECT_EQ(head->release(), FMOD_OK);  // releasing a channel's head ends the channel
    EXPECT_EQ(pw::testhooks::liveCount(Kind::Channel), channels);
    EXPECT_EQ(pw::testhooks::liveCount(Kind::DSP), dsps);
    bool playing = true;
    channel->isPlaying(&playing);
    EXPECT_FALSE(playing);
}

// A one-shot source of `length` frames of genValue, as the sound half's sources behave.
class FiniteSource : public pw::ChannelSource {
public:
    FiniteSource(unsigned long length, int* destroyed, unsigned* lastPosition)
        : length_(length), destroyed_(destroyed), lastPosition_(lastPosition) {}
    ~FiniteSource() override { ++*destroyed_; }
    int channels() const override { return 1; }
    float defaultFrequency() const override { return 44100.0f; }
    unsigned pull(float* out, unsigned frames) override {
        unsigned n = 0;
        for (; n < frames && pos_ < length_; ++n) out[n] = genValue(pos_++, 0);
        for (unsigned k = n; k < frames; ++k) out[k] = 0.0f;
        return n;
    }
    FMOD::Sound* currentSound() override { return reinterpret_cast<FMOD::Sound*>(this); }
    FMOD_RESULT setPosition(unsigned int position, FMOD_TIMEUNIT unit) override {
        if (unit != FMOD_TIMEUNIT_PCM) return FMOD_ERR_FORMAT;
        *lastPosition_ = position;
        return FMOD_OK;
    }

private:
    unsigned long length_;
    unsigned long pos_ = 0;
    int* destroyed_;
    unsigned* lastPosition_;
};

TEST_F(MixerOffline, OneShotSourceEndsItsChannelAndIsFreedOffTheMix) {
    int destroyed = 0;
    unsigned position = 0;
    const unsigned long length = 3 * kBlock + 100;
    auto source = std::make_unique<FiniteSource>(length, &destroyed, &position);
    FiniteSource* raw = source.get();
    FMOD::Channel* channel = nullptr;
    ASSERT_EQ(pw::systemPlaySource(system, FMOD_CHANNEL_FREE, std::move(source), false, &channel), FMOD_OK);
    FMOD::Sound* sound = nullptr;
    EXPECT_EQ(channel->getCurrentSound(&sound), FMOD_OK);
    EXPECT_EQ(sound, reinterpret_cast<FMOD::Sound*>(raw));
    EXPECT_EQ(channel->setPosition(0, FMOD_TIMEUNIT_PCM), FMOD_OK);  // forwarded
    EXPECT_EQ(channel->setPosition(0, FMOD_TIMEUNIT_MS), FMOD_ERR_FORMAT);
    const auto out = render(6);
    for (size_t f = 0; f < 6 * kBlock; ++f) {
        // mono reaches both front speakers
        const float expected = f < length ? genValue(f, 0) : 0.0f;
        ASSERT_EQ(out[f * 2], expected) << f;
        ASSERT_EQ(out[f * 2 + 1], expected) << f;
    }
    bool playing = true;
    EXPECT_EQ(channel->isPlaying(&playing), FMOD_OK);
    EXPECT_FALSE(playing);
    EXPECT_EQ(destroyed, 0);  // never freed inside the mix
    EXPECT_EQ(channel->stop(), FMOD_OK);
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(channel->setPosition(0, FMOD_TIMEUNIT_PCM), FMOD_ERR_INVALID_HANDLE);
}

TEST_F(MixerOffline, SourcesAreRefusedWhenTheyCannotPlay) {
    int destroyed = 0;
    unsigned position = 0;
    FMOD::Channel* channel = nullptr;
    EXPECT_EQ(pw::systemPlaySource(system, FMOD_CHANNEL_FREE, nullptr, false, &channel), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(pw::systemPlaySource(system, 999, std::make_unique<FiniteSource>(10, &destroyed, &position), false,
                                   &channel),
              FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(destroyed, 1);  // a refused source is freed, not leaked
    FMOD::System* idle = nullptr;
    ASSERT_EQ(FMOD_System_Create(&idle), FMOD_OK);
    EXPECT_EQ(pw::systemPlaySource(idle, FMOD_CHANNEL_FREE, std::make_unique<FiniteSource>(10, &destroyed, &position),
                                   false, &channel),
              FMOD_ERR_UNINITIALIZED);
    EXPECT_EQ(idle->release(), FMOD_OK);
}

}  // namespace
