// Playback into a stepped virtual 44.1 kHz card: the "Player" unit renders on the mixer thread
// (the ring bypassed, so what the card took is exactly what was rendered and the position has no
// lead), or through the ring's worker, whose blocks must reach the card whole and in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "tschannel_rig.h"

using namespace tsc_test;

namespace {

// What the ring may have rendered beyond what the card received: four blocks in the ring and one
// being rendered, plus the stretcher's sequence granularity.
constexpr double kLeadBlocks = 5.0;
constexpr double kStretchSlackFrames = 2048.0;

// throughRing: the channel's ring and prefetch run on their own threads; otherwise the card's
// steps feed the prefetch too, so the mixer thread never reads it dry.
class Playback : public ChannelFixture {
protected:
    void open(GeneratedSound* sound, bool throughRing = false) { ChannelFixture::open(sound, !throughRing); }
};

TEST_F(Playback, TempoPlusTwentyPercentKeepsPitchAndReportsTwelveSecondsAfterTen) {
    open(makeTone(440.0, 60 * kRate));
    channel->setTimeStretch(1.0f / 1.2f, false);
    ASSERT_EQ(channel->setPaused(false), FMOD_OK);
    const unsigned int blocks = 10 * kRate / kBlock;  // 10 s of output
    ASSERT_TRUE(rig.play(*channel, blocks));
    const std::vector<float> out = rig.received();
    ASSERT_GE(out.size(), 2u * blocks * kBlock);
    EXPECT_NEAR(measureFrequency(out, 1 * kRate, 4 * kRate, 0), 440.0, 1.0);
    EXPECT_NEAR(measureFrequency(out, 5 * kRate, 4 * kRate, 1), 440.0, 1.0);

    const double played = static_cast<double>(blocks) * kBlock;  // frames the card took
    const double heard = heardFrame(*channel);
    EXPECT_GE(heard, (played - kLeadBlocks * kBlock) * 1.2 - kStretchSlackFrames);
    EXPECT_LE(heard, (played + kLeadBlocks * kBlock) * 1.2 + kStretchSlackFrames);
    unsigned int ms = 0;
    EXPECT_EQ(channel->getPosition(&ms, FMOD_TIMEUNIT_MS, false), FMOD_OK);
    EXPECT_NEAR(ms, 12000.0, 200.0);
}

// Through the ring: a block the ring could not deliver in time is a silent block (a dropout,
// nothing consumed); every other block is the next block of the source, sample for sample.
TEST_F(Playback, FactorOneThroughTheRingDeliversTheSourceBlocksInOrder) {
    open(new GeneratedSound(5 * kRate, 2, [](unsigned int i, int c) {
        return 0.3f * static_cast<float>(std::sin(2.0 * M_PI * (c ? 523.0 : 330.0) * i / kRate)) + 0.01f;
    }), true);
    ASSERT_EQ(channel->setPaused(false), FMOD_OK);
    ASSERT_TRUE(rig.play(*channel, 120));
    const std::vector<float> out = rig.received();
    unsigned int next = 0;  // next source frame expected
    size_t mismatches = 0;
    for (size_t b = 0; (b + 1) * kBlock * 2 <= out.size(); ++b) {
        const float* block = &out[b * kBlock * 2];
        bool silent = true;
        for (unsigned int k = 0; k < kBlock * 2; ++k) silent = silent && block[k] == 0.0f;
        if (silent) continue;
        for (unsigned int i = 0; i < kBlock; ++i) {
            if (block[2 * i] != source->stored(next + i, 0) || block[2 * i + 1] != source->stored(next + i, 1))
                ++mismatches;
        }
        next += kBlock;
    }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_GE(next, 60u * kBlock);  // most blocks made it
}

TEST_F(Playback, FactorOneOnTheMixerThreadGivesTheSourceSamples) {
    open(new GeneratedSound(5 * kRate, 2, [](unsigned int i, int c) {
        return 0.3f * static_cast<float>(std::sin(2.0 * M_PI * (c ? 523.0 : 330.0) * i / kRate)) + 0.01f;
    }));
    ASSERT_EQ(channel->setPaused(false), FMOD_OK);
    ASSERT_TRUE(rig.play(*channel, 100));
    const std::vector<float> out = rig.received();
    size_t lead = 0;  // blocks the card mixed before the channel ran
    while (lead < out.size() / 2 && out[2 * lead] == 0.0f && out[2 * lead + 1] == 0.0f) ++lead;
    ASSERT_LE(lead, 4u * kBlock);
    size_t mismatches = 0;
    for (unsigned int i = 0; i < 90 * kBlock; ++i) {
        if (out[2 * (lead + i)] != source->stored(i, 0) || out[2 * (lead + i) + 1] != source->stored(i, 1))
            ++mismatches;
    }
    EXPECT_EQ(mismatches, 0u);
}

TEST_F(Playback, SpeedTwoDoublesPitchAndPositionRate) {
    open(makeTone(440.0, 60 * kRate));
    ASSERT_EQ(channel->setPitch(2.0f), FMOD_OK);
    channel->setPaused(false);
    const unsigned int blocks = 200;
    ASSERT_TRUE(rig.play(*channel, blocks));
    const std::vector<float> out = rig.received();
    EXPECT_NEAR(measureFrequency(out, kRate / 2, kRate * 3 / 2), 880.0, 2.0);
    const double played = static_cast<double>(blocks) * kBlock;
    const double heard = heardFrame(*channel);
    // The card asks for two source blocks per output block; the ring may run up to its lead ahead.
    EXPECT_GE(heard, 2.0 * played - 2.0 * kBlock);
    EXPECT_LE(heard, 2.0 * played + 2.0 * kLeadBlocks * kBlock);
}

TEST_F(Playback, ReverseMakesThePositionFall) {
    open(makeTone(440.0, 60 * kRate));
    ASSERT_EQ(channel->setPosition(30000, FMOD_TIMEUNIT_MS), FMOD_OK);
    ASSERT_EQ(channel->setPitch(-1.0f), FMOD_OK);
    channel->setPaused(false);
    std::vector<unsigned int> seen;
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(rig.play(*channel, 10));
        seen.push_back(heardFrame(*channel));
    }
    for (size_t i = 1; i < seen.size(); ++i) EXPECT_LT(seen[i], seen[i - 1]) << i;
    EXPECT_LT(seen.back(), 30u * kRate);
    EXPECT_GT(seen.back(), 30u * kRate - 210u * kBlock - 8u * kBlock);
}

TEST_F(Playback, LoopKeepsThePositionInsideTheLoopForTenSeconds) {
    for (float factor : {1.0f, 1.0f / 1.2f}) {
        SCOPED_TRACE(factor);
        open(makeTone(440.0, 60 * kRate));
        channel->setTimeStretch(factor, false);
        ASSERT_EQ(channel->setLoopPoints(2000, FMOD_TIMEUNIT_MS, 2500, FMOD_TIMEUNIT_MS), FMOD_OK);
        ASSERT_EQ(channel->setLoopCount(-1), FMOD_OK);
        ASSERT_EQ(channel->setPosition(2000, FMOD_TIMEUNIT_MS), FMOD_OK);
        channel->setPaused(false);
        const unsigned int start = 2000 * kRate / 1000, end = 2500 * kRate / 1000;
        unsigned int low = end, high = start;
        for (unsigned int done = 0; done < 10 * kRate / kBlock; done += 6) {
            ASSERT_TRUE(rig.play(*channel, 6));
            const unsigned int p = heardFrame(*channel);
            // The loop source reads in 64-byte chunks, so a region may end up to one chunk
            // (16 frames of 16-bit stereo) past the loop end.
            ASSERT_GE(p, start) << "after " << done << " blocks";
            ASSERT_LE(p, end + LoopSound::kChunkBytes / 4) << "after " << done << " blocks";
            low = std::min(low, p);
            high = std::max(high, p);
        }
        // The position did go round the loop, not stand still.
        EXPECT_GT(high - low, (end - start) / 2);
        channel.reset();
    }
}

// A snippet plays from where the deck is to its end; a second one from its start to its end;
// after that play goes on from there without returning to the snippet.
TEST_F(Playback, SnippetsPlayOnceAndPlayGoesOn) {
    open(makeTone(440.0, 60 * kRate));
    ASSERT_EQ(channel->setPosition(1000, FMOD_TIMEUNIT_MS), FMOD_OK);
    ASSERT_EQ(channel->addPlaybackSnippet(0, 1500), FMOD_OK);
    ASSERT_EQ(channel->addPlaybackSnippet(500, 800), FMOD_OK);
    channel->setPaused(false);
    std::vector<unsigned int> seen;
    for (unsigned int done = 0; done < 4 * kRate / kBlock; done += 2) {
        ASSERT_TRUE(rig.play(*channel, 2));
        seen.push_back(heardFrame(*channel));
    }
    const unsigned int ms = kRate / 1000;
    int drops = 0;
    for (size_t i = 1; i < seen.size(); ++i) {
        if (seen[i] < seen[i - 1]) {
            ++drops;
            EXPECT_NEAR(seen[i - 1], 1500.0 * ms, 6.0 * kBlock);
            EXPECT_NEAR(seen[i], 500.0 * ms, 6.0 * kBlock);
        }
    }
    EXPECT_EQ(drops, 1);
    EXPECT_GT(seen.back(), 2500u * ms);  // played on past the second snippet's end
}

TEST_F(Playback, EndOfSourceGivesSilenceOnTheCard) {
    for (float factor : {1.0f, 1.0f / 1.2f}) {
        SCOPED_TRACE(factor);
        rig.clearReceived();
        open(makeTone(440.0, kRate));  // one second
        channel->setTimeStretch(factor, false);
        channel->setPaused(false);
        const unsigned int blocks = static_cast<unsigned int>(2.5 * kRate * factor / kBlock);
        ASSERT_TRUE(rig.play(*channel, blocks));
        const std::vector<float> out = rig.received();
        size_t lastLoud = 0;
        for (size_t i = 0; i < out.size(); ++i)
            if (std::fabs(out[i]) > 1e-4f) lastLoud = i / 2;
        EXPECT_NEAR(static_cast<double>(lastLoud), kRate * factor, 3.0 * kBlock);
        for (size_t i = (lastLoud + 1) * 2; i < out.size(); ++i) ASSERT_EQ(out[i], 0.0f) << "frame " << i / 2;
        EXPECT_LE(heardFrame(*channel), static_cast<unsigned int>(kRate));
        channel.reset();
    }
}

}  // namespace
