// The running flag of onset picking and beat detection is cleared by another thread (a deck
// stopping its tracker) while the pick is in progress: the run ends early with a prefix of the
// onsets a full run finds, and beat detection still completes on what it has.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "AudioProcessor.h"
#include "BeatTracker.h"
#include "analysis_signals.h"

using analysis_test::analyse;
using analysis_test::clickTrack;

namespace {

TEST(StopFlag, ClearedFromAnotherThreadLeavesAPrefixOfTheOnsets) {
    auto track = clickTrack(125, 60.0, 0.02, 11);
    auto full = analyse(track);
    full->processingFinish(nullptr);
    ASSERT_GT(full->onsets.size(), 50u);

    for (int attempt = 0; attempt < 3; ++attempt) {
        auto p = analyse(track);
        std::atomic<bool> running(true);
        std::atomic<bool> started(false);
        std::thread stopper([&] {
            while (!started.load(std::memory_order_acquire)) std::this_thread::yield();
            running.store(false, std::memory_order_release);
        });
        started.store(true, std::memory_order_release);
        p->processingFinish(&running);
        stopper.join();
        ASSERT_LE(p->onsets.size(), full->onsets.size());
        for (size_t i = 0; i < p->onsets.size(); ++i)
            ASSERT_EQ(p->onsets[i]->time, full->onsets[i]->time) << i;
    }
}

TEST(StopFlag, BeatDetectionCompletesWhenStoppedMidway) {
    auto track = clickTrack(125, 60.0, 0.02, 12);
    auto p = analyse(track);
    std::atomic<bool> running(true);
    std::vector<Event*> beats;
    float bpm = -1.0f;
    BeatTracker tracker;
    std::thread stopper([&] { running.store(false, std::memory_order_release); });
    EXPECT_EQ(tracker.beatTrack(p.get(), bpm, beats, &running, true), 1);
    stopper.join();
    for (size_t i = 1; i < beats.size(); ++i) EXPECT_GT(beats[i]->time, beats[i - 1]->time);
    deleteSyntheticEvents(beats);
}

}  // namespace
