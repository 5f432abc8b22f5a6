// The cue on another card through the tap never drops a block while its deck plays: the two
// cards' mixers take their blocks in either order, as two clocks of their own do, while the deck
// starts, pauses, resumes and jumps for over a minute of audio.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "FMODSystem.h"
#include "Monitor.h"
#include "Player.h"
#include "TKCore.h"
#include "deck_support.h"
#include "fmod_testhooks.hpp"

namespace hooks = pw::testhooks;

namespace {

class CueDropout : public deck_test::EngineOnTable {
protected:
    std::string table() override {
        return "output name=\"Two\" channels=2 sink=memory pacing=stepped\n"
               "output name=\"Four\" channels=4 caps=4 sink=memory pacing=stepped\n";
    }
};

// Runs of at least `minRun` silent frames on channel 0 of `interleaved` (two channels), counted
// from the first sound on unless `fromStart`: a tone that plays throughout has none.
int silentRuns(const std::vector<float>& interleaved, size_t minRun, bool fromStart = false) {
    const size_t frames = interleaved.size() / 2;
    size_t f = 0;
    while (!fromStart && f < frames && std::fabs(interleaved[2 * f]) < 0.01f) ++f;
    int runs = 0;
    size_t run = 0;
    for (; f < frames; ++f) {
        if (std::fabs(interleaved[2 * f]) < 1e-3f) {
            if (++run == minRun) ++runs;
        } else {
            run = 0;
        }
    }
    return runs;
}

TEST_F(CueDropout, CueOnAnotherCardDropsNoBlockThroughStartsResumesAndJumps) {
    const std::string path = file("tone.wav");
    // A -6 dBFS 441 Hz tone on the left, long enough that no jump reaches its end.
    ASSERT_TRUE(deck_test::writeWav(path, 44100, 2, 16, 44100 * 30, [](long f, int c) {
        return c == 0 ? static_cast<float>(0.5 * std::sin(2 * M_PI * 441.0 * f / 44100.0)) : 0.0f;
    }));
    const int mainSlot = deck_test::findSlot("Four", 1), cueSlot = deck_test::findSlot("Two", 0);
    ASSERT_GE(mainSlot, 0);
    ASSERT_GE(cueSlot, 0);
    CPlayer deck(0);
    DeckConfig* c = deck.GetConfig();
    FMOD::Sound* sound = nullptr;
    ASSERT_EQ(CTKCore::g_SilentSystem->createStream(path.c_str(), FMOD_SOFTWARE | FMOD_CREATESTREAM | FMOD_2D, nullptr,
                                                    &sound),
              FMOD_OK);
    c->m_pSound = sound;
    c->m_uiLength = 30000;
    c->m_iMainOutput = mainSlot;
    c->m_iCueOutput = cueSlot;
    ++CTKCore::g_SystemsUseCount[mainSlot];
    ASSERT_EQ(c->m_pMainOutput->Init(mainSlot, 0, sound, true), 1);
    ASSERT_EQ(c->m_pCueOutput->Init(cueSlot, 1, nullptr, false), 1);
    ASSERT_EQ(c->m_pMainOutput->ActivateMonitoring(), 1);
    c->m_pMainOutput->SetVolume(1.0f);
    c->m_pCueOutput->SetVolume(1.0f);
    TimeStretchedChannel* channel = deck_test::renderChannel(deck);

    std::mt19937 random(52);
    // One block of each card, in the order the two clocks happen to give.
    // (A paused deck's ring never fills: its card is let through without waiting for it.)
    auto tick = [&](bool playing) {
        auto mainCard = [&] {
            return playing ? deck_test::stepCard(channel, "Four", 1) : hooks::step("Four", 1);
        };
        if (random() % 2) return mainCard() && hooks::step("Two", 1);
        return hooks::step("Two", 1) && mainCard();
    };
    enum Event { kStart, kResume, kJump };
    const char* names[] = {"start", "resume", "jump"};
    int drops[3] = {0, 0, 0}, events[3] = {0, 0, 0};
    unsigned blocks = 0;
    Event event = kStart;
    while (blocks < 2800) {  // 1024-frame blocks: over a minute of audio
        SCOPED_TRACE(std::to_string(blocks));
        if (event == kJump) {
            ASSERT_EQ(deck.SetPosition(static_cast<int>(random() % 25000), true), 1);
        } else {
            if (event == kStart) {
                ASSERT_EQ(deck.SetPosition(0, true), 1);
            }
            c->m_pMainOutput->Play(true);
        }
        ++events[event];
        hooks::clearReceived("Two");
        hooks::clearReceived("Four");
        const unsigned stretch = 20 + random() % 40;
        for (unsigned i = 0; i < stretch; ++i) ASSERT_TRUE(tick(true));
        blocks += stretch;
        // A jump may cost the main output a block while the deck re-renders, which the cue,
        // a cushion behind, hears after the jump's first frames: the cue only must drop none of
        // its own.
        const std::vector<float> fourChannels = hooks::received("Four");
        std::vector<float> front;
        for (size_t f = 0; f + 3 < fourChannels.size(); f += 4) {
            front.push_back(fourChannels[f]);
            front.push_back(fourChannels[f + 1]);
        }
        const int own = silentRuns(hooks::received("Two"), 128) - silentRuns(front, 128, event == kJump);
        if (own > 0) drops[event] += own;
        const unsigned next = random() % 3;
        event = static_cast<Event>(next);
        if (event != kJump) {
            c->m_pMainOutput->Play(false);
            for (int i = 0; i < 16; ++i) ASSERT_TRUE(tick(false));
        }
    }
    for (int e = 0; e < 3; ++e) {
        EXPECT_GT(events[e], 5) << names[e];
        EXPECT_EQ(drops[e], 0) << names[e] << ": " << drops[e] << " dropped blocks in " << events[e];
    }
    EXPECT_EQ(deck.Unload(), 1);
}

}  // namespace
