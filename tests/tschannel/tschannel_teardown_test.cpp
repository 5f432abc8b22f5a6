// Deleting or stopping a channel while the mixer runs its vinyl step: the step takes the channel
// lock inside the "Player" callback, and stopping the audio-layer channel waits for that callback.
// The card is stepped back to back by a thread of its own, so a callback is nearly always in
// progress when the channel goes. A hang shows as the card no longer taking blocks.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "tschannel_rig.h"

using namespace tsc_test;

namespace {

// Under ThreadSanitizer a round costs about a third of a second (every channel allocates,
// zeroes and frees its 16 MB prefetch ring, all of it shadowed, while the card mixes as fast as
// it can): 1000 rounds would not fit the sanitizer run's time limit on a loaded machine.
#if defined(__SANITIZE_THREAD__)
constexpr int kRounds = 300;
#else
constexpr int kRounds = 1000;
#endif

// Waits (bounded) until the mixer has made a vinyl step on the channel: with a target ahead that
// asks for less than the top speed, every step moves the smoothed speed.
void waitForVinylStep(TimeStretchedChannel& channel, double startSpeed) {
    for (int spins = 0; channel.getCurrentSpeed() == startSpeed && spins < 20000; ++spins) std::this_thread::yield();
}

}  // namespace

TEST(ChannelTeardown, DeleteOrStopWhileTheVinylStepRunsNeverHangs) {
    OutputRig rig(false, false);
    ASSERT_TRUE(rig.ok());
    std::unique_ptr<GeneratedSound> source(makeTone(440.0, 5 * kRate));
    ASSERT_TRUE(source->ok());

    FreeRunningCard card;

    std::atomic<int> rounds{0};
    std::atomic<int> stepped{0};
    std::thread control([&] {
        for (int i = 0; i < kRounds; ++i) {
            auto* channel = new TimeStretchedChannel(rig.system(), source->get(), true);
            channel->enableVirtualVinyl(true);
            channel->setPaused(false);
            // A target 2 s ahead: the steps chase it (a few times normal speed) and take the
            // channel lock every block. The setter makes the first step; the next is the mixer's.
            channel->setVirtualVelocity(2000, 1.0);
            const double start = channel->getCurrentSpeed();
            waitForVinylStep(*channel, start);
            if (channel->getCurrentSpeed() != start) stepped.fetch_add(1, std::memory_order_relaxed);
            if (i % 2) channel->stop();
            delete channel;
            rounds.fetch_add(1, std::memory_order_release);
        }
    });

    while (rounds.load(std::memory_order_acquire) < kRounds) {
        if (card.stalled()) {
            // The control thread is stuck in the teardown and cannot be joined.
            std::fprintf(stderr, "deadlock: the mixer stopped after %d of %d teardowns\n",
                         rounds.load(), kRounds);
            std::fflush(stderr);
            std::abort();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    control.join();
    card.stop();
    EXPECT_FALSE(card.stalled());
    EXPECT_EQ(rounds.load(), kRounds);
    // The race was real: most channels went while the mixer was stepping their vinyl.
    EXPECT_GT(stepped.load(), kRounds / 2);
}
