// Seeks, tempo changes, loop changes, speed and pan from a control thread while the card plays
// the channel; run under ThreadSanitizer. Afterwards the channel still renders and reports a
// position inside the source.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include "tschannel_rig.h"

using namespace tsc_test;

TEST(ChannelConcurrency, ControlCallsWhileRenderingStayConsistent) {
    OutputRig rig;
    ASSERT_TRUE(rig.ok());
    std::unique_ptr<GeneratedSound> source(makeTone(440.0, 30 * kRate));
    ASSERT_TRUE(source->ok());
    auto channel = std::make_unique<TimeStretchedChannel>(rig.system(), source->get(), true);
    ASSERT_TRUE(channel->getFMODChannel());
    channel->setPaused(false);

    std::atomic<bool> stop{false};
    std::atomic<int> calls{0};
    std::thread control([&] {
        unsigned int k = 0;
        while (!stop.load(std::memory_order_acquire)) {
            switch (k++ % 8) {
                case 0: channel->setPosition((k * 733) % 25000, FMOD_TIMEUNIT_MS); break;
                case 1: channel->setTimeStretch(k % 3 == 0 ? 1.0f : 1.0f / 1.1f, true); break;
                case 2: channel->setLoopPoints(5000, FMOD_TIMEUNIT_MS, 6000 + (k % 5) * 100, FMOD_TIMEUNIT_MS); break;
                case 3: channel->setLoopCount(k % 2 ? -1 : 0); break;
                case 4: channel->setPitch(k % 4 == 0 ? -1.0f : 1.0f); break;
                case 5: channel->setPan((k % 5) * 0.25f - 0.5f); break;
                case 6: {
                    unsigned int ms = 0;
                    channel->getPosition(&ms, FMOD_TIMEUNIT_MS, true);
                    channel->flushBuffers();
                    break;
                }
                default: channel->setPaused(k % 16 == 7); break;
            }
            calls.fetch_add(1, std::memory_order_relaxed);
            std::this_thread::yield();
        }
    });
    const bool played = rig.play(*channel, 300, false);
    stop.store(true, std::memory_order_release);
    control.join();
    ASSERT_TRUE(played);
    EXPECT_GT(calls.load(), 8);

    // Settle: forward, plain play, tempo 1.0, then the card must get the tone again.
    channel->setLoopCount(0);
    channel->setPitch(1.0f);
    channel->setPaused(false);
    channel->setTimeStretch(1.0f, false);
    ASSERT_EQ(channel->setPosition(1000, FMOD_TIMEUNIT_MS), FMOD_OK);
    rig.clearReceived();
    ASSERT_TRUE(rig.play(*channel, 60));
    const std::vector<float> out = rig.received();
    EXPECT_NEAR(measureFrequency(out, 10 * 1024, 40 * 1024), 440.0, 1.0);
    unsigned int ms = 0;
    EXPECT_EQ(channel->getPosition(&ms, FMOD_TIMEUNIT_MS, false), FMOD_OK);
    EXPECT_GT(ms, 1000u);
    EXPECT_LT(ms, 3000u);
    channel.reset();
}
