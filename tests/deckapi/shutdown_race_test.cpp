// Shutdown while other threads are inside the engine: three threads drive two decks and read the
// master meters, one opens, measures, analyses and closes sound files, one plays the sampler, while the main thread cycles shutdown and start-up 200 times
// (loading both decks after each start-up, see kLoadEvery). Shutdown must wait for the calls under
// way and refuse new ones, so no deck, sound or system is freed under a call. Run under the
// AddressSanitizer and ThreadSanitizer builds, a use after free or a data race fails the run; here
// the answers are checked to be only those of a started or a stopped engine.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "PlayerList.h"
#include "StatusCodes.h"
#include "TKCore.h"
#include "deck_support.h"

namespace {

constexpr int kCycles = 200;
constexpr int kEmptySamplerSlot = -24;
constexpr int kDecks = 2;
// Loading the decks is the dearest step of a cycle; under the thread sanitizer (some twenty times
// slower) the decks are loaded after every eighth start-up only, so the run stays within minutes.
// The calls go on through every cycle: they reach loaded decks in those cycles, and decks their own
// calls created in the others.
#if defined(__SANITIZE_THREAD__)
constexpr int kLoadEvery = 8;
#else
constexpr int kLoadEvery = 1;
#endif

class ShutdownRace : public deck_test::EngineOnTable {
protected:
    void SetUp() override {
        EngineOnTable::SetUp();
        ASSERT_EQ(initResult_, 1);
        song_ = file("song.wav");
        ASSERT_TRUE(deck_test::writeWav(song_, 44100, 2, 16, 44100L * 2, [](long f, int) {
            return static_cast<float>(0.4 * std::sin(2 * M_PI * 440.0 * f / 44100.0));
        }));
        slot_ = deck_test::findSlot("Card1", 0);
        ASSERT_GE(slot_, 0);
        CTKCore::g_bDebug = false;
    }

    void loadDecks() {
        for (int d = 0; d < kDecks; ++d) ASSERT_EQ(t_core.Load(d, song_.data(), slot_, slot_, false), 1);
    }

    std::string song_;
    int slot_ = -1;
};

TEST_F(ShutdownRace, CallsDuringShutdownAndStartUpTouchNothingFreed) {
    loadDecks();
    std::atomic<bool> stop{false};
    std::atomic<int> unexpected{0};
    std::atomic<int> firstUnexpected{0};  // the first answer outside its set, for the message
    std::atomic<long> deckCalls{0};
    std::atomic<long> fileCalls{0};
    std::atomic<long> samplerCalls{0};
    auto expect = [&](int result, std::initializer_list<int> allowed) {
        if (std::set<int>(allowed).count(result) != 0) return;
        if (unexpected.fetch_add(1) == 0) firstUnexpected.store(result);
    };

    std::vector<std::thread> callers;
    for (int t = 0; t < 3; ++t) {
        callers.emplace_back([&, t] {
            int value = t;
            while (!stop.load()) {
                const int d = value % kDecks;
                value = (value * 7 + 3) % 10001;
                // Before start-up (and while shutdown runs) these answer as for no deck, or -1; a
                // deck created by the call before its load has no output yet.
                expect(t_core.SetVolume(d, value), {TK_OK, TK_ERR_NO_DECK, TK_ERR_NO_OUTPUT});
                expect(t_core.SetPan(d, value), {TK_OK, TK_ERR_NOT_STARTED});
                const int position = t_core.GetPosition(d);
                if (position < 0 && position != TK_ERR_NOT_STARTED) expect(position, {});
                expect(t_core.SetEqLow(d, value), {TK_OK, TK_ERR_NO_DECK, TK_ERR_FAILED});
                unsigned int levels[2] = {};
                expect(t_core.GetMasterLevels(levels, 1.0f), {TK_OK});
                deckCalls.fetch_add(1);
            }
        });
    }
    callers.emplace_back([&] {
        int64_t stale = 0;
        while (!stop.load()) {
            int64_t handle = 0;
            const int opened = t_core.OpenFile(song_.data(), false, &handle);
            expect(opened, {TK_OK, TK_ERR_NOT_STARTED});
            unsigned int ms = 0;
            if (opened == TK_OK) {
                const int got = t_core.GetSongLength(static_cast<uint64_t>(handle), &ms);
                expect(got, {TK_OK, TK_ERR_NOT_FOUND});
                if (got == TK_OK && ms != 2000) unexpected.fetch_add(1);
                expect(t_core.CloseFile(handle), {TK_OK, TK_ERR_NOT_STARTED, TK_ERR_NOT_FOUND});
            }
            // A handle of an earlier cycle (or closed) is never found again.
            if (stale) expect(t_core.GetSongLength(static_cast<uint64_t>(stale), &ms), {TK_ERR_NOT_FOUND});
            if (opened == TK_OK) stale = handle;
            ms = 0;
            const int calc = t_core.CalcSongLength(song_.data(), &ms, false);
            expect(calc, {TK_OK, TK_ERR_NOT_STARTED});
            if (calc == TK_OK && ms != 2000) unexpected.fetch_add(1);
            unsigned int start = 0, end = 0;
            expect(t_core.CalcSilenceDB(song_.data(), &start, &end, -60.0f, false), {TK_OK, TK_ERR_NOT_STARTED});
            fileCalls.fetch_add(1);
        }
    });

    callers.emplace_back([&] {
        // Slot 0 of the sampler, from this thread only (the sampler's rule): loaded when it is
        // found empty, as after each start-up.
        while (!stop.load()) {
            const int played = t_core.PlaySample(0, false);
            expect(played, {TK_OK, TK_ERR_NO_SYSTEM, kEmptySamplerSlot});
            if (played == kEmptySamplerSlot)
                expect(t_core.LoadSample(0, song_.data(), false, false), {TK_OK, TK_ERR_NOT_STARTED});
            unsigned int ms = 0;
            expect(t_core.GetSamplePosition(0, &ms), {TK_OK, kEmptySamplerSlot});
            expect(t_core.SetSampleVolume(0, 5000), {TK_OK, kEmptySamplerSlot});
            samplerCalls.fetch_add(1);
        }
    });

    for (int cycle = 0; cycle < kCycles; ++cycle) {
        SCOPED_TRACE(cycle);
        t_core.CleanUp();
        ASSERT_FALSE(CPlayerList::initialized.load());
        ASSERT_EQ(t_core.InitPlayer(0, 1, 44100), 1);
        if (cycle % kLoadEvery == 0) loadDecks();
    }
    stop.store(true);
    for (auto& caller : callers) caller.join();
    EXPECT_EQ(unexpected.load(), 0) << "first unexpected answer " << firstUnexpected.load();
    EXPECT_GT(deckCalls.load(), 0);
    EXPECT_GT(fileCalls.load(), 0);
    EXPECT_GT(samplerCalls.load(), 0);
}

}  // namespace
