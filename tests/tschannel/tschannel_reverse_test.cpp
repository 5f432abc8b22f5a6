// Reverse play through the channel's render step: a tone played backwards is the same tone, so
// it must come out as pure as it does forwards. Reversing anything wider than a frame (a group
// of frames played forwards inside the backward stream) shows as distortion at once.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "tschannel_rig.h"

using namespace tsc_test;

namespace {

struct Case {
    double hz;
    int bits;
    bool isFloat;
    int channels;
};

class ReversePurity : public ChannelFixture {
protected:
    // Purity of the left output channel over 14 blocks played from the middle of the source.
    double play(const Case& c, bool reverse) {
        open(new GeneratedSound(20 * kRate, c.channels, [&c](unsigned int i, int) {
            return 0.5f * static_cast<float>(std::sin(2.0 * M_PI * c.hz * i / kRate));
        }, c.bits, c.isFloat));
        if (HasFatalFailure()) return 0.0;
        EXPECT_EQ(channel->setPitch(reverse ? -1.0f : 1.0f), FMOD_OK);
        channel->setPaused(false);
        EXPECT_EQ(channel->setPosition(10 * kRate, FMOD_TIMEUNIT_PCM), FMOD_OK);
        render(2);  // the seek's silent block and the first block after it
        const std::vector<float> out = render(14);
        TearDown();
        return measurePurity(out, 0, 14 * kBlock, c.hz);
    }
};

TEST_F(ReversePurity, AToneKeepsItsPurityBackwards) {
    const Case cases[] = {
        {440.0, 16, false, 2}, {1000.0, 16, false, 2}, {5000.0, 16, false, 2},
        {440.0, 24, false, 2}, {1000.0, 24, false, 2}, {5000.0, 24, false, 2},
        {440.0, 32, true, 2},  {1000.0, 32, true, 2},  {5000.0, 32, true, 2},
        {440.0, 16, false, 1}, {1000.0, 16, false, 1}, {5000.0, 16, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.hz << " Hz, " << c.bits << (c.isFloat ? "-bit float, " : "-bit, ")
                                        << c.channels << " ch");
        const double forward = play(c, false);
        const double backward = play(c, true);
        std::printf("%6.0f Hz %2d-bit%s %d ch: forward %.1f dB, reverse %.1f dB\n", c.hz, c.bits,
                    c.isFloat ? " float" : "", c.channels, forward, backward);
        EXPECT_GT(forward, 80.0);  // the measurement sees the source's own precision
        EXPECT_NEAR(backward, forward, 3.0);
    }
}

}  // namespace
