// The onset detector: its time grid for every rate and precision, the curves it builds, and the
// onsets it picks from real signals and from the degenerate ones (silence, one silent channel,
// breaks in the frame sequence, curves too short to judge).
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <vector>

#include "AudioProcessor.h"
#include "analysis_signals.h"

using analysis_test::Track;
using analysis_test::analyse;
using analysis_test::clickTrack;

namespace {

struct SizeCase {
    float rate;
    unsigned precision;
    unsigned hop;
    unsigned fft;
};

class OnsetSizes : public ::testing::TestWithParam<SizeCase> {};

TEST_P(OnsetSizes, HopAndFrameFollowTheRateAndPrecision) {
    const SizeCase c = GetParam();
    for (int channels : {1, 2, 6}) {
        AudioProcessor p(c.precision);
        unsigned chunk = 0;
        ASSERT_EQ(p.setConfig(channels, c.rate, static_cast<unsigned>(c.rate) * 10, &chunk), 1);
        EXPECT_EQ(p.hopSize, c.hop) << c.rate << " Hz, precision " << c.precision;
        EXPECT_EQ(p.fftSize, c.fft) << c.rate << " Hz, precision " << c.precision;
        EXPECT_EQ(chunk, c.hop * channels * 2u);
        // The hop time is the hop actually taken.
        EXPECT_DOUBLE_EQ(p.hopTime, c.hop / static_cast<double>(c.rate));
    }
}

INSTANTIATE_TEST_SUITE_P(
    RatesAndPrecisions, OnsetSizes,
    ::testing::Values(
        SizeCase{8000, 2, 80, 512}, SizeCase{8000, 1, 160, 1024}, SizeCase{8000, 0, 320, 2048},
        SizeCase{11025, 2, 110, 512}, SizeCase{11025, 1, 221, 1024}, SizeCase{11025, 0, 441, 2048},
        SizeCase{22050, 2, 221, 1024}, SizeCase{22050, 1, 441, 2048}, SizeCase{22050, 0, 882, 4096},
        SizeCase{32000, 2, 320, 2048}, SizeCase{32000, 1, 640, 4096}, SizeCase{32000, 0, 1280, 8192},
        SizeCase{44100, 2, 441, 2048}, SizeCase{44100, 1, 882, 4096}, SizeCase{44100, 0, 1764, 8192},
        SizeCase{48000, 2, 480, 2048}, SizeCase{48000, 1, 960, 4096}, SizeCase{48000, 0, 1920, 8192},
        SizeCase{96000, 2, 960, 4096}, SizeCase{96000, 1, 1920, 8192}, SizeCase{96000, 0, 3840, 16384},
        // The finer grids no caller uses, and an unknown precision (the default grid).
        SizeCase{44100, 3, 221, 1024}, SizeCase{44100, 4, 110, 512}, SizeCase{44100, 5, 55, 256},
        SizeCase{44100, 7, 441, 2048}));

TEST(OnsetSizes, StereoAt44100Takes1764BytesPerHop) {
    AudioProcessor p(2);
    unsigned chunk = 0;
    p.setConfig(2, 44100.0f, 44100 * 10, &chunk);
    EXPECT_EQ(chunk, 1764u);
    EXPECT_EQ(p.totalFrames, 1000u);
}

TEST(OnsetSizes, UnknownLengthReservesOneHour) {
    const unsigned expected[] = {90000, 180000, 360000};  // precision 0, 1, 2 at 44.1 kHz
    for (unsigned precision = 0; precision <= 2; ++precision) {
        AudioProcessor p(precision);
        p.setConfig(2, 44100.0f, 0, nullptr);
        EXPECT_EQ(p.totalFrames, expected[precision]) << precision;
        unsigned frames = 0, factor = 0;
        double* energy = nullptr;
        p.getEnergy(&energy, &frames, &factor);
        EXPECT_NE(energy, nullptr);
        EXPECT_EQ(frames, expected[precision]);
        EXPECT_EQ(factor, 2u);
        p.getEnergy(nullptr, nullptr, nullptr);  // every out-pointer may be null
    }
}

TEST(OnsetConfig, UnusableFormatsAreRefusedAndTheProcessorTakesNoFrames) {
    const struct {
        int channels;
        float rate;
    } bad[] = {{0, 44100}, {-2, 44100}, {2, 0}, {2, -8000}, {2, 10},
               {2, std::numeric_limits<float>::quiet_NaN()},
               {2, std::numeric_limits<float>::infinity()}, {2, 1e9f}};
    const std::vector<int16_t> pcm(4096, 1000);
    for (const auto& b : bad) {
        AudioProcessor p(2);
        unsigned chunk = 77;
        EXPECT_EQ(p.setConfig(b.channels, b.rate, 44100, &chunk), -4) << b.channels << " " << b.rate;
        EXPECT_EQ(chunk, 0u);
        p.processFrame(reinterpret_cast<const char*>(pcm.data()), 1764, 0);
        p.processingFinish(nullptr);
        EXPECT_TRUE(p.onsets.empty());
        EXPECT_EQ(p.totalFrames, 0u);
    }
}

TEST(OnsetCurves, EnergyIsFourTimesTheSumOfSquaresOfEachRun) {
    // Constant 0.5 on the analysed channel; a run is (2048 - 441) / 2 = 803 samples.
    struct Case {
        int channels;
        std::vector<int16_t> frame;
        double level;
    } cases[] = {{1, {16384}, 0.5},
                 {2, {16384, -32768}, 0.5},           // stereo reads the left channel only
                 {3, {16384, 16384, -16384}, 1.0 / 6}};  // 3+ channels: the mean
    for (const Case& c : cases) {
        Track t;
        t.channels = c.channels;
        for (int i = 0; i < 44100; ++i) t.pcm.insert(t.pcm.end(), c.frame.begin(), c.frame.end());
        auto p = analyse(t);
        double* energy = nullptr;
        p->getEnergy(&energy, nullptr, nullptr);
        for (unsigned f = 5; f < p->totalFrames; ++f) {  // once the ring is full
            for (int j = 0; j < 2; ++j) {
                ASSERT_NEAR(energy[2 * f + j], 4.0 * 803 * c.level * c.level, 1e-6)
                    << c.channels << " channels, frame " << f;
            }
        }
    }
}

TEST(OnsetCurves, FrameIndexBeyondTheCurvesChangesNothing) {
    Track t = clickTrack(120, 2.0);
    auto p = analyse(t);
    const std::vector<double> flux(p->flux, p->flux + p->fluxLength);
    const unsigned last = p->lastFrame, pos = p->ringPos;
    const char* bytes = reinterpret_cast<const char*>(t.pcm.data());
    for (unsigned index : {p->totalFrames, p->totalFrames + 1, 0xffffffffu}) {
        p->processFrame(bytes, 1764, index);
        EXPECT_EQ(std::vector<double>(p->flux, p->flux + p->fluxLength), flux);
        EXPECT_EQ(p->lastFrame, last);
        EXPECT_EQ(p->ringPos, pos);
    }
}

TEST(OnsetCurves, ABreakInTheSequenceRestartsTheFrame) {
    Track t = clickTrack(100, 3.0, 0.1);
    AudioProcessor p(2);
    unsigned chunk = 0;
    p.setConfig(2, 44100.0f, t.frames(), &chunk);
    const char* bytes = reinterpret_cast<const char*>(t.pcm.data());
    for (unsigned h = 0; h < 10; ++h) p.processFrame(bytes + h * chunk, chunk, h);
    EXPECT_EQ(p.ringPos, (10 * 441) % 2048);

    p.processFrame(bytes + 12 * chunk, chunk, 12);
    EXPECT_EQ(p.ringPos, 441u);
    // The previous spectrum was cleared: the flux is the whole new magnitude spectrum.
    double sum = 0;
    for (unsigned k = 0; k <= 1024; ++k) sum += p.prevSpectrum[k];
    EXPECT_DOUBLE_EQ(p.flux[12], sum);
    EXPECT_EQ(p.flux[11], 0.0);

    // A consecutive frame compares with it instead: less than its whole spectrum.
    p.processFrame(bytes + 13 * chunk, chunk, 13);
    double sum13 = 0;
    for (unsigned k = 0; k <= 1024; ++k) sum13 += p.prevSpectrum[k];
    EXPECT_LT(p.flux[13], sum13);
}

TEST(Onsets, ClickTrackOnsetsLieAtTheClicks) {
    for (unsigned precision : {0u, 1u, 2u}) {
        Track t = clickTrack(120, 10.0, 0.01);
        auto p = analyse(t, precision);
        p->processingFinish(nullptr);
        ASSERT_FALSE(p->onsets.empty());
        for (double click : t.clicks) {
            double best = 1e9;
            for (const Event* e : p->onsets) best = std::min(best, std::fabs(e->time - click));
            // An onset is stamped with the start of a hop; a click entering at the tapered end of
            // the window peaks in the flux up to a hop later.
            EXPECT_LE(best, 2 * p->hopTime + 0.005) << "click at " << click << ", precision " << precision;
        }
        for (const Event* e : p->onsets) {
            EXPECT_EQ(e->score, 0.0);
            EXPECT_GE(e->salience, 0.0);
            EXPECT_FALSE(e->synthetic);
            EXPECT_EQ(e->phase, -1.0);
        }
    }
}

struct SilenceCase {
    const char* name;
    unsigned clickChannels;  // bit mask of channels that carry clicks
};

class SilentInput : public ::testing::TestWithParam<SilenceCase> {};

TEST_P(SilentInput, GivesExactlyOneOnsetAtTimeZero) {
    // The first frame's flux is the sum of the estimates of sqrt(0) over bins 0..N/2; every later
    // one is 0, so after normalisation the first value is the only peak.
    Track t = clickTrack(120, 5.0, 0.0, 1, 2, 44100.0f, 0.25, GetParam().clickChannels);
    auto p = analyse(t);
    EXPECT_NEAR(p->flux[0], 1025 * 5.05e-20, 0.02 * 1025 * 5.05e-20);
    p->processingFinish(nullptr);
    ASSERT_EQ(p->onsets.size(), 1u) << GetParam().name;
    EXPECT_EQ(p->onsets[0]->time, 0.0);
}

INSTANTIATE_TEST_SUITE_P(Inputs, SilentInput,
                         ::testing::Values(SilenceCase{"digital silence", 0u},
                                           SilenceCase{"loud right, silent left", 2u}));

TEST(Onsets, CurvesOfFiveFramesOrFewerGiveNothingAndTheLastFourFramesNeverCount) {
    for (unsigned frames : {1u, 4u, 5u}) {
        Track t = clickTrack(600, frames * 0.01, 0.0, 1, 2, 44100.0f, 0.0);
        auto p = analyse(t);
        ASSERT_EQ(p->totalFrames, frames);
        p->processingFinish(nullptr);
        EXPECT_TRUE(p->onsets.empty()) << frames << " frames";
    }
    // A click only in the last four hops of a 3 s curve: no onset near it.
    Track t = clickTrack(1, 3.0, 0.0, 1, 2, 44100.0f, 2.975);
    ASSERT_EQ(t.clicks.size(), 1u);
    auto p = analyse(t);
    p->processingFinish(nullptr);
    for (const Event* e : p->onsets) EXPECT_LT(e->time, 2.9);
}

TEST(Onsets, RunningFlagAndRepeatedPicking) {
    Track t = clickTrack(120, 6.0, 0.01);
    auto p = analyse(t);
    std::atomic<bool> stopped(false), running(true);
    p->processingFinish(&stopped);
    EXPECT_TRUE(p->onsets.empty());
    p->processingFinish(&running);
    const size_t once = p->onsets.size();
    ASSERT_GT(once, 5u);
    p->processingFinish(&running);  // appends again: every onset twice
    ASSERT_EQ(p->onsets.size(), 2 * once);
    for (size_t i = 0; i < once; ++i) EXPECT_EQ(p->onsets[i]->time, p->onsets[once + i]->time);
}

TEST(Onsets, InterimPickSeesNotYetDecodedFramesAsZero) {
    Track t = clickTrack(120, 20.0, 0.01);
    auto p = analyse(t, 2, 500);  // the first 5 s of 20
    p->processingFinish(nullptr);
    ASSERT_FALSE(p->onsets.empty());
    for (const Event* e : p->onsets) EXPECT_LT(e->time, 5.05);
}

}  // namespace
