// Play, pause and stop, positions and their limits, frame search and how play leaves it, the raw
// length and the waveform read that must not disturb the deck's prefetch.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "LoopSound.h"
#include "Monitor.h"
#include "TimestretchedChannel.h"
#include "fmod_testhooks.hpp"
#include "transport_support.h"

namespace hooks = pw::testhooks;

namespace transport_test {
namespace {

LoopSound* loopOf(CPlayer& deck) {
    return deck.GetConfig()->m_pMainOutput->getTimeStretchedChannel()->getLoopSound();
}

TEST_F(TransportDeck, PausePlaysSilenceAndStopRewinds) {
    CPlayer deck(0);
    ASSERT_TRUE(loadFile(deck, tone_));
    ASSERT_EQ(deck.Play(true, false), 1);
    EXPECT_TRUE(deck.IsPlaying());
    ASSERT_TRUE(run(deck, 40));
    const int playing = deck.GetPosition();
    EXPECT_GT(playing, 500);
    EXPECT_EQ(deck.Play(true, false), 1);  // already playing: nothing changes
    EXPECT_TRUE(deck.IsPlaying());

    ASSERT_EQ(deck.Play(false, false), 1);
    EXPECT_FALSE(deck.IsPlaying());
    ASSERT_TRUE(run(deck, 8));  // what the render ring already held plays out
    const int paused = deck.GetPosition();
    hooks::clearReceived(kCard);
    ASSERT_TRUE(run(deck, 8));
    for (double rms : leftRmsPerBlock(1024)) EXPECT_LT(rms, 1e-4);
    EXPECT_EQ(deck.GetPosition(), paused);

    ASSERT_EQ(deck.Play(true, false), 1);
    ASSERT_TRUE(run(deck, 8));
    EXPECT_GT(deck.GetPosition(), paused);
    ASSERT_EQ(deck.Stop(), 1);
    EXPECT_FALSE(deck.IsPlaying());
    EXPECT_EQ(deck.GetPosition(), 0);
    EXPECT_EQ(deck.Unload(), 1);
}

TEST_F(TransportDeck, SetPositionStaysInsideTheSound) {
    const std::string shortFile = writeTone("short.wav", 0.05);
    struct Case {
        const char* label;
        const std::string* path;
        int position, expected;
    };
    const Case cases[] = {
        {"inside", &tone_, 7000, 7000},
        {"beyond the end", &tone_, 25000, 19900},
        {"exactly the end", &tone_, 20000, 19900},
        {"negative", &tone_, -300, 0},
        {"shorter than the margin", &shortFile, 30, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        CPlayer deck(0);
        ASSERT_TRUE(loadFile(deck, *c.path));
        ASSERT_EQ(deck.SetPosition(c.position, true), 1);
        EXPECT_EQ(deck.GetConfig()->m_iLastPosition, -1);
        EXPECT_NEAR(deck.GetPosition(), c.expected, 1);
        EXPECT_NEAR(deck.GetConfig()->m_iLastPosition, c.expected, 1);
        EXPECT_EQ(deck.Unload(), 1);
    }
}

TEST_F(TransportDeck, FrameSearchStepsTurnAtTheEndAndStopAtZero) {
    const std::string shortFile = writeTone("short.wav", 0.15);
    struct Case {
        const char* label;
        const std::string* path;
        int start;
        bool forward;
        unsigned step;
        int steps;
        unsigned expected;
    };
    const Case cases[] = {
        {"forward", &tone_, 5000, true, 1000, 1, 6000},
        {"forward twice from the fragment", &tone_, 5000, true, 1000, 2, 7000},
        {"forward near the end steps back", &tone_, 19500, true, 1000, 1, 18500},
        {"backward", &tone_, 5000, false, 1000, 1, 4000},
        {"backward below zero", &tone_, 500, false, 1000, 1, 0},
        {"sound shorter than two steps", &shortFile, 0, true, 100, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        CPlayer deck(0);
        ASSERT_TRUE(loadFile(deck, *c.path));
        deck.SetPosition(c.start, true);
        for (int i = 0; i < c.steps; ++i)
            ASSERT_EQ(c.forward ? deck.FrameSearchForward(c.step) : deck.FrameSearchBackward(c.step), 1);
        DeckConfig* config = deck.GetConfig();
        EXPECT_TRUE(config->m_bFrameSearching);
        EXPECT_TRUE(deck.IsLooping());
        EXPECT_EQ(deck.GetPosition(), static_cast<int>(c.expected));
        EXPECT_EQ(config->m_uiLoopStart, c.expected);
        EXPECT_EQ(config->m_uiLoopEnd, c.expected + 100);
        // The fragment is what the channel loops.
        unsigned start = 0, end = 0;
        LoopSound* loop = loopOf(deck);
        loop->getLoopWindow(&start, &end);
        EXPECT_TRUE(loop->isLoopEnabled());
        EXPECT_EQ(start, loop->ConvertMS2PCM(c.expected));
        if (c.expected + 100 <= config->m_uiLength) {
            EXPECT_EQ(end, loop->ConvertMS2PCM(c.expected + 100));  // exactly the fragment's length
        }
        EXPECT_EQ(deck.Unload(), 1);
    }
}

// Play(true) ends frame search: the saved loop comes back, and play goes on at the fragment or,
// keeping the position, where the channel stood. Stop moves the fragment to 0 and stays in it.
TEST_F(TransportDeck, PlayLeavesFrameSearchWithTheSavedLoop) {
    for (bool keep : {false, true}) {
        SCOPED_TRACE(keep ? "keep position" : "go to the fragment");
        CPlayer deck(0);
        ASSERT_TRUE(loadFile(deck, tone_));
        ASSERT_EQ(deck.SetLoopPoints(6000, 8000, true), 1);
        ASSERT_EQ(deck.SetLoop(true, false, true), 1);
        deck.SetPosition(1000, true);
        ASSERT_EQ(deck.FrameSearchForward(3000), 1);
        ASSERT_EQ(deck.GetPosition(), 4000);

        ASSERT_EQ(deck.Stop(), 1);  // the fragment moves to 0, frame search stays on
        DeckConfig* config = deck.GetConfig();
        EXPECT_TRUE(config->m_bFrameSearching);
        EXPECT_EQ(deck.GetPosition(), 0);
        EXPECT_EQ(config->m_uiLoopEnd, 100u);
        deck.SetPosition(4000, true);  // inside frame search: the fragment, not the channel
        deck.GetConfig()->m_pMainOutput->setPosition(1000, FMOD_TIMEUNIT_MS);

        ASSERT_EQ(deck.Play(true, keep), 1);
        EXPECT_FALSE(config->m_bFrameSearching);
        EXPECT_TRUE(deck.IsPlaying());
        EXPECT_EQ(config->m_uiLoopStart, 6000u);
        EXPECT_EQ(config->m_uiLoopEnd, 8000u);
        EXPECT_TRUE(deck.IsLooping());
        ASSERT_TRUE(run(deck, 20));
        const int expected = keep ? 1000 : 4000;
        const int position = deck.GetPosition();
        EXPECT_GE(position, expected);
        EXPECT_LT(position, expected + 1500);
        EXPECT_EQ(deck.Unload(), 1);
    }
}

// The waveform read returns the file's bytes and leaves the prefetch alone: playing on afterwards
// never hears the start of the sound again (here: its first second is silent, the rest a tone).
TEST_F(TransportDeck, WaveformReadLeavesPlaybackIntact) {
    const std::string late = writeTone("late.wav", 8.0, 1.0);
    CPlayer deck(0);
    ASSERT_TRUE(loadFile(deck, late));
    unsigned raw = 0;
    ASSERT_EQ(deck.CalcSongLengthRaw(&raw), 1);
    EXPECT_EQ(raw, 8u * kRate * 4u);

    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the prefetch fills ahead
    std::vector<unsigned char> wave(2 * kRate * 4);
    ASSERT_EQ(deck.GetWaveForm(wave.data(), static_cast<unsigned>(wave.size())), 1);
    std::ifstream in(late, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GE(bytes.size(), 44 + wave.size());
    EXPECT_TRUE(std::equal(wave.begin(), wave.end(), bytes.begin() + 44));

    ASSERT_EQ(deck.Play(true, false), 1);
    EXPECT_EQ(deck.GetWaveForm(wave.data(), 16), 0);  // not while playing
    hooks::clearReceived(kCard);
    ASSERT_TRUE(run(deck, 260));  // about 6 s
    const std::vector<double> blocks = leftRmsPerBlock(1024);
    size_t first = 0;
    while (first < blocks.size() && blocks[first] < 0.3) ++first;
    ASSERT_LT(first, blocks.size());
    const size_t fourSeconds = 4 * kRate / 1024;
    ASSERT_GE(blocks.size(), first + fourSeconds);
    for (size_t i = first + 1; i < first + fourSeconds; ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(blocks[i], kToneRms, 0.03);
    }
    EXPECT_EQ(deck.Unload(), 1);
}

}  // namespace
}  // namespace transport_test
