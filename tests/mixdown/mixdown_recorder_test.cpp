// CMixDown's file side and control operations: texts, gains, setup without a usable system,
// openFile's formats and refusals, the header written at open and rewritten at close, the size
// cap, the memory format, and writer passes (one and two sources) into a real file. The sources
// are wrappers without a system: setup builds queues but cannot make units.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "FMODSystem.h"
#include "StatusCodes.h"
#include "mixdown_test_support.h"
#include "temp_dir.hpp"

namespace {

using mixdowntest::readFile;
using mixdowntest::s16At;
using mixdowntest::u32At;

TEST(MixDownRecorder, TextsByteForByte) {
    CMixDown recorder;
    EXPECT_STREQ(recorder.queryFormats(), "wav");
    EXPECT_STREQ(recorder.queryBitrates(), "32, 64, 128, 160, 192, 320");
    EXPECT_STREQ(recorder.queryXMLDescription(),
                 "<MixdownFormats>\t  <formats>\t\t<MixdownFormat>\t\t  <id default=\"true\">1</id>\t\t  "
                 "<name>wav</name>\t\t  <bitrates/>\t\t  <defaultBitrate>-1</defaultBitrate>\t\t</MixdownFormat>"
                 "  </formats></MixdownFormats>");
    EXPECT_EQ(std::strlen(recorder.queryXMLDescription()), 195u);
}

TEST(MixDownRecorder, GainsAreClamped) {
    const float cases[][2] = {{-1, 0}, {5, 2}, {0.7f, 0.7f}, {2.0001f, 2}, {-0.0001f, 0}, {INFINITY, 2}};
    CMixDown recorder;
    for (const auto& c : cases) {
        EXPECT_EQ(recorder.setGain(c[0], 1), 1);
        EXPECT_EQ(recorder.getGain1(), c[1]) << c[0];
    }
    recorder.setGain(NAN, 1);
    EXPECT_TRUE(std::isnan(recorder.getGain1()));  // passes unchanged; records silence
    unsigned levels[2] = {7, 7};
    EXPECT_EQ(recorder.getLevels(levels), 1);  // a NaN gain reads as 0, not as garbage
    EXPECT_EQ(levels[0] + levels[1], 0u);
    EXPECT_EQ(recorder.getLevels(nullptr), -28);
}

TEST(MixDownRecorder, SetupAndOpenFileResults) {
    pw::test::TempDir dir;
    FMODSystem none(nullptr), other(nullptr);
    CMixDown recorder;
    FMOD::DSP* unit = reinterpret_cast<FMOD::DSP*>(&recorder);
    EXPECT_EQ(recorder.setup(nullptr, 0, &unit, nullptr, 0, nullptr), -28);
    EXPECT_EQ(recorder.openFile(dir.file("a.wav").c_str(), 1, 0, false, -1, -1, -1), TK_ERR_NO_SYSTEM);
    EXPECT_EQ(recorder.setup(nullptr, 0, &unit, &other, 0, nullptr), 1);  // only system 2: nothing made
    EXPECT_EQ(unit, nullptr);
    EXPECT_EQ(MixDownTestPeer::queue(recorder, 1), nullptr);
    EXPECT_EQ(recorder.setup(&none, 0, &unit, &none, 0, nullptr), 1);  // the same system twice: one source
    EXPECT_EQ(MixDownTestPeer::capture(recorder, 1).queue2, nullptr);
    // A system that cannot report its mixer format gives no non-custom file.
    EXPECT_EQ(recorder.openFile(dir.file("a.wav").c_str(), 1, 0, false, -1, -1, -1), TK_ERR_NO_SYSTEM);

    const struct {
        const char* name;
        unsigned format;
        int channels;
        float rate;
        int result;
        size_t fileBytes;  // after two frames were written and the file closed; 0: no file
    } cases[] = {
        {"w.wav", 1, 2, 44100, 1, 44 + 8}, {"m", unsigned(-1), 2, 44100, 1, 0}, {"e.wav", 2, 2, 44100, -16, 0},
        {"t.wav", 3, 2, 44100, -16, 0},    {"no/dir.wav", 1, 2, 44100, -29, 0}, {"c.wav", 1, 0, 44100, -16, 0},
        {"r.wav", 1, 2, NAN, -16, 0},      {"x.wav", 1, 70000, 44100, -16, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(recorder.openFile(dir.file(c.name).c_str(), c.format, 0, true, c.channels, 16, c.rate), c.result)
            << c.name;
        const short frames[4] = {1, 2, 3, 4};
        EXPECT_EQ(recorder.writeToFileEx(frames, 2), 1);  // refused formats write nothing
        EXPECT_EQ(recorder.close(), 1);
        EXPECT_EQ(readFile(dir.file(c.name)).size(), c.fileBytes) << c.name;
    }
    EXPECT_EQ(MixDownTestPeer::file(recorder).format, 3);  // left by format 3; -29 and -16 did not touch it
    EXPECT_EQ(recorder.openFile(nullptr, 1, 0, true, 2, 16, 44100), -29);
    EXPECT_EQ(writeToFile(nullptr, nullptr, 1), -28);
    EXPECT_EQ(CMixDown::WriteWavHeader(nullptr), -28);
}

TEST(MixDownRecorder, HeaderRewrittenWithFinalSizesAndCapped) {
    const struct {
        int channels, bits;
        float rate;
        unsigned frames;
        uint32_t limit;  // test seam; 0: none
        uint32_t dataBytes;
    } cases[] = {
        {2, 16, 44100, 0, 0, 0},  {2, 32, 48000, 1000, 0, 4000}, {1, 16, 22050, 333, 0, 666},
        {6, 24, 96000, 17, 0, 204}, {2, 8, 44100, 5, 0, 20},       // the header always says 16 bits
        {2, 16, 44100, 64, 42, 40}, {6, 16, 44100, 64, 30, 24},     // stops at whole frames
    };
    for (const auto& c : cases) {
        pw::test::TempDir dir;
        const std::string path = dir.file("rec.wav");
        CMixDown recorder;
        ASSERT_EQ(recorder.openFile(path.c_str(), 1, 0, true, c.channels, c.bits, c.rate), 1);
        const std::vector<uint8_t> open = readFile(path);
        ASSERT_EQ(open.size(), 44u);
        EXPECT_EQ(u32At(open, 4), 36u);
        EXPECT_EQ(u32At(open, 40), 0u);
        EXPECT_EQ(u32At(open, 28), uint32_t(c.rate) * 2 * c.channels);
        EXPECT_EQ(u32At(open, 32), 2u * c.channels | 16u << 16);
        if (c.limit != 0) recorder.setDataLimitForTesting(c.limit);

        std::vector<short> samples(size_t(c.frames) * c.channels);
        for (size_t i = 0; i < samples.size(); ++i) samples[i] = short(i * 37 - 1000);
        recorder.writeToFileEx(samples.data(), c.frames / 3);
        recorder.writeToFileEx(samples.data() + c.frames / 3 * c.channels, c.frames - c.frames / 3);
        ASSERT_EQ(recorder.close(), 1);

        const std::vector<uint8_t> done = readFile(path);
        ASSERT_EQ(done.size(), 44u + c.dataBytes) << c.channels << " channels, " << c.frames << " frames";
        EXPECT_EQ(u32At(done, 4), c.dataBytes + 36);
        EXPECT_EQ(u32At(done, 40), c.dataBytes);
        EXPECT_EQ(std::memcmp(done.data() + 8, open.data() + 8, 32), 0);
        for (size_t i = 0; i < c.dataBytes / 2; ++i) ASSERT_EQ(s16At(done, 44 + 2 * i), samples[i]) << i;
    }
}

TEST(MixDownRecorder, MemoryFormatAndReopen) {
    pw::test::TempDir dir;
    CMixDown recorder;
    const short frames[4] = {16384, -32768, 32767, 1};
    ASSERT_EQ(recorder.openFile(nullptr, unsigned(-1), 0, true, 2, 16, 44100), 1);
    recorder.writeToFileEx(frames, 2);
    const auto& blocks = MixDownTestPeer::file(recorder).memoryBlocks;
    ASSERT_EQ(blocks.size(), 1u);
    for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(blocks[0].at(i), frames[i] / 131072.0f);
    // A new file while one is open finishes the first one properly.
    ASSERT_EQ(recorder.openFile(dir.file("1.wav").c_str(), 1, 0, true, 2, 16, 44100), 1);
    recorder.writeToFileEx(frames, 2);
    ASSERT_EQ(recorder.openFile(dir.file("2.wav").c_str(), 1, 0, true, 2, 16, 44100), 1);
    EXPECT_EQ(u32At(readFile(dir.file("1.wav")), 40), 8u);
}

TEST(MixDownRecorder, WriterPassesConvertGainAndMix) {
    const struct {
        bool twoSources;
        float gain1, gain2, a, b;
        int expected;
    } cases[] = {
        {false, 1, 1, 0.25f, 0, 8192},   {false, 2, 1, 0.25f, 0, 16384},  {false, 0, 1, 0.25f, 0, 0},
        {false, 2, 1, 0.9f, 0, 32767},   {false, 2, 1, -0.9f, 0, -32768},  // saturated, not wrapped
        {true, 1, 1, 0.25f, 0.25f, 8192}, {true, 2, 1, 0.25f, 0.25f, 12288}, {true, 1, 0, 0.5f, 0.9f, 8192},
        {true, 2, 2, 0.8f, 0.8f, 32767},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.twoSources + 1) + " sources, " + std::to_string(c.a));
        pw::test::TempDir dir;
        FMODSystem first(nullptr), second(nullptr);
        CMixDown recorder;
        ASSERT_EQ(recorder.setup(&first, 0, nullptr, c.twoSources ? &second : nullptr, 0, nullptr), 1);
        ASSERT_EQ(recorder.openFile(dir.file("w.wav").c_str(), 1, 0, true, 2, 16, 44100), 1);
        recorder.setGain(c.gain1, c.gain2);
        ASSERT_TRUE(MixDownTestPeer::push(recorder, 1, std::vector<float>(200, c.a)));
        if (c.twoSources) {
            EXPECT_EQ(MixDownTestPeer::drain(recorder), 0u);  // no pair yet
            ASSERT_TRUE(MixDownTestPeer::push(recorder, 2, std::vector<float>(200, c.b)));
        }
        EXPECT_EQ(MixDownTestPeer::drain(recorder), 100u);
        // The level report: 10000 x fourth root of (gain 1 x level x gain 2 x 0.5), where the level
        // is the block's mean |v| (one source) or mean v (two sources).
        const float v = c.twoSources ? (c.a * c.gain1 + c.b * c.gain2) * 0.5f : std::fabs(c.a * c.gain1);
        const double root = std::pow(double(c.gain1) * v * c.gain2 * 0.5, 0.25);
        unsigned levels[2];
        ASSERT_EQ(recorder.getLevels(levels), 1);
        EXPECT_NEAR(levels[0], std::isnan(root) ? 0 : 10000 * root, 1.0);
        ASSERT_EQ(recorder.close(), 1);
        const std::vector<uint8_t> bytes = readFile(dir.file("w.wav"));
        ASSERT_EQ(bytes.size(), 44u + 400u);
        for (size_t i = 0; i < 200; ++i) ASSERT_EQ(s16At(bytes, 44 + 2 * i), c.expected) << i;
    }
}

TEST(MixDownRecorder, TwoSourcesWithDifferentBlockLengthsMixFrameAgainstFrame) {
    pw::test::TempDir dir;
    FMODSystem first(nullptr), second(nullptr);
    CMixDown recorder;
    ASSERT_EQ(recorder.setup(&first, 0, nullptr, &second, 0, nullptr), 1);
    ASSERT_EQ(recorder.openFile(dir.file("r.wav").c_str(), 1, 0, true, 2, 16, 44100), 1);
    // A ramp in blocks of 30 frames against silence in blocks of 70.
    for (unsigned f = 0; f < 210; f += 30) {
        std::vector<float> ramp(60);
        for (unsigned i = 0; i < 60; ++i) ramp[i] = (f + i / 2) / 1024.0f;
        ASSERT_TRUE(MixDownTestPeer::push(recorder, 1, ramp));
    }
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(MixDownTestPeer::push(recorder, 2, std::vector<float>(140, 0.0f)));
    EXPECT_EQ(MixDownTestPeer::drain(recorder), 210u);
    ASSERT_EQ(recorder.close(), 1);
    const std::vector<uint8_t> bytes = readFile(dir.file("r.wav"));
    ASSERT_EQ(bytes.size(), 44u + 840u);
    for (int f = 0; f < 210; ++f) ASSERT_EQ(s16At(bytes, 44 + 4 * f), 16 * f) << f;  // f/1024 x 0.5 x 32768
}

}  // namespace
