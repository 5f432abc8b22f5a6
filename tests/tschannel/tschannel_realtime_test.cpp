// The mixer thread never waits for a lock and never allocates in the channel's callback. This
// executable counts every allocation made while the mixer-thread mark is set
// (mixer_allocations.cpp), and CritSect counts every Enter that had to wait on a marked thread.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "MixerThread.h"
#include "TKCore.h"
#include "mixer_allocations.h"
#include "temp_dir.hpp"
#include "tschannel_rig.h"

using namespace tsc_test;

namespace {

// The open mode of a deck's file (a decoded sound on the silent system).
constexpr FMOD_MODE kDeckFileMode = 0xC0CA;

class MixerRealtime : public ChannelFixture {};

}  // namespace

// Direct rendering (the ring bypassed, as while a channel is torn down) runs the stretcher on the
// mixer thread. Tempo changes across the deck's whole range, in both directions, must find the
// stretcher's queues already grown, at every stretcher quality; the tone keeps its pitch.
TEST_F(MixerRealtime, TempoChangesWhileTheMixerRendersAllocateNothing) {
    struct Segment {
        float factor;
        bool measure;  // a tempo at which a 440 Hz tone is measured after the change settles
    };
    const std::vector<Segment> segments = {{1.0f, false}, {0.5f, true},  {20.0f, false}, {0.8f, true},
                                           {1.25f, true}, {20.0f, false}, {0.5f, false}, {1.0f, true},
                                           {3.0f, false}, {0.5f, true},   {1.0f, false}};
    constexpr unsigned int kBlocksPerSegment = 24;
    constexpr unsigned int kSettleBlocks = 8;
    const unsigned int defaultQuality = CTKCore::g_uiTimeStretcherQuality;
    for (unsigned int quality : {defaultQuality, 0u, 1u, 2u}) {
        SCOPED_TRACE(testing::Message() << "stretcher quality " << quality);
        CTKCore::g_uiTimeStretcherQuality = quality;
        channel.reset();
        open(makeTone(440.0, 120 * kRate));
        CTKCore::g_uiTimeStretcherQuality = defaultQuality;
        channel->setPaused(false);
        const uint64_t allocationsBefore = mixerAllocations();
        const uint64_t waitsBefore = pw::rt::mixerLockWaits();
        for (const Segment& segment : segments) {
            SCOPED_TRACE(testing::Message() << "tempo factor " << segment.factor);
            channel->setTimeStretch(segment.factor, false);
            rig.clearReceived();
            ASSERT_TRUE(rig.play(*channel, kBlocksPerSegment));
            if (!segment.measure) continue;
            const std::vector<float> out = rig.received();
            EXPECT_NEAR(
                measureFrequency(out, kSettleBlocks * kBlock, (kBlocksPerSegment - kSettleBlocks) * kBlock), 440.0,
                3.0);
        }
        EXPECT_EQ(mixerAllocations() - allocationsBefore, 0u);
        EXPECT_EQ(pw::rt::mixerLockWaits() - waitsBefore, 0u);
    }
}

// A DJ scratching an MP3 (the vinyl step on every mixer block, new targets and position polls
// from a control thread) while another thread seeks it, so the prefetch worker seeks and decodes
// all along. The card is stepped back to back: the mixer is nearly always inside the callback.
TEST(MixerRealtimeMp3, ScratchingWhileAnotherThreadSeeksNeverWaitsOrAllocates) {
    pw::test::TempDir dir;
    const std::string path = dir.file("scratch.mp3");
    const std::string make = "sox -n -r 44100 -c 2 " + path + " synth 20 sine 440 >/dev/null 2>&1";
    ASSERT_EQ(std::system(make.c_str()), 0) << make;
    FMOD::Sound* sound = nullptr;
    ASSERT_EQ(decodingSystem()->createSound(path.c_str(), kDeckFileMode, nullptr, &sound), FMOD_OK);

    OutputRig rig(false, false);
    ASSERT_TRUE(rig.ok());
    auto channel = std::make_unique<TimeStretchedChannel>(rig.system(), sound, true);
    ASSERT_NE(channel->getFMODChannel(), nullptr);
    channel->enableVirtualVinyl(true);
    channel->setPaused(false);

    const uint64_t allocationsBefore = mixerAllocations();
    const uint64_t waitsBefore = pw::rt::mixerLockWaits();
    FreeRunningCard card;
    std::atomic<bool> finished{false};
    std::thread seeker([&] {
        for (unsigned int k = 0; !finished.load(std::memory_order_acquire); ++k) {
            channel->setPosition((k * 7919u) % 18000u, FMOD_TIMEUNIT_MS);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    // The hand on the platter: back and forth around the play position, polling it like the UI,
    // until both the moves and the mixer's blocks are done (however slow either thread runs).
    constexpr int kMoves = 400;
    constexpr unsigned int kBlocks = 400;
    for (int i = 0; (i < kMoves || card.blocks() < kBlocks) && !card.stalled(); ++i) {
        unsigned int ms = 0;
        channel->getPosition(&ms, FMOD_TIMEUNIT_MS, true);
        const long target = static_cast<long>(ms) + ((i / 8) % 2 ? -300 : 300);
        channel->setVirtualVelocity(target < 0 ? 0 : target, 0.02);
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    finished.store(true, std::memory_order_release);
    seeker.join();
    card.stop();
    ASSERT_FALSE(card.stalled());
    EXPECT_EQ(pw::rt::mixerLockWaits() - waitsBefore, 0u);
    EXPECT_EQ(mixerAllocations() - allocationsBefore, 0u);
    channel.reset();
    sound->release();
}
