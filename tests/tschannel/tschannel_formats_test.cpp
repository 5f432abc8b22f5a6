// Sources of every sample width the channel plays (8-bit signed, 16, 24 and 32-bit integers and
// 32-bit float) through both render paths: the exact samples at tempo 1.0, and the tone, level and
// position through the stretcher.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <ostream>
#include <vector>

#include "tschannel_rig.h"

using namespace tsc_test;

namespace {

constexpr float kAmplitude = 0.5f;

struct Format {
    int bits;
    bool isFloat;
    int channels;
};

const Format kFormats[] = {
    {8, false, 2}, {16, false, 2}, {24, false, 2}, {24, false, 1}, {32, false, 2}, {32, true, 2}, {32, true, 1},
};

// Left 440 Hz, right 660 Hz: a swapped side or a frame read from the wrong byte offset shows.
float tone(unsigned int i, int c) {
    const double hz = c == 0 ? 440.0 : 660.0;
    return kAmplitude * static_cast<float>(std::sin(2.0 * M_PI * hz * i / kRate));
}

double rms(const std::vector<float>& stereo, size_t fromFrame, size_t frames, int channel) {
    double sum = 0.0;
    for (size_t i = fromFrame; i < fromFrame + frames; ++i) sum += stereo[2 * i + channel] * stereo[2 * i + channel];
    return std::sqrt(sum / static_cast<double>(frames));
}

class Formats : public ChannelFixture, public testing::WithParamInterface<Format> {
protected:
    void open() {
        const Format f = GetParam();
        ChannelFixture::open(new GeneratedSound(20 * kRate, f.channels, tone, f.bits, f.isFloat));
    }
};

TEST_P(Formats, FactorOneGivesTheSourceSamples) {
    open();
    channel->setPaused(false);
    const unsigned int blocks = 40;
    const std::vector<float> out = render(blocks);
    const int right = GetParam().channels > 1 ? 1 : 0;
    size_t mismatches = 0;
    for (unsigned int i = 0; i < blocks * kBlock; ++i) {
        if (std::fabs(out[2 * i] - source->stored(i, 0)) > 1e-6f ||
            std::fabs(out[2 * i + 1] - source->stored(i, right)) > 1e-6f)
            ++mismatches;
    }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_EQ(heardFrame(*channel), blocks * kBlock);
}

TEST_P(Formats, StretchedKeepsToneLevelAndPosition) {
    open();
    const float factor = 1.0f / 1.2f;
    channel->setTimeStretch(factor, false);
    channel->setPaused(false);
    const unsigned int blocks = 120;
    const std::vector<float> out = render(blocks);
    const bool stereo = GetParam().channels > 1;
    EXPECT_NEAR(measureFrequency(out, 20 * kBlock, 90 * kBlock, 0), 440.0, 2.0);
    EXPECT_NEAR(measureFrequency(out, 20 * kBlock, 90 * kBlock, 1), stereo ? 660.0 : 440.0, 3.0);
    const double level = kAmplitude / std::sqrt(2.0);
    EXPECT_NEAR(rms(out, 20 * kBlock, 90 * kBlock, 0), level, 0.1 * level);
    EXPECT_NEAR(rms(out, 20 * kBlock, 90 * kBlock, 1), level, 0.1 * level);
    EXPECT_NEAR(static_cast<double>(heardFrame(*channel)), blocks * kBlock * 1.2, 2.0 * kBlock);
}

// A seek to a frame that does not start on a whole word of the prefetch (24-bit stereo frames
// are 6 bytes) lands on the frame at or below it, never inside a frame: the last block rendered
// holds exactly the source frames that end at the reported position.
TEST_P(Formats, SeekToAnyFrameReadsWholeFrames) {
    open();
    channel->setPaused(false);
    const int right = GetParam().channels > 1 ? 1 : 0;
    for (unsigned int target : {100003u, 100001u, 4u * kRate + 7u}) {
        SCOPED_TRACE(target);
        ASSERT_EQ(channel->setPosition(target, FMOD_TIMEUNIT_PCM), FMOD_OK);
        const std::vector<float> out = render(4);
        const unsigned int heard = heardFrame(*channel);
        EXPECT_LE(heard, target + 4 * kBlock);
        EXPECT_GE(heard + 8, target + 3 * kBlock);
        const size_t last = 3 * kBlock;
        size_t mismatches = 0;
        for (unsigned int i = 0; i < kBlock; ++i) {
            const unsigned int frame = heard - kBlock + i;
            if (std::fabs(out[2 * (last + i)] - source->stored(frame, 0)) > 1e-6f ||
                std::fabs(out[2 * (last + i) + 1] - source->stored(frame, right)) > 1e-6f)
                ++mismatches;
        }
        EXPECT_EQ(mismatches, 0u) << "heard " << heard;
    }
}

void PrintTo(const Format& f, std::ostream* os) {
    *os << f.bits << "-bit " << (f.isFloat ? "float " : "integer ") << f.channels << "ch";
}

INSTANTIATE_TEST_SUITE_P(Widths, Formats, testing::ValuesIn(kFormats), [](const testing::TestParamInfo<Format>& info) {
    return std::to_string(info.param.bits) + (info.param.isFloat ? "Float" : "Int") +
           (info.param.channels == 1 ? "Mono" : "Stereo");
});

}  // namespace
