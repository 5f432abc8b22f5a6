// One thread moves the master bus (bands added and switched, gain, normaliser factor, volume,
// level reads) while the test thread loads and unloads decks (each load refreshes the bus) and
// restarts samples, with a deck and a looping sample playing on two real-time virtual cards. Run
// under ThreadSanitizer; afterwards every card still holds one unit per band.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "PlayerList.h"
#include "TKCore.h"
#include "deck_support.h"
#include "device_table_file.hpp"

namespace {

constexpr int kRate = 44100;

class MasterThreads : public deck_test::EngineOnTable {
protected:
    std::string table() override {
        return "output name=\"Card1\" channels=2 sink=discard pacing=realtime\n"
               "output name=\"Card2\" channels=4 sink=discard pacing=realtime\n";
    }
};

TEST_F(MasterThreads, MovingTheBusWhileDecksAndSamplesPlay) {
    const std::string tone = file("tone.wav");
    ASSERT_TRUE(deck_test::writeWav(tone, kRate, 2, 16, kRate * 4L, [](long f, int) {
        return static_cast<float>(0.3 * std::sin(2 * M_PI * 440.0 * static_cast<double>(f) / kRate));
    }));
    std::vector<char> path(tone.begin(), tone.end());
    path.push_back('\0');
    const int card1 = deck_test::findSlot("Card1", 0);
    const int card2front = deck_test::findSlot("Card2", 1);
    ASSERT_GE(card1, 0);
    ASSERT_GE(card2front, 0);

    ASSERT_EQ(t_core.Load(1, path.data(), card1, card1, false), 1);
    ASSERT_EQ(t_core.Play(1, true), 1);
    ASSERT_EQ(t_core.SetupSampler(card2front), 1);
    ASSERT_EQ(t_core.LoadSample(3, path.data(), false, false), 1);
    ASSERT_EQ(t_core.SetSampleMode(3, true), 1);
    ASSERT_EQ(t_core.PlaySample(3, false), 1);

    std::atomic<bool> stop{false};
    std::atomic<int> moves{0};
    std::thread mover([&] {
        unsigned int levels[2];
        for (int i = 0; !stop.load(); ++i) {
            const int added = t_core.AddMasterEq(200.0f + 100.0f * static_cast<float>(i % 40), 1.0f);
            EXPECT_TRUE(added == 1 || added == -13) << added;
            CTKCore::SetMasterEq(i % 8, 2500 + (i * 733) % 7500, i % 3 != 0);
            t_core.SetMasterGain(4000 + (i * 311) % 4000);
            t_core.SetNormalizerGain(0.5f + static_cast<float>(i % 4) * 0.25f);
            t_core.SetMasterVolume(6000 + (i * 97) % 4000);
            t_core.GetMasterLevels(levels, 1.0f);
            moves.fetch_add(1);
        }
    });

    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    int rounds = 0;
    for (; std::chrono::steady_clock::now() < end; ++rounds) {
        EXPECT_EQ(t_core.Load(2, path.data(), card2front, card2front, false), 1);
        EXPECT_EQ(t_core.Play(2, true), 1);
        EXPECT_EQ(t_core.EnableNormalizer(rounds % 2 == 0), 1);
        EXPECT_EQ(t_core.PlaySample(3, false), 1);
        EXPECT_EQ(t_core.SetSampleVolume(3, 3000 + rounds % 7000), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(t_core.Unload(2), 1);
    }
    stop = true;
    mover.join();
    EXPECT_GT(moves.load(), 0);
    EXPECT_GT(rounds, 0);

    // Band b means the same band on every card.
    const size_t bands = g_masterEQValues->size();
    EXPECT_EQ(bands, static_cast<size_t>(kTKMasterEqBands));
    for (int first = 0; first < CTKCore::g_soundcardcount;) {
        const int last = masterCardRunLast(first);
        EXPECT_EQ(g_masterEQList[last].size(), bands) << "card run ending at slot " << last;
        first = last + 1;
    }
    EXPECT_EQ(t_core.UnloadSample(3), 1);
    EXPECT_EQ(t_core.Unload(1), 1);
    t_core.SetMasterGain(5000);
    t_core.SetMasterVolume(10000);
    t_core.SetNormalizerGain(1.0f);
    t_core.EnableNormalizer(false);
}

}  // namespace
