// The WAV writer of wav sinks and the reader of wav record inputs, checked against files made
// by sox and against each other.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>

#include "temp_dir.hpp"
#include "wav_file.hpp"

namespace pw::dev {
namespace {

bool haveSox() { return std::system("sox --version >/dev/null 2>&1") == 0; }

TEST(WavFile, RoundTripIsBitExact) {
    pw::test::TempDir dir;
    const std::string path = dir.file("ramp.wav");
    std::vector<float> samples;
    for (int i = 0; i < 3001 * 3; ++i) samples.push_back(static_cast<float>(i % 977) / 977.0f - 0.5f + 1e-7f * i);
    WavWriter w;
    std::string error;
    ASSERT_TRUE(w.open(path, 3, 48000, &error)) << error;
    // Odd, unaligned pieces.
    const size_t pieces[] = {1, 2, 1000, 17};
    size_t at = 0;
    for (int p = 0; at < samples.size(); ++p) {
        const size_t n = std::min(pieces[p % 4], samples.size() - at);
        ASSERT_TRUE(w.write(samples.data() + at, n));
        at += n;
    }
    ASSERT_TRUE(w.close());
    WavData data;
    ASSERT_TRUE(readWav(path, &data, &error)) << error;
    EXPECT_EQ(data.channels, 3);
    EXPECT_EQ(data.rate, 48000);
    ASSERT_EQ(data.samples.size(), samples.size());
    for (size_t i = 0; i < samples.size(); ++i) ASSERT_EQ(data.samples[i], samples[i]) << i;
}

TEST(WavFile, ReadsIntegerAndFloatFilesMadeBySox) {
    if (!haveSox()) GTEST_SKIP() << "sox not installed";
    pw::test::TempDir dir;
    struct Row {
        std::string options;
        float tolerance;
    };
    const Row rows[] = {{"-b 8 -e unsigned-integer", 1.0f / 64}, {"-b 16 -e signed-integer", 1.0f / 16384},
                        {"-b 24 -e signed-integer", 1e-5f},       {"-b 32 -e signed-integer", 1e-6f},
                        {"-b 32 -e floating-point", 1e-6f},       {"-b 64 -e floating-point", 1e-6f}};
    for (const Row& r : rows) {
        const std::string path = dir.file("tone.wav");
        const std::string cmd = "sox -n -r 22050 -c 2 " + r.options + " " + path +
                                " synth 0.1 sine 1000 sine 250 gain -6 2>/dev/null";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        WavData data;
        std::string error;
        ASSERT_TRUE(readWav(path, &data, &error)) << r.options << ": " << error;
        EXPECT_EQ(data.channels, 2) << r.options;
        EXPECT_EQ(data.rate, 22050) << r.options;
        ASSERT_EQ(data.samples.size(), 2205u * 2) << r.options;
        // gain -6 dB: the peak of each channel is near 0.5.
        float peak[2] = {0, 0};
        for (size_t i = 0; i < data.samples.size(); ++i) peak[i % 2] = std::max(peak[i % 2], std::fabs(data.samples[i]));
        EXPECT_NEAR(peak[0], 0.501f, 0.01f + r.tolerance) << r.options;
        EXPECT_NEAR(peak[1], 0.501f, 0.01f + r.tolerance) << r.options;
        // Left at 1 kHz: sample 5 (of 22.05 per cycle) is sin(2*pi*5/22.05) * 0.501.
        EXPECT_NEAR(data.samples[10], 0.501f * std::sin(2 * M_PI * 5 / 22.05), 0.005f + r.tolerance) << r.options;
    }
}

TEST(WavFile, BadFilesAreRefusedWithAReason) {
    pw::test::TempDir dir;
    struct Row {
        std::string name;
        std::string bytes;
        std::string reason;
    };
    const std::string fmtPcm16 = std::string("fmt ") + std::string("\x10\0\0\0", 4) + std::string("\x01\0\x01\0", 4) +
                                 std::string("\x44\xac\0\0", 4) + std::string("\x88\x58\x01\0", 4) +
                                 std::string("\x02\0\x10\0", 4);
    const std::string fmtAlaw = std::string("fmt ") + std::string("\x10\0\0\0", 4) + std::string("\x06\0\x01\0", 4) +
                                std::string("\x44\xac\0\0", 4) + std::string("\x44\xac\0\0", 4) +
                                std::string("\x01\0\x08\0", 4);
    const Row rows[] = {
        {"empty.wav", "", "not a RIFF WAVE"},
        {"text.wav", "hello, this is not audio", "not a RIFF WAVE"},
        {"nodata.wav", std::string("RIFF\x24\0\0\0WAVE", 12) + fmtPcm16, "no data chunk"},
        {"order.wav", std::string("RIFF\x2c\0\0\0WAVE", 12) + std::string("data\x04\0\0\0\0\0\0\0", 12) + fmtPcm16,
         "data chunk before fmt"},
        {"alaw.wav", std::string("RIFF\x2c\0\0\0WAVE", 12) + fmtAlaw + std::string("data\x02\0\0\0\0\0", 10),
         "unsupported sample format"},
    };
    for (const Row& r : rows) {
        const std::string path = dir.file(r.name);
        std::ofstream(path, std::ios::binary) << r.bytes;
        WavData data;
        std::string error;
        EXPECT_FALSE(readWav(path, &data, &error)) << r.name;
        EXPECT_NE(error.find(r.reason), std::string::npos) << r.name << ": " << error;
    }
    WavData data;
    std::string error;
    EXPECT_FALSE(readWav(dir.file("missing.wav"), &data, &error));
    EXPECT_NE(error.find("cannot be opened"), std::string::npos) << error;
}

// A data chunk cut short (a writer that died) still gives the whole frames it holds.
TEST(WavFile, TruncatedDataGivesWholeFrames) {
    pw::test::TempDir dir;
    const std::string path = dir.file("cut.wav");
    WavWriter w;
    std::string error;
    ASSERT_TRUE(w.open(path, 2, 44100, &error));
    const std::vector<float> samples = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f};
    ASSERT_TRUE(w.write(samples.data(), samples.size()));
    ASSERT_TRUE(w.close());
    // Drop the last 5 bytes: frame 3 becomes incomplete.
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    bytes.resize(bytes.size() - 5);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    WavData data;
    ASSERT_TRUE(readWav(path, &data, &error)) << error;
    EXPECT_EQ(data.samples, std::vector<float>({0.1f, 0.2f, 0.3f, 0.4f}));
}

TEST(WavFile, UncreatableFileIsAnError) {
    WavWriter w;
    std::string error;
    EXPECT_FALSE(w.open("/nonexistent/folder/out.wav", 2, 44100, &error));
    EXPECT_NE(error.find("/nonexistent/folder/out.wav"), std::string::npos);
    EXPECT_FALSE(w.write(nullptr, 0));
}

}  // namespace
}  // namespace pw::dev
