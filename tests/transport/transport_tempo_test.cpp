// Loops, speed, reverse and tempo: the values stored and handed to the channel, how far the
// position moves over a few seconds of stepped output, the line-in limits (a paused line-in is
// silent) and the answers of a deck without outputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <chrono>
#include <functional>
#include <thread>

#include "LoopSound.h"
#include "Monitor.h"
#include "TimestretchedChannel.h"
#include "fmod_testhooks.hpp"
#include "transport_support.h"

namespace hooks = pw::testhooks;

namespace transport_test {
namespace {

TimeStretchedChannel* channelOf(CPlayer& deck) { return deck.GetConfig()->m_pMainOutput->getTimeStretchedChannel(); }

TEST_F(TransportDeck, LoopRuleHandsTheWindowOrTheWholeSound) {
    struct Case {
        const char* label;
        int start, end;
        bool on;
        unsigned storedStart, storedEnd;  // ms in the settings block (0/0: the whole sound)
        unsigned channelStart, channelEnd;  // ms the channel loops (0/0: the whole sound)
    };
    const Case cases[] = {
        {"window on", 1000, 2000, true, 1000, 2000, 1000, 2000},
        {"737 ms lasts 737 ms", 1000, 1737, true, 1000, 1737, 1000, 1737},
        {"inverted window", 3000, 1000, true, 0, 0, 0, 0},
        {"empty window", 3000, 3000, true, 0, 0, 0, 0},
        {"window off", 1000, 2000, false, 1000, 2000, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        CPlayer deck(0);
        ASSERT_TRUE(loadFile(deck, tone_));
        const unsigned length = deck.GetConfig()->m_uiLength;
        ASSERT_EQ(deck.SetLoopPoints(c.start, c.end, false), 1);
        ASSERT_EQ(deck.SetLoop(c.on, false, false), 1);
        EXPECT_EQ(deck.IsLooping(), c.on);
        const bool whole = c.storedEnd == 0;
        EXPECT_EQ(deck.GetConfig()->m_uiLoopStart, c.storedStart);
        EXPECT_EQ(deck.GetConfig()->m_uiLoopEnd, whole ? length : c.storedEnd);
        LoopSound* loop = channelOf(deck)->getLoopSound();
        unsigned start = 0, end = 0;
        loop->getLoopWindow(&start, &end);
        EXPECT_EQ(loop->isLoopEnabled(), c.on);
        EXPECT_EQ(start, loop->ConvertMS2PCM(c.channelStart));
        // The end is the first frame not played; the whole sound ends at its last frame.
        const unsigned wholeEnd = std::min(loop->ConvertMS2PCM(length), loop->getLengthPCM());
        EXPECT_EQ(end, c.channelEnd ? loop->ConvertMS2PCM(c.channelEnd) : wholeEnd);
        EXPECT_EQ(deck.Unload(), 1);
    }
}

TEST_F(TransportDeck, TimeStretcherSliderGivesTheStretchFactor) {
    CPlayer deck(0);
    ASSERT_TRUE(loadFile(deck, tone_));
    struct Case {
        int slider, result, stored;
        float factor;
    };
    const Case cases[] = {
        {0, 1, 0, 0.5f},          {2500, 1, 2500, 1.0f / 1.5f}, {5000, 1, 5000, 1.0f},
        {7500, 1, 7500, 2.0f},    {9000, 1, 9000, 5.0f},        {9750, 1, 9750, 20.0f},
        {9800, 1, 9800, 20.0f},   {10000, 1, 9900, 20.0f},      {-1, -4, 9900, 20.0f},
        {10001, -4, 9900, 20.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.slider);
        EXPECT_EQ(deck.SetTimeStretcher(c.slider), c.result);
        EXPECT_EQ(deck.GetConfig()->m_iTempoSlider, c.stored);
        EXPECT_NEAR(deck.GetConfig()->m_fTempoFactor, c.factor, 1e-4);
        EXPECT_NEAR(channelOf(deck)->getTimeStretch(), c.factor, 1e-4);
    }
    EXPECT_EQ(deck.Unload(), 1);
}

// Speed and direction: the stored slider and speed, and the direction the channel plays. A speed
// change keeps the direction the deck was given.
TEST_F(TransportDeck, SpeedSlidersAndDirection) {
    CPlayer deck(0);
    ASSERT_TRUE(loadFile(deck, tone_));
    struct Case {
        const char* label;
        std::function<int()> call;
        double slider, speed;
        bool reverse;
    };
    const Case cases[] = {
        {"Ex(-100)", [&] { return deck.SetFrequencyPitchEx(-100); }, 5000, 1.0, true},
        {"Ex(250)", [&] { return deck.SetFrequencyPitchEx(250); }, 10000, 2.0, false},
        {"Ex(100)", [&] { return deck.SetFrequencyPitchEx(100); }, 5000, 1.0, false},
        {"slider -5", [&] { return deck.SetFrequencyPitch(-5); }, 0, 0.0, false},
        {"slider 12000", [&] { return deck.SetFrequencyPitch(12000); }, 10000, 2.0, false},
        {"Ex(-50)", [&] { return deck.SetFrequencyPitchEx(-50); }, 2500, 0.5, true},
        {"slider 5000 while reversed", [&] { return deck.SetFrequencyPitch(5000); }, 5000, 1.0, true},
        {"slider 0 while reversed", [&] { return deck.SetFrequencyPitch(0); }, 0, 0.0, true},
        {"reverse off", [&] { return deck.SetIsReverse(false); }, 0, 0.0, false},
        {"Ex(0)", [&] { return deck.SetFrequencyPitchEx(0); }, 0, 0.0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(c.call(), 1);
        EXPECT_EQ(deck.GetConfig()->m_dPitchSlider, c.slider);
        EXPECT_EQ(deck.GetConfig()->m_dSpeed, c.speed);
        EXPECT_EQ(channelOf(deck)->getLoopSound()->isReverse(), c.reverse);
    }
    EXPECT_EQ(deck.Unload(), 1);
}

// Over about three seconds of output the position moves at speed / tempo factor, backward in
// reverse.
TEST_F(TransportDeck, PositionMovesWithTempoSpeedAndDirection) {
    struct Case {
        const char* label;
        std::function<void(CPlayer&)> set;
        double rate;  // source ms per output ms
    };
    const Case cases[] = {
        {"normal", [](CPlayer&) {}, 1.0},
        {"tempo +20 %", [](CPlayer& d) { d.SetTimeStretcher(4000); }, 1.2},  // factor 1 / 1.2
        {"tempo -20 %", [](CPlayer& d) { d.SetTimeStretcher(6000); }, 0.8},  // factor 1 / 0.8
        {"speed +20 %", [](CPlayer& d) { d.SetFrequencyPitch(6000); }, 1.2},
        {"reverse", [](CPlayer& d) { d.SetIsReverse(true); }, -1.0},
        {"reverse by percent", [](CPlayer& d) { d.SetFrequencyPitchEx(-100); }, -1.0},
        {"reverse, then faster", [](CPlayer& d) { d.SetIsReverse(true); d.SetFrequencyPitch(6000); }, -1.2},
    };
    const unsigned blocks = 130;
    const double outputMs = blocks * 1024 * 1000.0 / kRate;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        CPlayer deck(0);
        ASSERT_TRUE(loadFile(deck, tone_));
        deck.SetPosition(10000, true);
        c.set(deck);
        ASSERT_EQ(deck.Play(true, false), 1);
        ASSERT_TRUE(run(deck, 10));
        const int before = deck.GetPosition();
        ASSERT_TRUE(run(deck, blocks));
        const int after = deck.GetPosition();
        EXPECT_NEAR((after - before) / outputMs, c.rate, 0.06) << before << " -> " << after;
        EXPECT_EQ(deck.Unload(), 1);
    }
}

TEST_F(TransportDeck, LoopKeepsThePositionInsideTheWindow) {
    CPlayer deck(0);
    ASSERT_TRUE(loadFile(deck, tone_));
    ASSERT_EQ(deck.SetLoopPoints(2000, 3000, false), 1);
    ASSERT_EQ(deck.SetLoop(true, false, false), 1);
    deck.SetPosition(2000, true);
    ASSERT_EQ(deck.Play(true, false), 1);
    int lowest = 1 << 30, highest = 0;
    for (int i = 0; i < 40; ++i) {  // about 3.7 s: more than three rounds of the loop
        ASSERT_TRUE(run(deck, 4));
        const int p = deck.GetPosition();
        EXPECT_GE(p, 1995);
        EXPECT_LE(p, 3005);
        if (i >= 12) {  // after the first round
            lowest = std::min(lowest, p);
            highest = std::max(highest, p);
        }
    }
    EXPECT_LT(lowest, 2300);
    EXPECT_GT(highest, 2700);
    EXPECT_EQ(deck.Unload(), 1);
}

TEST_F(TransportDeck, LineInHasNoPositionAndIsSilentWhilePaused) {
    CPlayer deck(0);
    ASSERT_TRUE(loadLineIn(deck));
    EXPECT_EQ(deck.GetPosition(), 0);
    EXPECT_EQ(deck.GetLength(), -6);
    EXPECT_EQ(deck.SetPosition(1000, true), -6);
    EXPECT_EQ(deck.SetFrameSearchLength(50), -6);
    EXPECT_EQ(deck.setVirtualVelocity(0, 1.0), -4);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the record ring fills

    struct Step {
        const char* label;
        int play;  // -1: leave as loaded
        bool audible;
    };
    const Step steps[] = {{"loaded", -1, false}, {"playing", 1, true}, {"paused", 0, false}, {"again", 1, true}};
    for (const Step& s : steps) {
        SCOPED_TRACE(s.label);
        if (s.play >= 0) {
            EXPECT_EQ(deck.Play(s.play == 1, false), 1);
        }
        ASSERT_TRUE(run(deck, 4));
        hooks::clearReceived(kCard);
        ASSERT_TRUE(run(deck, 8));
        const std::vector<double> rms = leftRmsPerBlock(1024);
        ASSERT_FALSE(rms.empty());
        const double loudest = *std::max_element(rms.begin(), rms.end());
        if (s.audible) {
            EXPECT_GT(loudest, 0.2);
        } else {
            EXPECT_LT(loudest, 1e-4);
        }
        EXPECT_EQ(deck.IsPlaying(), s.play == 1);
    }
    EXPECT_EQ(deck.Unload(), 1);
}

// A deck whose outputs are gone answers with the codes of each operation and touches nothing.
TEST_F(TransportDeck, MissingOutputsGiveTheirCodes) {
    CPlayer deck(0);
    DeckConfig* c = deck.GetConfig();
    CMonitor* main = c->m_pMainOutput;
    CMonitor* cue = c->m_pCueOutput;
    c->m_pMainOutput = nullptr;
    c->m_pCueOutput = nullptr;
    unsigned raw = 7;
    unsigned char wave[4] = {};
    char path[] = "deck.wav";
    struct Case {
        const char* label;
        std::function<int()> call;
        int expected;
    };
    const Case cases[] = {
        {"Play", [&] { return deck.Play(true, false); }, -1},
        {"Stop", [&] { return deck.Stop(); }, -1},
        {"GetPosition", [&] { return deck.GetPosition(); }, 0},
        {"SetPosition", [&] { return deck.SetPosition(10, true); }, 1},
        {"SetFrequencyPitch", [&] { return deck.SetFrequencyPitch(5000); }, -8},
        {"SetFrequencyPitchEx", [&] { return deck.SetFrequencyPitchEx(-100); }, -8},
        {"SetTimeStretcher", [&] { return deck.SetTimeStretcher(7500); }, -17},
        {"setVirtualVTMode", [&] { return deck.setVirtualVTMode(1.0); }, -28},
        {"enableVirtualVinyl", [&] { return deck.enableVirtualVinyl(true); }, -28},
        {"setVirtualVTInertia", [&] { return deck.setVirtualVTInertia(0.5); }, -28},
        {"setVirtualVelocity", [&] { return deck.setVirtualVelocity(0, 1.0); }, -28},
        {"AddPlaybackSnippet", [&] { return deck.AddPlaybackSnippet(0, 100); }, -5},
        {"PlayerMixDown_openFile", [&] { return deck.PlayerMixDown_openFile(path, 0, 0); }, -28},
        {"PlayerMixDown_start", [&] { return deck.PlayerMixDown_start(); }, -28},
        {"PlayerMixDown_close", [&] { return deck.PlayerMixDown_close(); }, -28},
        {"CalcSongLengthRaw", [&] { return deck.CalcSongLengthRaw(&raw); }, -8},
        {"GetWaveForm", [&] { return deck.GetWaveForm(wave, sizeof wave); }, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.label);
        EXPECT_EQ(k.call(), k.expected);
    }
    EXPECT_EQ(deck.getVirtualVTMode(), 0.0);
    EXPECT_EQ(c->m_iTempoSlider, 5000);  // refused before anything was stored
    EXPECT_EQ(raw, 7u);
    c->m_pMainOutput = main;
    c->m_pCueOutput = cue;
}

TEST_F(TransportDeck, BeatTrackingStartsAndStopsAndRefusesCdTracks) {
    BeatTracker::setReportSinkForTesting([](void*, const BeatReport&) {}, nullptr);
    CPlayer deck(0);
    ASSERT_TRUE(loadFile(deck, tone_));
    EXPECT_EQ(deck.startBeatTracking(0, false, 80, 160, 0), 1);  // not running: nothing to do
    EXPECT_EQ(deck.startBeatTracking(0, true, 80, 160, 0), 1);
    EXPECT_TRUE(deck.getBeatTracker().isRunning().load());
    EXPECT_EQ(deck.startBeatTracking(0, false, 80, 160, 0), 1);
    EXPECT_FALSE(deck.getBeatTracker().isRunning().load());
    std::strcpy(deck.GetConfig()->m_szFileName, "cd://dev/cdrom/1a2b/3");
    EXPECT_EQ(deck.startBeatTracking(0, true, 80, 160, 0), -36);
    EXPECT_FALSE(deck.getBeatTracker().isRunning().load());
    EXPECT_EQ(deck.Unload(), 1);
    BeatTracker::setReportSinkForTesting(nullptr, nullptr);
}

}  // namespace
}  // namespace transport_test
