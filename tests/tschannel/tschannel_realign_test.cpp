// The return from stretched play to tempo 1.0: the first direct block restarts the source at the
// heard frame. The direction may already have changed when that block runs (reverse switched on
// right after the tempo, with no block in between); the position must then run the new way from
// the heard frame, never stop.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "tschannel_rig.h"

using namespace tsc_test;

namespace {


class Realign : public ChannelFixture {
protected:
    void open(unsigned int seconds) { ChannelFixture::open(makeTone(440.0, seconds * kRate)); }
};

TEST_F(Realign, DirectionChosenAroundTheReturnToTempoOneIsFollowedFromTheHeardFrame) {
    struct Row {
        const char* label;
        float stretched;      // tempo factor played before the return to 1.0
        bool reverseBefore;   // direction during the stretched play
        bool reverseAfter;    // direction set right after the return, no block in between
        unsigned int gap;     // direct blocks rendered between the return and the direction change
    };
    const Row rows[] = {
        {"slower, forward throughout", 1.0f / 1.2f, false, false, 0},
        {"slower, reverse at the realign", 1.0f / 1.2f, false, true, 0},
        {"faster, reverse at the realign", 1.2f, false, true, 0},
        {"slower, reverse after two direct blocks", 1.0f / 1.2f, false, true, 2},
        {"reverse stretched, forward at the realign", 1.0f / 1.2f, true, false, 0},
        {"reverse throughout", 1.0f / 1.2f, true, true, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        open(30);
        ASSERT_EQ(channel->setPosition(10 * kRate, FMOD_TIMEUNIT_PCM), FMOD_OK);
        ASSERT_EQ(channel->setPitch(row.reverseBefore ? -1.0f : 1.0f), FMOD_OK);
        channel->setPaused(false);
        render(48);
        channel->setTimeStretch(row.stretched, false);
        render(48);
        channel->setTimeStretch(1.0f, false);
        render(row.gap);
        ASSERT_EQ(channel->setPitch(row.reverseAfter ? -1.0f : 1.0f), FMOD_OK);
        const unsigned int before = heardFrame(*channel);
        render(24);
        const double moved = static_cast<double>(heardFrame(*channel)) - static_cast<double>(before);
        const double expected = (row.reverseAfter ? -24.0 : 24.0) * kBlock;
        // One block of slack: the realign walks a frame and the cross-fade after the jump.
        EXPECT_NEAR(moved, expected, kBlock) << "before " << before;
        channel.reset();
    }
}

// A seek lands on whole words of the prefetch (even frames of 16-bit stereo, every fourth of
// mono): in either direction the position must run on from there, odd targets included.
TEST_F(Realign, SeekToAnyFrameIsFollowedInBothDirections) {
    struct Row {
        unsigned int target;
        unsigned int unit;
        bool reverse;
        int channels;
    };
    const Row rows[] = {
        {441000, FMOD_TIMEUNIT_PCM, true, 2}, {441001, FMOD_TIMEUNIT_PCM, true, 2},
        {441001, FMOD_TIMEUNIT_PCM, false, 2}, {10001, FMOD_TIMEUNIT_MS, true, 2},  // 441044.1 frames
        {441003, FMOD_TIMEUNIT_PCM, true, 1}, {441003, FMOD_TIMEUNIT_PCM, false, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.target << (row.unit == FMOD_TIMEUNIT_MS ? " ms " : " frames ")
                                        << (row.reverse ? "reverse " : "forward ") << row.channels << "ch");
        source.reset(new GeneratedSound(30 * kRate, row.channels, [](unsigned int i, int) {
            return 0.5f * static_cast<float>(std::sin(2.0 * M_PI * 440.0 * i / kRate));
        }));
        ASSERT_TRUE(source->ok());
        channel = std::make_unique<TimeStretchedChannel>(rig.system(), source->get(), true);
        channel->getOutputBuffer()->setBypass(true);
        takeOverPrefetch(*channel);
        ASSERT_EQ(channel->setPitch(row.reverse ? -1.0f : 1.0f), FMOD_OK);
        channel->setPaused(false);
        ASSERT_EQ(channel->setPosition(row.target, row.unit), FMOD_OK);
        // A target outside the prefetched window costs one silent block while the ring resets.
        render(1);
        const double start = heardFrame(*channel);
        render(24);
        const double moved = static_cast<double>(heardFrame(*channel)) - start;
        EXPECT_NEAR(moved, (row.reverse ? -24.0 : 24.0) * kBlock, 4.0);
        channel.reset();
    }
}

}  // namespace
