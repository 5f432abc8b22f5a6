// The waveform task: where points lie, which frames each is built from, and the four bytes of a
// point, on a first channel whose value changes from point to point (the second channel carries
// full scale throughout and must never show).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "com/tarvenkolm/analysis/calc/WaveAnalyzer.h"
#include "wholefile_support.h"

using namespace com_tarvenkolm_analysis_calc;
using wholefile_test::TestSound;
using wholefile_test::bytesOf;

namespace {

constexpr int kRate = 44100;
constexpr unsigned kPoint = 13230;   // 300 ms
constexpr unsigned kWindow = 2205;   // 50 ms
constexpr int16_t kOutside = -100 * 256;  // value after each point's window

// The window of point k: k % 4 picks silence, all -256, a level that grows with k, or a mix of
// +1280 and -2560.
int16_t windowValue(unsigned k, unsigned frameInPoint) {
    switch (k % 4) {
    case 0: return 0;
    case 1: return -256;
    case 2: return static_cast<int16_t>(256 * (k % 100));
    default: return frameInPoint % 2 ? 1280 : -2560;
    }
}

std::vector<signed char> expectedWindowPoint(unsigned k) {
    switch (k % 4) {
    case 0: return {0, 0, 0, 0};
    case 1: return {-1, 0, -1, 0};
    case 2: return {0, static_cast<signed char>(k % 100), 0, static_cast<signed char>(k % 100)};
    default: return {-10, 5, -10, 5};
    }
}

std::vector<int16_t> pointsTrack(unsigned points) {
    std::vector<int16_t> pcm(static_cast<size_t>(points) * kPoint * 2);
    for (unsigned k = 0; k < points; ++k)
        for (unsigned f = 0; f < kPoint; ++f) {
            const size_t i = (static_cast<size_t>(k) * kPoint + f) * 2;
            pcm[i] = f < kWindow ? windowValue(k, f) : kOutside;
            pcm[i + 1] = 32767;
        }
    return pcm;
}

struct Waveform {
    long status;
    WaveAnalyzerResult result;
    std::vector<signed char> bytes;
};

Waveform runWaveform(FMOD::Sound* sound, unsigned bits, double msPerPixel, size_t bufferBytes) {
    Waveform w;
    w.bytes.assign(bufferBytes, 0x55);
    WaveAnalyzerOptions options(static_cast<TK_WAVEANALYZER_OPTIONS>(bits));
    options.msPerPixel = msPerPixel;
    options.silenceTargetDB = -60.0f;
    w.result.targetBuffer = reinterpret_cast<char*>(w.bytes.data());
    w.result.targetBufferSize = static_cast<unsigned>(bufferBytes);
    WaveAnalyzer analyzer(&options, &w.result, sound);
    w.status = analyzer.doProcessing(nullptr, nullptr, nullptr, false);
    return w;
}

TEST(WaveformOverview, AloneEachPointIsItsFirstFiftyMillisecondsAndAFullBufferEndsTheTask) {
    TestSound sound(bytesOf(pointsTrack(1001)), 2, 16, kRate);
    ASSERT_NE(sound.get(), nullptr);
    const Waveform w = runWaveform(sound.get(), WAVEANALYZER_WAVEDATA, 300.0, 4000);
    EXPECT_EQ(w.status, 1);
    EXPECT_TRUE(w.result.waveDataCalculated) << "1000 points of 300 ms fill 4000 bytes";
    for (unsigned k = 0; k < 1000; ++k) {
        const std::vector<signed char> got(w.bytes.begin() + 4 * k, w.bytes.begin() + 4 * k + 4);
        ASSERT_EQ(got, expectedWindowPoint(k)) << "point " << k;
    }
}

TEST(WaveformOverview, WithAnotherTaskEveryFrameOfAPointCounts) {
    TestSound sound(bytesOf(pointsTrack(12)), 2, 16, kRate);
    const Waveform w = runWaveform(sound.get(), WAVEANALYZER_WAVEDATA | WAVEANALYZER_SILENCE, 300.0, 4 * 12);
    EXPECT_EQ(w.status, 1);
    EXPECT_TRUE(w.result.waveDataCalculated);
    for (unsigned k = 0; k < 12; ++k) {
        // The whole point: its window and the 11025 frames of -100 after it.
        long negSum = 0, negCount = 0, posSum = 0, posCount = 0, maxValue = 0;
        for (unsigned f = 0; f < kPoint; ++f) {
            const int v = (f < kWindow ? windowValue(k, f) : kOutside) / 256;
            if (v < 0) negSum += v, ++negCount;
            else posSum += v, ++posCount, maxValue = std::max<long>(maxValue, v);
        }
        const std::vector<signed char> want = {-100, static_cast<signed char>(maxValue),
                                               static_cast<signed char>(negSum / negCount),
                                               static_cast<signed char>(posCount ? posSum / posCount : 0)};
        const std::vector<signed char> got(w.bytes.begin() + 4 * k, w.bytes.begin() + 4 * k + 4);
        EXPECT_EQ(got, want) << "point " << k;
    }
}

TEST(WaveformOverview, ShortAndZeroPointLengths) {
    // First channel: +2560 and -2560 alternating in runs of `run` frames.
    auto alternating = [](unsigned run, unsigned frames) {
        std::vector<int16_t> pcm(frames * 2);
        for (unsigned f = 0; f < frames; ++f) {
            pcm[2 * f] = (f / run) % 2 ? -2560 : 2560;
            pcm[2 * f + 1] = -32768;
        }
        return pcm;
    };
    struct Case {
        const char* what;
        double ms;
        unsigned bits;
        unsigned run;  // frames per point that the result must show; 0: no point at all
    } cases[] = {
        {"20 ms alone: points of 882 frames back to back", 20.0, WAVEANALYZER_WAVEDATA, 882},
        {"0 ms alone: points of the 50 ms window back to back", 0.0, WAVEANALYZER_WAVEDATA, 2205},
        {"0 ms with another task: no point closes", 0.0, WAVEANALYZER_WAVEDATA | WAVEANALYZER_SILENCE, 0},
    };
    for (const Case& c : cases) {
        const unsigned run = c.run ? c.run : 1000;
        TestSound sound(bytesOf(alternating(run, run * 40)), 2, 16, kRate);
        const Waveform w = runWaveform(sound.get(), c.bits, c.ms, 4 * 30);
        EXPECT_EQ(w.status, 1) << c.what;
        if (!c.run) {
            EXPECT_FALSE(w.result.waveDataCalculated) << c.what;
            EXPECT_EQ(w.bytes, std::vector<signed char>(4 * 30, 0x55)) << c.what;
            continue;
        }
        EXPECT_TRUE(w.result.waveDataCalculated) << c.what;
        for (unsigned k = 0; k < 30; ++k) {
            const std::vector<signed char> want =
                k % 2 ? std::vector<signed char>{-10, 0, -10, 0} : std::vector<signed char>{0, 10, 0, 10};
            const std::vector<signed char> got(w.bytes.begin() + 4 * k, w.bytes.begin() + 4 * k + 4);
            EXPECT_EQ(got, want) << c.what << ", point " << k;
        }
    }
}

TEST(WaveformOverview, SoundEndingBeforeTheBufferIsFullLeavesItNotCalculated) {
    TestSound sound(bytesOf(pointsTrack(5)), 2, 16, kRate);
    const Waveform w = runWaveform(sound.get(), WAVEANALYZER_WAVEDATA, 300.0, 4 * 10);
    EXPECT_EQ(w.status, 1);
    EXPECT_FALSE(w.result.waveDataCalculated);
    for (unsigned k = 0; k < 5; ++k) {
        const std::vector<signed char> got(w.bytes.begin() + 4 * k, w.bytes.begin() + 4 * k + 4);
        EXPECT_EQ(got, expectedWindowPoint(k)) << "point " << k;
    }
    EXPECT_EQ(std::vector<signed char>(w.bytes.begin() + 20, w.bytes.end()), std::vector<signed char>(20, 0x55));
}

// Point lengths whose frame count is no int: refused before anything is read, nothing written,
// alone and beside another task. The longest length that fits still makes its first point.
TEST(WaveformOverview, PointLengthsBeyondAnIntAreRefused) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    const double refused[] = {std::numeric_limits<double>::quiet_NaN(), inf, -inf, 4.9e7, -4.9e7, 1e300,
                              std::numeric_limits<double>::max()};
    TestSound sound(bytesOf(pointsTrack(5)), 2, 16, kRate);
    for (double ms : refused) {
        for (unsigned bits : {0u + WAVEANALYZER_WAVEDATA, 0u + (WAVEANALYZER_WAVEDATA | WAVEANALYZER_SILENCE)}) {
            const Waveform w = runWaveform(sound.get(), bits, ms, 4 * 10);
            EXPECT_EQ(-4, w.status) << ms << " ms, tasks " << bits;
            EXPECT_FALSE(w.result.waveDataCalculated) << ms;
            EXPECT_EQ(w.bytes, std::vector<signed char>(40, 0x55)) << ms;
        }
    }
    // Alone, a point closes after its window; a negative length closes none earlier (window after
    // window), the longest one seeks past the rest of the sound.
    const struct {
        double ms;
        std::vector<signed char> second;
    } accepted[] = {{4.8e7, {0x55, 0x55, 0x55, 0x55}}, {-10.0, {-100, 0, -100, 0}}};
    for (const auto& a : accepted) {
        const Waveform w = runWaveform(sound.get(), WAVEANALYZER_WAVEDATA, a.ms, 4 * 10);
        EXPECT_EQ(1, w.status) << a.ms;
        EXPECT_EQ(std::vector<signed char>(w.bytes.begin(), w.bytes.begin() + 4), expectedWindowPoint(0)) << a.ms;
        EXPECT_EQ(std::vector<signed char>(w.bytes.begin() + 4, w.bytes.begin() + 8), a.second) << a.ms;
    }
}

}  // namespace
