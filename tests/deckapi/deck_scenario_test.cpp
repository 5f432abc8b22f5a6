// One deck driven only through the engine's entry points, on a stepped virtual card: loading,
// transport, tempo, reverse, loops and frame search, the outputs and effects as heard on the card,
// the meter and tone finder, the settings carried to the next load, and CD and line-in sources.
// Each step checks the status code the entry point hands back.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "Monitor.h"
#include "Player.h"
#include "TKCore.h"
#include "TimestretchedChannel.h"
#include "deck_support.h"
#include "deckapi_support.h"
#include "fmod_testhooks.hpp"

namespace {

namespace hooks = pw::testhooks;
using deckapi_test::channelOf;
using deckapi_test::rms;
using deckapi_test::toneHz;

constexpr double kLeftHz = 440.0;   // the song's left channel
constexpr double kRightHz = 100.0;  // and its right channel, in the low EQ band
constexpr int kSongSeconds = 30;
constexpr double kDiscHz = 660.0;
constexpr double kLineInHz = 1000.0;

class DeckApiScenario : public deck_test::EngineOnTable {
protected:
    std::string table() override {
        const std::string cue = deckapi_test::writeSineDisc(files_.path(), kDiscHz, 3);
        if (cue.empty()) ADD_FAILURE() << "no disc image";
        return "output name=\"Card1\" channels=2 sink=memory pacing=stepped\n"
               "record name=\"Line In\" input=sine:" + std::to_string(kLineInHz) + "\n"
               "cdrom name=\"vcd\" image=\"" + cue + "\"\n";
    }

    void SetUp() override {
        EngineOnTable::SetUp();
        ASSERT_EQ(initResult_, 1);
        slot_ = deck_test::findSlot("Card1", 0);
        ASSERT_GE(slot_, 0);
        song_ = file("song.wav");
        ASSERT_TRUE(deck_test::writeWav(song_, 44100, 2, 16, 44100L * kSongSeconds, [](long f, int c) {
            const double hz = c == 0 ? kLeftHz : kRightHz;
            return static_cast<float>(0.5 * std::sin(2 * M_PI * hz * f / 44100.0));
        }));
    }

    int load(const std::string& name) {
        std::vector<char> path(name.begin(), name.end());
        path.push_back('\0');
        return t_core.Load(0, path.data(), slot_, slot_, false);
    }

    // Lets blocks through the card, giving the deck's render worker time to keep its ring ahead.
    // `pace`: wait that long before each block, for sources that fill in real time (line-in).
    void run(unsigned blocks, std::chrono::milliseconds pace = std::chrono::milliseconds(0)) {
        CPlayer& deck = *t_core.getPlayerObject(0);
        // A paused deck renders nothing, so there is no ring to wait for.
        TimeStretchedChannel* channel = deck.GetConfig()->m_bPlaying ? deck_test::renderChannel(deck) : nullptr;
        ASSERT_TRUE(deck_test::stepCard(channel, "Card1", blocks, pace)) << "the card stopped";
    }

    // What the card played over `blocks` blocks after `settle` blocks left out (so that what the
    // render worker prepared before a change has gone through), interleaved stereo.
    std::vector<float> listen(unsigned settle, unsigned blocks,
                              std::chrono::milliseconds pace = std::chrono::milliseconds(0)) {
        run(settle, pace);
        hooks::clearReceived("Card1");
        run(blocks, pace);
        return hooks::received("Card1");
    }

    // Milliseconds of card time in an interleaved stereo capture.
    static double playedMs(const std::vector<float>& got, double rate = 44100.0) {
        return static_cast<double>(got.size() / 2) * 1000.0 / rate;
    }

    int slot_ = -1;
    std::string song_;
};

TEST_F(DeckApiScenario, TransportTempoLoopsAndFrameSearch) {
    ASSERT_EQ(load(song_), 1);
    EXPECT_EQ(t_core.GetLength(0), kSongSeconds * 1000);

    // The effect chain on the deck's channel, in the order the signal passes it.
    CMonitor* main = t_core.getPlayerObject(0)->GetConfig()->m_pMainOutput;
    ASSERT_NE(main->getTimeStretchedChannel(), nullptr);
    const std::vector<std::string> chain = hooks::channelChain(main->getTimeStretchedChannel()->getFMODChannel());
    const std::vector<std::string> units = {"ParamEQ", "ParamEQ",  "ParamEQ",    "Echo",     "Flange",
                                            "Lowpass", "Highpass", "Compressor", "Normalize"};
    EXPECT_NE(std::search(chain.begin(), chain.end(), units.begin(), units.end()), chain.end());

    EXPECT_EQ(t_core.SetVolume(0, 10000), 1);
    EXPECT_FALSE(t_core.IsPlaying(0));
    EXPECT_EQ(t_core.Play(0, true), 1);
    EXPECT_TRUE(t_core.IsPlaying(0));

    // Normal tempo: the position follows the card's clock; at +20 % tempo (slider 4000: the
    // tempo factor is the output duration per source duration, 1 / 1.2) it runs 1.2 times as fast
    // while the tone keeps its pitch.
    struct Tempo {
        int slider;
        double rate;
    };
    for (const Tempo& t : {Tempo{5000, 1.0}, Tempo{4000, 1.2}}) {
        SCOPED_TRACE(t.slider);
        EXPECT_EQ(t_core.SetTimeStretcher(0, t.slider), 1);
        run(24);
        const int before = t_core.GetPosition(0);
        const std::vector<float> got = listen(0, 120);
        const int after = t_core.GetPosition(0);
        EXPECT_NEAR((after - before) / playedMs(got), t.rate, 0.05 * t.rate);
        EXPECT_NEAR(toneHz(channelOf(got, 2, 0), 44100.0), kLeftHz, kLeftHz * 0.02);
    }
    EXPECT_EQ(t_core.SetTimeStretcher(0, 5000), 1);

    // Reverse: from a position set in reverse, the position runs back at the card's pace.
    EXPECT_EQ(t_core.SetIsReverse(0, true), 1);
    EXPECT_EQ(t_core.SetPosition(0, 20000), 1);
    run(24);
    int before = t_core.GetPosition(0);
    std::vector<float> got = listen(0, 60);
    EXPECT_NEAR(t_core.GetPosition(0) - before, -playedMs(got), 0.05 * playedMs(got));
    EXPECT_EQ(t_core.SetIsReverse(0, false), 1);

    // A loop of 2 s to 3 s keeps the position inside it.
    EXPECT_EQ(t_core.SetLoopPoints(0, 2000, 3000), 1);
    EXPECT_EQ(t_core.SetLoop(0, true, false), 1);
    EXPECT_TRUE(t_core.IsLooping(0));
    EXPECT_EQ(t_core.SetPosition(0, 2100), 1);
    for (int i = 0; i < 15; ++i) {
        run(10);
        const int position = t_core.GetPosition(0);
        EXPECT_GE(position, 2000 - 50);
        EXPECT_LE(position, 3000 + 50);
    }

    // Frame search: the position answers the fragment's start, which the steps move.
    EXPECT_EQ(t_core.SetFrameSearchLength(0, 80), 1);
    const int start = t_core.GetPosition(0);
    EXPECT_EQ(t_core.FrameSearchForward(0, 300), 1);
    const int fragment = t_core.GetPosition(0);
    EXPECT_NEAR(fragment, start + 300, 150);
    EXPECT_EQ(t_core.FrameSearchBackward(0, 200), 1);
    EXPECT_EQ(t_core.GetPosition(0), fragment - 200);
    run(20);
    EXPECT_EQ(t_core.GetPosition(0), fragment - 200);

    // Play ends the search at the fragment and brings the saved loop back.
    EXPECT_EQ(t_core.Play(0, true), 1);
    EXPECT_TRUE(t_core.IsLooping(0));
    for (int i = 0; i < 10; ++i) {
        run(10);
        const int position = t_core.GetPosition(0);
        EXPECT_GE(position, 2000 - 50);
        EXPECT_LE(position, 3000 + 50);
    }
    EXPECT_EQ(t_core.SetLoop(0, false, false), 1);
    EXPECT_FALSE(t_core.IsLooping(0));

    EXPECT_EQ(t_core.Stop(0), 1);
    EXPECT_FALSE(t_core.IsPlaying(0));
    EXPECT_EQ(t_core.GetPosition(0), 0);

    // Positions beyond either end land 100 ms before the end and at 0.
    EXPECT_EQ(t_core.SetPosition(0, 100000000), 1);
    EXPECT_NEAR(t_core.GetPosition(0), kSongSeconds * 1000 - 100, 25);
    EXPECT_EQ(t_core.SetPosition(0, -500), 1);
    EXPECT_EQ(t_core.GetPosition(0), 0);

    // Vinyl target positions: a negative one counts as 0, one past the end is the end itself,
    // which the deck refuses.
    EXPECT_EQ(t_core.setVirtualVelocity(0, -500, 0.5), 1);
    EXPECT_EQ(t_core.setVirtualVelocity(0, 999999999, 0.5), -4);
    EXPECT_EQ(t_core.Unload(0), 1);
}

TEST_F(DeckApiScenario, OutputsEffectsMeterAndTone) {
    ASSERT_EQ(load(song_), 1);
    EXPECT_EQ(t_core.SetVolume(0, 5000), 1);
    EXPECT_EQ(t_core.Play(0, true), 1);
    const std::vector<float> reference = listen(24, 24);
    const double left = rms(channelOf(reference, 2, 0)), right = rms(channelOf(reference, 2, 1));
    ASSERT_GT(left, 0.05);
    ASSERT_GT(right, 0.05);

    // The low band at 0 cuts the 100 Hz tone by a factor of 20 (26 dB).
    EXPECT_EQ(t_core.SetEqLow(0, 0), 1);
    EXPECT_EQ(t_core.GetEqLow(0), 250);
    const double cut = rms(channelOf(listen(24, 24), 2, 1));
    EXPECT_NEAR(20.0 * std::log10(cut / right), -26.0, 3.0);
    EXPECT_EQ(t_core.SetEqLow(0, 5000), 1);

    // Gain, volume, pan and mute, each against the reference and undone afterwards.
    struct Control {
        const char* label;
        std::function<int()> apply, undo;
        double leftRatio, rightRatio, tolerance;
    };
    const Control controls[] = {
        {"gain x2", [] { return t_core.SetGain(0, 10000); }, [] { return t_core.SetGain(0, 5000); }, 2.0, 2.0, 0.1},
        {"volume half", [] { return t_core.SetVolume(0, 2500); }, [] { return t_core.SetVolume(0, 5000); }, 0.5, 0.5,
         0.05},
        {"pan right", [] { return t_core.SetPan(0, 10000); }, [] { return t_core.SetPan(0, 5000); }, 0.0, -1.0, 0.05},
        {"mute", [] { return t_core.SetMute(0, true); }, [] { return t_core.SetMute(0, false); }, 0.0, 0.0, 0.01},
    };
    for (const Control& c : controls) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(c.apply(), 1);
        const std::vector<float> got = listen(24, 24);
        EXPECT_NEAR(rms(channelOf(got, 2, 0)) / left, c.leftRatio, c.tolerance);
        // A negative ratio: only "not silent" is certain (the pan law may raise the side it favours).
        if (c.rightRatio >= 0.0) {
            EXPECT_NEAR(rms(channelOf(got, 2, 1)) / right, c.rightRatio, c.tolerance);
        } else {
            EXPECT_GT(rms(channelOf(got, 2, 1)) / right, 0.5);
        }
        EXPECT_EQ(c.undo(), 1);
    }

    // The meter moves while playing and reads 0 while paused.
    run(8);
    unsigned int levels[2] = {0, 0};
    EXPECT_EQ(t_core.GetLevels(0, levels), 1);
    EXPECT_GT(levels[0], 0u);
    EXPECT_GT(levels[1], 0u);
    char note[8] = {};
    EXPECT_EQ(t_core.GetTone(0, note), 1);
    EXPECT_STREQ(note, "A 4");
    EXPECT_EQ(t_core.Play(0, false), 1);
    run(8);
    EXPECT_EQ(t_core.GetLevels(0, levels), 1);
    EXPECT_EQ(levels[0], 0u);
    EXPECT_EQ(levels[1], 0u);
    EXPECT_EQ(t_core.Unload(0), 1);
}

// The tone finder names the note whatever the card's rate.
TEST_F(DeckApiScenario, ToneIsFoundAtBothCardRates) {
    for (unsigned rate : {44100u, 48000u}) {
        SCOPED_TRACE(rate);
        t_core.CleanUp();
        ASSERT_EQ(t_core.InitPlayer(0, 1, rate), 1);
        slot_ = deck_test::findSlot("Card1", 0);
        ASSERT_GE(slot_, 0);
        ASSERT_EQ(load(song_), 1);
        EXPECT_EQ(t_core.SetVolume(0, 10000), 1);
        EXPECT_EQ(t_core.Play(0, true), 1);
        run(24);
        char note[8] = {};
        EXPECT_EQ(t_core.GetTone(0, note), 1);
        EXPECT_STREQ(note, "A 4");
    }
}

// Settings made through the engine outlive the source: the next load applies them again, apart
// from the echo, which starts bypassed.
TEST_F(DeckApiScenario, StoredSettingsComeBackOnTheNextLoad) {
    ASSERT_EQ(load(song_), 1);
    EXPECT_EQ(t_core.SetEqMid(0, 7500), 1);
    EXPECT_EQ(t_core.SetEqHigh(0, 2500), 1);
    EXPECT_EQ(t_core.SetCutOff(0, 3000), 1);
    EXPECT_EQ(t_core.EnableLowPass(0, true), 1);
    EXPECT_EQ(t_core.SetFlanger(0, true, 0.4, 0.6, 0.8, 0.2), 1);
    EXPECT_EQ(t_core.SetEcho(0, true, 200, 0.4, 1.0, 0.5), 1);
    EXPECT_EQ(t_core.SetGain(0, 7500), 1);
    EXPECT_EQ(t_core.SetPan(0, 2500), 1);
    EXPECT_EQ(t_core.SetFrequencyPitch(0, 6000), 1);
    EXPECT_EQ(t_core.SetTimeStretcher(0, 6000), 1);

    const std::string other = file("other.wav");
    ASSERT_TRUE(deck_test::writeWav(other, 44100, 2, 16, 44100L * 10, [](long f, int) {
        return static_cast<float>(0.5 * std::sin(2 * M_PI * kLeftHz * f / 44100.0));
    }));
    ASSERT_EQ(load(other), 1);
    EXPECT_EQ(t_core.GetLength(0), 10000);
    EXPECT_EQ(t_core.GetEqMid(0), 7500);
    EXPECT_EQ(t_core.GetEqHigh(0), 2500);
    const DeckConfig* c = t_core.getPlayerObject(0)->GetConfig();
    EXPECT_FLOAT_EQ(c->m_fGain, 1.5f);
    EXPECT_DOUBLE_EQ(c->m_dPan, -0.5);
    EXPECT_DOUBLE_EQ(c->m_dSpeed, 1.2);
    EXPECT_FLOAT_EQ(c->m_fTempoFactor, 1.25f);
    struct Unit {
        const char* label;
        FMOD::DSP* dsp;
        bool bypass;
    };
    for (const Unit& u : {Unit{"low-pass", c->m_pLowPass, false}, Unit{"flanger", c->m_pFlanger, false},
                          Unit{"echo", c->m_pEcho, true}, Unit{"high-pass", c->m_pHighPass, true}}) {
        SCOPED_TRACE(u.label);
        ASSERT_NE(u.dsp, nullptr);
        bool bypass = !u.bypass;
        ASSERT_EQ(u.dsp->getBypass(&bypass), FMOD_OK);
        EXPECT_EQ(bypass, u.bypass);
    }
    float cutoff = 0.0f;
    ASSERT_EQ(c->m_pLowPass->getParameter(0, &cutoff, nullptr, 0), FMOD_OK);
    EXPECT_NEAR(cutoff, 3000 * 2.205 + 63.0, 0.5);

    // Speed 1.2 is heard: the tone rises by the same factor. Paced like a real card: a stepped card
    // run flat out outpaces the render worker when the channel resamples.
    EXPECT_EQ(t_core.EnableLowPass(0, false), 1);
    EXPECT_EQ(t_core.SetFlanger(0, false, 0.4, 0.6, 0.8, 0.2), 1);
    EXPECT_EQ(t_core.SetVolume(0, 10000), 1);
    EXPECT_EQ(t_core.Play(0, true), 1);
    const std::vector<float> got = listen(8, 16, std::chrono::milliseconds(23));
    EXPECT_NEAR(toneHz(channelOf(got, 2, 0), 44100.0), kLeftHz * 1.2, kLeftHz * 1.2 * 0.02);
}

// Reverse switched on while the deck plays, with no seek after it: the position must run back
// from where the deck is, also right after the return from a tempo change to normal tempo.
TEST_F(DeckApiScenario, ReverseWhilePlayingTurnsThePositionBack) {
    ASSERT_EQ(load(song_), 1);
    EXPECT_EQ(t_core.SetPosition(0, 10000), 1);
    EXPECT_EQ(t_core.Play(0, true), 1);
    run(48);
    EXPECT_EQ(t_core.SetTimeStretcher(0, 4000), 1);
    run(48);
    EXPECT_EQ(t_core.SetTimeStretcher(0, 5000), 1);
    EXPECT_EQ(t_core.SetIsReverse(0, true), 1);
    run(24);
    const int before = t_core.GetPosition(0);
    const std::vector<float> got = listen(0, 60);
    EXPECT_NEAR(t_core.GetPosition(0) - before, -playedMs(got), 0.05 * playedMs(got));
}

TEST_F(DeckApiScenario, CdTrackAndLineInPlay) {
    struct Source {
        const char* name;
        double hz;
        int length;  // what GetLength answers
        int stop;    // Stop ends with SetPosition(0), which a line-in deck refuses
        std::chrono::milliseconds pace;  // the recorder fills its 200 ms loop in real time
    };
    for (const Source& s :
         {Source{"cd://vcd/0a1b2c3d/1", kDiscHz, 3000, 1, std::chrono::milliseconds(0)},
          Source{"record://0", kLineInHz, -6, -6, std::chrono::milliseconds(25)}}) {
        SCOPED_TRACE(s.name);
        ASSERT_EQ(load(s.name), 1);
        EXPECT_EQ(t_core.GetLength(0), s.length);
        EXPECT_EQ(t_core.SetVolume(0, 10000), 1);
        EXPECT_EQ(t_core.Play(0, true), 1);
        const std::vector<float> got = listen(16, 16, s.pace);
        EXPECT_NEAR(toneHz(channelOf(got, 2, 0), 44100.0), s.hz, s.hz * 0.02);
        EXPECT_GT(rms(channelOf(got, 2, 0)), 0.1);
        EXPECT_EQ(t_core.Stop(0), s.stop);
        EXPECT_FALSE(t_core.IsPlaying(0));
    }
    // A line-in deck has no position to go to.
    EXPECT_EQ(t_core.GetPosition(0), 0);
    EXPECT_EQ(t_core.SetPosition(0, 1000), -6);
    EXPECT_EQ(t_core.Unload(0), 1);
}

}  // namespace
