// The recorder's arithmetic on its own: the stereo fold on known frames, 16-bit conversion that
// saturates instead of wrapping, and the 44-byte header field by field with its 32-bit size cap.
// (The capture queue between two threads is exercised by mixdown_record_test under the thread
// sanitizer: the mixer thread produces, the writer thread consumes.)
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "MixDownSamples.h"
#include "MixDownWavHeader.h"
#include "mixdown_test_support.h"

namespace {

TEST(MixDownFold, KnownFrames) {
    const struct {
        std::vector<float> frame;
        int role;
        float left, right;
    } cases[] = {
        {{0.5f, -0.5f}, 0, 0.25f, -0.25f},  // a stereo pair at half amplitude
        {{0.5f, -0.5f}, 3, 0, 0},           // no centre pair in a stereo input
        {{0.5f}, 0, 0.5f, 0.5f},            // mono: full amplitude on both sides
        {{0.4f, 0.8f, 0.4f, 0.8f}, 5, 0.2f, 0.4f},  // all channels, divided by their count
        {{0, 0, 0.6f, 0.2f, 0, 0}, 3, 0.3f, 0.1f},
        {{0.1f, 0.2f, 0.6f}, 3, 0.6f, 0},  // pair cut by the input: one channel, no division
    };
    for (const auto& c : cases) {
        float out[2] = {9, 9};
        mixDownFoldFrames(c.frame.data(), 1, int(c.frame.size()), c.role, out);
        EXPECT_FLOAT_EQ(out[0], c.left) << c.frame.size() << " channels, role " << c.role;
        EXPECT_FLOAT_EQ(out[1], c.right) << c.frame.size() << " channels, role " << c.role;
    }
    float out[2] = {9, 9};
    mixDownFoldFrames(nullptr, 1, 2, 0, out);  // no input: silence
    EXPECT_EQ(out[0] + out[1], 0.0f);
}

TEST(MixDownPcm, TruncatesAndSaturates) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double in;
        int out;
    } cases[] = {{8192.9, 8192},    {-8192.9, -8192},  {32767.99, 32767}, {32768, 32767},  {58982, 32767},
                 {-32768, -32768},  {-58982, -32768},  {inf, 32767},      {-inf, -32768},
                 {std::nan(""), 0}};
    for (const auto& c : cases) EXPECT_EQ(mixDownToPcm16(c.in), c.out) << c.in;
}

TEST(MixDownWavHeader, FieldByField) {
    const struct {
        uint32_t data;
        int channels;
        float rate;
        int bits;
        uint32_t byteRate;
        uint32_t blockAlign;
    } cases[] = {
        {0, 2, 44100, 16, 176400, 4},   {4000, 2, 48000, 16, 192000, 4}, {123457, 1, 22050, 16, 44100, 2},
        {60, 6, 96000, 16, 1152000, 12}, {0, 2, 44100.9f, 16, 176403, 4},  // byte rate from the unrounded rate
        {0xFFFFFFFFu, 2, std::nanf(""), 16, 0, 4},                          // saturated, never wrapped
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> h(kMixDownWavHeaderBytes);
        mixDownBuildWavHeader(h.data(), c.data, c.channels, c.rate, c.bits);
        using mixdowntest::u32At;
        EXPECT_EQ(std::string(h.begin(), h.begin() + 4) + std::string(h.begin() + 8, h.begin() + 16), "RIFFWAVEfmt ");
        EXPECT_EQ(std::string(h.begin() + 36, h.begin() + 40), "data");
        EXPECT_EQ(u32At(h, 4), c.data == 0xFFFFFFFFu ? c.data : c.data + 36);
        EXPECT_EQ(u32At(h, 16), 16u);
        EXPECT_EQ(u32At(h, 20), 1u | uint32_t(c.channels) << 16);  // PCM, channels
        EXPECT_EQ(u32At(h, 24), std::isnan(c.rate) ? 0u : uint32_t(c.rate));
        EXPECT_EQ(u32At(h, 28), c.byteRate);
        EXPECT_EQ(u32At(h, 32), c.blockAlign | uint32_t(c.bits) << 16);
        EXPECT_EQ(u32At(h, 40), c.data);
    }
    // The largest data size: whole frames, and the RIFF size (data + 36) still fits 32 bits.
    const struct {
        int frameBytes;
        uint32_t limit;
    } limits[] = {{0, 0}, {-4, 0}, {2, 4294967258u}, {4, 4294967256u}, {12, 4294967256u}};
    for (const auto& l : limits) EXPECT_EQ(mixDownMaxDataBytes(l.frameBytes), l.limit) << l.frameBytes;
}

// A full queue refuses new blocks (counted) and keeps the old ones intact: the producer's spare
// slot is never one the consumer still reads.
TEST(MixDownSampleQueue, FullQueueDropsNewBlocksAndKeepsOldOnes) {
    MixDownSampleQueue q;
    ASSERT_FALSE(q.allocate(4, 0));
    ASSERT_TRUE(q.allocate(4, 3));
    for (int i = 0; i < 5; ++i) {
        std::fill(q.spare(), q.spare() + 8, float(i));
        EXPECT_EQ(q.append(i + 1), i < 3) << i;  // lengths 1, 2, 3: each block keeps its own
    }
    EXPECT_EQ(q.droppedBlocks(), 2u);
    for (int i = 0; i < 3; q.popFront(), ++i) {
        EXPECT_EQ(q.front().frames, uint32_t(i + 1));
        EXPECT_EQ(q.front().samples[2 * i + 1], float(i));
    }
    EXPECT_EQ(q.size(), 0u);
}

}  // namespace
