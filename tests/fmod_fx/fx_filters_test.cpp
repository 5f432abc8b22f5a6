// Parametric band, low-pass and high-pass measured on sines.
#include <gtest/gtest.h>

#include <cstring>

#include "fx_signal.hpp"

namespace pw::fx::test {
namespace {

struct BandCase {
    float centre, octaves, gain;
    double probeHz;
    double expectDb, tolDb;
};

class ParamEqTest : public ::testing::TestWithParam<int> {};

TEST_P(ParamEqTest, BandsShapeTheSpectrum) {
    const int rate = GetParam();
    const BandCase cases[] = {
        // The deck's low band at its "kill" position: 0.05 at the centre is -26.02 dB.
        {100, 1.0f, 0.05f, 100, -26.02, 1.0},
        {100, 1.0f, 0.05f, 5000, 0.0, 0.5},
        // Bandwidth is measured between the points of half the centre's gain in dB.
        {100, 1.0f, 0.05f, 100 * std::sqrt(2.0), -13.01, 0.5},
        {100, 1.0f, 0.05f, 100 / std::sqrt(2.0), -13.01, 0.5},
        // Mid band: narrow cut, wide boost.
        {2000, 0.25f, 0.05f, 2000, -26.02, 1.0},
        {2000, 0.25f, 0.05f, 2000 * std::pow(2.0, 0.125), -13.01, 0.5},
        {2000, 0.25f, 0.05f, 500, 0.0, 0.5},
        {2000, 4.0f, 1.5f, 2000, 3.52, 0.3},
        {2000, 4.0f, 1.5f, 30, 0.0, 1.0},
        // High band doubling.
        {12000, 3.0f, 2.0f, 12000, 6.02, 0.3},
        {12000, 3.0f, 2.0f, 100, 0.0, 0.3},
        {1000, 1.0f, 0.25f, 1000 / std::sqrt(2.0), -6.02, 0.5},
        {4000, 2.0f, 3.0f, 2000, 4.77, 0.5},
    };
    for (const BandCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "centre " << c.centre << " bw " << c.octaves << " gain "
                                          << c.gain << " probe " << c.probeHz << " rate " << rate);
        auto eq = createEffect(FMOD_DSP_TYPE_PARAMEQ, rate, 1024);
        ASSERT_TRUE(eq);
        eq->setParameter(1, c.octaves);
        eq->setParameter(0, c.centre);
        eq->setParameter(2, c.gain);
        EXPECT_NEAR(sineGainDb(*eq, c.probeHz, rate), c.expectDb, c.tolDb);
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, ParamEqTest, ::testing::Values(44100, 48000));

struct FilterCase {
    FMOD_DSP_TYPE type;
    float cutoff, resonance;
    double probeHz;
    double minDb, maxDb;
};

TEST(FilterTest, CutoffAndResonanceShapeTheSpectrum) {
    const FilterCase cases[] = {
        // Flat (resonance 1) low-pass at 1 kHz: -3 dB at the cut-off, 12 dB per octave above.
        {FMOD_DSP_TYPE_LOWPASS, 1000, 1, 100, -0.2, 0.2},
        {FMOD_DSP_TYPE_LOWPASS, 1000, 1, 1000, -3.5, -2.5},
        {FMOD_DSP_TYPE_LOWPASS, 1000, 1, 4000, -26, -22},
        {FMOD_DSP_TYPE_LOWPASS, 1000, 1, 10000, -100, -38},
        // Resonance 10 rings at the cut-off: quality factor 7.07, about +17 dB.
        {FMOD_DSP_TYPE_LOWPASS, 1000, 10, 1000, 16, 18},
        {FMOD_DSP_TYPE_LOWPASS, 1000, 5, 1000, 10, 12},
        {FMOD_DSP_TYPE_LOWPASS, 1000, 10, 100, -0.3, 0.3},
        // The scratch filter at normal speed (20900 Hz) leaves the audible band alone.
        {FMOD_DSP_TYPE_LOWPASS, 20900, 1, 5000, -0.2, 0.2},
        {FMOD_DSP_TYPE_LOWPASS, 2500, 1, 10000, -100, -20},
        // High-pass mirrored.
        {FMOD_DSP_TYPE_HIGHPASS, 1000, 1, 10000, -0.2, 0.2},
        {FMOD_DSP_TYPE_HIGHPASS, 1000, 1, 1000, -3.5, -2.5},
        {FMOD_DSP_TYPE_HIGHPASS, 1000, 1, 250, -26, -22},
        {FMOD_DSP_TYPE_HIGHPASS, 1000, 1, 50, -100, -45},
        {FMOD_DSP_TYPE_HIGHPASS, 1000, 10, 1000, 16, 18},
        // The deck's bottom slider position (0 Hz, clamped to 10 Hz) keeps the music.
        {FMOD_DSP_TYPE_HIGHPASS, 0, 0, 100, -0.2, 0.2},
    };
    for (int rate : {44100, 48000}) {
        for (const FilterCase& c : cases) {
            SCOPED_TRACE(::testing::Message() << "type " << c.type << " cutoff " << c.cutoff << " res "
                                              << c.resonance << " probe " << c.probeHz << " rate " << rate);
            auto fx = createEffect(c.type, rate, 1024);
            ASSERT_TRUE(fx);
            // The unit wrapper clamps before calling; do the same with the published range.
            for (int i = 0; i < 2; ++i) {
                const ParamInfo info = fx->parameterInfo(i);
                fx->setParameter(i, std::clamp(i == 0 ? c.cutoff : c.resonance, info.min, info.max));
            }
            const double g = sineGainDb(*fx, c.probeHz, rate);
            EXPECT_GE(g, c.minDb);
            EXPECT_LE(g, c.maxDb);
        }
    }
}

struct OpenCase {
    int rate;
    float cutoff;
    bool bitExact;
};

TEST(FilterTest, LowPassOpensAtFortyNineHundredthsOfTheRate) {
    const OpenCase cases[] = {
        {44100, 22000, true},  {44100, 21609, true},  {44100, 21600, false},
        {22050, 10805, true},  {22050, 10800, false}, {48000, 22000, false},
        {11025, 5403, true},
    };
    for (const OpenCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "rate " << c.rate << " cutoff " << c.cutoff);
        auto lp = createEffect(FMOD_DSP_TYPE_LOWPASS, c.rate, 512);
        ASSERT_TRUE(lp);
        lp->setParameter(0, c.cutoff);
        lp->setParameter(1, 10.0f);  // resonance must not matter when open
        const std::vector<float> in = noise(3000, 2);
        std::vector<float> out(in.size());
        for (size_t f = 0; f < 3000; f += 500) lp->process(&in[f * 2], &out[f * 2], 500, 2);
        EXPECT_EQ(std::memcmp(in.data(), out.data(), in.size() * sizeof(float)) == 0, c.bitExact);
    }
}

TEST(FilterTest, HighPassAtZeroHertzPassesItsInputBitForBit) {
    // The deck's slider at its bottom gives 0 Hz and resonance 0: no filter at all, not a resonant
    // section at a few hertz. Coming back to 0 from a cut-off, the glide block aside.
    struct ZeroCase {
        float fromCutoff;  // set first for a block; 0: none
        float cutoff, resonance;
        bool bitExact;
    };
    const ZeroCase cases[] = {
        {0.0f, 0.0f, 0.0f, true}, {0.0f, 0.0f, 10.0f, true}, {5000.0f, 0.0f, 10.0f, true},
        {0.0f, 10.0f, 10.0f, false},
    };
    for (const ZeroCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "from " << c.fromCutoff << " cutoff " << c.cutoff << " res " << c.resonance);
        auto hp = createEffect(FMOD_DSP_TYPE_HIGHPASS, 44100, 512);
        ASSERT_TRUE(hp);
        hp->setParameter(1, c.resonance);
        const std::vector<float> in = noise(3000, 2);
        std::vector<float> out(in.size());
        if (c.fromCutoff > 0.0f) {
            hp->setParameter(0, c.fromCutoff);
            hp->process(in.data(), out.data(), 500, 2);
        }
        hp->setParameter(0, c.cutoff);
        hp->process(&in[500 * 2], &out[500 * 2], 500, 2);  // a glide when the cut-off moved
        for (size_t f = 1000; f < 3000; f += 500) hp->process(&in[f * 2], &out[f * 2], 500, 2);
        EXPECT_EQ(std::memcmp(&in[1000 * 2], &out[1000 * 2], 2000 * 2 * sizeof(float)) == 0, c.bitExact);
    }
}

TEST(FilterTest, ClosingAnOpenLowPassContinuesWithoutAStep) {
    // The scratch filter moves from 22000 Hz (open) to 20900 Hz when a deck starts playing; the
    // filter must pick the signal up where it is, not from silence.
    const int rate = 44100;
    auto lp = createEffect(FMOD_DSP_TYPE_LOWPASS, rate, 1024);
    ASSERT_TRUE(lp);
    lp->setParameter(0, 22000.0f);
    std::vector<float> buf = sine(200, rate, 8192, 2, 0.8f);
    lp->process(buf.data(), buf.data(), 4096, 2);
    lp->setParameter(0, 20900.0f);
    lp->process(&buf[4096 * 2], &buf[4096 * 2], 4096, 2);
    const std::vector<float> ref = sine(200, rate, 8192, 2, 0.8f);
    double worst = 0.0;
    for (size_t i = 4096 * 2; i < 4106 * 2; ++i) worst = std::max(worst, double(std::fabs(buf[i] - ref[i])));
    EXPECT_LT(worst, 0.01);
}

}  // namespace
}  // namespace pw::fx::test
