// The master equaliser as start-up leaves it for the master bus: band gains and the band range
// of SetMasterEq, and a band that joins the card's chain when switched on, also after a restart.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "device_table_file.hpp"
#include "startup_test_support.h"

namespace {

using namespace startuptest;

class MasterEq : public EngineTest {};

TEST_F(MasterEq, BandGainsAndRange) {
    pw::test::DeviceTableFile table("output name=\"Stereo\"\n");
    EXPECT_EQ(CTKCore::SetMasterEq(0, 5000, true), -12) << "before start-up there are no bands";
    ASSERT_EQ(t_core.InitPlayer(0, 1, 44100), 1);
    EXPECT_EQ(CTKCore::SetMasterEq(0, 5000, true), -12) << "no band added yet";
    for (int b = 0; b < 33; ++b) g_masterEQValues->push_back(1.0f);
    struct Case {
        int band;
        int value;
        bool on;
        int result;
        float gain;
    } cases[] = {
        {0, 5000, true, 1, 1.0f}, {1, 10000, false, 1, 2.0f}, {2, 0, true, 1, 0.05f},  {3, 2500, true, 1, 0.5f},
        {4, -5000, true, 1, -1.0f}, {31, 1, true, 1, 0.0002f}, {32, 5000, true, -12, 0}, {-1, 5000, true, -12, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.band);
        EXPECT_EQ(CTKCore::SetMasterEq(c.band, c.value, c.on), c.result);
        if (c.result != 1) continue;
        EXPECT_FLOAT_EQ((*g_masterEQValues)[c.band], c.gain);
        EXPECT_EQ(CTKCore::g_masterEQSupposedToEnable[c.band], c.on);
        EXPECT_EQ(CTKCore::g_masterEQSupposedToEnableDb[c.band], c.value);
    }
    EXPECT_EQ(countOf(logText(), "\n==========\nSetMasterEq()\n==========\n"), 10);
    for (int b = 0; b < kTKMasterEqBands; ++b) {
        CTKCore::g_masterEQSupposedToEnable[b] = false;
        CTKCore::g_masterEQSupposedToEnableDb[b] = 0;
    }
}

struct Sine {
    double hz = 1000.0;
    double rate = 44100.0;
    double phase = 0.0;  // mixer thread only
    float amplitude = 0.25f;
};

FMOD_RESULT sineRead(FMOD_DSP_STATE* state, float*, float* out, unsigned length, int, int outChannels) {
    void* userData = nullptr;
    state->instance->getUserData(&userData);
    auto* sine = static_cast<Sine*>(userData);
    for (unsigned f = 0; f < length; ++f) {
        const float v = sine->amplitude * static_cast<float>(std::sin(sine->phase));
        sine->phase += 2.0 * M_PI * sine->hz / sine->rate;
        for (int c = 0; c < outChannels; ++c) out[f * outChannels + c] = v;
    }
    return FMOD_OK;
}

// The front left RMS over the newest 20 cycles of a 1 kHz tone at 44100 Hz.
double frontLeftRms(const std::string& device) {
    hooks::clearReceived(device);
    EXPECT_TRUE(hooks::step(device, 3));
    const std::vector<float> got = hooks::received(device);
    const int channels = hooks::receivedChannels(device);
    constexpr size_t kFrames = 882;
    if (channels <= 0 || got.size() < kFrames * channels) {
        ADD_FAILURE() << device << " received too little";
        return 0.0;
    }
    const size_t frames = got.size() / channels;
    double sum = 0.0;
    for (size_t f = frames - kFrames; f < frames; ++f) sum += double(got[f * channels]) * got[f * channels];
    return std::sqrt(sum / kFrames);
}

TEST_F(MasterEq, SwitchedOnBandJoinsTheCardChainAlsoAfterARestart) {
    pw::test::DeviceTableFile table("output name=\"Stereo\" channels=2 sink=memory pacing=stepped\n");
    // The band is left connected at the end of the first run: the second run's new band must not
    // inherit that as "already connected".
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        ASSERT_EQ(t_core.InitPlayer(0, 1, 44100), 1);
        ASSERT_EQ(CTKCore::g_soundcardcount, 1);
        FMODSystem* slot = CTKCore::g_Systems[0];
        Sine sine;
        FMOD_DSP_DESCRIPTION d = describeUnit("Sine", 2, sineRead, &sine);
        FMOD::DSP* source = nullptr;
        FMOD::Channel* channel = nullptr;
        ASSERT_EQ(slot->createDSP(&d, &source), FMOD_OK);
        ASSERT_EQ(slot->playDSP(FMOD_CHANNEL_FREE, source, false, &channel), FMOD_OK);
        const double plain = frontLeftRms("Stereo");
        ASSERT_GT(plain, 0.1);

        // A band as the master bus adds it: bypassed, unconnected, unity gain.
        FMOD::DSP* band = nullptr;
        ASSERT_EQ(slot->createDSPByType(FMOD_DSP_TYPE_PARAMEQ, &band), FMOD_OK);
        ASSERT_EQ(band->setActive(true), FMOD_OK);
        ASSERT_EQ(band->setBypass(true), FMOD_OK);
        ASSERT_EQ(band->setParameter(0, 1000.0f), FMOD_OK);
        ASSERT_EQ(band->setParameter(1, 1.0f), FMOD_OK);
        ASSERT_EQ(band->setParameter(2, 1.0f), FMOD_OK);
        g_masterEQList[0].push_back(band);
        g_masterEQValues->push_back(1.0f);

        CTKCore::g_SystemsUseCount[0] = 1;
        ASSERT_EQ(CTKCore::SetMasterEq(0, 10000, true), 1);
        EXPECT_NEAR(frontLeftRms("Stereo") / plain, 2.0, 0.2) << "the band doubles its centre frequency";
        ASSERT_EQ(CTKCore::SetMasterEq(0, 10000, false), 1);
        EXPECT_NEAR(frontLeftRms("Stereo") / plain, 1.0, 0.05) << "switched off: out of the chain";
        ASSERT_EQ(CTKCore::SetMasterEq(0, 10000, true), 1);
        EXPECT_NEAR(frontLeftRms("Stereo") / plain, 2.0, 0.2) << "and back in";
        // An idle card has its band taken out again.
        CTKCore::g_SystemsUseCount[0] = 0;
        ASSERT_EQ(CTKCore::RefreshMasterEffects(), 1);
        EXPECT_NEAR(frontLeftRms("Stereo") / plain, 1.0, 0.05);
        CTKCore::g_SystemsUseCount[0] = 1;
        ASSERT_EQ(CTKCore::RefreshMasterEffects(), 1);

        channel->stop();
        source->release();
        t_core.CleanUp();
        CTKCore::g_SystemsUseCount[0] = 0;
    }
    CTKCore::g_masterEQSupposedToEnable[0] = false;
    CTKCore::g_masterEQSupposedToEnableDb[0] = 0;
}

}  // namespace
