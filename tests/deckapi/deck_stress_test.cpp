// Eight threads drive four decks through the engine's entry points at random for a minute (or
// PW_STRESS_SECONDS): loads and unloads, transport, seeks, loops, frame search, tempo, effects,
// levels and tone, also with arguments out of range. Nothing may crash or deadlock; a watchdog
// aborts the run when one call does not return for 30 s, since a deadlocked thread can no longer
// be joined. The card runs in real time and discards what it gets.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "PlayerList.h"
#include "TKCore.h"
#include "deck_support.h"

namespace {

constexpr int kThreads = 8;
constexpr int kDecks = 4;
constexpr int kDefaultSeconds = 60;
constexpr std::chrono::seconds kHungCall(30);

int stressSeconds() {
    const char* text = std::getenv("PW_STRESS_SECONDS");
    if (!text || !*text) return kDefaultSeconds;
    const int seconds = std::atoi(text);
    return seconds > 0 ? seconds : kDefaultSeconds;
}

using Clock = std::chrono::steady_clock;

// When each thread's current call began (0: between calls), and which operation it is.
struct Progress {
    std::atomic<int64_t> since{0};
    std::atomic<int> op{-1};
};

class DeckApiStress : public deck_test::EngineOnTable {
protected:
    std::string table() override {
        return "output name=\"Card1\" channels=2 sink=discard pacing=realtime\n"
               "output name=\"Card2\" channels=2 sink=discard pacing=realtime\n"
               "record name=\"Line In\" input=sine:1000\n";
    }

    void SetUp() override {
        EngineOnTable::SetUp();
        ASSERT_EQ(initResult_, 1);
        slots_ = {deck_test::findSlot("Card1", 0), deck_test::findSlot("Card2", 0)};
        ASSERT_GE(slots_[0], 0);
        ASSERT_GE(slots_[1], 0);
        for (int i = 0; i < 3; ++i) {
            const std::string path = file("song" + std::to_string(i) + ".wav");
            const double hz = 220.0 * (i + 1);
            ASSERT_TRUE(deck_test::writeWav(path, 44100, 2, 16, 44100L * (4 + 3 * i), [hz](long f, int) {
                return static_cast<float>(0.4 * std::sin(2 * M_PI * hz * f / 44100.0));
            }));
            sources_.push_back(path);
        }
        sources_.push_back("record://0");
        sources_.push_back(file("missing.wav"));
    }

    // The operations, each with its arguments drawn from the generator.
    std::vector<std::function<void(std::mt19937&, int)>> operations() {
        auto pick = [](std::mt19937& g, int low, int high) { return std::uniform_int_distribution<int>(low, high)(g); };
        return {
            [this, pick](std::mt19937& g, int d) {
                std::string name = sources_[static_cast<size_t>(pick(g, 0, static_cast<int>(sources_.size()) - 1))];
                const int slot = slots_[static_cast<size_t>(pick(g, 0, 1))];
                t_core.Load(d, name.data(), slot, slots_[0], false);
            },
            [](std::mt19937&, int d) { t_core.Unload(d); },
            [pick](std::mt19937& g, int d) { t_core.Play(d, pick(g, 0, 3) != 0); },
            [](std::mt19937&, int d) { t_core.Stop(d); },
            [pick](std::mt19937& g, int d) { t_core.SetPosition(d, pick(g, -1000, 20000)); },
            [](std::mt19937&, int d) { t_core.GetPosition(d); },
            [pick](std::mt19937& g, int d) {
                const int start = pick(g, 0, 8000);
                t_core.SetLoopPoints(d, start, start + pick(g, -100, 2000));
            },
            [pick](std::mt19937& g, int d) { t_core.SetLoop(d, pick(g, 0, 1) != 0, false); },
            [](std::mt19937&, int d) { t_core.IsLooping(d); },
            [pick](std::mt19937& g, int d) { t_core.FrameSearchForward(d, pick(g, 0, 2000)); },
            [pick](std::mt19937& g, int d) { t_core.FrameSearchBackward(d, pick(g, 0, 2000)); },
            [pick](std::mt19937& g, int d) { t_core.SetFrameSearchLength(d, static_cast<unsigned>(pick(g, 0, 500))); },
            [pick](std::mt19937& g, int d) { t_core.SetTimeStretcher(d, pick(g, -100, 10100)); },
            [pick](std::mt19937& g, int d) { t_core.SetFrequencyPitch(d, pick(g, -500, 11000)); },
            [pick](std::mt19937& g, int d) { t_core.SetFrequencyPitchEx(d, pick(g, -200, 200)); },
            [pick](std::mt19937& g, int d) { t_core.SetIsReverse(d, pick(g, 0, 1) != 0); },
            [pick](std::mt19937& g, int d) {
                t_core.SetEqLow(d, pick(g, 0, 10000));
                t_core.SetEqMid(d, pick(g, 0, 10000));
                t_core.SetEqHigh(d, pick(g, 0, 10000));
            },
            [](std::mt19937&, int d) { (void)(t_core.GetEqLow(d) + t_core.GetEqMid(d) + t_core.GetEqHigh(d)); },
            [pick](std::mt19937& g, int d) {
                t_core.SetVolume(d, pick(g, -10, 10010));
                t_core.SetVolumeMonitor(d, pick(g, 0, 10000));
            },
            [pick](std::mt19937& g, int d) {
                t_core.SetGain(d, pick(g, -10, 10010));
                t_core.SetPan(d, pick(g, -10, 10010));
            },
            [pick](std::mt19937& g, int d) {
                t_core.SetMute(d, pick(g, 0, 1) != 0);
                t_core.SetMuteMonitor(d, pick(g, 0, 1) != 0);
            },
            [pick](std::mt19937& g, int d) { t_core.SetEcho(d, pick(g, 0, 1) != 0, 200, 0.4, 1.0, 0.5); },
            [pick](std::mt19937& g, int d) { t_core.SetFlanger(d, pick(g, 0, 1) != 0, 0.45, 0.55, 1.0, 0.1); },
            [pick](std::mt19937& g, int d) {
                t_core.SetCutOff(d, pick(g, -10, 10010));
                t_core.EnableLowPass(d, pick(g, 0, 1) != 0);
                t_core.SetHighPassResonance(d, pick(g, 0, 10000));
                t_core.EnableHighPass(d, pick(g, 0, 1) != 0);
            },
            [](std::mt19937&, int d) {
                unsigned int levels[2];
                t_core.GetLevels(d, levels);
            },
            [](std::mt19937&, int d) {
                char note[8];
                t_core.GetTone(d, note);
            },
            [](std::mt19937&, int d) { (void)(t_core.GetLength(d) + t_core.IsPlaying(d) + t_core.GetVolume(d)); },
            [pick](std::mt19937& g, int) { t_core.EnableNormalizer(pick(g, 0, 1) != 0); },
            [](std::mt19937&, int) { t_core.SetNormalizer(500.0f, 0.1f, 10.0f); },
            [pick](std::mt19937& g, int d) {
                t_core.enableVirtualVinyl(d, pick(g, 0, 1) != 0);
                t_core.setVirtualVelocity(d, pick(g, -1000, 30000), 0.05);
            },
            [pick](std::mt19937& g, int d) { t_core.setVirtualVTMode(d, pick(g, 0, 2) * 0.5); },
            [pick](std::mt19937& g, int d) {
                t_core.AddPlaybackSnippet(d, static_cast<unsigned>(pick(g, 0, 3000)), static_cast<unsigned>(pick(g, 0, 6000)));
            },
            [](std::mt19937&, int d) { t_core.GetBPM(d); },
        };
    }

    std::array<int, 2> slots_{};
    std::vector<std::string> sources_;
};

TEST_F(DeckApiStress, EightThreadsOnFourDecksNeitherCrashNorDeadlock) {
    const auto ops = operations();
    const auto end = Clock::now() + std::chrono::seconds(stressSeconds());
    std::array<Progress, kThreads> progress;
    std::atomic<bool> done{false};
    std::atomic<long> calls{0};

    std::thread watchdog([&] {
        while (!done.load(std::memory_order_acquire)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            const int64_t now = Clock::now().time_since_epoch().count();
            for (int t = 0; t < kThreads; ++t) {
                const int64_t since = progress[static_cast<size_t>(t)].since.load(std::memory_order_acquire);
                if (since != 0 && Clock::duration(now - since) > kHungCall) {
                    // A deadlocked thread cannot be joined: report and end the process.
                    std::fprintf(stderr, "thread %d hangs in operation %d for %lld s\n", t,
                                 progress[static_cast<size_t>(t)].op.load(),
                                 static_cast<long long>(kHungCall.count()));
                    std::fflush(stderr);
                    std::abort();
                }
            }
        }
    });

    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            std::mt19937 generator(static_cast<unsigned>(1234 + t));
            std::uniform_int_distribution<size_t> whichOp(0, ops.size() - 1);
            // Mostly the four decks, now and then an index that names no deck.
            std::uniform_int_distribution<int> whichDeck(-1, kDecks);
            Progress& mine = progress[static_cast<size_t>(t)];
            while (Clock::now() < end) {
                const size_t op = whichOp(generator);
                int deck = whichDeck(generator);
                if (deck == kDecks) deck = CPlayerList::kMaxDeckIndex + 1;
                mine.op.store(static_cast<int>(op), std::memory_order_relaxed);
                mine.since.store(Clock::now().time_since_epoch().count(), std::memory_order_release);
                ops[op](generator, deck);
                mine.since.store(0, std::memory_order_release);
                calls.fetch_add(1, std::memory_order_relaxed);
            }
        });
    }
    for (std::thread& w : workers) w.join();
    done.store(true, std::memory_order_release);
    watchdog.join();
    EXPECT_GT(calls.load(), 0);
    RecordProperty("calls", static_cast<int>(calls.load()));

    // Only the four decks came into being, and the engine still plays afterwards.
    EXPECT_EQ(CPlayerList::getInstance()->count(), kDecks);
    for (int d = 0; d < kDecks; ++d) EXPECT_EQ(t_core.Unload(d), 1) << d;
    std::string song = sources_[2];
    ASSERT_EQ(t_core.Load(0, song.data(), slots_[0], slots_[0], false), 1);
    EXPECT_EQ(t_core.SetTimeStretcher(0, 5000), 1);
    EXPECT_EQ(t_core.SetFrequencyPitch(0, 5000), 1);
    EXPECT_EQ(t_core.SetIsReverse(0, false), 1);
    EXPECT_EQ(t_core.SetLoop(0, false, false), 1);
    EXPECT_EQ(t_core.Play(0, true), 1);
    int position = 0;
    for (int i = 0; i < 500 && position <= 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        position = t_core.GetPosition(0);
    }
    EXPECT_GT(position, 0);
    EXPECT_EQ(t_core.Unload(0), 1);
}

}  // namespace
