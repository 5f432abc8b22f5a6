// ReplayGain: the analysis against the reference tools on the same files (metaflac on FLAC,
// vorbisgain on Ogg Vorbis, mp3gain on MP3, all decoded here through the audio layer and run
// through the analyzer's ReplayGain task), and its own rules on generated signals.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
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

namespace {

struct GainRun {
    long status;
    bool calculated;
    float gain;
};

GainRun analyzerGain(FMOD::Sound* sound) {
    WaveAnalyzerOptions options(WAVEANALYZER_REPLAYGAIN);
    WaveAnalyzerResult result;
    WaveAnalyzer analyzer(&options, &result, sound);
    const long status = analyzer.doProcessing(nullptr, nullptr, nullptr, false);
    return {status, result.replayGainCalculated, result.replayGain};
}

// The first number after `key` in a tool's output.
double numberAfter(const std::string& text, const std::string& key) {
    const size_t at = text.find(key);
    if (at == std::string::npos) return NAN;
    return std::strtod(text.c_str() + at + key.size(), nullptr);
}

struct OracleCase {
    const char* name;
    int rate;
    int channels;
    const char* synth;  // sox generator and effects
};

class AgainstMetaflac : public ::testing::TestWithParam<OracleCase> {};

TEST_P(AgainstMetaflac, TitleGainWithinOneHundredthDb) {
    if (!wholefile_test::haveTool("sox") || !wholefile_test::haveTool("metaflac") || !wholefile_test::haveTool("flac"))
        GTEST_SKIP() << "sox, flac and metaflac are needed";
    const OracleCase c = GetParam();
    pw::test::TempDir dir("pw-rg-");
    const std::string wav = dir.file("s.wav"), flac = dir.file("s.flac");
    ASSERT_TRUE(wholefile_test::run("sox -R -n -r " + std::to_string(c.rate) + " -c " + std::to_string(c.channels) +
                                    " -b 16 " + wav + " " + c.synth));
    ASSERT_TRUE(wholefile_test::run("flac -s -f " + wav + " -o " + flac));
    ASSERT_TRUE(wholefile_test::run("metaflac --add-replay-gain " + flac));
    const double expected =
        numberAfter(wholefile_test::capture("metaflac --show-tag=REPLAYGAIN_TRACK_GAIN " + flac), "=");
    ASSERT_FALSE(std::isnan(expected));

    TestSound sound(flac);
    ASSERT_NE(sound.get(), nullptr);
    const GainRun got = analyzerGain(sound.get());
    EXPECT_EQ(got.status, 1);
    ASSERT_TRUE(got.calculated);
    EXPECT_NEAR(got.gain, expected, 0.0100001) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    SoxSignals, AgainstMetaflac,
    ::testing::Values(OracleCase{"pink stereo 44100", 44100, 2, "synth 10 pinknoise vol 0.3"},
                      OracleCase{"tone -20 dBFS mono 48000", 48000, 1, "synth 8 sine 1000 vol -20dB"},
                      OracleCase{"tone over pink stereo 32000", 32000, 2,
                                 "synth 8 sine 440 pinknoise vol 0.2"},
                      OracleCase{"white noise mono 22050", 22050, 1, "synth 8 whitenoise vol 0.1"},
                      OracleCase{"plucked chord stereo 11025", 11025, 2,
                                 "synth 8 pluck C3 pluck G3 tremolo 3 60"},
                      OracleCase{"two tones mono 8000", 8000, 1, "synth 8 sine 300 sine 1200 remix 1,2 vol 0.4"},
                      OracleCase{"square with fade stereo 24000", 24000, 2,
                                 "synth 8 square 200 square 301 vol 0.2 fade 1 8 2"},
                      OracleCase{"tones mono 16000", 16000, 1, "synth 8 sine 700 sine 2500 remix 1,2 vol 0.5"},
                      OracleCase{"louder pink stereo 12000", 12000, 2, "synth 8 pinknoise vol 0.9"}));

struct LossyCase {
    const char* name;
    const char* encode;  // command with {in} and {out}
    const char* ext;
    const char* synth;
    const char* oracle;  // command with {out}
    const char* key;
};

class AgainstLossyTools : public ::testing::TestWithParam<LossyCase> {};

std::string fill(std::string text, const std::string& in, const std::string& out) {
    for (size_t at; (at = text.find("{in}")) != std::string::npos;) text.replace(at, 4, in);
    for (size_t at; (at = text.find("{out}")) != std::string::npos;) text.replace(at, 5, out);
    return text;
}

TEST_P(AgainstLossyTools, TitleGainWithinFiveHundredthsDb) {
    const LossyCase c = GetParam();
    const std::string tool = std::string(c.oracle).substr(0, std::string(c.oracle).find(' '));
    if (!wholefile_test::haveTool("sox") || !wholefile_test::haveTool(tool))
        GTEST_SKIP() << "sox and " << tool << " are needed";
    pw::test::TempDir dir("pw-rg-");
    const std::string wav = dir.file("m.wav"), out = dir.file(std::string("m.") + c.ext);
    ASSERT_TRUE(wholefile_test::run("sox -R -n -r 44100 -c 2 -b 16 " + wav + " " + c.synth));
    ASSERT_TRUE(wholefile_test::run(fill(c.encode, wav, out)));
    const double expected = numberAfter(wholefile_test::capture(fill(c.oracle, wav, out)), c.key);
    ASSERT_FALSE(std::isnan(expected));
    TestSound sound(out);
    ASSERT_NE(sound.get(), nullptr);
    const GainRun got = analyzerGain(sound.get());
    ASSERT_TRUE(got.calculated);
    EXPECT_NEAR(got.gain, expected, 0.05) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Encoded, AgainstLossyTools,
    // Music-like for Vorbis: two plucked voices over a quiet pink bed, with a slow tremolo. The
    // MP3 tool parts from the reference on signals whose loudness swings widely (0.3 dB here, where
    // the FLAC tool and this analysis agree within 0.01 dB on the lossless original), so it gets
    // a steadier mix of tones and noise.
    ::testing::Values(LossyCase{"ogg", "oggenc -Q -q 6 {in} -o {out}", "ogg",
                                "synth 12 pluck A2 pluck E3 synth 12 pinknoise mix vol 0.5 tremolo 2 40",
                                "vorbisgain -q {out} >/dev/null && vorbiscomment -l {out}", "REPLAYGAIN_TRACK_GAIN="},
                      LossyCase{"mp3", "lame --quiet -b 256 {in} {out}", "mp3",
                                "synth 12 sine 440 sine 660 synth 12 pinknoise mix vol 0.4", "mp3gain -q -s s {out}",
                                "dB change: "}));

// --- The analysis's own rules, on generated samples ---

std::vector<double> noise(size_t n, unsigned seed, double rms) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> g(0.0, rms);
    std::vector<double> x(n);
    for (double& v : x) v = g(rng);
    return x;
}

double gainInPieces(long rate, const std::vector<double>& l, const std::vector<double>& r, size_t piece) {
    std::unique_ptr<ReplayGainAnalysis> a(new ReplayGainAnalysis());
    EXPECT_EQ(a->InitGainAnalysis(rate), 1);
    for (size_t at = 0; at < l.size(); at += piece) {
        const size_t n = std::min(piece, l.size() - at);
        EXPECT_EQ(a->AnalyzeSamples(l.data() + at, r.data() + at, n, 2), 1);
    }
    return a->GetTitleGain();
}

TEST(ReplayGainRules, AnySplitOfTheSamplesGivesTheSameGain) {
    // A signal whose loudness changes block by block, so a fault at call boundaries shows.
    std::vector<double> l = noise(44100 * 3, 1, 3000.0), r = noise(44100 * 3, 2, 1500.0);
    for (size_t i = 0; i < l.size(); ++i) l[i] *= 1.0 + 0.9 * std::sin(i * 0.0003);
    const double whole = gainInPieces(44100, l, r, l.size());
    for (size_t piece : {size_t(1), size_t(7), size_t(4096), size_t(2205), size_t(10), size_t(11)})
        EXPECT_EQ(gainInPieces(44100, l, r, piece), whole) << "pieces of " << piece;
}

TEST(ReplayGainRules, NineRatesOnlySilenceAtTheReferenceShortAudioNotMeasured) {
    std::unique_ptr<ReplayGainAnalysis> a(new ReplayGainAnalysis());
    for (long rate : {96000L, 44000L, 88200L, 0L, -44100L}) EXPECT_EQ(a->InitGainAnalysis(rate), 0) << rate;
    for (long rate : {48000L, 44100L, 32000L, 24000L, 22050L, 16000L, 12000L, 11025L, 8000L}) {
        ASSERT_EQ(a->InitGainAnalysis(rate), 1) << rate;
        const std::vector<double> silence(static_cast<size_t>(rate), 0.0);
        ASSERT_EQ(a->AnalyzeSamples(silence.data(), nullptr, silence.size(), 1), 1);
        EXPECT_DOUBLE_EQ(a->GetTitleGain(), 64.82) << rate;
        // One sample short of a 50 ms block: nothing measured.
        const size_t shortOfBlock = static_cast<size_t>(std::ceil(rate * 0.05)) - 1;
        const std::vector<double> loud = noise(shortOfBlock, 3, 8000.0);
        ASSERT_EQ(a->AnalyzeSamples(loud.data(), nullptr, loud.size(), 1), 1);
        EXPECT_EQ(a->GetTitleGain(), ReplayGainAnalysis::kNotEnoughSamples) << rate;
    }
    EXPECT_EQ(a->AnalyzeSamples(nullptr, nullptr, 0, 3), 1);  // nothing to do comes first
    const std::vector<double> one(10, 1.0);
    EXPECT_EQ(a->AnalyzeSamples(one.data(), one.data(), one.size(), 3), 0);
}

TEST(ReplayGainRules, MonoEqualsBothChannelsAndTitlesAreIndependent) {
    const std::vector<double> x = noise(44100 * 2, 4, 4000.0);
    std::unique_ptr<ReplayGainAnalysis> a(new ReplayGainAnalysis());
    ASSERT_EQ(a->InitGainAnalysis(44100), 1);
    a->AnalyzeSamples(x.data(), nullptr, x.size(), 1);
    const double mono = a->GetTitleGain();
    a->AnalyzeSamples(x.data(), x.data(), x.size(), 2);
    EXPECT_EQ(a->GetTitleGain(), mono);
    // A loud title in between changes nothing for the next one, and the album covers all three.
    const std::vector<double> loud = noise(44100, 5, 20000.0);
    a->AnalyzeSamples(loud.data(), nullptr, loud.size(), 1);
    const double loudGain = a->GetTitleGain();
    EXPECT_LT(loudGain, mono - 10.0);
    a->AnalyzeSamples(x.data(), nullptr, x.size(), 1);
    EXPECT_EQ(a->GetTitleGain(), mono);
    const double album = a->GetAlbumGain();
    EXPECT_LT(album, mono);
    EXPECT_GE(album, loudGain);
}

TEST(ReplayGainRules, TaskReportsShortAudioAsNotCalculatedAndRefusesOtherRates) {
    // 40 ms of a loud tone: no block, so no gain (the result keeps its default).
    std::vector<int16_t> pcm(static_cast<size_t>(44100 * 0.04) * 2);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>(10000 * std::sin(i * 0.05));
    TestSound shortSound(wholefile_test::bytesOf(pcm), 2, 16, 44100);
    const GainRun s = analyzerGain(shortSound.get());
    EXPECT_EQ(s.status, 1);
    EXPECT_FALSE(s.calculated);
    EXPECT_EQ(s.gain, 1.0f);

    TestSound highRate(wholefile_test::bytesOf(std::vector<int16_t>(96000 * 2, 100)), 2, 16, 96000);
    const GainRun h = analyzerGain(highRate.get());
    EXPECT_EQ(h.status, 0);
    EXPECT_FALSE(h.calculated);
}

}  // namespace
