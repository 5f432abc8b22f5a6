// Loaded sources reach the card: a CD track plays its own tone, and each line-in recorder's sine
// plays on both speakers of a stereo card (the recording is mono).
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>
#include <thread>

#include "Monitor.h"
#include "Player.h"
#include "TKCore.h"
#include "fmod_testhooks.hpp"
#include "loading_support.h"

namespace {

namespace hooks = pw::testhooks;
using loading_test::load;

class LoadingAudio : public loading_test::LoadingEngine {
protected:
    // Starts the deck's main output at full volume (the transport's Play is not what is tested).
    static void start(CPlayer& deck) {
        CMonitor* main = deck.GetConfig()->m_pMainOutput;
        main->SetVolume(1.0f);
        main->Play(true);
    }
    // What the card's left speaker got over `blocks` blocks, after `settle` blocks left out.
    std::vector<float> listen(CPlayer& deck, unsigned settle, unsigned blocks) {
        if (!run(deck, "Card1", settle)) ADD_FAILURE() << "card stopped";
        hooks::clearReceived("Card1");
        if (!run(deck, "Card1", blocks)) ADD_FAILURE() << "card stopped";
        return loading_test::leftChannel("Card1");
    }
};

TEST_F(LoadingAudio, CdTracksPlayTheirOwnTone) {
    for (int track : {3, 5}) {
        SCOPED_TRACE(track);
        CPlayer deck(0);
        ASSERT_EQ(load(deck, "cd://dev/disc/" + std::to_string(track), card1_, card2_), 1);
        start(deck);
        const std::vector<float> left = listen(deck, 8, 16);
        ASSERT_GT(left.size(), 4096u);
        EXPECT_NEAR(loading_test::rms(left), 0.5 / std::sqrt(2.0), 0.05);
        const double expected = loading_test::trackFrequency(track - 1);
        EXPECT_NEAR(loading_test::toneHz(left, 44100.0), expected, expected * 0.01);
        EXPECT_EQ(deck.Unload(), 1);
    }
}

TEST_F(LoadingAudio, LineInRecordersPlayOnBothSpeakers) {
    struct Case {
        int recorder;
        double hz;
    };
    for (const Case& k : {Case{0, loading_test::kLineInHz}, Case{1, loading_test::kMicHz}}) {
        SCOPED_TRACE(k.recorder);
        CPlayer deck(0);
        ASSERT_EQ(load(deck, "record://" + std::to_string(k.recorder), card1_, card2_), 1);
        start(deck);
        // The recorder fills the 200 ms loop in real time while the stepped card runs ahead:
        // wait (bounded) until a window of most of the loop (8 blocks of 1024 frames of 8820)
        // carries the sine throughout. One silent block in it would keep the level below 0.345.
        const double sineRms = loading_test::kRecorderAmplitude / std::sqrt(2.0);
        double level = 0.0;
        for (int tries = 0; tries < 200 && level < 0.345; ++tries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            // Two blocks left out: a stepped card may hold a block it mixed before this deck played.
            level = loading_test::rms(listen(deck, 2, 8));
        }
        EXPECT_NEAR(level, sineRms, 0.05);
        const std::vector<float> got = hooks::received("Card1");
        ASSERT_EQ(hooks::receivedChannels("Card1"), 2);
        double left = 0.0, right = 0.0;
        for (size_t i = 0; i + 1 < got.size(); i += 2) {
            left += double(got[i]) * got[i];
            right += double(got[i + 1]) * got[i + 1];
        }
        EXPECT_NEAR(std::sqrt(right / (got.size() / 2)), std::sqrt(left / (got.size() / 2)), 0.02);
        EXPECT_NEAR(loading_test::toneHz(loading_test::leftChannel("Card1"), 44100.0), k.hz, k.hz * 0.05);
        EXPECT_EQ(deck.Unload(), 1);
    }
}

}  // namespace
