// The deck object: every default of a new settings block, the outputs it builds, and an unload that
// gives back everything a load took (sounds, channels, units, the slot's use count).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "FMODSystem.h"
#include "Monitor.h"
#include "Player.h"
#include "PlayerList.h"
#include "TKCore.h"
#include "deck_support.h"
#include "fmod_testhooks.hpp"

namespace hooks = pw::testhooks;

namespace {

TEST(DeckDefaults, ANewDeckHoldsEveryDefaultOfItsSettingsBlock) {
    CPlayer deck(7);
    const DeckConfig* c = deck.GetConfig();
    ASSERT_NE(c, nullptr);
    EXPECT_STREQ(c->m_szFileName, "__unnamed__file__");
    struct Field {
        Field(const char* n, double a, double e) : name(n), actual(a), expect(e) {}
        const char* name;
        double actual;
        double expect;
    };
    const Field fields[] = {
        Field("recording", c->m_bRecording, 0),          Field("playing", c->m_bPlaying, 0),
        Field("saved loop start", c->m_uiSavedLoopStart, 0), Field("saved loop end", c->m_uiSavedLoopEnd, 0),
        Field("saved loop on", c->m_bSavedLoopOn, 0),    Field("loop start", c->m_uiLoopStart, 0),
        Field("loop end", c->m_uiLoopEnd, 0),            Field("loop on", c->m_bLoopOn, 0),
        Field("speed", c->m_dSpeed, 1.0),                Field("pitch slider", c->m_dPitchSlider, 5000.0),
        Field("tempo slider", c->m_iTempoSlider, 5000),  Field("pan", c->m_dPan, 0.0),
        Field("pan slider", c->m_iPanSlider, 5000),      Field("volume", c->m_fVolume, 1.0),
        Field("frame-search length", c->m_uiFrameSearchLength, 100),
        Field("frame-search position", c->m_uiFrameSearchPosition, 0),
        Field("frame searching", c->m_bFrameSearching, 0), Field("main slot", c->m_iMainOutput, 0),
        Field("cue slot", c->m_iCueOutput, 0),           Field("recorder", c->m_iRecorder, 0),
        Field("flanger on", c->m_bFlangerOn, 0),         Field("flanger dry", c->m_dFlangerDryMix, 0),
        Field("flanger wet", c->m_dFlangerWetMix, 0),    Field("flanger depth", c->m_dFlangerDepth, 0),
        Field("flanger rate", c->m_dFlangerRate, 0),     Field("low-pass on", c->m_bLowPassOn, 0),
        Field("low-pass resonance", c->m_iLowPassResonance, 0), Field("low-pass cut-off", c->m_iLowPassCutoff, 10000),
        Field("high-pass on", c->m_bHighPassOn, 0),      Field("high-pass resonance", c->m_iHighPassResonance, 0),
        Field("high-pass cut-off", c->m_iHighPassCutoff, 0), Field("normaliser on", c->m_bNormalizerOn, 0),
        Field("normaliser fade", c->m_fNormalizerFadeTime, 10000.0),
        Field("normaliser threshold", c->m_fNormalizerThreshold, 0.01f),
        Field("normaliser max amp", c->m_fNormalizerMaxAmp, 30.0), Field("compressor threshold", c->m_fCompressorThreshold, -12.0),
        Field("compressor attack", c->m_fCompressorAttack, 10.0), Field("compressor release", c->m_fCompressorRelease, 100.0),
        Field("compressor make-up", c->m_fCompressorGainMakeup, 11.0), Field("gain", c->m_fGain, 1.0),
        Field("gain slider", c->m_iGainSlider, 5000),    Field("EQ band width", c->m_fEqBandWidth, 1.0),
        Field("EQ high", c->m_iEqHigh, 5000),            Field("EQ mid", c->m_iEqMid, 5000),
        Field("EQ low", c->m_iEqLow, 5000),              Field("length", c->m_uiLength, 0),
        Field("tempo factor", c->m_fTempoFactor, 1.0),   Field("last position", c->m_iLastPosition, 0),
    };
    for (const Field& f : fields) EXPECT_EQ(f.actual, f.expect) << f.name;
    const void* handles[] = {c->m_pSound, c->m_pCDStream, c->m_pEcho,    c->m_pFlanger, c->m_pLowPass,
                             c->m_pHighPass, c->m_pNormalizer, c->m_pCompressor, c->m_pEqHigh, c->m_pEqMid,
                             c->m_pEqLow};
    for (const void* h : handles) EXPECT_EQ(h, nullptr);

    // Both outputs exist; the cue borrows the main's tap; neither plays anything yet.
    ASSERT_NE(c->m_pMainOutput, nullptr);
    ASSERT_NE(c->m_pCueOutput, nullptr);
    EXPECT_NE(c->m_pMainOutput->getTap(), nullptr);
    EXPECT_EQ(c->m_pCueOutput->getTap(), c->m_pMainOutput->getTap());
    float volume = 0.0f;
    EXPECT_EQ(c->m_pMainOutput->getVolume(&volume), 0);
    EXPECT_EQ(volume, -1.0f);
    EXPECT_EQ(c->m_pMainOutput->GetChannelObject(), nullptr);
    EXPECT_EQ(c->m_pMainOutput->getTimeStretchedChannel(), nullptr);
    EXPECT_EQ(deck.getIndex(), 7);
    EXPECT_FALSE(deck.m_bEnabled);
    EXPECT_EQ(deck.m_fGain, 1.0f);
    EXPECT_EQ(deck.getBeatTracker().minBPM, 80.0f);
}

TEST(DeckDefaults, OutputsWithoutAChannelAnswerTheirNoChannelCodes) {
    CPlayer deck(0);
    CMonitor* main = deck.GetConfig()->m_pMainOutput;
    unsigned int position = 0;
    struct Case {
        const char* name;
        int actual;
        int expect;
    };
    const Case cases[] = {
        {"enableVirtualVinyl", main->enableVirtualVinyl(true), -8},
        {"SetReverse", main->SetReverse(true), -8},
        {"SetTimeStretch", main->SetTimeStretch(1.1f, true), -8},
        {"SetGain", main->SetGain(1.2f), -8},
        {"PlayerMixDown_start", main->PlayerMixDown_start(), -8},
        {"addPlaybackSnippet", main->addPlaybackSnippet(0, 100), -25},
        {"SetScratchIntensity", main->SetScratchIntensity(0.5f), -25},
        {"setPosition", main->setPosition(0, FMOD_TIMEUNIT_MS), 44},
        {"getPosition", main->getPosition(&position, FMOD_TIMEUNIT_MS, true), 44},
        {"setPitch", main->setPitch(1.0f), 44},
        {"getVolume(null)", main->getVolume(nullptr), 44},
        {"Play", main->Play(true), 0},
        {"Unload", deck.Unload(), 1},
    };
    for (const Case& c : cases) EXPECT_EQ(c.actual, c.expect) << c.name;
}

class DeckLifetime : public deck_test::EngineOnTable {
protected:
    std::string table() override {
        return "output name=\"Two\" channels=2 sink=memory pacing=stepped\n"
               "output name=\"Four\" channels=4 caps=4 sink=memory pacing=stepped\n";
    }
};

// What a load takes, by hand (loading itself belongs to the transport side): a stream on the
// silent system, the main slot's use count, both outputs, an effect unit and the tap.
void loadByHand(CPlayer& deck, const std::string& path, int mainSlot, int cueSlot) {
    DeckConfig* c = deck.GetConfig();
    FMOD::Sound* sound = nullptr;
    ASSERT_EQ(CTKCore::g_SilentSystem->createStream(path.c_str(), FMOD_SOFTWARE | FMOD_CREATESTREAM | FMOD_2D, nullptr,
                                                    &sound),
              FMOD_OK);
    c->m_pSound = sound;
    c->m_iMainOutput = mainSlot;
    c->m_iCueOutput = cueSlot;
    ++CTKCore::g_SystemsUseCount[mainSlot];
    ASSERT_EQ(c->m_pMainOutput->Init(mainSlot, 0, sound, true), 1);
    ASSERT_EQ(c->m_pCueOutput->Init(cueSlot, 1, nullptr, false), 1);
    FMOD::DSP* echo = nullptr;
    ASSERT_EQ(CTKCore::g_Systems[mainSlot]->createDSPByType(FMOD_DSP_TYPE_ECHO, &echo), FMOD_OK);
    c->m_pEcho = echo;
    c->m_pMainOutput->addDSP(echo, nullptr);
    ASSERT_EQ(c->m_pMainOutput->ActivateMonitoring(), 1);
}

TEST_F(DeckLifetime, UnloadGivesBackEverythingALoadTook) {
    const std::string path = file("tone.wav");
    ASSERT_TRUE(deck_test::writeWav(path, 44100, 2, 16, 44100, [](long f, int) {
        return static_cast<float>(0.5 * std::sin(2 * M_PI * 440.0 * f / 44100.0));
    }));
    struct Case {
        const char* label;
        const char* mainCard;
        int mainRole;
        const char* cueCard;
        int cueRole;
    };
    const Case cases[] = {
        {"cue on another card", "Four", 1, "Two", 0},
        {"cue on the same card", "Four", 1, "Four", 2},
        {"cue on the main slot", "Two", 0, "Two", 0},
    };
    CPlayer deck(0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const int mainSlot = deck_test::findSlot(c.mainCard, c.mainRole);
        const int cueSlot = deck_test::findSlot(c.cueCard, c.cueRole);
        ASSERT_GE(mainSlot, 0);
        ASSERT_GE(cueSlot, 0);
        const int sounds = hooks::liveCount(hooks::Kind::Sound);
        const int channels = hooks::liveCount(hooks::Kind::Channel);
        const int dsps = hooks::liveCount(hooks::Kind::DSP);
        const int uses = CTKCore::g_SystemsUseCount[mainSlot];
        loadByHand(deck, path, mainSlot, cueSlot);
        EXPECT_GT(hooks::liveCount(hooks::Kind::DSP), dsps);
        EXPECT_EQ(CTKCore::g_SystemsUseCount[mainSlot], uses + 1);
        EXPECT_EQ(deck.Unload(), 1);
        EXPECT_EQ(hooks::liveCount(hooks::Kind::Sound), sounds);
        EXPECT_EQ(hooks::liveCount(hooks::Kind::Channel), channels);
        EXPECT_EQ(hooks::liveCount(hooks::Kind::DSP), dsps);
        EXPECT_EQ(CTKCore::g_SystemsUseCount[mainSlot], uses);
        EXPECT_EQ(deck.GetConfig()->m_pSound, nullptr);
        EXPECT_EQ(deck.GetConfig()->m_pEcho, nullptr);
        EXPECT_EQ(deck.Unload(), 1);  // a second unload finds nothing to give back
        EXPECT_EQ(CTKCore::g_SystemsUseCount[mainSlot], uses);
    }
}

TEST_F(DeckLifetime, DestroyingALoadedDeckUnloadsItFirst) {
    const std::string path = file("tone.wav");
    ASSERT_TRUE(deck_test::writeWav(path, 44100, 1, 16, 22050, [](long, int) { return 0.1f; }));
    const int slot = deck_test::findSlot("Two", 0);
    ASSERT_GE(slot, 0);
    const int sounds = hooks::liveCount(hooks::Kind::Sound);
    const int dsps = hooks::liveCount(hooks::Kind::DSP);
    const int uses = CTKCore::g_SystemsUseCount[slot];
    {
        CPlayer deck(1);
        loadByHand(deck, path, slot, slot);
    }
    EXPECT_EQ(hooks::liveCount(hooks::Kind::Sound), sounds);
    EXPECT_EQ(hooks::liveCount(hooks::Kind::DSP), dsps);
    EXPECT_EQ(CTKCore::g_SystemsUseCount[slot], uses);
}

TEST_F(DeckLifetime, InitBeyondTheSlotCountIsRefusedAndAtTheCountLeavesNoChannel) {
    CPlayer deck(0);
    CMonitor* cue = deck.GetConfig()->m_pCueOutput;
    EXPECT_EQ(cue->Init(CTKCore::g_soundcardcount + 1, 1, nullptr, false), -5);
    EXPECT_EQ(cue->Init(CTKCore::g_soundcardcount, 1, nullptr, false), 1);
    EXPECT_EQ(cue->GetChannelObject(), nullptr);
    EXPECT_EQ(cue->setPosition(0, FMOD_TIMEUNIT_MS), 44);
    EXPECT_EQ(cue->Init(-3, 1, nullptr, false), 1);  // clamped to slot 0, which has a system
    EXPECT_EQ(cue->getSlot(), 0);
    EXPECT_NE(cue->GetChannelObject(), nullptr);
    EXPECT_EQ(deck.Unload(), 1);
}

TEST_F(DeckLifetime, ShutdownUnloadsAndDeletesEveryDeckAndTheRegistry) {
    const std::string path = file("tone.wav");
    ASSERT_TRUE(deck_test::writeWav(path, 44100, 2, 16, 22050, [](long, int) { return 0.1f; }));
    const int slot = deck_test::findSlot("Two", 0);
    ASSERT_GE(slot, 0);
    CPlayerList* registry = CPlayerList::getInstance();
    ASSERT_NE(registry, nullptr);
    CPlayer* decks[4];
    for (int i = 3; i >= 0; --i) decks[i] = registry->getChannelObject(i);
    ASSERT_EQ(registry->count(), 4);
    const int uses = CTKCore::g_SystemsUseCount[slot];
    loadByHand(*decks[1], path, slot, slot);
    loadByHand(*decks[3], path, slot, slot);
    EXPECT_EQ(CTKCore::g_SystemsUseCount[slot], uses + 2);

    t_core.CleanUp();
    EXPECT_EQ(CPlayerList::ref, nullptr);
    EXPECT_FALSE(CPlayerList::initialized.load());
    EXPECT_EQ(CPlayerList::getInstance(), nullptr);
    EXPECT_EQ(CTKCore::g_SystemsUseCount[slot], uses);
    t_core.CleanUp();  // a second shutdown finds nothing to do

    // A new start-up begins with deck 0 alone.
    ASSERT_EQ(t_core.InitPlayer(0, 1, 44100), 1);
    ASSERT_NE(CPlayerList::getInstance(), nullptr);
    EXPECT_EQ(CPlayerList::getInstance()->count(), 1);
}

}  // namespace
