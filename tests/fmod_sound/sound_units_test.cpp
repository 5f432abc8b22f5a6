// The small pieces under the sound objects: name conversion and sample conversion.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "sound_format.hpp"
#include "sound_name.hpp"

namespace {

struct Utf16Case {
    const char* name;
    std::vector<uint16_t> units;  // without the terminator
    std::string utf8;
};

const Utf16Case kUtf16Cases[] = {
    {"ascii", {'a', '/', 'b', '.', 'w', 'a', 'v'}, "a/b.wav"},
    {"latin1_not_narrowed", {0x00E9, 0x00FC}, "\xC3\xA9\xC3\xBC"},
    {"cyrillic", {0x0422, 0x0435}, "\xD0\xA2\xD0\xB5"},
    // A low byte that is '/' must not become a separator.
    {"low_byte_slash", {0x012F}, "\xC4\xAF"},
    {"cjk", {0x97F3}, "\xE9\x9F\xB3"},
    {"surrogate_pair", {0xD83C, 0xDFB5}, "\xF0\x9F\x8E\xB5"},
    {"lone_high_surrogate", {0xD83C, 'x'}, "\xEF\xBF\xBDx"},
    {"lone_low_surrogate", {0xDFB5}, "\xEF\xBF\xBD"},
    {"high_surrogate_at_end", {'a', 0xD83C}, "a\xEF\xBF\xBD"},
    {"empty", {}, ""},
};

class Utf16Names : public ::testing::TestWithParam<Utf16Case> {};

TEST_P(Utf16Names, BecomeUtf8) {
    std::vector<uint16_t> units = GetParam().units;
    units.push_back(0);
    EXPECT_EQ(pw::sound::utf16ToUtf8(units.data()), GetParam().utf8);
    // Unaligned input (the JNI layer may hand any address).
    std::vector<unsigned char> shifted(units.size() * 2 + 1);
    std::memcpy(shifted.data() + 1, units.data(), units.size() * 2);
    EXPECT_EQ(pw::sound::utf16ToUtf8(shifted.data() + 1), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(Names, Utf16Names, ::testing::ValuesIn(kUtf16Cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Utf16Names, StopAtTheLimitWithoutATerminator) {
    const uint16_t units[3] = {'a', 'b', 'c'};
    EXPECT_EQ(pw::sound::utf16ToUtf8(units, 2), "ab");
    EXPECT_EQ(pw::sound::utf16ToUtf8(nullptr), "");
}

struct FormatCase {
    FMOD_SOUND_FORMAT format;
    unsigned bytes;
    float step;     // one least significant bit
    int16_t top16;  // full scale as a 16-bit value
};

const FormatCase kFormats[] = {
    {FMOD_SOUND_FORMAT_PCM8, 1, 1.0f / 128, 127 * 256},
    {FMOD_SOUND_FORMAT_PCM16, 2, 1.0f / 32768, 32767},
    {FMOD_SOUND_FORMAT_PCM24, 3, 1.0f / 8388608, 32767},
    {FMOD_SOUND_FORMAT_PCM32, 4, 1.0f / 2147483648.0f, 32767},
    {FMOD_SOUND_FORMAT_PCMFLOAT, 4, 0.0f, 32767},
};

class SampleFormats : public ::testing::TestWithParam<FormatCase> {};

TEST_P(SampleFormats, RoundTripWithinOneStepAndSaturate) {
    const FormatCase& c = GetParam();
    EXPECT_EQ(pw::sound::bytesPerSample(c.format), c.bytes);
    const std::vector<float> in = {0.0f, 0.5f, -0.5f, 0.25f, -1.0f, 0.9f, -0.001f};
    std::vector<unsigned char> pcm(in.size() * c.bytes);
    std::vector<float> out(in.size());
    pw::sound::floatToPcm(in.data(), c.format, pcm.data(), in.size());
    pw::sound::pcmToFloat(pcm.data(), c.format, out.data(), in.size());
    for (size_t i = 0; i < in.size(); ++i) EXPECT_NEAR(out[i], in[i], c.step * 0.5 + 1e-7) << i;
    if (c.format == FMOD_SOUND_FORMAT_PCMFLOAT) return;

    // Beyond full scale saturates instead of wrapping around to the other sign.
    const std::vector<float> loud = {1.5f, -1.5f, 1.0f, std::numeric_limits<float>::infinity(), std::nanf("")};
    std::vector<unsigned char> p(loud.size() * c.bytes);
    std::vector<float> back(loud.size());
    pw::sound::floatToPcm(loud.data(), c.format, p.data(), loud.size());
    pw::sound::pcmToFloat(p.data(), c.format, back.data(), loud.size());
    EXPECT_NEAR(back[0], 1.0f - c.step, c.step * 0.5);
    EXPECT_EQ(back[1], -1.0f);
    EXPECT_NEAR(back[2], 1.0f - c.step, c.step * 0.5);
    EXPECT_NEAR(back[3], 1.0f - c.step, c.step * 0.5);
    EXPECT_FALSE(std::isnan(back[4]));
}

// One sample at a time, as the engine reads its sources: the width and float flag name the format,
// and the 16-bit value the onset detector reads is the sample's top 16 bits.
TEST_P(SampleFormats, SingleSamplesAndSixteenBitValues) {
    const FormatCase& c = GetParam();
    EXPECT_EQ(pw::sound::sampleFormat(c.bytes, c.format == FMOD_SOUND_FORMAT_PCMFLOAT), c.format);
    const float in[] = {0.25f, -0.5f, -1.0f, 1.0f};
    const int16_t top16[] = {8192, -16384, -32768, c.top16};
    for (size_t i = 0; i < 4; ++i) {
        unsigned char sample[4] = {0xAA, 0xAA, 0xAA, 0xAA};
        pw::sound::floatToSample(in[i], c.format, sample);
        for (unsigned b = c.bytes; b < 4; ++b) EXPECT_EQ(sample[b], 0xAA) << "wrote past the sample";
        EXPECT_NEAR(pw::sound::sampleToFloat(sample, c.format), in[i], c.step) << in[i];
        EXPECT_EQ(pw::sound::sampleToPcm16(sample, c.format), top16[i]) << in[i];
    }
}

// The buffer conversion streams use is the one-sample conversion, bit for bit, over every byte
// pattern a sample may hold (a pseudo-random walk plus both extremes).
TEST_P(SampleFormats, BufferConversionIsTheSampleConversionBitForBit) {
    const FormatCase& c = GetParam();
    constexpr size_t kSamples = 4096;
    std::vector<unsigned char> pcm(kSamples * c.bytes);
    uint32_t x = 12345;
    for (unsigned char& b : pcm) b = static_cast<unsigned char>((x = x * 1664525u + 1013904223u) >> 24);
    for (unsigned b = 0; b < c.bytes; ++b) {
        pcm[b] = b + 1 == c.bytes ? 0x80 : 0x00;          // the lowest value
        pcm[c.bytes + b] = b + 1 == c.bytes ? 0x7F : 0xFF;  // the highest
    }
    std::vector<float> out(kSamples);
    pw::sound::pcmToFloat(pcm.data(), c.format, out.data(), kSamples);
    for (size_t i = 0; i < kSamples; ++i) {
        const float one = pw::sound::sampleToFloat(pcm.data() + i * c.bytes, c.format);
        if (std::isnan(one)) continue;  // a float pattern that is not a number
        ASSERT_EQ(std::memcmp(&out[i], &one, sizeof one), 0) << i << ": " << out[i] << " vs " << one;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, SampleFormats, ::testing::ValuesIn(kFormats));

TEST(SampleFormats, LittleEndianLayout) {
    const float x[2] = {0.5f, -0.5f};
    unsigned char b16[4];
    pw::sound::floatToPcm(x, FMOD_SOUND_FORMAT_PCM16, b16, 2);
    EXPECT_EQ(b16[0], 0x00);
    EXPECT_EQ(b16[1], 0x40);
    EXPECT_EQ(b16[2], 0x00);
    EXPECT_EQ(b16[3], 0xC0);
    unsigned char b24[6];
    pw::sound::floatToPcm(x, FMOD_SOUND_FORMAT_PCM24, b24, 2);
    EXPECT_EQ(b24[2], 0x40);
    EXPECT_EQ(b24[5], 0xC0);
    const unsigned char s8[2] = {0x80, 0x7F};  // signed 8-bit: -128 and 127
    float f[2];
    pw::sound::pcmToFloat(s8, FMOD_SOUND_FORMAT_PCM8, f, 2);
    EXPECT_EQ(f[0], -1.0f);
    EXPECT_EQ(f[1], 127.0f / 128);
}

}  // namespace
