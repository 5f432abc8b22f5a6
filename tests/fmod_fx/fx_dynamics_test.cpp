// Compressor and normaliser measured on steady and stepped sines.
#include <gtest/gtest.h>

#include "fx_signal.hpp"

namespace pw::fx::test {
namespace {

struct CompCase {
    float thresholdDb, makeupDb;
    float amp;
    double minDb, maxDb;  // gain applied once settled
};

TEST(CompressorTest, LowersLoudSignalsAndLeavesQuietOnes) {
    const CompCase cases[] = {
        // 0 dB peak over a -20 dB threshold: 20 dB over at 4:1 is 15 dB of reduction.
        {-20, 0, 1.0f, -16.0, -14.0},
        {-20, 0, 0.5f, -11.5, -9.5},  // 14 dB over: 10.5 dB
        {-20, 0, 0.01f, -0.01, 0.01},  // -40 dB: untouched
        {-20, 10, 0.01f, 9.99, 10.01},  // make-up gain alone
        {0, 0, 0.9f, -0.01, 0.01},
        {-60, 30, 1.0f, -16.0, -14.0},  // -45 dB reduction, +30 make-up
    };
    for (int rate : {44100, 48000}) {
        for (const CompCase& c : cases) {
            SCOPED_TRACE(::testing::Message() << "threshold " << c.thresholdDb << " amp " << c.amp << " rate " << rate);
            auto comp = createEffect(FMOD_DSP_TYPE_COMPRESSOR, rate, 1024);
            ASSERT_TRUE(comp);
            comp->setParameter(0, c.thresholdDb);
            comp->setParameter(1, 10.0f);
            comp->setParameter(2, 1000.0f);
            comp->setParameter(3, c.makeupDb);
            std::vector<float> in = sine(1000, rate, rate, 2, c.amp);
            std::vector<float> out = in;
            run(*comp, out, 2);
            for (int ch = 0; ch < 2; ++ch) {
                const double g = db(rms(out, 2, rate / 2, rate, ch) / rms(in, 2, rate / 2, rate, ch));
                EXPECT_GE(g, c.minDb);
                EXPECT_LE(g, c.maxDb);
            }
        }
    }
}

TEST(CompressorTest, AttackAndReleaseTimesSetTheResponse) {
    // A loud start: with a short attack the gain is down within a few attack times; after the
    // loud part the gain comes back over a few release times, not sooner.
    const int rate = 48000;
    auto comp = createEffect(FMOD_DSP_TYPE_COMPRESSOR, rate, 1024);
    ASSERT_TRUE(comp);
    comp->setParameter(0, -30.0f);
    comp->setParameter(1, 10.0f);   // attack
    comp->setParameter(2, 500.0f);  // release
    std::vector<float> buf = sine(1000, rate, 4 * rate, 1, 1.0f);
    for (size_t f = rate; f < buf.size(); ++f) buf[f] *= 0.01f;  // -40 dB after one second
    const std::vector<float> in = buf;
    run(*comp, buf, 1, 333);
    auto gainAt = [&](double seconds, size_t frames = 480) {
        const size_t f = static_cast<size_t>(seconds * rate);
        return db(rms(buf, 1, f, f + frames) / rms(in, 1, f, f + frames));
    };
    const double settled = gainAt(0.9);
    EXPECT_NEAR(settled, -22.5, 1.0);             // 30 dB over at 4:1
    EXPECT_GT(gainAt(0.0, 96), settled + 10.0);   // the first 2 ms: the attack has not caught up
    EXPECT_NEAR(gainAt(0.06), settled, 1.0);      // six attack times later it has
    EXPECT_LT(gainAt(1.1), -15.0);                // 100 ms into a 500 ms release: still held down
    EXPECT_NEAR(gainAt(3.9), 0.0, 0.1);           // released: the quiet tail is under the threshold
}

TEST(CompressorTest, ChannelsShareOneGain) {
    // A loud left channel pulls the quiet right one down by the same amount, so a stereo image
    // never wanders while the compressor works.
    const int rate = 44100;
    auto comp = createEffect(FMOD_DSP_TYPE_COMPRESSOR, rate, 1024);
    ASSERT_TRUE(comp);
    comp->setParameter(0, -20.0f);
    std::vector<float> in = sine(500, rate, rate, 2, 1.0f);
    for (size_t f = 0; f < size_t(rate); ++f) in[f * 2 + 1] *= 0.01f;
    std::vector<float> out = in;
    run(*comp, out, 2);
    const double left = db(rms(out, 2, rate / 2, rate, 0) / rms(in, 2, rate / 2, rate, 0));
    const double right = db(rms(out, 2, rate / 2, rate, 1) / rms(in, 2, rate / 2, rate, 1));
    EXPECT_LT(left, -10.0);
    EXPECT_NEAR(right, left, 0.01);
}

struct NormCase {
    float threshold, maxAmp, amp;
    double minPeak, maxPeak;
};

TEST(NormaliseTest, RaisesQuietSignalsUpToTheMaximumAmplification) {
    const NormCase cases[] = {
        {0.0f, 20.0f, 0.01f, 0.199, 0.2001},   // capped at 20x
        {0.0f, 1000.0f, 0.01f, 0.98, 1.0},     // normalised to full scale
        {0.0f, 20.0f, 0.5f, 0.98, 1.0},
        {0.1f, 1000.0f, 0.01f, 0.0999, 0.1001},  // threshold limits the gain to 1 / 0.1
        {0.0f, 1.0f, 0.01f, 0.00999, 0.01001},   // maximum amplification 1: unchanged
        {0.0f, 20.0f, 1.0f, 0.98, 1.0},
    };
    for (const NormCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "threshold " << c.threshold << " max " << c.maxAmp << " amp " << c.amp);
        const int rate = 44100;
        auto norm = createEffect(FMOD_DSP_TYPE_NORMALIZE, rate, 1024);
        ASSERT_TRUE(norm);
        norm->setParameter(0, 100.0f);  // settled from its full-scale start within the first second
        norm->setParameter(1, c.threshold);
        norm->setParameter(2, c.maxAmp);
        std::vector<float> buf = sine(440, rate, 2 * rate, 2, c.amp);
        run(*norm, buf, 2);
        for (int ch = 0; ch < 2; ++ch) {
            const double p = peak(buf, 2, rate, 2 * rate, ch);
            EXPECT_GE(p, c.minPeak);
            EXPECT_LE(p, c.maxPeak);
            EXPECT_LE(peak(buf, 2, 0, 2 * rate, ch), 1.0 + 1e-6);  // never above full scale
        }
    }
}

TEST(NormaliseTest, GainRecoversOverTheFadeTime) {
    // Loud, then ten times quieter: at once the quiet part keeps the loud part's gain, and the
    // gain rises back over the fade time.
    const int rate = 44100;
    for (float fadeMs : {200.0f, 2000.0f}) {
        SCOPED_TRACE(::testing::Message() << "fade " << fadeMs);
        auto norm = createEffect(FMOD_DSP_TYPE_NORMALIZE, rate, 1024);
        ASSERT_TRUE(norm);
        norm->setParameter(0, fadeMs);
        norm->setParameter(1, 0.0f);
        norm->setParameter(2, 100.0f);
        // The loud part lasts until the follower has come down from its full-scale start.
        const size_t loud = 3 * rate;
        std::vector<float> buf = sine(441, rate, 12 * rate, 1, 0.5f);
        for (size_t f = loud; f < buf.size(); ++f) buf[f] *= 0.1f;
        run(*norm, buf, 1);
        const size_t fade = static_cast<size_t>(fadeMs / 1000.0f * rate);
        EXPECT_NEAR(peak(buf, 1, loud, loud + 441), 0.1, 0.01);
        // After one fade time the peak has fallen by e: the gain is about e times the loud one.
        const double atOne = peak(buf, 1, loud + fade, loud + fade + 441);
        EXPECT_GT(atOne, 0.2);
        EXPECT_LT(atOne, 0.32);
        EXPECT_NEAR(peak(buf, 1, 11 * rate, 12 * rate), 1.0, 0.02);
    }
}

}  // namespace
}  // namespace pw::fx::test
