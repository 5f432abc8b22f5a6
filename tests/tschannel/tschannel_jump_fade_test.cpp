// Cue jumps through the real channel: a -6 dBFS 440 Hz tone, and SetPosition within what the
// prefetch holds and beyond it. Every seam (old audio into new, old audio into the silence of a
// far jump, the silence into the new place) is a short linear fade, so no sample step exceeds a
// few times the tone's own largest step; the audio after the fade is the asked frame on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "tschannel_rig.h"

using namespace tsc_test;

namespace {

constexpr unsigned int kSourceFrames = 600000;
constexpr unsigned int kFade = LoopSound::kCrossFadeFrames;

class JumpFade : public ChannelFixture {};

TEST_F(JumpFade, EverySeamOfAJumpIsAFadeAndTheAskedFrameFollows) {
    struct Case {
        const char* label;
        unsigned int from, to;
        bool far;  // beyond what the prefetch holds: silence while it fetches
    };
    const Case cases[] = {
        // Play has reached from + 6 blocks when the jump is made.
        {"ahead, within the prefetch", 200000, 200000 + 6 * kBlock + 2037, false},
        {"back, within the prefetch", 200000, 200000 + 2 * kBlock + 50, false},
        {"ahead by a few frames", 200013, 200013 + 6 * kBlock + 3, false},
        {"far ahead", 50000, 500051, true},
        {"far back", 400000, 100025, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        open(makeTone(440.0, kSourceFrames));
        // The tone's own largest step, as stored.
        float toneStep = 0.0f;
        for (unsigned int f = 1; f < 2000; ++f)
            toneStep = std::max(toneStep, std::fabs(source->stored(f, 0) - source->stored(f - 1, 0)));
        ASSERT_EQ(channel->setPosition(c.from, FMOD_TIMEUNIT_PCM), FMOD_OK);
        ASSERT_EQ(channel->setPaused(false), FMOD_OK);
        const unsigned int blocks = 6;
        std::vector<float> out = render(blocks);
        ASSERT_EQ(channel->setPosition(c.to, FMOD_TIMEUNIT_PCM), FMOD_OK);
        const std::vector<float> after = render(12);
        out.insert(out.end(), after.begin(), after.end());
        const size_t seam = blocks * kBlock;  // the jump takes over at the next block
        const size_t frames = out.size() / 2;

        // Where the asked frame plays: the audio from there on is the source from c.to on, exactly
        // (after the fade's frames).
        size_t lands = frames;
        for (size_t d = seam; d + kFade + 200 < frames && lands == frames; ++d) {
            bool match = true;
            for (unsigned int k = kFade; k < kFade + 200 && match; ++k)
                match = std::fabs(out[2 * (d + k)] - source->stored(c.to + k, 0)) < 1e-6f;
            if (match) lands = d;
        }
        ASSERT_LT(lands, frames) << "the asked frame never plays";
        if (c.far)
            EXPECT_GT(lands, seam + kFade) << "no silence: the case no longer reaches beyond the prefetch";
        else
            EXPECT_EQ(lands, seam) << "a jump within the prefetch plays the asked frame at once";

        float largest = 0.0f;
        size_t at = 0;
        for (size_t f = seam - kBlock; f < lands + 4 * kFade; ++f)
            for (int ch = 0; ch < 2; ++ch) {
                const float step = std::fabs(out[2 * f + ch] - out[2 * (f - 1) + ch]);
                if (step > largest) largest = step, at = f;
            }
        EXPECT_LE(largest, 5.0f * toneStep)
            << largest / toneStep << " x the tone's step at output frame " << at << " (seam " << seam << ", lands "
            << lands << ")";
        channel.reset();
    }
}

// A far jump at a tempo away from 1: the silence while the prefetch fetches is the one block it
// is at tempo 1, and the new place then plays on without a break. Fed to the stretcher, that
// silence filled its whole latency ahead of the new audio (five blocks more at 0.8), and the
// stretcher spliced back into it after the new audio's first milliseconds.
TEST_F(JumpFade, AFarJumpAtATempoIsSilentOneBlockAndThenPlaysOn) {
    for (const float tempo : {0.8f, 1.25f, 2.0f}) {
        SCOPED_TRACE(testing::Message() << "tempo " << tempo);
        open(makeTone(440.0, kSourceFrames));
        channel->setTimeStretch(1.0f / tempo, false);
        ASSERT_EQ(channel->setPosition(50000, FMOD_TIMEUNIT_PCM), FMOD_OK);
        ASSERT_EQ(channel->setPaused(false), FMOD_OK);
        render(8);
        ASSERT_EQ(channel->setPosition(500051, FMOD_TIMEUNIT_PCM), FMOD_OK);
        const std::vector<float> out = render(16);
        // Runs of silence (below -60 dBFS for more than a millisecond) after the jump.
        std::vector<std::pair<size_t, size_t>> silences;  // first frame, length
        size_t run = 0;
        for (size_t f = 0; f <= out.size() / 2; ++f) {
            if (f < out.size() / 2 && std::fabs(out[2 * f]) < 1e-3f) {
                ++run;
                continue;
            }
            if (run > kRate / 1000) silences.push_back({f - run, run});
            run = 0;
        }
        ASSERT_FALSE(silences.empty()) << "no silence: the case no longer reaches beyond the prefetch";
        EXPECT_LE(silences[0].first + silences[0].second, 2 * kBlock)
            << "silent until frame " << silences[0].first + silences[0].second;
        EXPECT_EQ(silences.size(), 1u) << "the new place breaks off again after "
                                       << silences.back().first - silences[0].first - silences[0].second << " frames";
        channel.reset();
    }
}

}  // namespace
