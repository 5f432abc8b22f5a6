// The master gain stage: MasterGainFactor called directly, then the units that start-up puts on
// a card heard on a stepped memory device, with the master gain changed and the card idle or in
// use.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <string>
#include <vector>

#include "device_table_file.hpp"
#include "startup_test_support.h"

namespace {

using namespace startuptest;

// A no-sound system with one unit whose user data is `userData`; the callback gets a state that
// names the unit.
class GainCallback : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        ASSERT_EQ(FMOD_System_Create(&m_system), FMOD_OK);
        ASSERT_EQ(m_system->setOutput(FMOD_OUTPUTTYPE_NOSOUND_NRT), FMOD_OK);
        ASSERT_EQ(m_system->init(16, FMOD_INIT_NORMAL, nullptr), FMOD_OK);
        FMOD_DSP_DESCRIPTION d = describeUnit("MasterGain", 0, MasterGainFactor, &m_gain);
        ASSERT_EQ(m_system->createDSP(&d, &m_unit), FMOD_OK);
        m_state.instance = m_unit;
        m_state.plugindata = nullptr;
        m_state.speakermask = 0;
    }
    void TearDown() override {
        m_bEnableNormalizer = false;
        m_fNormalizerGain = 1.0f;
        if (m_system) m_system->release();
        EngineTest::TearDown();
    }

    FMOD::System* m_system = nullptr;
    FMOD::DSP* m_unit = nullptr;
    FMOD_DSP_STATE m_state{};
    std::atomic<float> m_gain{1.0f};
};

constexpr float kUntouched = -7.0f;

TEST_F(GainCallback, MissingStateOrEmptyBlockAnswers44AndWritesNothing) {
    std::vector<float> in(8, 0.25f), out(8, kUntouched);
    FMOD_DSP_STATE noUnit{};
    struct Case {
        const char* what;
        FMOD_DSP_STATE* state;
        unsigned length;
        int channels;
    } cases[] = {
        {"null state", nullptr, 4, 2},
        {"state without unit", &noUnit, 4, 2},
        {"zero length", &m_state, 0, 2},
        {"zero channels", &m_state, 4, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MasterGainFactor(c.state, in.data(), out.data(), c.length, c.channels, c.channels), FMOD_ERR_MEMORY)
            << c.what;
        EXPECT_EQ(out, std::vector<float>(8, kUntouched)) << c.what;
    }
}

TEST_F(GainCallback, NoGainOrNoBufferIsLoggedAndLeavesTheOutput) {
    std::vector<float> in(8, 0.25f), out(8, kUntouched);
    ASSERT_EQ(m_unit->setUserData(nullptr), FMOD_OK);
    EXPECT_EQ(MasterGainFactor(&m_state, in.data(), out.data(), 4, 2, 2), FMOD_OK);
    EXPECT_EQ(out, std::vector<float>(8, kUntouched));
    ASSERT_EQ(m_unit->setUserData(&m_gain), FMOD_OK);
    EXPECT_EQ(MasterGainFactor(&m_state, nullptr, out.data(), 4, 2, 2), FMOD_OK);
    EXPECT_EQ(MasterGainFactor(&m_state, in.data(), nullptr, 4, 2, 2), FMOD_OK);
    EXPECT_EQ(out, std::vector<float>(8, kUntouched));
    const std::string log = logText();
    EXPECT_EQ(countOf(log, "NO fGain!\n"), 1);
    EXPECT_EQ(countOf(log, "gain buffer is not valid! Aborting!\n"), 2);
}

TEST_F(GainCallback, ScalesEverySampleByGainTimesNormaliser) {
    struct Case {
        float gain;
        bool normaliser;
        float normaliserGain;
        unsigned frames;
        int channels;
    } cases[] = {
        {1.0f, false, 3.0f, 4, 2},   {0.5f, false, 3.0f, 7, 3},  {2.0f, false, 0.0f, 1, 1},
        {0.5f, true, 3.0f, 5, 2},    {1.0f, true, 0.25f, 13, 6}, {0.0f, true, 2.0f, 3, 8},
        {1.5f, true, -1.0f, 1024, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.gain << " normaliser " << c.normaliser << " " << c.normaliserGain << ", "
                                        << c.frames << "x" << c.channels);
        m_gain = c.gain;
        m_bEnableNormalizer = c.normaliser;
        m_fNormalizerGain = c.normaliserGain;
        const size_t samples = static_cast<size_t>(c.frames) * c.channels;
        std::vector<float> in(samples), out(samples + 3, kUntouched);
        for (size_t k = 0; k < samples; ++k) in[k] = std::sin(0.37f * static_cast<float>(k)) * 0.9f;
        ASSERT_EQ(MasterGainFactor(&m_state, in.data(), out.data(), c.frames, c.channels, c.channels), FMOD_OK);
        const float factor = c.normaliser ? c.gain * c.normaliserGain : c.gain;
        for (size_t k = 0; k < samples; ++k) ASSERT_EQ(out[k], factor * in[k]) << "sample " << k;
        for (size_t k = samples; k < out.size(); ++k) EXPECT_EQ(out[k], kUntouched) << "past the block: " << k;
    }
}

// A stereo card and a quad card (three slots, three units on one master group), both on stepped
// memory devices, each fed a constant 0.5 through a channel of its first slot.
class GainOnCard : public EngineTest {
protected:
    static constexpr float kLevel = 0.5f;

    void SetUp() override {
        EngineTest::SetUp();
        m_table = std::make_unique<pw::test::DeviceTableFile>(
            "output name=\"Stereo\" channels=2 sink=memory pacing=stepped\n"
            "output name=\"Quad\" channels=4 sink=memory pacing=stepped\n");
        ASSERT_EQ(t_core.InitPlayer(0, 1, 44100), 1);
        ASSERT_EQ(CTKCore::g_soundcardcount, 4);
        play(0, &m_stereo);
        play(1, &m_quad);
    }
    void TearDown() override {
        for (FMOD::Channel* channel : m_channels) channel->stop();
        for (FMOD::DSP* unit : m_units) unit->release();
        t_core.CleanUp();
        m_table.reset();
        EngineTest::TearDown();
    }

    void play(int slot, Constant* source) { playConstant(slot, source, m_units, m_channels); }
    static float frontLeft(const std::string& device) { return newestFrontLeft(device); }

    std::unique_ptr<pw::test::DeviceTableFile> m_table;
    Constant m_stereo{kLevel};
    Constant m_quad{kLevel};
    std::vector<FMOD::DSP*> m_units;
    std::vector<FMOD::Channel*> m_channels;
};

TEST_F(GainOnCard, MasterGainScalesEachCardOncePerActiveUnit) {
    const float stereoUnity = frontLeft("Stereo");
    const float quadUnity = frontLeft("Quad");
    ASSERT_GT(stereoUnity, 0.0f);
    ASSERT_GT(quadUnity, 0.0f);

    struct Case {
        float gain;
    } cases[] = {{0.5f}, {2.0f}, {0.0f}, {1.0f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.gain);
        CTKCore::g_fMasterGain = c.gain;
        EXPECT_FLOAT_EQ(frontLeft("Stereo"), stereoUnity * c.gain);
        // The quad card's three slots share its master group: three units, three times the gain.
        EXPECT_FLOAT_EQ(frontLeft("Quad"), quadUnity * c.gain * c.gain * c.gain);
    }
}

TEST_F(GainOnCard, RefreshBypassesTheUnitOfAnIdleRun) {
    const float stereoUnity = frontLeft("Stereo");
    const float quadUnity = frontLeft("Quad");
    CTKCore::g_fMasterGain = 0.5f;

    // Every slot idle: each run's last unit is bypassed, the quad card's other two stay on.
    EXPECT_EQ(CTKCore::RefreshMasterEffects(), 1);
    EXPECT_FLOAT_EQ(frontLeft("Stereo"), stereoUnity);
    EXPECT_FLOAT_EQ(frontLeft("Quad"), quadUnity * 0.25f);
    const std::string log = logText();
    EXPECT_NE(log.find("Is soundcard 0 unused:true\n"), std::string::npos);
    EXPECT_NE(log.find("Is soundcard 3 unused:true\n"), std::string::npos);
    EXPECT_EQ(log.find("Is soundcard 1 unused"), std::string::npos) << "one line per run, by its last slot";

    // A deck on the quad card's rear slot makes that whole run used.
    CTKCore::g_SystemsUseCount[2] = 1;
    EXPECT_EQ(CTKCore::RefreshMasterEffects(), 1);
    EXPECT_FLOAT_EQ(frontLeft("Stereo"), stereoUnity);
    EXPECT_FLOAT_EQ(frontLeft("Quad"), quadUnity * 0.125f);
    EXPECT_NE(logText().find("Is soundcard 3 unused:false\n"), std::string::npos);
    bool bypassed = false;
    ASSERT_EQ(g_masterGainList[0].front()->getBypass(&bypassed), FMOD_OK);
    EXPECT_TRUE(bypassed);
    ASSERT_EQ(g_masterGainList[3].front()->getBypass(&bypassed), FMOD_OK);
    EXPECT_FALSE(bypassed);
}

TEST_F(GainOnCard, NormaliserMultipliesWhileSwitchedOn) {
    const float stereoUnity = frontLeft("Stereo");
    m_fNormalizerGain = 1.5f;
    EXPECT_FLOAT_EQ(frontLeft("Stereo"), stereoUnity) << "switched off: no effect";
    m_bEnableNormalizer = true;
    CTKCore::g_fMasterGain = 0.5f;
    EXPECT_FLOAT_EQ(frontLeft("Stereo"), stereoUnity * 0.75f);
    m_bEnableNormalizer = false;
    m_fNormalizerGain = 1.0f;
}

}  // namespace
