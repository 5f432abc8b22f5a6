// The wave analyzer's driver: what it refuses before any task starts, ranges, cancelling, progress,
// the backward pass on short sounds, and the silence points on a file with known silences.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ReplayGainAnalysis.h"
#include "com/tarvenkolm/analysis/calc/WaveAnalyzer.h"
#include "temp_dir.hpp"
#include "wholefile_support.h"

using namespace com_tarvenkolm_analysis_calc;
using wholefile_test::TestSound;
using wholefile_test::bytesOf;

namespace {

constexpr int kRate = 44100;
constexpr unsigned kChunkFrames = 2048;

// Stereo 16-bit: silence, then a 0.5 amplitude tone from `loudFrom` to `loudTo` (frames).
std::vector<int16_t> toneIn(unsigned frames, unsigned loudFrom, unsigned loudTo) {
    std::vector<int16_t> pcm(frames * 2, 0);
    for (unsigned f = loudFrom; f < loudTo && f < frames; ++f)
        pcm[2 * f] = pcm[2 * f + 1] = static_cast<int16_t>(16000 * std::sin(2 * M_PI * 440.0 * f / kRate));
    return pcm;
}

std::vector<int16_t> noisePcm(unsigned frames, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> g(0.0, 3000.0);
    std::vector<int16_t> pcm(frames * 2);
    for (int16_t& s : pcm) s = static_cast<int16_t>(std::max(-32768.0, std::min(32767.0, g(rng))));
    return pcm;
}

struct Run {
    long status;
    WaveAnalyzerResult result;
};

TEST(WaveAnalyzerRequests, RefusedBeforeAnyTaskStarts) {
    const std::vector<unsigned char> stereo16 = bytesOf(noisePcm(kRate, 1));
    TestSound ok(stereo16, 2, 16, kRate);
    TestSound threeChannels(bytesOf(noisePcm(kRate, 2)), 3, 16, kRate);  // 2/3 s of 3 channels
    TestSound twentyFour(std::vector<unsigned char>(kRate * 6, 0x40), 2, 24, kRate);
    ASSERT_TRUE(ok.get() && threeChannels.get() && twentyFour.get());

    struct Case {
        const char* what;
        bool withOptions;
        unsigned bits;
        FMOD::Sound* sound;
        long expected;
    } cases[] = {
        {"no options", false, 1 | 4, ok.get(), -4},
        {"no task bit", true, 0, ok.get(), -4},
        {"no sound", true, 1 | 4, nullptr, -4},
        {"24-bit", true, 1 | 4, twentyFour.get(), -4},
        {"three channels", true, 1 | 4, threeChannels.get(), -4},
        {"an unknown bit only: no task, one chunk", true, 16, ok.get(), 1},
    };
    for (const Case& c : cases) {
        WaveAnalyzerOptions options(static_cast<TK_WAVEANALYZER_OPTIONS>(c.bits));
        options.msPerPixel = 10;
        WaveAnalyzerResult result;
        std::vector<char> buffer(64, 0x55);
        result.targetBuffer = buffer.data();
        result.targetBufferSize = static_cast<unsigned>(buffer.size());
        WaveAnalyzer analyzer(c.withOptions ? &options : nullptr, &result, c.sound);
        EXPECT_EQ(analyzer.doProcessing(nullptr, nullptr, nullptr, false), c.expected) << c.what;
        EXPECT_FALSE(result.replayGainCalculated) << c.what;
        EXPECT_EQ(buffer, std::vector<char>(64, 0x55)) << c.what << ": nothing may be written";
    }
}

TEST(WaveAnalyzerRequests, StartAndEndZeroMeanTheWholeSound) {
    // Loud only over the last second of ten: the leading silence ends there.
    const unsigned frames = 10 * kRate;
    TestSound sound(bytesOf(toneIn(frames, 9 * kRate, frames)), 2, 16, kRate);
    WaveAnalyzerOptions options(WAVEANALYZER_SILENCE);
    options.silenceTargetDB = -60.0f;
    WaveAnalyzerResult result;
    WaveAnalyzer analyzer(&options, &result, sound.get());
    EXPECT_EQ(analyzer.doProcessing(nullptr, nullptr, nullptr, false), 1);
    EXPECT_EQ(options.endPosition, frames);
    EXPECT_GE(result.silenceStartPoint, 9000u);
    EXPECT_LE(result.silenceStartPoint, 9000u + 1000u * kChunkFrames / kRate);
}

TEST(WaveAnalyzerCancel, CancelBeforeTheFirstChunkAnalysesOneChunk) {
    // At 32 kHz one chunk holds one whole 50 ms block, so the one chunk has a gain.
    const int rate = 32000;
    const std::vector<int16_t> pcm = noisePcm(5 * rate, 3);
    TestSound sound(bytesOf(pcm), 2, 16, rate);
    WaveAnalyzerOptions options(WAVEANALYZER_REPLAYGAIN);
    WaveAnalyzerResult result;
    WaveAnalyzer analyzer(&options, &result, sound.get());
    int cancel = 1;
    EXPECT_EQ(analyzer.doProcessing(nullptr, nullptr, &cancel, false), 1);
    EXPECT_EQ(cancel, 0);
    ASSERT_TRUE(result.replayGainCalculated) << "post-processing must run after a cancel";

    // The gain of exactly the first chunk.
    std::vector<double> l(kChunkFrames), r(kChunkFrames);
    for (unsigned i = 0; i < kChunkFrames; ++i) {
        l[i] = pcm[2 * i];
        r[i] = pcm[2 * i + 1];
    }
    std::unique_ptr<ReplayGainAnalysis> direct(new ReplayGainAnalysis());
    direct->InitGainAnalysis(rate);
    direct->AnalyzeSamples(l.data(), r.data(), l.size(), 2);
    EXPECT_EQ(result.replayGain, static_cast<float>(direct->GetTitleGain()));
}

// The percent values a listener must see for a forward pass from `start` over `frames` frames
// read in chunks: 0 after every chunk while it is 0, every other value once.
std::vector<int> expectedProgress(unsigned start, unsigned frames) {
    std::vector<int> values;
    int last = 0;
    for (unsigned pos = start; pos < frames;) {
        pos = std::min(pos + kChunkFrames, frames);
        const int percent = static_cast<int>(static_cast<float>(pos) / static_cast<float>(frames) * 100.0f);
        if (percent != last || percent == 0) values.push_back(percent);
        last = percent;
    }
    return values;
}

TEST(WaveAnalyzerProgress, ZeroUntilItChangesThenEachValueOnce) {
    const unsigned frames = 10 * kRate + 123;
    TestSound sound(bytesOf(noisePcm(frames, 4)), 2, 16, kRate);
    struct Case {
        unsigned start;
        bool hasSetValue;
    } cases[] = {{0, true}, {frames / 2, true}, {0, false}};
    for (const Case& c : cases) {
        wholefile_test::RecordingEnv java;
        java.hasSetValue = c.hasSetValue;
        WaveAnalyzerOptions options(WAVEANALYZER_REPLAYGAIN);
        options.startPosition = c.start;
        WaveAnalyzerResult result;
        WaveAnalyzer analyzer(&options, &result, sound.get());
        EXPECT_EQ(analyzer.doProcessing(java.env(), java.listener(), nullptr, false), 1);
        if (!c.hasSetValue) {
            EXPECT_TRUE(java.values.empty());
            EXPECT_FALSE(java.exceptionPending) << "a failed lookup must not leave its exception";
            continue;
        }
        EXPECT_EQ(java.values, expectedProgress(c.start, frames)) << "start " << c.start;
        ASSERT_FALSE(java.values.empty());
        EXPECT_EQ(java.values.back(), 100);
        if (c.start) EXPECT_NEAR(java.values.front(), 50, 1);
        else EXPECT_EQ(std::vector<int>(java.values.begin(), java.values.begin() + 4), (std::vector<int>{0, 0, 1, 2}));
    }
}

TEST(WaveAnalyzerBackwardPass, SoundsShorterThanAChunkFindNoEnd) {
    // Loud from the first frame: the leading phase ends at once; no backward pass can run.
    for (unsigned frames : {1000u, kChunkFrames, kChunkFrames + 4u}) {
        TestSound sound(bytesOf(toneIn(frames, 0, frames)), 2, 16, kRate);
        WaveAnalyzerOptions options(WAVEANALYZER_SILENCE);
        options.silenceTargetDB = -60.0f;
        WaveAnalyzerResult result;
        WaveAnalyzer analyzer(&options, &result, sound.get());
        EXPECT_EQ(analyzer.doProcessing(nullptr, nullptr, nullptr, false), 1) << frames;
        EXPECT_FALSE(result.silenceCalculated) << frames;
        EXPECT_EQ(result.silenceEndPoint, 0u) << frames;
    }
    // One chunk and five frames: the backward pass reads from frame 1 and finds the end.
    const unsigned frames = kChunkFrames + 5;
    TestSound sound(bytesOf(toneIn(frames, 0, frames)), 2, 16, kRate);
    WaveAnalyzerOptions options(WAVEANALYZER_SILENCE);
    options.silenceTargetDB = -60.0f;
    WaveAnalyzerResult result;
    WaveAnalyzer analyzer(&options, &result, sound.get());
    EXPECT_EQ(analyzer.doProcessing(nullptr, nullptr, nullptr, false), 1);
    EXPECT_TRUE(result.silenceCalculated);
}

struct SilenceFile {
    const char* what;
    int bits;
    int channels;
};

class SilencePoints : public ::testing::TestWithParam<SilenceFile> {};

TEST_P(SilencePoints, KnownSilencesWithinOneChunk) {
    if (!wholefile_test::haveTool("sox")) GTEST_SKIP() << "sox is needed";
    const SilenceFile c = GetParam();
    pw::test::TempDir dir("pw-silence-");
    const std::string wav = dir.file("s.wav");
    // 2 s of silence, 5 s of tone, 3 s of silence.
    // No dither: the silence must stay digital silence at 8 bits too.
    ASSERT_TRUE(wholefile_test::run("sox -D -n -r 44100 -c " + std::to_string(c.channels) + " -b " +
                                    std::to_string(c.bits) + " " + wav + " synth 5 sine 440 vol 0.5 pad 2 3"));
    TestSound sound(wav);
    ASSERT_NE(sound.get(), nullptr);
    WaveAnalyzerOptions options(WAVEANALYZER_SILENCE);
    options.silenceTargetDB = -60.0f;
    WaveAnalyzerResult result;
    WaveAnalyzer analyzer(&options, &result, sound.get());
    EXPECT_EQ(analyzer.doProcessing(nullptr, nullptr, nullptr, false), 1);
    ASSERT_TRUE(result.silenceCalculated) << c.what;
    const double chunkMs = 1000.0 * kChunkFrames / kRate;
    EXPECT_GE(result.silenceStartPoint, 2000u) << c.what;
    EXPECT_LE(result.silenceStartPoint, 2000.0 + chunkMs) << c.what;
    // Backward chunks are examined front to back, so the end lands up to a chunk after the tone.
    EXPECT_NEAR(result.silenceEndPoint, 7000.0, chunkMs) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Files, SilencePoints,
                         ::testing::Values(SilenceFile{"16-bit stereo", 16, 2}, SilenceFile{"16-bit mono", 16, 1},
                                           SilenceFile{"8-bit stereo", 8, 2}));

}  // namespace
