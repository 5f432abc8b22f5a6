// Echo and flanger: delays measured on impulses and on the comb a fixed delay makes.
#include <gtest/gtest.h>

#include <limits>

#include "fx_signal.hpp"

namespace pw::fx::test {
namespace {

struct EchoCase {
    int rate;
    float delayMs, decay, dry, wet;
};

// Indexes and values of the samples that are not zero.
std::vector<std::pair<size_t, float>> nonZero(const std::vector<float>& v, int channels, int ch) {
    std::vector<std::pair<size_t, float>> hits;
    for (size_t f = 0; f < v.size() / channels; ++f)
        if (v[f * channels + ch] != 0.0f) hits.emplace_back(f, v[f * channels + ch]);
    return hits;
}

TEST(EchoTest, ImpulseComesBackAfterEachDelay) {
    const EchoCase cases[] = {
        {44100, 500, 0.5f, 1.0f, 1.0f},   {48000, 500, 0.5f, 1.0f, 1.0f},
        {44100, 10, 0.25f, 0.5f, 0.8f},   {48000, 123.4f, 0.9f, 0.0f, 1.0f},
        {44100, 5000, 0.5f, 1.0f, 0.5f},  {48000, 5000, 0.3f, 1.0f, 1.0f},
        {44100, 1000, 0.0f, 1.0f, 1.0f},
    };
    for (const EchoCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "rate " << c.rate << " delay " << c.delayMs);
        auto echo = createEffect(FMOD_DSP_TYPE_ECHO, c.rate, 4096);
        ASSERT_TRUE(echo);
        echo->setParameter(0, c.delayMs);
        echo->setParameter(1, c.decay);
        echo->setParameter(3, c.dry);
        echo->setParameter(4, c.wet);
        const size_t d = static_cast<size_t>(std::lround(c.delayMs * c.rate / 1000.0));
        std::vector<float> buf((3 * d + 10) * 2, 0.0f);
        buf[0] = 1.0f;   // left impulse
        buf[1] = -0.5f;  // right impulse, other sign: channels stay apart
        run(*echo, buf, 2, 4096);

        std::vector<std::pair<size_t, float>> want;
        if (c.dry != 0.0f) want.emplace_back(0, c.dry);
        want.emplace_back(d, c.wet);
        if (c.decay != 0.0f) {
            want.emplace_back(2 * d, c.wet * c.decay);
            want.emplace_back(3 * d, c.wet * c.decay * c.decay);
        }
        for (int ch = 0; ch < 2; ++ch) {
            const float sign = ch == 0 ? 1.0f : -0.5f;
            const auto got = nonZero(buf, 2, ch);
            ASSERT_EQ(got.size(), want.size()) << "channel " << ch;
            for (size_t i = 0; i < want.size(); ++i) {
                EXPECT_EQ(got[i].first, want[i].first) << "channel " << ch;
                EXPECT_NEAR(got[i].second, sign * want[i].second, 1e-6) << "channel " << ch;
            }
        }
    }
}

TEST(EchoTest, DefaultsEchoHalfASecondAtHalfLevelPerRepeat) {
    // Loading a deck never sets the echo's parameters: the defaults are what the deck hears.
    auto echo = createEffect(FMOD_DSP_TYPE_ECHO, 44100, 1024);
    ASSERT_TRUE(echo);
    std::vector<float> buf(44100 + 10, 0.0f);
    buf[0] = 1.0f;
    run(*echo, buf, 1);
    const auto hits = nonZero(buf, 1, 0);
    ASSERT_EQ(hits.size(), 3u);
    EXPECT_EQ(hits[0], std::make_pair(size_t{0}, 1.0f));
    EXPECT_EQ(hits[1], std::make_pair(size_t{22050}, 1.0f));
    EXPECT_EQ(hits[2], std::make_pair(size_t{44100}, 0.5f));
}

TEST(EchoTest, MaximumChannelsLeavesTheOthersDry) {
    struct Case {
        float maxChannels;
        int channels;
        int echoed;
    };
    const Case cases[] = {{0, 6, 6}, {1, 2, 1}, {4, 6, 4}, {16, 8, 8}, {2, 1, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "max " << c.maxChannels << " of " << c.channels);
        auto echo = createEffect(FMOD_DSP_TYPE_ECHO, 48000, 1024);
        ASSERT_TRUE(echo);
        echo->setParameter(0, 10.0f);
        echo->setParameter(2, c.maxChannels);
        std::vector<float> buf(1000 * c.channels, 0.0f);
        for (int ch = 0; ch < c.channels; ++ch) buf[ch] = 1.0f;
        run(*echo, buf, c.channels);
        for (int ch = 0; ch < c.channels; ++ch)
            EXPECT_EQ(buf[480 * c.channels + ch], ch < c.echoed ? 1.0f : 0.0f) << "channel " << ch;
    }
}

struct CombCase {
    int rate;
    float depth;
    double notchHz, peakHz;  // 1 / (2 x delay) and 1 / delay, delay = depth x 5 ms
};

TEST(FlangeTest, HeldSweepIsACombAtDepthTimesFiveMilliseconds) {
    const CombCase cases[] = {
        {44100, 1.0f, 100, 200}, {48000, 1.0f, 100, 200}, {44100, 0.4f, 250, 500}, {48000, 0.2f, 500, 1000},
    };
    for (const CombCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "rate " << c.rate << " depth " << c.depth);
        const double silent = -std::numeric_limits<double>::infinity();  // an exact notch
        for (const auto& [hz, lo, hi] : {std::tuple{c.notchHz, silent, -25.0}, std::tuple{c.peakHz, -0.2, 0.2},
                                         std::tuple{c.notchHz * 3, silent, -20.0}}) {
            auto fl = createEffect(FMOD_DSP_TYPE_FLANGE, c.rate, 1024);
            ASSERT_TRUE(fl);
            fl->setParameter(0, 0.5f);
            fl->setParameter(1, 0.5f);
            fl->setParameter(2, c.depth);
            fl->setParameter(3, 0.0f);
            const double g = sineGainDb(*fl, hz, c.rate, 0.5);
            EXPECT_GE(g, lo) << hz << " Hz";
            EXPECT_LE(g, hi) << hz << " Hz";
        }
    }
}

TEST(FlangeTest, FractionalDelaysInterpolate) {
    // Held at 44.1 kHz, depth 1 gives 220.5 frames: the wet impulse lands half on each neighbour;
    // depth 0.5 gives 110.25 frames.
    struct Case {
        float depth;
        size_t frame;
        float first, second;
    };
    for (const Case& c : {Case{1.0f, 220, 0.5f, 0.5f}, Case{0.5f, 110, 0.75f, 0.25f}}) {
        SCOPED_TRACE(::testing::Message() << "depth " << c.depth);
        auto fl = createEffect(FMOD_DSP_TYPE_FLANGE, 44100, 1024);
        ASSERT_TRUE(fl);
        fl->setParameter(0, 0.0f);
        fl->setParameter(1, 1.0f);
        fl->setParameter(2, c.depth);
        fl->setParameter(3, 0.0f);
        std::vector<float> buf(600, 0.0f);
        buf[0] = 1.0f;
        run(*fl, buf, 1);
        const auto hits = nonZero(buf, 1, 0);
        ASSERT_EQ(hits.size(), 2u);
        EXPECT_EQ(hits[0].first, c.frame);
        EXPECT_EQ(hits[1].first, c.frame + 1);
        EXPECT_NEAR(hits[0].second, c.first, 1e-6);
        EXPECT_NEAR(hits[1].second, c.second, 1e-6);
    }
}

TEST(FlangeTest, RateSweepsTheComb) {
    // At 1 Hz the delay sweeps 0..10 ms each second: a 100 Hz tone is cancelled when the delay
    // passes 5 ms and reinforced near 10 ms, so its level swings widely within one sweep.
    const int rate = 44100;
    auto fl = createEffect(FMOD_DSP_TYPE_FLANGE, rate, 1024);
    ASSERT_TRUE(fl);
    fl->setParameter(0, 0.5f);
    fl->setParameter(1, 0.5f);
    fl->setParameter(3, 1.0f);
    std::vector<float> buf = sine(100, rate, rate);
    run(*fl, buf, 1);
    double lo = 1e9, hi = 0.0;
    for (size_t f = 0; f + 441 <= buf.size(); f += 441) {
        const double r = rms(buf, 1, f, f + 441);
        lo = std::min(lo, r);
        hi = std::max(hi, r);
    }
    EXPECT_GT(db(hi / lo), 15.0);
    // With the sweep held (rate 0) the same tone keeps one level.
    auto held = createEffect(FMOD_DSP_TYPE_FLANGE, rate, 1024);
    held->setParameter(3, 0.0f);
    std::vector<float> flat = sine(100, rate, rate);
    run(*held, flat, 1);
    EXPECT_NEAR(db(rms(flat, 1, 4410, 8820) / rms(flat, 1, 30870, 35280)), 0.0, 0.1);
}

}  // namespace
}  // namespace pw::fx::test
