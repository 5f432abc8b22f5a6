// Two ReplayGain analyses on two threads at once give exactly what each gives alone: the analysis
// state belongs to each analysis.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

#include "com/tarvenkolm/analysis/calc/WaveAnalyzer.h"
#include "wholefile_support.h"

using namespace com_tarvenkolm_analysis_calc;
using wholefile_test::TestSound;

namespace {

std::vector<unsigned char> noiseBytes(unsigned frames, unsigned seed, double rms) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> g(0.0, rms);
    std::vector<int16_t> pcm(frames * 2);
    for (int16_t& s : pcm) s = static_cast<int16_t>(std::max(-32768.0, std::min(32767.0, g(rng))));
    return wholefile_test::bytesOf(pcm);
}

float gainOf(FMOD::Sound* sound) {
    WaveAnalyzerOptions options(WAVEANALYZER_REPLAYGAIN);
    WaveAnalyzerResult result;
    WaveAnalyzer analyzer(&options, &result, sound);
    EXPECT_EQ(analyzer.doProcessing(nullptr, nullptr, nullptr, false), 1);
    EXPECT_TRUE(result.replayGainCalculated);
    return result.replayGain;
}

TEST(ReplayGainThreads, TwoAnalysesAtOnceEqualEachAlone) {
    // Different rates and levels, so shared state would show in both results.
    TestSound quiet(noiseBytes(44100 * 8, 1, 800.0), 2, 16, 44100);
    TestSound loud(noiseBytes(48000 * 8, 2, 9000.0), 2, 16, 48000);
    ASSERT_TRUE(quiet.get() && loud.get());
    const float quietAlone = gainOf(quiet.get());
    const float loudAlone = gainOf(loud.get());
    ASSERT_GT(quietAlone - loudAlone, 15.0f);
    for (int round = 0; round < 3; ++round) {
        float quietTogether = 0, loudTogether = 0;
        std::thread a([&] { quietTogether = gainOf(quiet.get()); });
        std::thread b([&] { loudTogether = gainOf(loud.get()); });
        a.join();
        b.join();
        EXPECT_EQ(quietTogether, quietAlone) << "round " << round;
        EXPECT_EQ(loudTogether, loudAlone) << "round " << round;
    }
}

}  // namespace
