// The effect setters' bookkeeping: what they keep before any unit exists (so the next load applies
// it), and the parameters and bypass states they give the units of a loaded deck.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "effects_support.h"

namespace {

using Setter = std::function<int(CPlayer&)>;
using Check = std::function<bool(const DeckConfig&)>;

TEST(EffectsNoUnit, SettersKeepOnlyWhatTheLoadApplies) {
    struct Case {
        const char* label;
        Setter call;
        int result;
        Check kept;
    };
    const Case cases[] = {
        {"eq high", [](CPlayer& d) { return d.SetEqHigh(7000); }, -5, [](auto& c) { return c.m_iEqHigh == 7000; }},
        {"eq mid unclamped", [](CPlayer& d) { return d.SetEqMid(-3); }, -5, [](auto& c) { return c.m_iEqMid == -3; }},
        {"eq low unclamped", [](CPlayer& d) { return d.SetEqLow(12000); }, -5,
         [](auto& c) { return c.m_iEqLow == 12000; }},
        {"flanger", [](CPlayer& d) { return d.SetFlanger(true, .3, .4, .5, .6); }, -5,
         [](auto& c) { return !c.m_bFlangerOn && c.m_dFlangerDryMix == 0.0 && c.m_dFlangerRate == 0.0; }},
        {"low-pass on", [](CPlayer& d) { return d.EnableLowPass(true); }, 1, [](auto& c) { return !c.m_bLowPassOn; }},
        {"resonance", [](CPlayer& d) { return d.SetResonance(3000); }, 1,
         [](auto& c) { return c.m_iLowPassResonance == 0; }},
        {"cut-off", [](CPlayer& d) { return d.SetCutOff(100); }, 1,
         [](auto& c) { return c.m_iLowPassCutoff == 10000; }},
        {"high-pass on", [](CPlayer& d) { return d.EnableHighPass(true); }, 1,
         [](auto& c) { return !c.m_bHighPassOn; }},
        {"high-pass resonance", [](CPlayer& d) { return d.SetHighPassResonance(4000); }, 1,
         [](auto& c) { return c.m_iHighPassResonance == 0; }},
        {"high-pass cut-off", [](CPlayer& d) { return d.SetHighPassCutOff(4000); }, 1,
         [](auto& c) { return c.m_iHighPassCutoff == 0; }},
        {"normaliser", [](CPlayer& d) { return d.SetNormalizer(1, 0.5f, 3); }, 1,
         [](auto& c) { return c.m_fNormalizerFadeTime == 10000.0f && c.m_fNormalizerMaxAmp == 30.0f; }},
        {"compressor", [](CPlayer& d) { return d.SetNormalizerCompressor(20, 200, -20, 5); }, 1,
         [](auto& c) { return c.m_fCompressorAttack == 10.0f && c.m_fCompressorThreshold == -12.0f; }},
        {"normaliser switch", [](CPlayer& d) { return d.EnableNormalizer(true); }, 1,
         [](auto& c) { return c.m_bNormalizerOn; }},
        {"gain above range", [](CPlayer& d) { return d.SetGain(10001); }, -4,
         [](auto& c) { return c.m_iGainSlider == 5000 && c.m_fGain == 1.0f; }},
        {"gain below range", [](CPlayer& d) { return d.SetGain(-1); }, -4,
         [](auto& c) { return c.m_iGainSlider == 5000; }},
        {"pan below range", [](CPlayer& d) { return d.SetPan(-1); }, -4,
         [](auto& c) { return c.m_iPanSlider == 5000 && c.m_dPan == 0.0; }},
        {"pan above range", [](CPlayer& d) { return d.SetPan(10001); }, -4,
         [](auto& c) { return c.m_iPanSlider == 5000; }},
        {"gain kept for the load", [](CPlayer& d) { return d.SetGain(2500); }, 1,
         [](auto& c) { return c.m_iGainSlider == 2500 && c.m_fGain == 0.5f; }},
        {"pan kept for the load", [](CPlayer& d) { return d.SetPan(0); }, 1,
         [](auto& c) { return c.m_iPanSlider == 0 && c.m_dPan == -1.0; }},
        {"volume clamped high", [](CPlayer& d) { return d.SetVolume(12000); }, 1,
         [](auto& c) { return c.m_fVolume == 1.0f; }},
        {"volume clamped low", [](CPlayer& d) { return d.SetVolume(-20); }, 1,
         [](auto& c) { return c.m_fVolume == 0.0f; }},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.label);
        CPlayer deck(0);
        EXPECT_EQ(k.call(deck), k.result);
        EXPECT_TRUE(k.kept(*deck.GetConfig()));
    }

    // Queries of a deck with nothing on it: no band to read, a paused meter, no spectrum.
    CPlayer deck(0);
    EXPECT_EQ(deck.GetEqHigh() + deck.GetEqMid() + deck.GetEqLow(), 0u);
    unsigned int levels[2] = {7, 7};
    EXPECT_EQ(deck.GetLevels(levels), 1);
    EXPECT_EQ(levels[0] + levels[1], 0u);
    char note[4] = "xxx";
    EXPECT_EQ(deck.GetTone(note), 1);
    EXPECT_STREQ(note, "C 0");
    EXPECT_EQ(deck.GetLevels(nullptr), 0);
    EXPECT_EQ(deck.GetTone(nullptr), 0);
}

class EffectsUnits : public effects_test::EffectsDeck {};

float param(FMOD::DSP* unit, int index) {
    float v = -12345.0f;
    EXPECT_EQ(unit->getParameter(index, &v, nullptr, 0), FMOD_OK);
    return v;
}

bool bypassed(FMOD::DSP* unit) {
    bool b = false;
    EXPECT_EQ(unit->getBypass(&b), FMOD_OK);
    return b;
}

TEST_F(EffectsUnits, SettersWriteTheirUnitsParameters) {
    CPlayer& deck = loadAndPlay("C44", toneFile(100, 0.25));
    DeckConfig* c = deck.GetConfig();
    using Unit = FMOD::DSP* DeckConfig::*;
    struct Param {
        Unit unit;
        int index;
        float value;
    };
    struct Case {
        const char* label;
        Setter call;
        std::vector<Param> params;
        Check kept;
    };
    const Unit high = &DeckConfig::m_pEqHigh, mid = &DeckConfig::m_pEqMid, low = &DeckConfig::m_pEqLow;
    const Unit lp = &DeckConfig::m_pLowPass, hp = &DeckConfig::m_pHighPass, comp = &DeckConfig::m_pCompressor;
    const Unit norm = &DeckConfig::m_pNormalizer, echo = &DeckConfig::m_pEcho, flange = &DeckConfig::m_pFlanger;
    const Case cases[] = {
        {"eq high neutral",
         [](CPlayer& d) { return d.SetEqHigh(5000); },
         {{high, 1, 3.0f}, {high, 0, 12000}, {high, 2, 1}},
         nullptr},
        {"eq mid neutral is narrow",
         [](CPlayer& d) { return d.SetEqMid(5000); },
         {{mid, 1, 0.25f}, {mid, 0, 2000}, {mid, 2, 1.0f}},
         nullptr},
        {"eq mid boost is wide",
         [](CPlayer& d) { return d.SetEqMid(7500); },
         {{mid, 1, 4.0f}, {mid, 2, 1.5f}},
         nullptr},
        {"eq mid cut", [](CPlayer& d) { return d.SetEqMid(0); }, {{mid, 1, 0.25f}, {mid, 2, 0.05f}}, nullptr},
        {"eq low cut",
         [](CPlayer& d) { return d.SetEqLow(0); },
         {{low, 1, 1.0f}, {low, 0, 100}, {low, 2, 0.05f}},
         nullptr},
        // Kept unclamped; the unit limits its gain to its own range.
        {"eq low beyond range",
         [](CPlayer& d) { return d.SetEqLow(20000); },
         {{low, 2, 3.0f}},
         [](auto& k) { return k.m_iEqLow == 20000; }},
        {"resonance", [](CPlayer& d) { return d.SetResonance(5000); }, {{lp, 1, 5.5f}}, nullptr},
        {"resonance clamped",
         [](CPlayer& d) { return d.SetResonance(-7); },
         {{lp, 1, 1.0f}},
         [](auto& k) { return k.m_iLowPassResonance == 0; }},
        {"cut-off", [](CPlayer& d) { return d.SetCutOff(5000); }, {{lp, 0, 11088}}, nullptr},
        {"cut-off bottom", [](CPlayer& d) { return d.SetCutOff(0); }, {{lp, 0, 63}}, nullptr},
        {"cut-off clamped",
         [](CPlayer& d) { return d.SetCutOff(99999); },
         {{lp, 0, 22000}},
         [](auto& k) { return k.m_iLowPassCutoff == 10000; }},
        {"high-pass resonance", [](CPlayer& d) { return d.SetHighPassResonance(5000); }, {{hp, 1, 4.5f}}, nullptr},
        {"high-pass cut-off",
         [](CPlayer& d) { return d.SetHighPassCutOff(5000); },
         {{hp, 0, 11025}},
         [](auto& k) { return k.m_iHighPassCutoff == 5000; }},
        {"compressor clamped",
         [](CPlayer& d) { return d.SetNormalizerCompressor(5, 2000, -80, 40); },
         {{comp, 1, 10}, {comp, 2, 1000}, {comp, 0, -60}, {comp, 3, 30}},
         [](auto& k) {
             return k.m_fCompressorAttack == 5 && k.m_fCompressorRelease == 2000 && k.m_fCompressorThreshold == -80 &&
                    k.m_fCompressorGainMakeup == 40;
         }},
        {"normaliser",
         [](CPlayer& d) { return d.SetNormalizer(500, 0.2f, 8); },
         {{norm, 0, 500}, {norm, 1, 0.2f}, {norm, 2, 8}},
         [](auto& k) { return k.m_fNormalizerFadeTime == 500 && k.m_fNormalizerMaxAmp == 8; }},
        {"echo",
         [](CPlayer& d) { return d.SetEcho(true, 250, 0.3, 0.8, 0.6); },
         {{echo, 0, 250}, {echo, 1, 0.3f}, {echo, 2, 0}, {echo, 3, 0.8f}, {echo, 4, 0.6f}},
         nullptr},
        {"flanger",
         [](CPlayer& d) { return d.SetFlanger(true, .2, .7, .5, 2); },
         {{flange, 0, 0.2f}, {flange, 1, 0.7f}, {flange, 2, 0.5f}, {flange, 3, 2}},
         [](auto& k) { return k.m_bFlangerOn && k.m_dFlangerWetMix == .7 && k.m_dFlangerRate == 2; }},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.label);
        EXPECT_EQ(k.call(deck), 1);
        for (const Param& p : k.params) {
            ASSERT_NE(c->*p.unit, nullptr);
            EXPECT_NEAR(param(c->*p.unit, p.index), p.value, 1e-3 * (1 + std::fabs(p.value))) << "index " << p.index;
        }
        if (k.kept) {
            EXPECT_TRUE(k.kept(*c));
        }
    }

    // The band gains read back x 5000.
    deck.SetEqLow(0);
    deck.SetEqMid(7500);
    deck.SetEqHigh(10000);
    EXPECT_EQ(deck.GetEqLow(), 250u);
    EXPECT_EQ(deck.GetEqMid(), 7500u);
    EXPECT_EQ(deck.GetEqHigh(), 10000u);

    // Switches: each clears or sets the bypass of its unit(s) and is kept.
    struct Switch {
        const char* label;
        Setter call;
        std::vector<Unit> units;
        bool bypass;
    };
    const Switch switches[] = {
        {"low-pass on", [](CPlayer& d) { return d.EnableLowPass(true); }, {lp}, false},
        {"low-pass off", [](CPlayer& d) { return d.EnableLowPass(false); }, {lp}, true},
        {"high-pass on", [](CPlayer& d) { return d.EnableHighPass(true); }, {hp}, false},
        {"normaliser on", [](CPlayer& d) { return d.EnableNormalizer(true); }, {comp, norm}, false},
        {"normaliser off", [](CPlayer& d) { return d.EnableNormalizer(false); }, {comp, norm}, true},
        {"echo off", [](CPlayer& d) { return d.SetEcho(false, 100, .5, 1, 1); }, {echo}, true},
        {"flanger off", [](CPlayer& d) { return d.SetFlanger(false, .5, .5, 1, 0); }, {flange}, true},
    };
    for (const Switch& s : switches) {
        SCOPED_TRACE(s.label);
        EXPECT_EQ(s.call(deck), 1);
        for (Unit u : s.units) EXPECT_EQ(bypassed(c->*u), s.bypass);
    }
    EXPECT_TRUE(c->m_bHighPassOn);
    EXPECT_FALSE(c->m_bLowPassOn);
    EXPECT_FALSE(c->m_bNormalizerOn);
}

}  // namespace
