// A deck's audio end to end: the main output through the time-stretched channel, the cue on
// another slot of the same card (routing the main channel), on the very slot of the main output,
// and on another card through the tap, with volume, pan and mute, and the cue's lag bounded.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "FMODSystem.h"
#include "Monitor.h"
#include "Player.h"
#include "TKCore.h"
#include "TimestretchedChannel.h"
#include "deck_support.h"
#include "fmod_testhooks.hpp"

namespace hooks = pw::testhooks;

namespace {

class DeckPath : public deck_test::EngineOnTable {
protected:
    std::string table() override {
        return "output name=\"Two\" channels=2 sink=memory pacing=stepped\n"
               "output name=\"Four\" channels=4 caps=4 sink=memory pacing=stepped\n";
    }

    void SetUp() override {
        EngineOnTable::SetUp();
        // Left a 441 Hz sine of amplitude 0.5, right silent: each device channel shows at once
        // whether the left, the right or nothing reached it.
        path_ = file("left.wav");
        ASSERT_TRUE(deck_test::writeWav(path_, 44100, 2, 16, 44100 * 20, [](long f, int c) {
            return c == 0 ? static_cast<float>(0.5 * std::sin(2 * M_PI * 441.0 * f / 44100.0)) : 0.0f;
        }));
    }

    // Loads by hand (loading belongs to the transport side) and starts the deck.
    void load(CPlayer& deck, int mainSlot, int cueSlot, const std::string& path = std::string()) {
        DeckConfig* c = deck.GetConfig();
        FMOD::Sound* sound = nullptr;
        ASSERT_EQ(CTKCore::g_SilentSystem->createStream(path.empty() ? path_.c_str() : path.c_str(), FMOD_SOFTWARE | FMOD_CREATESTREAM | FMOD_2D,
                                                        nullptr, &sound),
                  FMOD_OK);
        c->m_pSound = sound;
        c->m_iMainOutput = mainSlot;
        c->m_iCueOutput = cueSlot;
        ++CTKCore::g_SystemsUseCount[mainSlot];
        ASSERT_EQ(c->m_pMainOutput->Init(mainSlot, 0, sound, true), 1);
        ASSERT_EQ(c->m_pCueOutput->Init(cueSlot, 1, nullptr, false), 1);
        ASSERT_EQ(c->m_pMainOutput->ActivateMonitoring(), 1);
        c->m_pMainOutput->Play(true);
    }

    // The main output on card "Four"'s front pair, the cue on card "Two": the tap carries the audio.
    void loadAcrossCards(CPlayer& deck) {
        const int mainSlot = deck_test::findSlot("Four", 1), cueSlot = deck_test::findSlot("Two", 0);
        ASSERT_GE(mainSlot, 0);
        ASSERT_GE(cueSlot, 0);
        load(deck, mainSlot, cueSlot);
    }

    // Samples waiting in the tap's ring for the cue's reader.
    static unsigned ringUsed(MonitorTap* tap) {
        tap->ring->LockMutex();
        const unsigned n = tap->ring->_GetUsedBufferSizeForward();
        tap->ring->UnlockMutex();
        return n;
    }

    // Lets `blocks` blocks through the card with the deck's render worker kept ahead.
    bool run(CPlayer& deck, const std::string& card, unsigned blocks) {
        return deck_test::stepCard(deck_test::renderChannel(deck), card, blocks);
    }

    std::string path_;
};

// RMS of the 0.5 sine at level v: v * 0.5 / sqrt(2).
double sineRms(double level) { return level * 0.5 / std::sqrt(2.0); }

TEST_F(DeckPath, SameCardCueRoutesTheMainChannelToItsOwnPair) {
    const int front = deck_test::findSlot("Four", 1), rear = deck_test::findSlot("Four", 2);
    ASSERT_GE(front, 0);
    ASSERT_GE(rear, 0);
    CPlayer deck(0);
    load(deck, front, rear);
    CMonitor* main = deck.GetConfig()->m_pMainOutput;
    CMonitor* cue = deck.GetConfig()->m_pCueOutput;
    EXPECT_TRUE(cue->isSameSystemMode());
    EXPECT_EQ(cue->GetChannelObject(), nullptr);  // no second channel on the card

    struct Step {
        float mainVolume, cueVolume;
        bool cueMute;
        double front, rear;  // expected RMS of the left speakers (quad: FL is 0, BL is 2)
    };
    const Step steps[] = {
        {1.0f, 0.5f, false, sineRms(1.0), sineRms(0.5)},
        {0.5f, 0.5f, false, sineRms(0.5), sineRms(0.5)},  // the rear pair keeps its level
        {0.5f, 0.5f, true, sineRms(0.5), 0.0},
        {0.0f, 0.8f, false, 0.0, sineRms(0.8)},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(std::to_string(s.mainVolume) + "/" + std::to_string(s.cueVolume) + (s.cueMute ? " muted" : ""));
        main->SetVolume(s.mainVolume);
        cue->SetMute(s.cueMute);
        cue->SetVolume(s.cueVolume);
        ASSERT_TRUE(run(deck, "Four", 4));
        hooks::clearReceived("Four");
        ASSERT_TRUE(run(deck, "Four", 8));
        const std::vector<double> r = deck_test::channelRms("Four");
        ASSERT_EQ(r.size(), 4u);
        EXPECT_NEAR(r[0], s.front, 0.02);
        EXPECT_NEAR(r[2], s.rear, 0.02);
        EXPECT_LT(r[1], 1e-3);  // the silent right input stays silent on both pairs
        EXPECT_LT(r[3], 1e-3);
    }
    EXPECT_EQ(deck.Unload(), 1);
}

TEST_F(DeckPath, PanMovesTheMainOutputBetweenItsSpeakers) {
    const int slot = deck_test::findSlot("Two", 0);
    ASSERT_GE(slot, 0);
    CPlayer deck(0);
    load(deck, slot, slot);
    CMonitor* main = deck.GetConfig()->m_pMainOutput;
    main->SetVolume(1.0f);
    main->SetPan(1.0f);  // full right: the left input is scaled away inside the channel
    ASSERT_TRUE(run(deck, "Two", 4));
    hooks::clearReceived("Two");
    ASSERT_TRUE(run(deck, "Two", 8));
    const std::vector<double> right = deck_test::channelRms("Two");
    main->SetPan(0.0f);
    ASSERT_TRUE(run(deck, "Two", 4));
    hooks::clearReceived("Two");
    ASSERT_TRUE(run(deck, "Two", 8));
    const std::vector<double> centre = deck_test::channelRms("Two");
    ASSERT_EQ(right.size(), 2u);
    ASSERT_EQ(centre.size(), 2u);
    EXPECT_LT(right[0], centre[0] * 0.1);
    EXPECT_GT(centre[0], sineRms(0.5));
    EXPECT_EQ(deck.Unload(), 1);
}

TEST_F(DeckPath, CueOnAnotherCardPlaysTheTappedAudioAndNeverLagsAQuarterSecond) {
    CPlayer deck(0);
    loadAcrossCards(deck);
    ASSERT_FALSE(HasFatalFailure());
    CMonitor* main = deck.GetConfig()->m_pMainOutput;
    CMonitor* cue = deck.GetConfig()->m_pCueOutput;
    ASSERT_NE(cue->GetChannelObject(), nullptr);
    EXPECT_FALSE(cue->isSameSystemMode());
    main->SetVolume(1.0f);
    cue->SetVolume(0.5f);

    // The main card runs far ahead of the cue card (two clocks that drift).
    ASSERT_TRUE(run(deck, "Four", 200));
    hooks::clearReceived("Two");
    // Two blocks: a stepped card may have mixed its next block before it was let through, so
    // only the second one is certain to have been read after the main card ran ahead.
    ASSERT_TRUE(hooks::step("Two", 2));
    MonitorTap* tap = main->getTap();
    ASSERT_NE(tap, nullptr);
    const unsigned behind = ringUsed(tap);
    const int channels = tap->channels.load();
    ASSERT_GT(channels, 0);
    // What is left is at most a quarter second (plus a block) of audio.
    EXPECT_LE(behind / static_cast<unsigned>(channels), 44100u / 4u + 4096u);

    // The cue card hears the deck's left channel on its left speaker at the cue volume.
    for (int i = 0; i < 8; ++i) {
        ASSERT_TRUE(run(deck, "Four", 1));
        ASSERT_TRUE(hooks::step("Two", 1));
    }
    hooks::clearReceived("Two");
    for (int i = 0; i < 8; ++i) {
        ASSERT_TRUE(run(deck, "Four", 1));
        ASSERT_TRUE(hooks::step("Two", 1));
    }
    const std::vector<double> r = deck_test::channelRms("Two");
    ASSERT_EQ(r.size(), 2u);
    EXPECT_NEAR(r[0], sineRms(0.5), 0.03);
    EXPECT_LT(r[1], 1e-3);

    cue->SetMute(true);
    ASSERT_TRUE(hooks::step("Two", 2));
    hooks::clearReceived("Two");
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(run(deck, "Four", 1));
        ASSERT_TRUE(hooks::step("Two", 1));
    }
    const std::vector<double> muted = deck_test::channelRms("Two");
    ASSERT_EQ(muted.size(), 2u);
    EXPECT_LT(muted[0], 1e-4);
    EXPECT_EQ(deck.Unload(), 1);
}

// A seek empties the cue's ring down to its cushion, and only its reader does it: the Java thread asks, the cue card's
// mixer drops the stale audio before its next block, and the main card's filler never sees the ring
// reset under it. While both cards mix and seeks keep coming, the ring stays whole.
TEST_F(DeckPath, SeeksEmptyTheCueRingFromItsReaderSide) {
    CPlayer deck(0);
    loadAcrossCards(deck);
    ASSERT_FALSE(HasFatalFailure());
    CMonitor* main = deck.GetConfig()->m_pMainOutput;
    MonitorTap* tap = main->getTap();
    ASSERT_NE(tap, nullptr);
    auto used = [&] { return ringUsed(tap); };
    ASSERT_TRUE(run(deck, "Four", 20));
    const unsigned stale = used();
    ASSERT_GT(stale, 0u);
    EXPECT_EQ(main->ClearMonitoring(), 1);
    // Asked, not done: the ring is the reader's. (The main card may still add the block it mixed
    // ahead of its last step.)
    EXPECT_GE(used(), stale);
    const unsigned block = static_cast<unsigned>(tap->length.load() * tap->channels.load());
    // Two blocks: the cue card may have mixed its next block before it was let through, so only
    // the second is certain to have been read after the request.
    ASSERT_TRUE(hooks::step("Two", 2));
    // Only the cushion the reader keeps against the two mixers' jitter is left of the stale audio,
    // and the block the main card may have mixed ahead and added since.
    EXPECT_LE(used(), block * static_cast<unsigned>(CMonitor::kCueCushionBlocks + 1));

    // Both cards mixing on their own threads while seeks come from a third.
    std::atomic<bool> stop{false};
    std::thread mainCard([&] { while (!stop) run(deck, "Four", 1); });
    std::thread cueCard([&] { while (!stop) hooks::step("Two", 1); });
    testing::internal::CaptureStdout();
    for (int i = 0; i < 2000; ++i) {
        main->ClearMonitoring();
        if (i % 16 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    stop = true;
    mainCard.join();
    cueCard.join();
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed.find("INTERNAL CLABuffer Error!"), std::string::npos);
    EXPECT_LE(used(), static_cast<unsigned>(CLABuffer<float>::kDefaultSize));
    EXPECT_EQ(used() % static_cast<unsigned>(tap->channels.load()), 0u);  // whole frames only
    EXPECT_EQ(deck.Unload(), 1);
}

TEST_F(DeckPath, CueOnTheMainSlotGetsItsOwnChannelThere) {
    const int slot = deck_test::findSlot("Two", 0);
    ASSERT_GE(slot, 0);
    CPlayer deck(0);
    load(deck, slot, slot);
    CMonitor* cue = deck.GetConfig()->m_pCueOutput;
    EXPECT_FALSE(cue->isSameSystemMode());
    ASSERT_NE(cue->GetChannelObject(), nullptr);
    const auto chain = hooks::channelChain(cue->GetChannelObject());
    ASSERT_FALSE(chain.empty());
    EXPECT_EQ(chain.front(), "MonitorPlayer");
    EXPECT_EQ(deck.Unload(), 1);
    EXPECT_EQ(cue->GetChannelObject(), nullptr);
}

// The level query reads the spectrum of what the deck plays: left and right apart for a stereo
// source, the one channel copied to both for a mono source; nothing without a source.
TEST_F(DeckPath, LevelsFollowTheSourceChannels) {
    const int slot = deck_test::findSlot("Two", 0);
    ASSERT_GE(slot, 0);
    const std::string mono = file("mono.wav");
    ASSERT_TRUE(deck_test::writeWav(mono, 44100, 1, 16, 44100 * 5, [](long f, int) {
        return static_cast<float>(0.5 * std::sin(2 * M_PI * 441.0 * f / 44100.0));
    }));
    struct Case {
        const char* label;
        std::string path;
        int channels;
        bool rightSilent;  // stereo file: only the left channel carries the tone
    };
    const Case cases[] = {{"stereo", path_, 2, true}, {"mono", mono, 1, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        CPlayer deck(0);
        CMonitor* main = deck.GetConfig()->m_pMainOutput;
        std::vector<float> left(512, -1.0f), right(512, -1.0f);
        int channels = 0;
        EXPECT_EQ(main->getLevels(left.data(), right.data(), 512, &channels), -8);  // nothing loaded
        load(deck, slot, slot, c.path);
        main->SetVolume(1.0f);
        ASSERT_TRUE(run(deck, "Two", 16));
        ASSERT_EQ(main->getLevels(left.data(), right.data(), 512, &channels), 1);
        EXPECT_EQ(channels, c.channels);
        const float leftPeak = *std::max_element(left.begin(), left.end());
        const float rightPeak = *std::max_element(right.begin(), right.end());
        EXPECT_GT(leftPeak, 0.01f);
        if (c.rightSilent) {
            EXPECT_LT(rightPeak, leftPeak * 0.01f);
        } else {
            EXPECT_EQ(left, right);
        }
        EXPECT_EQ(deck.Unload(), 1);
        EXPECT_EQ(main->getLevels(left.data(), right.data(), 512, &channels), -8);
    }
}

}  // namespace
