// The master bus's rules on stepped virtual cards: what each operation answers before and after
// start-up, band bounds and the 32-band limit, the gain, normaliser and volume heard on a stereo
// card and a quad card (three slots on one system), and the level meter's scale.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "MixDown.h"
#include "PlayerList.h"
#include "device_table_file.hpp"
#include "startup_test_support.h"

namespace {

using namespace startuptest;

TEST(MasterLevels, SpectrumSumsGiveTheMetersScale) {
    struct Case {
        float sum;
        float factor;
        unsigned int level;
    } cases[] = {
        {0.0f, 1.0f, 0},                // silence
        {1.0f / 64.0f, 1.0f, 6597},     // one bin at full scale
        {0.5f, 1.0f, 44382},
        {1.0f / 64.0f, 2.0f, 13195},    // the recorder's gain doubles the reading
        {0.5f, 0.0f, 0},
        {-1.0f, 1.0f, 0},               // no negative sums from |bin|, but never a NaN root
    };
    for (const Case& c : cases)
        EXPECT_EQ(CTKCore::MasterLevelOfSum(c.sum, c.factor), c.level) << c.sum << " x " << c.factor;
}

class MasterBeforeStart : public EngineTest {};

TEST_F(MasterBeforeStart, EveryOperationAnswersNotStarted) {
    struct Case {
        const char* what;
        std::function<int()> call;
        int result;
    } cases[] = {
        {"AddMasterEq", [] { return t_core.AddMasterEq(1000.0f, 1.0f); }, -1},
        {"SetMasterEq", [] { return CTKCore::SetMasterEq(0, 5000, true); }, -12},
        {"SetMasterGain", [] { return t_core.SetMasterGain(7500); }, -1},
        {"SetNormalizerGain", [] { return t_core.SetNormalizerGain(0.5f); }, -1},
        {"SetMasterVolume", [] { return t_core.SetMasterVolume(5000); }, -1},
        {"MixDown_getLevels", [] { unsigned int l[2]; return t_core.MixDown_getLevels(l); }, -1},
        {"RefreshMasterEffects", [] { return CTKCore::RefreshMasterEffects(); }, 1},
    };
    for (const Case& c : cases) EXPECT_EQ(c.call(), c.result) << c.what;
    EXPECT_EQ(CTKCore::g_fMasterGain.load(), 1.0f);
    EXPECT_EQ(m_fNormalizerGain.load(), 1.0f);
}

TEST_F(MasterBeforeStart, LevelsAreLeftAloneWithThreeComplaints) {
    unsigned int levels[2] = {123, 456};
    EXPECT_EQ(t_core.GetMasterLevels(levels, 1.0f), 1);
    EXPECT_EQ(levels[0], 123u);
    EXPECT_EQ(levels[1], 456u);
    EXPECT_EQ(countOf(logText(), "Init the library first! \n"), 3);
}

// A stereo card (slot 0) and a quad card (slots 1 to 3 on one system), stepped memory devices,
// each fed a constant 0.5 through a channel of its first slot.
class MasterOnCards : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        m_table = std::make_unique<pw::test::DeviceTableFile>(
            "output name=\"Stereo\" channels=2 sink=memory pacing=stepped\n"
            "output name=\"Quad\" channels=4 sink=memory pacing=stepped\n");
        ASSERT_EQ(t_core.InitPlayer(0, 1, 44100), 1);
        ASSERT_EQ(CTKCore::g_soundcardcount, 4);
        play(0, &m_stereo);
        play(1, &m_quad);
        m_stereoUnity = frontLeft("Stereo");
        m_quadUnity = frontLeft("Quad");
        ASSERT_GT(m_stereoUnity, 0.0f);
        ASSERT_GT(m_quadUnity, 0.0f);
    }
    void TearDown() override {
        for (FMOD::Channel* channel : m_channels) channel->stop();
        for (FMOD::DSP* unit : m_units) unit->release();
        t_core.CleanUp();
        m_table.reset();
        m_bEnableNormalizer = false;
        m_fNormalizerGain = 1.0f;
        EngineTest::TearDown();
    }

    void play(int slot, Constant* source) { playConstant(slot, source, m_units, m_channels); }
    static float frontLeft(const std::string& device) { return newestFrontLeft(device); }

    // Both cards against their levels at unity, as factors.
    void expectFactors(float stereo, float quad, const char* what) {
        EXPECT_NEAR(frontLeft("Stereo"), m_stereoUnity * stereo, 1e-6f) << what << ": stereo card";
        EXPECT_NEAR(frontLeft("Quad"), m_quadUnity * quad, 1e-6f) << what << ": quad card";
    }

    static bool bypassed(FMOD::DSP* unit) {
        bool b = false;
        EXPECT_EQ(unit->getBypass(&b), FMOD_OK);
        return b;
    }

    std::unique_ptr<pw::test::DeviceTableFile> m_table;
    Constant m_stereo{0.5f};
    Constant m_quad{0.5f};
    std::vector<FMOD::DSP*> m_units;
    std::vector<FMOD::Channel*> m_channels;
    float m_stereoUnity = 0.0f;
    float m_quadUnity = 0.0f;
};

TEST_F(MasterOnCards, BandsExistOncePerCardAndStopAt32) {
    const int unitsBefore = live(hooks::Kind::DSP);
    for (int b = 0; b < kTKMasterEqBands; ++b) ASSERT_EQ(t_core.AddMasterEq(100.0f * (b + 1), 1.0f), 1) << b;
    EXPECT_EQ(t_core.AddMasterEq(5000.0f, 1.0f), -13) << "a 33rd band";
    EXPECT_EQ(live(hooks::Kind::DSP), unitsBefore + 2 * kTKMasterEqBands) << "the refused band left no unit";
    EXPECT_EQ(g_masterEQValues->size(), static_cast<size_t>(kTKMasterEqBands));
    const size_t perSlot[] = {32, 0, 0, 32};  // on each card run's last slot
    for (int slot = 0; slot < 4; ++slot) EXPECT_EQ(g_masterEQList[slot].size(), perSlot[slot]) << slot;
    expectFactors(1.0f, 1.0f, "added bands change nothing audible");

    struct Case {
        int band;
        int result;
    } cases[] = {{-1, -12}, {0, 1}, {31, 1}, {32, -12}, {33, -12}, {-100000, -12}};
    for (const Case& c : cases) EXPECT_EQ(CTKCore::SetMasterEq(c.band, 5000, true), c.result) << c.band;
    EXPECT_EQ(countOf(logText(), "\n==========\nAddMasterEq()\n==========\n"), 33);
}

TEST_F(MasterOnCards, ABandSwitchesWithItsGainItsFlagAndTheCardsUse) {
    ASSERT_EQ(t_core.AddMasterEq(1000.0f, 1.0f), 1);
    FMOD::DSP* stereoBand = g_masterEQList[0].front();
    FMOD::DSP* quadBand = g_masterEQList[3].front();
    CTKCore::g_SystemsUseCount[0] = 1;  // a deck on the stereo card; the quad card idle

    struct Case {
        int value;
        bool on;
        float gain;
        bool stereoBypassed;
    } cases[] = {
        {5000, true, 1.0f, true},     // unity: bypassed, not connected
        {10000, true, 2.0f, false},   // connected on the used card only
        {10000, false, 2.0f, true},   // switched off: disconnected, value kept
        {0, true, 0.05f, false},
        {-5000, true, -1.0f, false},  // no clamp
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        ASSERT_EQ(CTKCore::SetMasterEq(0, c.value, c.on), 1);
        EXPECT_FLOAT_EQ((*g_masterEQValues)[0], c.gain);
        EXPECT_EQ(bypassed(stereoBand), c.stereoBypassed);
        EXPECT_EQ(g_masterEQAddedDSP[0][0], !c.stereoBypassed);
        EXPECT_TRUE(bypassed(quadBand)) << "an idle card keeps its bands off";
        EXPECT_FALSE(g_masterEQAddedDSP[3][0]);
    }
    CTKCore::g_masterEQSupposedToEnable[0] = false;
    CTKCore::g_masterEQSupposedToEnableDb[0] = 0;
}

TEST_F(MasterOnCards, GainAppliesOnUsedSlotsOnlyAndClamps) {
    CTKCore::g_SystemsUseCount[0] = 1;
    struct Case {
        int value;
        float gain;
        float stereo;
    } cases[] = {{7500, 1.5f, 1.5f}, {5000, 1.0f, 1.0f}, {-1, 0.0f, 0.0f}, {20000, 2.0f, 2.0f}, {2500, 0.5f, 0.5f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        ASSERT_EQ(t_core.SetMasterGain(c.value), 1);
        EXPECT_EQ(CTKCore::g_fMasterGain.load(), c.gain);
        // The quad card is unused: its three units stay bypassed.
        expectFactors(c.stereo, 1.0f, "master gain");
        for (int slot = 1; slot < 4; ++slot) EXPECT_TRUE(bypassed(g_masterGainList[slot].front())) << slot;
    }
    const std::string log = logText();
    EXPECT_EQ(countOf(log, "SetMasterGain: 10000.000000\n"), 1) << "the clamped value is logged";
    EXPECT_EQ(countOf(log, "SetMasterGain: 0.000000\n"), 1);
    EXPECT_EQ(log.find("SetMasterGain: 20000"), std::string::npos);
}

// The normaliser sequence: every active unit halves its card's signal, SetMasterGain(5000) stops
// it everywhere, and the next refresh brings it back on each used card's last slot only.
TEST_F(MasterOnCards, NormaliserFactorFollowsTheActiveUnits) {
    ASSERT_EQ(t_core.EnableNormalizer(true), 1);
    ASSERT_EQ(t_core.SetNormalizerGain(0.5f), 1);
    EXPECT_NE(logText().find("\n==========\nSetNormalizerGain(0.500000)\n==========\n"), std::string::npos);
    expectFactors(0.5f, 0.125f, "right after start-up every unit is active");
    ASSERT_EQ(t_core.SetMasterGain(5000), 1);
    expectFactors(1.0f, 1.0f, "unity master gain bypasses every unit");
    CTKCore::g_SystemsUseCount[0] = 1;
    CTKCore::g_SystemsUseCount[1] = 1;
    ASSERT_EQ(CTKCore::RefreshMasterEffects(), 1);
    expectFactors(0.5f, 0.5f, "the refresh activates the last unit of each used card");
    ASSERT_EQ(t_core.EnableNormalizer(false), 1);
    expectFactors(1.0f, 1.0f, "normaliser off");
}

TEST_F(MasterOnCards, VolumeScalesEveryCardAndClamps) {
    struct Case {
        int value;
        float factor;
    } cases[] = {{5000, 0.5f}, {0, 0.0f}, {-7, 0.0f}, {10000, 1.0f}, {25000, 1.0f}, {2500, 0.25f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        ASSERT_EQ(t_core.SetMasterVolume(c.value), 1);
        expectFactors(c.factor, c.factor, "master volume");
    }
    EXPECT_NE(logText().find("cur Vol: 0.500000 setVol:0.000000\n"), std::string::npos);
}

TEST_F(MasterOnCards, LevelsMeasureEachDecksSlotOnceAndFollowTheRecorderGain) {
    const int decksBefore = CPlayerList::getInstance() ? CPlayerList::getInstance()->count() : 0;
    unsigned int levels[2] = {0, 0};
    ASSERT_EQ(t_core.GetMasterLevels(levels, 1.0f), 1);
    EXPECT_GE(CPlayerList::getInstance()->count(), 4) << "decks 1 to 3 were created (had " << decksBefore << ")";
    // Decks 1 to 3 never loaded: all on slot 0, the stereo card's constant, measured once.
    EXPECT_GT(levels[0], 0u);
    EXPECT_GT(levels[1], 0u);

    // The constant does not move: a second reading with twice the factor is twice the first.
    unsigned int doubled[2] = {0, 0};
    ASSERT_EQ(t_core.GetMasterLevels(doubled, 2.0f), 1);
    EXPECT_NEAR(doubled[0], 2.0 * levels[0], 2.0);
    ASSERT_EQ(t_core.m_pMixDown->setGain(2.0f, 1.0f), 1);
    unsigned int recorder[2] = {0, 0};
    ASSERT_EQ(t_core.MixDown_getLevels(recorder), 1);
    EXPECT_NEAR(recorder[0], 2.0 * levels[0], 2.0);
    EXPECT_NEAR(recorder[1], 2.0 * levels[1], 2.0);

    // Silence on the measured slot reads 0.
    m_stereo.value = 0.0f;
    ASSERT_TRUE(hooks::step("Stereo", 8));
    ASSERT_EQ(t_core.GetMasterLevels(levels, 1.0f), 1);
    EXPECT_EQ(levels[0], 0u);
    EXPECT_EQ(levels[1], 0u);
}

}  // namespace
