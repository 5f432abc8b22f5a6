// The engine object's global state: defaults, buffer setters, beat options, scratch quality.
#include <array>
#include <limits>

#include "PlayerList.h"
#include "StatusCodes.h"
#include "test_support.h"

namespace {

// Saves and restores every setting these tests change, so the order of tests does not matter.
class CoreStateTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_saved = {CTKCore::g_usebuffersizesMS, CTKCore::g_dsp_buffer_size,
                   CTKCore::g_dsp_buffer_count, CTKCore::g_dsp_buffer_sizeMS,
                   CTKCore::g_uiScratchQuality};
        m_beat = {CTKCore::m_fBPMCalcMininmalBPM, CTKCore::m_fBPMCalcMaximalBPM};
        m_precision = CTKCore::m_iBPMCalcPrecision;
    }
    void TearDown() override {
        CTKCore::g_usebuffersizesMS = m_saved[0];
        CTKCore::g_dsp_buffer_size = m_saved[1];
        CTKCore::g_dsp_buffer_count = m_saved[2];
        CTKCore::g_dsp_buffer_sizeMS = m_saved[3];
        CTKCore::g_uiScratchQuality = m_saved[4];
        CTKCore::m_fBPMCalcMininmalBPM = m_beat[0];
        CTKCore::m_fBPMCalcMaximalBPM = m_beat[1];
        CTKCore::m_iBPMCalcPrecision = m_precision;
        CPlayerList::setInitialized(false);
    }

private:
    std::array<unsigned int, 5> m_saved{};
    std::array<float, 2> m_beat{};
    int m_precision = 0;
};

// Runs first in this binary, before any test changes a setting.
TEST(CoreDefaults, SettingsAndLocksHoldTheirLoadTimeValues) {
    const unsigned int settings[] = {CTKCore::g_uiTimeStretcherQuality, CTKCore::g_uiScratchQuality,
                                     CTKCore::g_stream_buffer_size,     CTKCore::g_usebuffersizesMS,
                                     CTKCore::g_dsp_buffer_size,        CTKCore::g_dsp_buffer_count,
                                     CTKCore::g_dsp_buffer_sizeMS};
    const unsigned int expected[] = {1, 1, 8192, 1, 1024, 4, 20};
    for (size_t i = 0; i < sizeof settings / sizeof settings[0]; ++i) {
        EXPECT_EQ(settings[i], expected[i]) << "setting " << i;
    }
    EXPECT_EQ(CTKCore::m_iBPMCalcPrecision, 2);
    EXPECT_EQ(CTKCore::m_fBPMCalcMininmalBPM, 80.0f);
    EXPECT_EQ(CTKCore::m_fBPMCalcMaximalBPM, 160.0f);
    EXPECT_EQ(CTKCore::g_fMasterGain.load(), 1.0f);
    EXPECT_EQ(CTKCore::g_asioSoundcardIndex, -1);
    EXPECT_FALSE(CPlayerList::initialized);
    EXPECT_STREQ(t_core.m_csCoreGlobal.getName(), "Coreglobal");
    EXPECT_STREQ(t_core.m_csLoad.getName(), "");
    EXPECT_STREQ(t_core.m_csLoop.getName(), "LoopLock");
    EXPECT_STREQ(CTKCore::g_cDebugLock.getName(), "");
}

TEST_F(CoreStateTest, ConstructorClearsTheSlotAndSamplerTables) {
    int planted = 0;
    CTKCore::g_SystemsUseCount[7] = 3;
    CTKCore::g_Systems[64] = reinterpret_cast<FMODSystem*>(&planted);
    g_masterEQAddedDSP[12][31] = true;
    g_samplerSounds[0] = reinterpret_cast<FMOD::Sound*>(&planted);
    g_samplerChannels[64] = reinterpret_cast<FMOD::Channel*>(&planted);
    CTKCore second;
    EXPECT_EQ(CTKCore::g_SystemsUseCount[7], 0);
    EXPECT_EQ(CTKCore::g_Systems[64], nullptr);
    EXPECT_FALSE(g_masterEQAddedDSP[12][31]);
    EXPECT_EQ(g_samplerSounds[0], nullptr);
    EXPECT_EQ(g_samplerChannels[64], nullptr);
    EXPECT_EQ(second.m_pMixDown, nullptr);
}

struct BufferSizesCase {
    unsigned int stream, dsp, count;
    int result;
    unsigned int storedDsp, storedCount;
};

class SetBufferSizesTest : public CoreStateTest,
                           public ::testing::WithParamInterface<BufferSizesCase> {};

TEST_P(SetBufferSizesTest, StoresCorrectedValuesAndLeavesMillisecondMode) {
    const BufferSizesCase& c = GetParam();
    CTKCore::g_usebuffersizesMS = 1;
    EXPECT_EQ(t_core.SetBufferSizes(c.stream, c.dsp, c.count), c.result);
    EXPECT_EQ(CTKCore::g_usebuffersizesMS, 0u);
    EXPECT_EQ(CTKCore::g_dsp_buffer_size, c.storedDsp);
    EXPECT_EQ(CTKCore::g_dsp_buffer_count, c.storedCount);
    EXPECT_EQ(CTKCore::g_stream_buffer_size, 8192u);  // the stream size only decides the result
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SetBufferSizesTest,
    ::testing::Values(BufferSizesCase{512, 100, 1, TK_ERR_BUFFER_SIZE, 512, 2},
                      BufferSizesCase{4096, 1024, 4, TK_OK, 1024, 4},
                      BufferSizesCase{512, 1024, 4, TK_ERR_BUFFER_SIZE, 1024, 4},
                      BufferSizesCase{1024, 512, 2, TK_OK, 512, 2},  // every lower bound exact
                      BufferSizesCase{1023, 512, 2, TK_ERR_BUFFER_SIZE, 512, 2},
                      BufferSizesCase{4096, 511, 8, TK_ERR_BUFFER_SIZE, 512, 8},
                      BufferSizesCase{4096, 2048, 0, TK_ERR_BUFFER_SIZE, 2048, 2}));

struct BufferSizesMsCase {
    unsigned int stream, ms;
    int result;
    unsigned int storedMs;
};

class SetBufferSizesMsTest : public CoreStateTest,
                             public ::testing::WithParamInterface<BufferSizesMsCase> {};

TEST_P(SetBufferSizesMsTest, StoresMillisecondsAndEntersMillisecondMode) {
    const BufferSizesMsCase& c = GetParam();
    CTKCore::g_usebuffersizesMS = 0;
    CTKCore::g_dsp_buffer_size = 777;
    EXPECT_EQ(t_core.SetBufferSizesMS(c.stream, c.ms), c.result);
    EXPECT_EQ(CTKCore::g_usebuffersizesMS, 1u);
    EXPECT_EQ(CTKCore::g_dsp_buffer_sizeMS, c.storedMs);
    EXPECT_EQ(CTKCore::g_dsp_buffer_size, 777u);
}

INSTANTIATE_TEST_SUITE_P(Cases, SetBufferSizesMsTest,
                         ::testing::Values(BufferSizesMsCase{8192, 0, TK_ERR_BUFFER_SIZE, 1},
                                           BufferSizesMsCase{0, 10, TK_ERR_BUFFER_SIZE, 10},
                                           BufferSizesMsCase{1, 1, TK_OK, 1},
                                           BufferSizesMsCase{8192, 40, TK_OK, 40}));

struct BeatOptionsCase {
    int precision;
    float minIn, maxIn, minStored, maxStored;
};

class BeatOptionsTest : public CoreStateTest,
                        public ::testing::WithParamInterface<BeatOptionsCase> {};

TEST_P(BeatOptionsTest, ClampsEachBoundTo20Through250) {
    const BeatOptionsCase& c = GetParam();
    EXPECT_EQ(t_core.setupBeatOptions(c.precision, c.minIn, c.maxIn), TK_OK);
    EXPECT_EQ(CTKCore::m_iBPMCalcPrecision, c.precision);
    EXPECT_EQ(CTKCore::m_fBPMCalcMininmalBPM, c.minStored);
    EXPECT_EQ(CTKCore::m_fBPMCalcMaximalBPM, c.maxStored);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BeatOptionsTest,
    ::testing::Values(BeatOptionsCase{3, 10.0f, 300.0f, 20.0f, 250.0f},
                      BeatOptionsCase{2, 200.0f, 100.0f, 200.0f, 100.0f},  // min above max kept
                      BeatOptionsCase{-4, 20.0f, 250.0f, 20.0f, 250.0f},
                      BeatOptionsCase{7, 300.0f, 5.0f, 250.0f, 20.0f},
                      BeatOptionsCase{2, std::numeric_limits<float>::quiet_NaN(),
                                      std::numeric_limits<float>::infinity(), 20.0f, 250.0f}));

TEST_F(CoreStateTest, ScratchQualityIsStoredOnlyOnceStarted) {
    EXPECT_EQ(t_core.setScratchQuality(3), TK_ERR_NOT_STARTED);
    EXPECT_EQ(CTKCore::g_uiScratchQuality, 1u);
    CPlayerList::setInitialized(true);
    EXPECT_EQ(t_core.setScratchQuality(3), TK_OK);
    EXPECT_EQ(CTKCore::g_uiScratchQuality, 3u);
}

}  // namespace
