// Cue jumps on a sound server as a DJ makes them: a 440 Hz tone plays and SetPosition jumps at
// random moments against the mixer's rhythm.
// - Within the prefetch (100-200 ms back or ahead): heard at the mixer's next take, never as a
//   block of silence while the deck's ring waits for its worker to render the new place.
// - Beyond it (tens of seconds): the old tone fades out into one silence while the new place is
//   fetched, a few blocks at most, and the new place plays on from its end; no blip of the old
//   tone after a silent block, no stutter of the new one.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "TimestretchedChannel.h"
#include "pulse_card.h"
#include "tschannel_rig.h"

namespace {

constexpr int kRate = 44100;
constexpr int kJumps = 40;

struct Case {
    unsigned int block;  // the mixer's, in frames
    float tempo;
    bool far;
};

class PulseJump : public ::testing::TestWithParam<Case> {};

TEST_P(PulseJump, AJumpPlaysOnAfterNoMoreSilenceThanItsFetch) {
    const Case c = GetParam();
    if (const std::string why = tsc_test::PulseCard::skipReason(); !why.empty()) GTEST_SKIP() << why;
    tsc_test::PulseCard card(kRate, c.block);
    ASSERT_EQ(card.error(), "");
    tsc_test::GeneratedSound source(120 * kRate, 2, [](unsigned int f, int) {
        return 0.5f * static_cast<float>(std::sin(2.0 * M_PI * 440.0 * f / kRate));
    });
    ASSERT_TRUE(source.ok());
    auto channel = std::make_unique<TimeStretchedChannel>(&card.system(), source.get(), true);
    channel->setTimeStretch(1.0f / c.tempo, false);
    ASSERT_EQ(channel->setPosition(20 * kRate, FMOD_TIMEUNIT_PCM), FMOD_OK);
    ASSERT_EQ(channel->setPaused(false), FMOD_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    std::mt19937 random(7);
    const int jumps = c.far ? kJumps / 2 : kJumps;
    for (int j = 0; j < jumps; ++j) {
        unsigned int at = 0;
        ASSERT_EQ(channel->getPosition(&at, FMOD_TIMEUNIT_PCM, false), FMOD_OK);
        const unsigned int by = kRate / 10 + random() % (kRate / 10);
        const unsigned int to = c.far ? (j % 2 ? 90u : 30u) * kRate + by : (j % 2 ? at + by : at - by);
        ASSERT_EQ(channel->setPosition(to, FMOD_TIMEUNIT_PCM), FMOD_OK);
        std::this_thread::sleep_for(std::chrono::microseconds((c.far ? 300000 : 100000) + random() % 30000));
    }
    ASSERT_EQ(channel->setPaused(true), FMOD_OK);
    const std::vector<float> got = card.capture().waitFrames(card.capture().capturedFrames() + kRate / 4);
    channel.reset();

    // Silence within the tone: a run of samples below -60 dBFS longer than a millisecond (the
    // tone itself passes zero within a frame, a fade across a jump within ten).
    const size_t frames = got.size() / 2;
    const long first = pw::test::findFirst(got, 2, 0, 0.01f);
    ASSERT_GE(first, 0) << "the tone was never heard";
    size_t last = frames;
    while (last > 0 && std::fabs(got[2 * (last - 1)]) < 1e-3f) --last;
    int gaps = 0, blips = 0;
    size_t run = 0, longest = 0, sounding = 0;
    for (size_t f = static_cast<size_t>(first); f < last; ++f) {
        if (std::fabs(got[2 * f]) >= 1e-3f) {
            ++sounding;
            if (run > kRate / 1000) {
                ++gaps;
                longest = std::max(longest, run);
            }
            run = 0;
            continue;
        }
        // Sound of under 5 ms between two silences.
        if (++run == kRate / 1000 + 1) {
            if (sounding < kRate / 200 && gaps > 0) ++blips;
            sounding = 0;
        }
    }
    fprintf(stderr, "block %u tempo %.2f %s: %d silent gaps in %d jumps, the longest %zu frames, %d blips\n", c.block,
            c.tempo, c.far ? "far" : "near", gaps, jumps, longest, blips);
    if (c.far) {
        // Fetching the new place takes a block or two; fed to the stretcher, its silence grew
        // to its whole latency (5536 frames at 0.8), and a fade out after a silent block ticked.
        EXPECT_LE(longest, 4u * c.block) << "a far jump's silence";
        EXPECT_EQ(blips, 0) << "sound of under 5 ms between two silences";
        return;
    }
    // The new place's first block is rendered in the call itself: only a take of the mixer in
    // the fraction of a millisecond that lasts still meets an empty ring (about one jump in 60
    // at 256 frames). Waiting for the worker, one jump in five at 1024 frames went silent, and
    // one in two at 256.
    EXPECT_LE(gaps, kJumps / 10) << gaps << " silent gaps in " << kJumps << " jumps, the longest " << longest
                                 << " frames";
}

INSTANTIATE_TEST_SUITE_P(BlocksAndTempos, PulseJump,
                         ::testing::Values(Case{1024, 1.0f, false}, Case{256, 1.2f, false}, Case{1024, 1.0f, true},
                                           Case{1024, 0.8f, true}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.far ? "far" : "near") + "_block" +
                                    std::to_string(info.param.block) + "_tempo" +
                                    std::to_string(static_cast<int>(std::lround(info.param.tempo * 1000)));
                         });

}  // namespace
