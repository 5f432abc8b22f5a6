// A file on a deck: the nine effect units in order ahead of the cue tap, the stored settings
// applied again by a second load (echo excepted), the slot's use count and the master bus, and
// refused loads that leave the deck empty and the counts as they were.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "Monitor.h"
#include "Player.h"
#include "TKCore.h"
#include "TimestretchedChannel.h"
#include "fmod_testhooks.hpp"
#include "loading_support.h"

namespace {

namespace hooks = pw::testhooks;
using hooks::Kind;
using loading_test::load;

class LoadingChain : public loading_test::LoadingEngine {};

bool bypassed(FMOD::DSP* dsp) {
    bool b = false;
    EXPECT_EQ(dsp->getBypass(&b), FMOD_OK);
    return b;
}

float parameter(FMOD::DSP* dsp, int index) {
    float v = -12345.0f;
    EXPECT_EQ(dsp->getParameter(index, &v, nullptr, 0), FMOD_OK);
    return v;
}

struct Live {
    int sounds, dsps, channels;
    static Live now() { return {hooks::liveCount(Kind::Sound), hooks::liveCount(Kind::DSP), hooks::liveCount(Kind::Channel)}; }
    bool operator==(const Live& o) const { return sounds == o.sounds && dsps == o.dsps && channels == o.channels; }
};

std::ostream& operator<<(std::ostream& out, const Live& l) {
    return out << l.sounds << " sounds, " << l.dsps << " DSPs, " << l.channels << " channels";
}

TEST_F(LoadingChain, NineUnitsInOrderAheadOfTheTapWithTheirDefaults) {
    CPlayer deck(0);
    ASSERT_EQ(load(deck, sineWav("a.wav", 441.0, 3.0), card1_, card2_), 1);
    DeckConfig* c = deck.GetConfig();
    TimeStretchedChannel* tsc = c->m_pMainOutput->getTimeStretchedChannel();
    ASSERT_NE(tsc, nullptr);

    const std::vector<std::string> expected = {"ParamEQ", "ParamEQ",  "ParamEQ",    "Echo",      "Flange",
                                               "Lowpass", "Highpass", "Compressor", "Normalize", "Monitor DSPRecordCallback"};
    const std::vector<std::string> chain = hooks::channelChain(tsc->getFMODChannel());
    ASSERT_GE(chain.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(chain.end() - static_cast<long>(expected.size()), chain.end()), expected);

    // Each stored handle is the unit of its type, active, bypassed as a fresh deck's settings say.
    struct Unit {
        const char* label;
        FMOD::DSP* dsp;
        FMOD_DSP_TYPE type;
        bool bypass;
    };
    const Unit units[] = {
        {"eq high", c->m_pEqHigh, FMOD_DSP_TYPE_PARAMEQ, false},
        {"eq mid", c->m_pEqMid, FMOD_DSP_TYPE_PARAMEQ, false},
        {"eq low", c->m_pEqLow, FMOD_DSP_TYPE_PARAMEQ, false},
        {"echo", c->m_pEcho, FMOD_DSP_TYPE_ECHO, true},
        {"flanger", c->m_pFlanger, FMOD_DSP_TYPE_FLANGE, true},
        {"low-pass", c->m_pLowPass, FMOD_DSP_TYPE_LOWPASS, true},
        {"high-pass", c->m_pHighPass, FMOD_DSP_TYPE_HIGHPASS, true},
        {"compressor", c->m_pCompressor, FMOD_DSP_TYPE_COMPRESSOR, true},
        {"normaliser", c->m_pNormalizer, FMOD_DSP_TYPE_NORMALIZE, true},
    };
    for (const Unit& u : units) {
        SCOPED_TRACE(u.label);
        ASSERT_NE(u.dsp, nullptr);
        FMOD_DSP_TYPE type = FMOD_DSP_TYPE_UNKNOWN;
        EXPECT_EQ(u.dsp->getType(&type), FMOD_OK);
        EXPECT_EQ(type, u.type);
        bool active = false;
        EXPECT_EQ(u.dsp->getActive(&active), FMOD_OK);
        EXPECT_TRUE(active);
        EXPECT_EQ(bypassed(u.dsp), u.bypass);
    }
    // The three bands got their own centres: the setters reached the unit they name.
    EXPECT_FLOAT_EQ(parameter(c->m_pEqHigh, 0), 12000.0f);
    EXPECT_FLOAT_EQ(parameter(c->m_pEqMid, 0), 2000.0f);
    EXPECT_FLOAT_EQ(parameter(c->m_pEqLow, 0), 100.0f);

    EXPECT_EQ(c->m_uiLength, 3000u);
    EXPECT_EQ(c->m_uiLoopStart, 0u);
    EXPECT_EQ(c->m_uiLoopEnd, 3000u);
    EXPECT_FALSE(c->m_bLoopOn);
    EXPECT_FALSE(c->m_bPlaying);
    EXPECT_EQ(c->m_iMainOutput, card1_);
    EXPECT_EQ(c->m_iCueOutput, card2_);
    EXPECT_EQ(c->m_pMainOutput->getSlot(), card1_);
    EXPECT_EQ(c->m_pCueOutput->getSlot(), card2_);
    EXPECT_NE(c->m_pCueOutput->GetChannelObject(), nullptr);  // the cue plays on the other card
    EXPECT_EQ(deck.Unload(), 1);
}

TEST_F(LoadingChain, ASecondLoadReleasesTheFirstAndAppliesTheStoredSettingsButNotTheEcho) {
    CPlayer deck(0);
    DeckConfig* c = deck.GetConfig();
    // Before any load the bands exist only as stored sliders.
    EXPECT_EQ(deck.SetEqLow(0), -5);
    ASSERT_EQ(load(deck, sineWav("first.wav", 441.0, 3.0), card1_, card1_), 1);
    EXPECT_EQ(deck.GetEqLow(), 250u);
    const Live afterFirst = Live::now();

    ASSERT_EQ(deck.SetEqHigh(7500), 1);
    ASSERT_EQ(deck.SetEqMid(7500), 1);
    ASSERT_EQ(deck.SetFlanger(true, 0.4, 0.6, 0.7, 0.2), 1);
    ASSERT_EQ(deck.SetResonance(5000), 1);
    ASSERT_EQ(deck.SetCutOff(3000), 1);
    ASSERT_EQ(deck.EnableLowPass(true), 1);
    ASSERT_EQ(deck.SetHighPassCutOff(1000), 1);
    ASSERT_EQ(deck.EnableHighPass(true), 1);
    ASSERT_EQ(deck.SetNormalizer(5000.0f, 0.1f, 10.0f), 1);
    ASSERT_EQ(deck.SetNormalizerCompressor(50.0f, 500.0f, -20.0f, 6.0f), 1);
    ASSERT_EQ(deck.EnableNormalizer(true), 1);
    ASSERT_EQ(deck.SetEcho(true, 300.0, 0.5, 1.0, 1.0), 1);
    ASSERT_FALSE(bypassed(c->m_pEcho));
    ASSERT_EQ(deck.SetGain(7500), 1);
    ASSERT_EQ(deck.SetPan(2500), 1);
    // Speed and tempo as their setters store them.
    c->m_dPitchSlider = 6000.0;
    c->m_iTempoSlider = 7500;

    ASSERT_EQ(load(deck, sineWav("second.wav", 882.0, 2.0), card1_, card1_), 1);
    // The first source, its channel and its units are gone: the same objects live as after one load.
    EXPECT_EQ(Live::now(), afterFirst);
    EXPECT_EQ(CTKCore::g_SystemsUseCount[card1_], 1);
    EXPECT_EQ(c->m_uiLength, 2000u);
    EXPECT_EQ(c->m_uiLoopEnd, 2000u);

    EXPECT_TRUE(bypassed(c->m_pEcho));  // the echo is never applied again
    struct Param {
        const char* label;
        FMOD::DSP* dsp;
        int index;
        float value;
    };
    const Param params[] = {
        {"eq high gain", c->m_pEqHigh, 2, 1.5f},      {"eq mid width", c->m_pEqMid, 1, 4.0f},
        {"eq mid gain", c->m_pEqMid, 2, 1.5f},        {"eq low gain", c->m_pEqLow, 2, 0.05f},
        {"flanger dry", c->m_pFlanger, 0, 0.4f},      {"flanger wet", c->m_pFlanger, 1, 0.6f},
        {"flanger depth", c->m_pFlanger, 2, 0.7f},    {"flanger rate", c->m_pFlanger, 3, 0.2f},
        {"low-pass cut-off", c->m_pLowPass, 0, 3000 * 2.205f + 63.0f},
        {"low-pass resonance", c->m_pLowPass, 1, 5000 / 1111.11f + 1.0f},
        {"high-pass cut-off", c->m_pHighPass, 0, 1000 * 2.205f},
        {"normaliser fade", c->m_pNormalizer, 0, 5000.0f}, {"normaliser threshold", c->m_pNormalizer, 1, 0.1f},
        {"normaliser amp", c->m_pNormalizer, 2, 10.0f},  {"compressor threshold", c->m_pCompressor, 0, -20.0f},
        {"compressor attack", c->m_pCompressor, 1, 50.0f}, {"compressor release", c->m_pCompressor, 2, 500.0f},
        {"compressor gain", c->m_pCompressor, 3, 6.0f},
    };
    for (const Param& p : params) {
        SCOPED_TRACE(p.label);
        ASSERT_NE(p.dsp, nullptr);
        EXPECT_NEAR(parameter(p.dsp, p.index), p.value, 1e-3 * std::fabs(p.value) + 1e-5);
    }
    for (FMOD::DSP* on : {c->m_pFlanger, c->m_pLowPass, c->m_pHighPass, c->m_pCompressor, c->m_pNormalizer})
        EXPECT_FALSE(bypassed(on));

    TimeStretchedChannel* tsc = c->m_pMainOutput->getTimeStretchedChannel();
    ASSERT_NE(tsc, nullptr);
    EXPECT_FLOAT_EQ(tsc->getGain(), 1.5f);
    EXPECT_FLOAT_EQ(tsc->getPan(), -0.5f);
    EXPECT_FLOAT_EQ(tsc->getTimeStretch(), 2.0f);
    EXPECT_FLOAT_EQ(c->m_fTempoFactor, 2.0f);
    EXPECT_DOUBLE_EQ(c->m_dSpeed, 1.2);
    EXPECT_EQ(deck.Unload(), 1);
    EXPECT_EQ(CTKCore::g_SystemsUseCount[card1_], 0);
}

// Speed and tempo sliders outside their ranges, as Load finds them stored.
TEST_F(LoadingChain, StoredSpeedAndTempoFollowTheSetterRules) {
    struct Case {
        double pitch;
        int tempo;
        double speed, pitchAfter;
        float factor;
        int tempoAfter;
    };
    const Case cases[] = {
        {-5.0, 0, 0.0, 0.0, 0.5f, 0},            {12000.0, 9000, 2.0, 10000.0, 5.0f, 9000},
        {2500.0, 10000, 0.5, 2500.0, 20.0f, 9900}, {5000.0, 9800, 1.0, 5000.0, 20.0f, 9800},
        {5000.0, 10001, 1.0, 5000.0, 1.0f, 10001},  // out of range: the tempo is left alone
    };
    const std::string path = sineWav("t.wav", 441.0, 2.0);
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.pitch) + " / " + std::to_string(k.tempo));
        CPlayer deck(0);
        DeckConfig* c = deck.GetConfig();
        c->m_dPitchSlider = k.pitch;
        c->m_iTempoSlider = k.tempo;
        ASSERT_EQ(load(deck, path, card1_, card1_), 1);
        EXPECT_DOUBLE_EQ(c->m_dSpeed, k.speed);
        EXPECT_DOUBLE_EQ(c->m_dPitchSlider, k.pitchAfter);
        EXPECT_FLOAT_EQ(c->m_fTempoFactor, k.factor);
        EXPECT_EQ(c->m_iTempoSlider, k.tempoAfter);
        EXPECT_FLOAT_EQ(c->m_pMainOutput->getTimeStretchedChannel()->getTimeStretch(), k.factor);
    }
}

// The master bus is observed through the band gains SetMasterEq stores and the cards'
// MasterGain bypass. The tables hold no band units here, so only the stored state changes.
class LoadingMaster : public LoadingChain {
protected:
    void SetUp() override {
        LoadingChain::SetUp();
        std::copy(std::begin(CTKCore::g_masterEQSupposedToEnable), std::end(CTKCore::g_masterEQSupposedToEnable),
                  savedOn_);
        std::copy(std::begin(CTKCore::g_masterEQSupposedToEnableDb), std::end(CTKCore::g_masterEQSupposedToEnableDb),
                  savedDb_);
        ASSERT_NE(g_masterEQValues, nullptr);
        for (int b = 0; b < kTKMasterEqBands; ++b) {
            CTKCore::g_masterEQSupposedToEnableDb[b] = 200 * (b + 1);
            CTKCore::g_masterEQSupposedToEnable[b] = b % 2 == 0;
        }
        resetGains();
    }
    void TearDown() override {
        std::copy(std::begin(savedOn_), std::end(savedOn_), CTKCore::g_masterEQSupposedToEnable);
        std::copy(std::begin(savedDb_), std::end(savedDb_), CTKCore::g_masterEQSupposedToEnableDb);
        LoadingChain::TearDown();
    }
    static void resetGains() { g_masterEQValues->assign(kTKMasterEqBands, 1.0f); }
    static bool reapplied() {
        for (int b = 0; b < 31; ++b)
            if ((*g_masterEQValues)[static_cast<size_t>(b)] != (200.0f * (b + 1)) / 5000.0f) return false;
        return true;
    }
    static bool untouched() {
        for (float g : *g_masterEQValues)
            if (g != 1.0f) return false;
        return true;
    }
    static bool busBypassed(int slot) { return bypassed(g_masterGainList[slot].front()); }

    bool savedOn_[kTKMasterEqBands] = {};
    int savedDb_[kTKMasterEqBands] = {};
};

TEST_F(LoadingMaster, FirstDeckOnASlotReappliesTheBandsASecondOnlyRefreshes) {
    CTKCore::RefreshMasterEffects();
    ASSERT_TRUE(busBypassed(card1_));
    ASSERT_TRUE(busBypassed(card2_));
    const std::string path = sineWav("m.wav", 441.0, 2.0);

    CPlayer a(0), b(1), c(2);
    ASSERT_EQ(load(a, path, card1_, card1_), 1);
    EXPECT_EQ(CTKCore::g_SystemsUseCount[card1_], 1);
    EXPECT_TRUE(reapplied());
    EXPECT_EQ((*g_masterEQValues)[31], 1.0f);  // 31 bands, not 32
    for (int band = 0; band < 31; ++band) EXPECT_EQ(CTKCore::g_masterEQSupposedToEnable[band], band % 2 == 0);
    EXPECT_FALSE(busBypassed(card1_));
    EXPECT_TRUE(busBypassed(card2_));

    resetGains();
    ASSERT_EQ(load(b, path, card1_, card2_), 1);
    EXPECT_EQ(CTKCore::g_SystemsUseCount[card1_], 2);
    EXPECT_TRUE(untouched());
    EXPECT_FALSE(busBypassed(card1_));
    EXPECT_TRUE(busBypassed(card2_));  // a cue alone does not wake a card

    ASSERT_EQ(load(c, path, card2_, card1_), 1);
    EXPECT_EQ(CTKCore::g_SystemsUseCount[card2_], 1);
    EXPECT_TRUE(reapplied());
    EXPECT_FALSE(busBypassed(card2_));

    // Reloading a deck on the same slot keeps the count: the unload gives back what the load takes.
    ASSERT_EQ(load(a, path, card1_, card1_), 1);
    EXPECT_EQ(CTKCore::g_SystemsUseCount[card1_], 2);
    EXPECT_EQ(a.Unload(), 1);
    EXPECT_EQ(b.Unload(), 1);
    EXPECT_EQ(CTKCore::g_SystemsUseCount[card1_], 0);
}

// Refused loads: the code of the check that refused, no sound, no unit, and the use count and
// the master bus as before.
TEST_F(LoadingMaster, RefusedLoadsLeaveTheDeckEmptyAndTheCountAsItWas) {
    const std::string good = sineWav("good.wav", 441.0, 2.0);
    const std::string tiny = file("tiny.wav");
    const std::string garbage = file("garbage.wav");
    {
        std::ofstream(tiny, std::ios::binary) << std::string(100, 'x');
        std::ofstream out(garbage, std::ios::binary);
        for (int i = 0; i < 4000; ++i) out.put(static_cast<char>((i * 7919) & 0xFF));
    }
    struct Case {
        const char* label;
        std::string path;
        int slot;
        int result;
    };
    const Case cases[] = {
        {"missing", file("missing.wav"), card1_, -3},
        {"128 bytes or less", tiny, card1_, -16},
        {"not audio", garbage, card1_, -16},
        {"slot past the cards", good, CTKCore::g_soundcardcount, -5},
        {"negative slot", good, -1, -5},
        {"slot past the tables", good, 70, -5},
    };
    CTKCore::RefreshMasterEffects();
    ASSERT_TRUE(busBypassed(card1_));
    const Live before = Live::now();
    for (const Case& k : cases) {
        SCOPED_TRACE(k.label);
        CPlayer deck(0);
        EXPECT_EQ(load(deck, k.path, k.slot, card1_), k.result);
        DeckConfig* c = deck.GetConfig();
        EXPECT_EQ(c->m_pSound, nullptr);
        EXPECT_EQ(c->m_pCDStream, nullptr);
        EXPECT_EQ(c->m_pEqHigh, nullptr);
        EXPECT_EQ(c->m_pNormalizer, nullptr);
        for (int slot = 0; slot < CTKCore::g_soundcardcount; ++slot) EXPECT_EQ(CTKCore::g_SystemsUseCount[slot], 0);
        EXPECT_TRUE(busBypassed(card1_));
        EXPECT_EQ(Live::now(), before);
    }

    // A deck that held a source: the refused load leaves it empty and takes no count of its own.
    CPlayer deck(0);
    ASSERT_EQ(load(deck, good, card1_, card1_), 1);
    EXPECT_EQ(load(deck, garbage, card1_, card1_), -16);
    EXPECT_EQ(deck.GetConfig()->m_pSound, nullptr);
    EXPECT_EQ(CTKCore::g_SystemsUseCount[card1_], 0);
    EXPECT_TRUE(busBypassed(card1_));
}

}  // namespace
