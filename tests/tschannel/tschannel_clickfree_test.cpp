// Controls moved on a playing deck never click: a -6 dBFS tone through the render step, each
// control moved there and back ten times; the largest sample step around a change stays within
// three times the tone's own largest step.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "tschannel_rig.h"

using namespace tsc_test;

namespace {

using ClickFree = ChannelFixture;

// The largest step between neighbouring frames of either side, over frames [from, to).
float largestStep(const std::vector<float>& stereo, size_t from, size_t to) {
    float largest = 0.0f;
    for (size_t f = from + 1; f < to && 2 * f + 1 < stereo.size(); ++f)
        for (int c = 0; c < 2; ++c) largest = std::max(largest, std::fabs(stereo[2 * f + c] - stereo[2 * f - 2 + c]));
    return largest;
}

TEST_F(ClickFree, LevelAndPathChangesStayWithinThreeTimesTheTonesOwnStep) {
    struct Row {
        const char* label;
        std::function<void(TimeStretchedChannel&)> there, back;
        float settle;  // the tone's step scales with the loudest level it plays at
    };
    const Row rows[] = {
        {"gain 1 to 2", [](TimeStretchedChannel& c) { c.setGain(2.0f); },
         [](TimeStretchedChannel& c) { c.setGain(1.0f); }, 2.0f},
        {"pan hard left and right", [](TimeStretchedChannel& c) { c.setPan(-1.0f); },
         [](TimeStretchedChannel& c) { c.setPan(1.0f); }, 1.0f},
        // Tempo 1.08 (the stretcher) and back to the 1:1 path.
        {"tempo 1.08 and back to 1.0", [](TimeStretchedChannel& c) { c.setTimeStretch(1.0f / 1.08f, false); },
         [](TimeStretchedChannel& c) { c.setTimeStretch(1.0f, false); }, 1.0f},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        open(makeTone(441.0, 60 * kRate, 2, 0.5f));
        ASSERT_EQ(channel->setPaused(false), FMOD_OK);
        std::vector<float> out = render(4);
        const float own = largestStep(out, 0, out.size() / 2) * row.settle;
        ASSERT_GT(own, 0.01f);
        for (int i = 0; i < 20; ++i) {
            SCOPED_TRACE(i);
            (i % 2 ? row.back : row.there)(*channel);
            const std::vector<float> after = render(2);
            // The change and the block after it, with the last frame before it.
            std::vector<float> joined(out.end() - 2, out.end());
            joined.insert(joined.end(), after.begin(), after.end());
            EXPECT_LE(largestStep(joined, 0, joined.size() / 2), 3.0f * own);
            out = after;
        }
    }
}

// Tempo mode at 1.08 (the stretcher, pitch kept) and rate mode at 1.08 (the 1:1 path, the card's
// rate raised): the switch either way, through the card as the mixer plays it.
TEST_F(ClickFree, SwitchBetweenTempoAndRateModeStaysWithinThreeTimesTheTonesOwnStep) {
    open(makeTone(441.0, 60 * kRate, 2, 0.5f));
    ASSERT_EQ(channel->setPaused(false), FMOD_OK);
    channel->setTimeStretch(1.0f / 1.08f, false);
    ASSERT_TRUE(rig.play(*channel, 8));
    const std::vector<float> settled = rig.received();
    // At rate 1.08 the tone's own step grows with its frequency.
    const float own = largestStep(settled, 2 * kBlock, settled.size() / 2) * 1.08f;
    ASSERT_GT(own, 0.01f);
    size_t from = settled.size() / 2 - 1;
    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE(i);
        const bool rateMode = i % 2 == 0;
        channel->setTimeStretch(rateMode ? 1.0f : 1.0f / 1.08f, false);
        channel->setPitch(rateMode ? 1.08f : 1.0f);
        ASSERT_TRUE(rig.play(*channel, 6));
        const std::vector<float> out = rig.received();
        EXPECT_LE(largestStep(out, from, out.size() / 2), 3.0f * own) << (rateMode ? "to rate" : "to tempo");
        from = out.size() / 2 - 1;
    }
}

}  // namespace
