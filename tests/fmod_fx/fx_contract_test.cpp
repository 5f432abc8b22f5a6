// What every built-in effect promises the mixer: creation, parameter ranges, block independence,
// channel independence and a clean tail.
#include <gtest/gtest.h>

#include <cstring>

#include "fx_signal.hpp"

namespace pw::fx::test {
namespace {

TEST(CreateEffectTest, BuildsTheBuiltInTypesOnly) {
    for (FMOD_DSP_TYPE type : kAllTypes) EXPECT_TRUE(createEffect(type, 44100, 1024)) << type;
    for (int other : {0, 1, 2, 4, 8, 11, 16, 18, -1, 1000})
        EXPECT_FALSE(createEffect(static_cast<FMOD_DSP_TYPE>(other), 44100, 1024)) << other;
    struct Bad {
        int rate;
        unsigned maxFrames;
    };
    for (const Bad& b : {Bad{0, 1024}, Bad{-44100, 1024}, Bad{7999, 1024}, Bad{192001, 1024}, Bad{44100, 0}})
        for (FMOD_DSP_TYPE type : kAllTypes)
            EXPECT_FALSE(createEffect(type, b.rate, b.maxFrames)) << type << " rate " << b.rate;
    for (int rate : {8000, 11025, 22050, 96000, 192000})
        for (FMOD_DSP_TYPE type : kAllTypes) EXPECT_TRUE(createEffect(type, rate, 1)) << type << " at " << rate;
}

TEST(ParameterTest, TablesAreConsistentAndValuesClamp) {
    const int counts[] = {3, 2, 2, 5, 4, 4, 3};  // in the order of kAllTypes
    for (size_t t = 0; t < std::size(kAllTypes); ++t) {
        auto fx = createEffect(kAllTypes[t], 48000, 256);
        ASSERT_TRUE(fx);
        ASSERT_EQ(fx->numParameters(), counts[t]) << kAllTypes[t];
        for (int i = 0; i < fx->numParameters(); ++i) {
            SCOPED_TRACE(::testing::Message() << "type " << kAllTypes[t] << " parameter " << i);
            const ParamInfo info = fx->parameterInfo(i);
            ASSERT_LT(info.min, info.max);
            EXPECT_GE(info.defaultValue, info.min);
            EXPECT_LE(info.defaultValue, info.max);
            EXPECT_GT(std::strlen(info.name), 0u);
            EXPECT_EQ(fx->getParameter(i), info.defaultValue);
            const float mid = info.min + (info.max - info.min) / 3.0f;
            fx->setParameter(i, mid);
            EXPECT_EQ(fx->getParameter(i), mid);
            fx->setParameter(i, info.max * 2.0f + 100.0f);
            EXPECT_EQ(fx->getParameter(i), info.max);
            fx->setParameter(i, info.min - 1e6f);
            EXPECT_EQ(fx->getParameter(i), info.min);
            fx->setParameter(i, std::nanf(""));
            EXPECT_EQ(fx->getParameter(i), info.min);  // NaN is ignored
        }
        // Indexes outside the table are ignored; their info is empty.
        for (int bad : {-1, fx->numParameters(), 99}) {
            fx->setParameter(bad, 1.0f);
            EXPECT_EQ(fx->getParameter(bad), 0.0f);
            EXPECT_EQ(fx->parameterInfo(bad).max, 0.0f);
        }
    }
}

TEST(ParameterTest, EngineValuesFitTheRanges) {
    // Values the decks and the master bus write, and what they become.
    struct Case {
        FMOD_DSP_TYPE type;
        int index;
        float written, kept;
    };
    const Case cases[] = {
        {FMOD_DSP_TYPE_PARAMEQ, 0, 12000.0f, 12000.0f}, {FMOD_DSP_TYPE_PARAMEQ, 1, 0.25f, 0.25f},
        {FMOD_DSP_TYPE_PARAMEQ, 1, 4.0f, 4.0f},         {FMOD_DSP_TYPE_PARAMEQ, 2, 0.05f, 0.05f},
        {FMOD_DSP_TYPE_PARAMEQ, 2, 2.0f, 2.0f},         {FMOD_DSP_TYPE_LOWPASS, 0, 22113.0f, 22000.0f},
        {FMOD_DSP_TYPE_LOWPASS, 0, 63.0f, 63.0f},       {FMOD_DSP_TYPE_LOWPASS, 0, 2500.0f, 2500.0f},
        {FMOD_DSP_TYPE_LOWPASS, 1, 10.0f, 10.0f},       {FMOD_DSP_TYPE_HIGHPASS, 0, 0.0f, 0.0f},
        {FMOD_DSP_TYPE_HIGHPASS, 1, 0.0f, 1.0f},        {FMOD_DSP_TYPE_HIGHPASS, 1, 9.0f, 9.0f},
        {FMOD_DSP_TYPE_ECHO, 2, 0.0f, 0.0f},            {FMOD_DSP_TYPE_COMPRESSOR, 0, -60.0f, -60.0f},
        {FMOD_DSP_TYPE_COMPRESSOR, 1, 10.0f, 10.0f},    {FMOD_DSP_TYPE_COMPRESSOR, 1, 200.0f, 200.0f},
        {FMOD_DSP_TYPE_COMPRESSOR, 2, 10.0f, 10.0f},    {FMOD_DSP_TYPE_COMPRESSOR, 2, 1000.0f, 1000.0f},
        {FMOD_DSP_TYPE_COMPRESSOR, 3, 30.0f, 30.0f},
    };
    for (const Case& c : cases) {
        auto fx = createEffect(c.type, 44100, 256);
        fx->setParameter(c.index, c.written);
        EXPECT_EQ(fx->getParameter(c.index), c.kept) << c.type << " parameter " << c.index;
    }
}

// Blocks of odd lengths, one frame included.
constexpr unsigned kSplits[] = {1, 7, 64, 333, 1000, 2, 4096, 513};

TEST(ProcessTest, OutputDoesNotDependOnBlockLengthsOrAliasing) {
    const int rate = 44100, channels = 2;
    const std::vector<float> in = noise(9000, channels, 0.7f);
    for (FMOD_DSP_TYPE type : kAllTypes) {
        SCOPED_TRACE(::testing::Message() << "type " << type);
        auto whole = makeActive(type, rate, 9000);
        auto split = makeActive(type, rate, 4096);
        std::vector<float> one(in.size()), many = in;
        whole->process(in.data(), one.data(), 9000, channels);  // separate buffers
        size_t f = 0;
        for (size_t k = 0; f < 9000; ++k) {
            const unsigned n = static_cast<unsigned>(std::min<size_t>(kSplits[k % std::size(kSplits)], 9000 - f));
            split->process(&many[f * channels], &many[f * channels], n, channels);  // in place
            f += n;
        }
        EXPECT_EQ(std::memcmp(one.data(), many.data(), one.size() * sizeof(float)), 0);
        EXPECT_NE(std::memcmp(one.data(), in.data(), in.size() * sizeof(float)), 0) << "did nothing";
    }
}

TEST(ProcessTest, ChannelsAreFilteredApart) {
    // Per-channel effects: channel k of an 8-channel block equals a mono run of channel k's signal.
    const int rate = 48000;
    const FMOD_DSP_TYPE perChannel[] = {FMOD_DSP_TYPE_PARAMEQ, FMOD_DSP_TYPE_LOWPASS, FMOD_DSP_TYPE_HIGHPASS,
                                        FMOD_DSP_TYPE_ECHO, FMOD_DSP_TYPE_FLANGE};
    for (FMOD_DSP_TYPE type : perChannel) {
        for (int channels = 1; channels <= kMaxChannels; ++channels) {
            SCOPED_TRACE(::testing::Message() << "type " << type << " channels " << channels);
            std::vector<float> multi(2000 * channels);
            std::vector<std::vector<float>> mono;
            for (int ch = 0; ch < channels; ++ch) {
                mono.push_back(sine(300.0 * (ch + 1), rate, 2000, 1, 0.1f * (ch + 1)));
                for (size_t f = 0; f < 2000; ++f) multi[f * channels + ch] = mono.back()[f];
            }
            auto fx = makeActive(type, rate);
            run(*fx, multi, channels, 500);
            for (int ch = 0; ch < channels; ++ch) {
                auto single = makeActive(type, rate);
                run(*single, mono[ch], 1, 500);
                for (size_t f = 0; f < 2000; ++f)
                    ASSERT_EQ(multi[f * channels + ch], mono[ch][f]) << "channel " << ch << " frame " << f;
            }
        }
    }
}

bool clean(const std::vector<float>& v) {
    for (float s : v)
        if (!std::isfinite(s) || std::fpclassify(s) == FP_SUBNORMAL) return false;
    return true;
}

TEST(ProcessTest, SilenceAfterLoudInputEndsInZeros) {
    const int rate = 44100, channels = 2;
    for (FMOD_DSP_TYPE type : kAllTypes) {
        SCOPED_TRACE(::testing::Message() << "type " << type);
        auto fx = makeActive(type, rate);
        if (type == FMOD_DSP_TYPE_LOWPASS) fx->setParameter(0, 20.0f);  // slowest decay
        std::vector<float> loud = noise(rate, channels, 1.0f);
        run(*fx, loud, channels);
        ASSERT_TRUE(clean(loud));
        std::vector<float> quiet(20 * rate * channels, 0.0f);
        run(*fx, quiet, channels);
        EXPECT_TRUE(clean(quiet));
        const std::vector<float> tail(quiet.end() - rate * channels, quiet.end());
        EXPECT_EQ(peak(tail, 1, 0, tail.size()), 0.0);
    }
}

TEST(ProcessTest, RecoversFromNanAndInfinity) {
    const int rate = 44100, channels = 2;
    for (float bad : {std::nanf(""), INFINITY, -INFINITY}) {
        for (FMOD_DSP_TYPE type : kAllTypes) {
            SCOPED_TRACE(::testing::Message() << "type " << type << " bad " << bad);
            auto fx = makeActive(type, rate);
            std::vector<float> buf = noise(rate, channels, 0.3f);
            buf[100 * channels] = bad;
            run(*fx, buf, channels);
            // Half a second later the unit works again.
            const std::vector<float> later(buf.begin() + rate / 2 * channels, buf.end());
            EXPECT_TRUE(clean(later));
            EXPECT_GT(peak(later, channels, 0, later.size() / channels), 0.01);
        }
    }
}

TEST(ProcessTest, ResetForgetsThePast) {
    const int rate = 44100;
    for (FMOD_DSP_TYPE type : kAllTypes) {
        SCOPED_TRACE(::testing::Message() << "type " << type);
        auto used = makeActive(type, rate);
        auto fresh = makeActive(type, rate);
        std::vector<float> junk = noise(5000, 2, 1.0f, 99);
        run(*used, junk, 2);
        used->reset();
        std::vector<float> a = noise(3000, 2), b = a;
        run(*used, a, 2);
        run(*fresh, b, 2);
        EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(float)), 0);
    }
}

TEST(ProcessTest, BlocksOutsideTheContractAreLeftAlone) {
    for (FMOD_DSP_TYPE type : kAllTypes) {
        auto fx = makeActive(type, 44100);
        std::vector<float> buf(64, 0.25f);
        for (int channels : {0, -1, kMaxChannels + 1}) fx->process(buf.data(), buf.data(), 4, channels);
        fx->process(nullptr, buf.data(), 4, 2);
        fx->process(buf.data(), nullptr, 4, 2);
        for (float s : buf) EXPECT_EQ(s, 0.25f) << type;
    }
}

}  // namespace
}  // namespace pw::fx::test
