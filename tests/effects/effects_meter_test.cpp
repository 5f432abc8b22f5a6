// The deck's level meter and tone detection on what a loaded deck plays.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "effects_support.h"

namespace {

class EffectsMeter : public effects_test::EffectsDeck {};

std::pair<unsigned, unsigned> levels(CPlayer& deck) {
    unsigned int out[2] = {12345, 12345};
    EXPECT_EQ(deck.GetLevels(out), 1);
    return {out[0], out[1]};
}

// The meter of a sine of peak `amplitude` on one bin centre: the bin reads the amplitude, the
// mean takes it at 1/64, and the meter shows 64^0.45 x mean^0.55 x 10000.
double meterOf(double amplitude) { return 10000.0 * std::pow(64.0, 0.45) * std::pow(amplitude / 64.0, 0.55); }

// A rise shows at once and a fall eases off; a pause zeroes the meter and its hold, so play
// starts again from 0; pan weights the two sides.
TEST_F(EffectsMeter, LevelsHoldFallPauseAndPan) {
    // 5512.5 Hz is a whole number of periods in the meter's 128-frame window: one bin, steady readings.
    CPlayer& deck = loadAndPlay("C44", toneFile(5512.5, 0.4));
    deck.SetGain(10000);
    ASSERT_TRUE(run("C44", 8));
    const auto loud = levels(deck);
    EXPECT_NEAR(loud.first, meterOf(0.8), meterOf(0.8) * 0.01);
    EXPECT_NEAR(loud.second, loud.first, loud.first * 0.01);

    deck.SetGain(2500);  // a quarter of the amplitude
    ASSERT_TRUE(run("C44", 8));
    const auto easing = levels(deck);
    EXPECT_NEAR(easing.first, 0.7 * loud.first + 0.3 * meterOf(0.2), meterOf(0.2) * 0.01);

    EXPECT_EQ(deck.Play(false, false), 1);
    EXPECT_EQ(levels(deck), std::make_pair(0u, 0u));
    EXPECT_EQ(deck.Play(true, false), 1);
    ASSERT_TRUE(run("C44", 8));
    const auto fresh = levels(deck);  // from 0: the quiet level itself, not an easing from loud
    EXPECT_NEAR(fresh.first, meterOf(0.2), meterOf(0.2) * 0.01);
    EXPECT_NEAR(fresh.second, fresh.first, fresh.first * 0.01);

    EXPECT_EQ(deck.SetPan(0), 1);  // full left
    ASSERT_TRUE(run("C44", 4));
    const auto left = levels(deck);
    EXPECT_NEAR(left.first, fresh.first, fresh.first * 0.02);
    EXPECT_EQ(left.second, 0u);
    EXPECT_EQ(deck.SetPan(10000), 1);
    ASSERT_TRUE(run("C44", 4));
    EXPECT_EQ(levels(deck).first, 0u);
}

// The note is named from the real bin width of the card's mix rate: the same tone gives the same
// note at 44.1 and at 48 kHz. Silence names C0.
TEST_F(EffectsMeter, ToneNamesTheNoteAtEveryMixRate) {
    struct Case {
        const char* card;
        double hz;
        const char* note;
    };
    const Case cases[] = {
        {"C44", 440, "A 4"},  {"C48", 440, "A 4"}, {"C44", 261.63, "C 4"},
        {"C48", 1000, "B 5"}, {"C44", 0, "C 0"},   {"C48", 0, "C 0"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.card) + " " + std::to_string(k.hz));
        CPlayer& deck = loadAndPlay(k.card, toneFile(k.hz, 0.5));
        ASSERT_TRUE(run(k.card, 24));  // the spectrum needs 16384 frames of history
        char note[8] = "???????";
        testing::internal::CaptureStdout();
        const int result = deck.GetTone(note);
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(result, 1);
        EXPECT_STREQ(note, k.note);
        EXPECT_EQ(printed.rfind("Detected rate : ", 0), 0u) << printed;
        EXPECT_NE(printed.find("Detected musical note. " + std::string(k.note) + " ("), std::string::npos) << printed;
        EXPECT_EQ(printed.back(), '\r');
    }
}

}  // namespace
