// What the effects and the level controls do to the sound a card receives: tones through a loaded
// deck, measured as RMS of the card's channels.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "effects_support.h"

namespace {

using effects_test::sineRms;
using Setter = std::function<void(CPlayer&)>;

class EffectsSignal : public effects_test::EffectsDeck {};

TEST_F(EffectsSignal, EqLowAtZeroCutsItsCentreByAFactorOfTwenty) {
    CPlayer& deck = loadAndPlay("C44", toneFile(100, 0.25));
    const std::vector<double> dry = measure("C44");
    ASSERT_EQ(dry.size(), 2u);
    EXPECT_NEAR(dry[0], sineRms(0.25), 0.01);
    deck.SetEqLow(0);
    const std::vector<double> cut = measure("C44");
    ASSERT_EQ(cut.size(), 2u);
    EXPECT_NEAR(20 * std::log10(cut[0] / dry[0]), -26.0, 2.0);
    deck.SetEqLow(5000);
    EXPECT_NEAR(measure("C44")[0], dry[0], dry[0] * 0.02);
}

// Each filter against a tone on either side of its cut-off; a switched-off filter leaves the tone.
TEST_F(EffectsSignal, FiltersFollowTheirSliders) {
    struct Case {
        const char* label;
        double hz;
        Setter set;
        double minRatio, maxRatio;  // of the filtered RMS to the dry RMS
    };
    const Case cases[] = {
        {"low-pass open", 5000,
         [](CPlayer& d) {
             d.SetCutOff(10000);
             d.EnableLowPass(true);
         },
         0.95, 1.05},
        {"low-pass 2.3 kHz, tone above", 5000,
         [](CPlayer& d) {
             d.SetCutOff(1000);
             d.EnableLowPass(true);
         },
         0, 0.35},
        {"low-pass 2.3 kHz, tone below", 100,
         [](CPlayer& d) {
             d.SetCutOff(1000);
             d.EnableLowPass(true);
         },
         0.9, 1.1},
        {"low-pass 2.3 kHz, switched off", 5000,
         [](CPlayer& d) {
             d.SetCutOff(1000);
             d.EnableLowPass(false);
         },
         0.98, 1.02},
        {"high-pass 2.2 kHz, tone below", 100,
         [](CPlayer& d) {
             d.SetHighPassCutOff(1000);
             d.EnableHighPass(true);
         },
         0, 0.1},
        {"high-pass 2.2 kHz, tone above", 8000,
         [](CPlayer& d) {
             d.SetHighPassCutOff(1000);
             d.EnableHighPass(true);
         },
         0.9, 1.1},
        {"high-pass at 0", 100,
         [](CPlayer& d) {
             d.SetHighPassCutOff(0);
             d.EnableHighPass(true);
         },
         0.9, 1.1},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.label);
        CPlayer& deck = loadAndPlay("C44", toneFile(k.hz, 0.25));
        const std::vector<double> dry = measure("C44");
        ASSERT_EQ(dry.size(), 2u);
        ASSERT_GT(dry[0], 0.1);
        k.set(deck);
        const std::vector<double> wet = measure("C44");
        ASSERT_EQ(wet.size(), 2u);
        EXPECT_GE(wet[0] / dry[0], k.minRatio);
        EXPECT_LE(wet[0] / dry[0], k.maxRatio);
    }
}

// Echo, flanger and the compressor/normaliser pair change a steady tone while on and leave it
// exactly as dry once switched off again.
TEST_F(EffectsSignal, EffectSwitchesChangeTheSoundOnlyWhileOn) {
    struct Case {
        const char* label;
        double amplitude;
        Setter on, off;
        double minRatio, maxRatio;  // while on
    };
    const Case cases[] = {
        // 100 ms is ten periods of 100 Hz: the repeats add in phase, dry + 0.5 x (1 + 0.5 + ...) = 2x.
        {"echo", 0.2, [](CPlayer& d) { d.SetEcho(true, 100, 0.5, 1.0, 0.5); },
         [](CPlayer& d) { d.SetEcho(false, 100, 0.5, 1.0, 0.5); }, 1.8, 2.2},
        // Held at 5 ms (rate 0), half a period of 100 Hz: the copy cancels the tone.
        {"flanger", 0.25, [](CPlayer& d) { d.SetFlanger(true, 0.5, 0.5, 1.0, 0.0); },
         [](CPlayer& d) { d.SetFlanger(false, 0.5, 0.5, 1.0, 0.0); }, 0.0, 0.1},
        // A quiet tone is lifted by the make-up gain and the normaliser.
        {"compressor and normaliser", 0.05, [](CPlayer& d) { d.EnableNormalizer(true); },
         [](CPlayer& d) { d.EnableNormalizer(false); }, 3.0, 30.0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.label);
        CPlayer& deck = loadAndPlay("C44", toneFile(100, k.amplitude));
        const std::vector<double> dry = measure("C44");
        ASSERT_EQ(dry.size(), 2u);
        EXPECT_NEAR(dry[0], sineRms(k.amplitude), 0.005);
        k.on(deck);
        const std::vector<double> on = measure("C44", 30);
        ASSERT_EQ(on.size(), 2u);
        EXPECT_GE(on[0] / dry[0], k.minRatio);
        EXPECT_LE(on[0] / dry[0], k.maxRatio);
        k.off(deck);
        const std::vector<double> off = measure("C44");
        ASSERT_EQ(off.size(), 2u);
        EXPECT_NEAR(off[0], dry[0], dry[0] * 0.01);
        EXPECT_NEAR(off[1], dry[1], dry[1] * 0.01);
    }
}

// Gain, pan, volume and mute of the main output, and the cue output on the same slot (it plays
// what the tap copied, after the effects but before the main output's volume).
TEST_F(EffectsSignal, LevelControlsActOnTheOutput) {
    CPlayer& deck = loadAndPlay("C44", toneFile(441, 0.25));
    struct Step {
        int gain, volume;
        bool mute;
        int pan, cueVolume;
        bool cueMute;
        double left, right;  // expected level factors of the two card channels
    };
    const Step steps[] = {
        {5000, 10000, false, 5000, 0, false, 1, 1},     {10000, 10000, false, 5000, 0, false, 2, 2},
        {2500, 10000, false, 5000, 0, false, .5, .5},   {5000, 5000, false, 5000, 0, false, .5, .5},
        {5000, 0, false, 5000, 0, false, 0, 0},         {5000, 10000, true, 5000, 0, false, 0, 0},
        {5000, 10000, false, 0, 0, false, 1, 0},        {5000, 10000, false, 10000, 0, false, 0, 1},
        {5000, 10000, true, 5000, 5000, false, .5, .5}, {5000, 10000, true, 5000, 5000, true, 0, 0},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE("gain " + std::to_string(s.gain) + " volume " + std::to_string(s.volume) + " mute " +
                     std::to_string(s.mute) + " pan " + std::to_string(s.pan) + " cue " + std::to_string(s.cueVolume) +
                     (s.cueMute ? " muted" : ""));
        EXPECT_EQ(deck.SetGain(s.gain), 1);
        EXPECT_EQ(deck.SetPan(s.pan), 1);
        EXPECT_EQ(deck.SetVolume(s.volume), 1);
        EXPECT_EQ(deck.SetMute(s.mute), 1);
        EXPECT_EQ(deck.SetVolumeMonitor(s.cueVolume), 1);
        EXPECT_EQ(deck.SetMuteMonitor(s.cueMute), 1);
        EXPECT_EQ(deck.GetVolume(), static_cast<unsigned>(s.volume));
        EXPECT_EQ(deck.GetVolumeMonitor(), static_cast<unsigned>(s.cueVolume));
        const std::vector<double> r = measure("C44");
        ASSERT_EQ(r.size(), 2u);
        EXPECT_NEAR(r[0], sineRms(0.25 * s.left), 0.01);
        EXPECT_NEAR(r[1], sineRms(0.25 * s.right), 0.01);
    }
}

}  // namespace
