// The beat task on sox-made click tracks and drum-like loops: the tempo it reports equals what
// the deck's beat tracker finds on the same file (the onset front end fed hop by hop, then beat
// detection) and the true tempo within 0.05 BPM, folded into the default 80-160 range.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "AudioProcessor.h"
#include "BeatTracker.h"
#include "com/tarvenkolm/analysis/calc/WaveAnalyzer.h"
#include "temp_dir.hpp"
#include "wholefile_support.h"

using namespace com_tarvenkolm_analysis_calc;
using wholefile_test::TestSound;

namespace {

constexpr int kRate = 44100;

struct TempoCase {
    const char* kind;  // "click" or "drums"
    double bpm;
    double folded;     // what the 80-160 range makes of it
};

// The deck tracker's way: the decoded 16-bit PCM into an onset processor one hop at a time.
float deckBpm(const std::vector<unsigned char>& pcm, int channels, std::vector<double>* beatTimes) {
    AudioProcessor processor(2);
    unsigned hopBytes = 0;
    const unsigned frames = static_cast<unsigned>(pcm.size() / (2 * channels));
    EXPECT_EQ(processor.setConfig(channels, kRate, frames, &hopBytes), 1);
    for (unsigned h = 0; static_cast<size_t>(h + 1) * hopBytes <= pcm.size(); ++h)
        processor.processFrame(reinterpret_cast<const char*>(pcm.data()) + static_cast<size_t>(h) * hopBytes, hopBytes, h);
    BeatTracker tracker;
    float bpm = 0.0f;
    std::vector<Event*> beats;
    tracker.beatTrack(&processor, bpm, beats, nullptr, false);
    for (const Event* e : beats) beatTimes->push_back(e->time);
    deleteSyntheticEvents(beats);
    return bpm;
}

class BeatTask : public ::testing::TestWithParam<TempoCase> {};

TEST_P(BeatTask, SameTempoAsTheDeckTrackerAndTheTruth) {
    if (!wholefile_test::haveTool("sox") || !wholefile_test::haveTool("soxi")) GTEST_SKIP() << "sox is needed";
    const TempoCase c = GetParam();
    pw::test::TempDir dir("pw-beat-");
    const std::string beat = dir.file("beat.wav"), track = dir.file("track.wav");
    const long period = std::lround(60.0 / c.bpm * kRate);  // frames per beat
    const std::string pad = std::to_string(period) + "s";
    const std::string sox = "sox -D -R -r 44100 -n -c 2 -b 16 ";
    if (std::string(c.kind) == "click") {
        // A 5 ms square click, then silence to the next beat.
        ASSERT_TRUE(wholefile_test::run(sox + beat + " synth 220s square 1000 vol 0.7 pad 0 " +
                                        std::to_string(period - 220) + "s"));
    } else {
        // A falling-pitch kick on the beat and a noise hat on the off-beat, over a quiet bed.
        const std::string kick = dir.file("kick.wav"), hat = dir.file("hat.wav"), bed = dir.file("bed.wav");
        ASSERT_TRUE(wholefile_test::run(sox + kick + " synth 0.12 sine 150:45 fade 0 0.12 0.1 vol 0.8 pad 0 " +
                                        std::to_string(period - 5292) + "s"));
        ASSERT_TRUE(wholefile_test::run(sox + hat + " synth 0.03 whitenoise highpass 5000 fade 0 0.03 0.025 vol 0.3 pad " +
                                        std::to_string(period / 2) + "s " + std::to_string(period - period / 2 - 1323) + "s"));
        ASSERT_TRUE(wholefile_test::run(sox + bed + " synth " + pad + " pinknoise vol 0.02"));
        ASSERT_TRUE(wholefile_test::run("sox -D -m " + kick + " " + hat + " " + bed + " " + beat));
    }
    ASSERT_EQ(std::stol(wholefile_test::capture("soxi -s " + beat)), period);
    const int repeats = static_cast<int>(45.0 * c.bpm / 60.0);
    ASSERT_TRUE(wholefile_test::run("sox -D " + beat + " " + track + " repeat " + std::to_string(repeats)));

    TestSound sound(track);
    ASSERT_NE(sound.get(), nullptr);
    WaveAnalyzerOptions options(WAVEANALYZER_BEATTRACK);
    options.bpmPrecision = 2;
    WaveAnalyzerResult result;
    WaveAnalyzer analyzer(&options, &result, sound.get());
    ASSERT_EQ(analyzer.doProcessing(nullptr, nullptr, nullptr, false), 1);
    ASSERT_TRUE(result.beatTrackerCalculated);

    std::vector<double> deckTimes;
    const float deck = deckBpm(wholefile_test::readAll(sound.get()), 2, &deckTimes);
    EXPECT_EQ(result.bpm, deck) << c.kind << " " << c.bpm;
    const double truth = 60.0 * kRate / period * (c.folded / c.bpm);
    EXPECT_NEAR(result.bpm, truth, 0.05) << c.kind << " " << c.bpm;
    ASSERT_EQ(result.beatEvents.size(), deckTimes.size());
    for (size_t i = 0; i < deckTimes.size(); ++i) EXPECT_EQ(result.beatEvents[i]->time, deckTimes[i]) << i;
    for (Event* e : result.beatEvents) delete e;
}

INSTANTIATE_TEST_SUITE_P(
    Tempi, BeatTask,
    ::testing::Values(TempoCase{"click", 90, 90}, TempoCase{"click", 120, 120}, TempoCase{"click", 128, 128},
                      TempoCase{"click", 140, 140}, TempoCase{"click", 174, 87}, TempoCase{"drums", 90, 90},
                      TempoCase{"drums", 128, 128}, TempoCase{"drums", 174, 87}));

TEST(BeatTaskOptions, PrecisionAboveTwoAndAnEmptyRangeRunAsTheDefaults) {
    // A 120 BPM click track built in memory; precision 7 runs as 2, and 0..0 keeps 80-160.
    const long period = kRate / 2;
    std::vector<int16_t> pcm(static_cast<size_t>(period) * 60 * 2, 0);
    for (size_t b = 0; b < 60; ++b)
        for (size_t i = 0; i < 220; ++i) pcm[(b * period + i) * 2] = pcm[(b * period + i) * 2 + 1] = (i / 22) % 2 ? 20000 : -20000;
    TestSound sound(wholefile_test::bytesOf(pcm), 2, 16, kRate);
    float seen[2] = {0, 0};
    for (int run = 0; run < 2; ++run) {
        WaveAnalyzerOptions options(WAVEANALYZER_BEATTRACK);
        options.bpmPrecision = run == 0 ? 7u : 2u;
        options.minBPM = run == 0 ? 0.0f : 80.0f;
        options.maxBPM = run == 0 ? 0.0f : 160.0f;
        WaveAnalyzerResult result;
        WaveAnalyzer analyzer(&options, &result, sound.get());
        ASSERT_EQ(analyzer.doProcessing(nullptr, nullptr, nullptr, false), 1);
        ASSERT_TRUE(result.beatTrackerCalculated);
        seen[run] = result.bpm;
        for (Event* e : result.beatEvents) delete e;
    }
    EXPECT_EQ(seen[0], seen[1]);
    EXPECT_NEAR(seen[0], 120.0, 0.05);
}

}  // namespace
