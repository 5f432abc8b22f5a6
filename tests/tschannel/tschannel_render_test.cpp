// The render step driven directly (the ring bypassed, the stepped card never stepped): exact
// samples at tempo 1.0, pan and gain, silence while paused, the end of the source, and the
// realignment when stretched playback returns to tempo 1.0.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "tschannel_rig.h"

using namespace tsc_test;

namespace {


// A stereo source whose left sample encodes the frame (a slow ramp) and whose right is a tone,
// so a wrong frame, a swapped side or a stale block shows in the samples.
float rampSample(unsigned int i, int c) {
    if (c == 0) return static_cast<float>(static_cast<int>(i % 60000) - 30000) / 32768.0f;
    return 0.4f * static_cast<float>(std::sin(2.0 * M_PI * 997.0 * i / kRate));
}

using DirectRender = ChannelFixture;

TEST_F(DirectRender, FactorOneGivesTheSourceSamplesExactly) {
    open(new GeneratedSound(10 * kRate, 2, rampSample));
    ASSERT_EQ(channel->setPaused(false), FMOD_OK);
    const unsigned int blocks = 60;
    std::vector<int> results;
    const std::vector<float> out = render(blocks, 0.75f, &results);
    for (int r : results) ASSERT_EQ(r, 0);
    size_t mismatches = 0;
    for (unsigned int i = 0; i < blocks * kBlock; ++i) {
        if (out[2 * i] != source->stored(i, 0) || out[2 * i + 1] != source->stored(i, 1)) ++mismatches;
    }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_EQ(heardFrame(*channel), blocks * kBlock);
}

TEST_F(DirectRender, MonoSourceFillsBothSides) {
    open(new GeneratedSound(2 * kRate, 1, [](unsigned int i, int) { return rampSample(i, 1); }));
    channel->setPaused(false);
    const std::vector<float> out = render(8);
    for (unsigned int i = 0; i < 8 * kBlock; ++i) {
        ASSERT_EQ(out[2 * i], source->stored(i, 0)) << i;
        ASSERT_EQ(out[2 * i + 1], source->stored(i, 0)) << i;
    }
}

TEST_F(DirectRender, PanAndGainScaleTheSides) {
    open(new GeneratedSound(4 * kRate, 2, [](unsigned int, int) { return 0.5f; }));
    channel->setPaused(false);
    const float v = source->stored(0, 0);
    struct Row {
        float pan;
        float gain;
        float left;   // expected factor of the left side
        float right;  // expected factor of the right side
    };
    const Row rows[] = {
        {0.0f, 1.0f, 1.0f, 1.0f},  {-1.0f, 1.0f, 1.0f, 0.0f}, {1.0f, 1.0f, 0.0f, 1.0f},
        {0.5f, 1.0f, 0.5f, 1.0f},  {-0.25f, 2.0f, 2.0f, 1.5f}, {5.0f, 1.0f, 0.0f, 1.0f},  // stored as 1
        {-7.0f, 0.5f, 0.5f, 0.0f}, {0.0f, 0.0f, 0.0f, 0.0f},
    };
    for (const Row& row : rows) {
        ASSERT_EQ(channel->setPan(row.pan), 0);
        channel->setGain(row.gain);
        EXPECT_LE(std::fabs(channel->getPan()), 1.0f);
        // The first block ramps from the levels before; the second holds the new ones.
        const std::vector<float> out = render(2);
        EXPECT_FLOAT_EQ(out[2 * kBlock + 100], row.left * v) << "pan " << row.pan << " gain " << row.gain;
        EXPECT_FLOAT_EQ(out[2 * kBlock + 101], row.right * v) << "pan " << row.pan << " gain " << row.gain;
    }
}

TEST_F(DirectRender, PausedOrStoppedSpeedRendersSilenceAndKeepsThePosition) {
    open(new GeneratedSound(4 * kRate, 2, rampSample));
    channel->setPaused(false);
    render(5);
    const unsigned int before = heardFrame(*channel);
    ASSERT_EQ(before, 5 * kBlock);
    struct Row {
        bool paused;
        float speed;
    };
    for (const Row& row : {Row{true, 1.0f}, Row{false, 0.0f}, Row{true, 0.0f}}) {
        channel->setPaused(row.paused);
        channel->setPitch(row.speed);
        std::vector<int> results;
        const std::vector<float> out = render(3, 0.9f, &results);
        for (int r : results) EXPECT_EQ(r, FMOD_ERR_INTERNAL);
        for (float s : out) ASSERT_EQ(s, 0.0f);
        EXPECT_EQ(heardFrame(*channel), before);
        unsigned int ms = 0;
        EXPECT_EQ(channel->getPosition(&ms, FMOD_TIMEUNIT_MS, true), FMOD_OK);
        EXPECT_EQ(ms, channel->getLoopSound()->ConvertPCM2MS(before));
    }
    channel->setPaused(false);
    channel->setPitch(1.0f);
    render(1);
    EXPECT_EQ(heardFrame(*channel), before + kBlock);
}

// The end of the source renders silence, never the previous block again: the buffer handed in
// holds stale audio (as the ring's work buffer does) and must come back cleared.
TEST_F(DirectRender, EndOfSourceIsSilenceNeverARepeatedBlock) {
    const unsigned int frames = kRate / 2;
    for (float factor : {1.0f, 1.0f / 1.2f, 1.5f}) {
        SCOPED_TRACE(factor);
        open(makeTone(440.0, frames));
        channel->setTimeStretch(factor, false);
        channel->setPaused(false);
        std::vector<float> block(kBlock * 2, 0.0f);
        std::vector<float> previous;
        size_t lastLoud = 0;
        const unsigned int blocks = static_cast<unsigned int>(3.0 * frames * factor / kBlock) + 8;
        for (unsigned int b = 0; b < blocks; ++b) {
            feedPrefetch(*channel);
            channel->readFromBuffer(block.data(), kBlock, 2);
            bool loud = false;
            for (float s : block) loud = loud || std::fabs(s) > 1e-4f;
            if (loud) {
                EXPECT_NE(block, previous) << "block " << b << " repeats the one before";
                lastLoud = b;
                previous = block;
            }
        }
        // The stretcher keeps its last sequence or so when the source ends (it is never flushed
        // on the render thread: flushing allocates), so the stretched end may come a few blocks
        // early, never late.
        const double expectedBlocks = frames * factor / kBlock;
        EXPECT_LE(static_cast<double>(lastLoud), expectedBlocks + 1.0);
        // The source's last partial read may be refused (it would pass the end), so even the
        // direct path can end up to one block early.
        EXPECT_GE(static_cast<double>(lastLoud), expectedBlocks - (factor == 1.0f ? 2.0 : 9.0));
        channel.reset();
    }
}

// Back to tempo 1.0 after stretched play: the first direct block restarts the source where the
// listener is, one frame on, rather than where the prefetch had read ahead to.
TEST_F(DirectRender, ReturningToFactorOneRestartsAtTheHeardFrame) {
    open(new GeneratedSound(10 * kRate, 2, rampSample));
    channel->setTimeStretch(1.0f / 1.2f, false);
    channel->setPaused(false);
    render(40);
    const unsigned int heard = heardFrame(*channel);
    EXPECT_NEAR(static_cast<double>(heard), 40.0 * kBlock * 1.2, 2.0 * kBlock);
    // The prefetch has read ahead of what was heard (the stretcher holds a backlog).
    EXPECT_GT(channel->getLoopSound()->getReaderPosition(), heard);

    channel->setTimeStretch(1.0f, false);
    const std::vector<float> out = render(2);
    // The first block fades the stretcher's sound out under the direct one; from the second on
    // the samples are the source's from the heard frame on (the walk of one more frame may end
    // within the same frame), not from where the prefetch had got to.
    const unsigned int start = out[2 * kBlock] == source->stored(heard + kBlock, 0) ? heard : heard + 1;
    for (unsigned int i = kBlock; i < 2 * kBlock; ++i)
        ASSERT_EQ(out[2 * i], source->stored(start + i, 0)) << "frame " << i << " heard " << heard;
    EXPECT_NEAR(static_cast<double>(heardFrame(*channel)), static_cast<double>(heard + 2 * kBlock), 1.0);
}

TEST_F(DirectRender, StretchedPathKeepsPitchAndMapsThePosition) {
    open(makeTone(440.0, 20 * kRate));
    channel->setTimeStretch(1.0f / 1.2f, false);
    channel->setPaused(false);
    const unsigned int blocks = 200;
    const std::vector<float> out = render(blocks);
    EXPECT_NEAR(measureFrequency(out, 20 * kBlock, 150 * kBlock), 440.0, 1.0);
    EXPECT_NEAR(measureFrequency(out, 20 * kBlock, 150 * kBlock, 1), 440.0, 1.0);
    EXPECT_NEAR(static_cast<double>(heardFrame(*channel)), blocks * kBlock * 1.2, 2.0 * kBlock);
}

}  // namespace
