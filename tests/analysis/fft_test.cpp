// The transforms against a DFT computed here in long double, for every power of two the
// analysis can use, plus the fixed values the fast estimates are known to give.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <string>
#include <vector>

#include "com/tarvenkolm/analysis/fft/FFT.h"

using com_tarvenkolm_analysis_fft::FFT;
typedef std::complex<long double> cld;

namespace {

// One bin of the DFT of re + i*im, forward sign, long double twiddles.
cld dftBin(const std::vector<double>& re, const std::vector<double>& im, size_t k) {
    const size_t n = re.size();
    const long double pi = 3.141592653589793238462643383279502884L;
    cld sum = 0;
    for (size_t t = 0; t < n; ++t) {
        const long double a = -2.0L * pi * static_cast<long double>((k * t) % n) / n;
        sum += cld(re[t], im[t]) * cld(std::cos(a), std::sin(a));
    }
    return sum;
}

// A frame with a clear peak (a sine between bins) over noise, as an analysis frame looks.
std::vector<double> testFrame(unsigned n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> noise(-0.2, 0.2);
    std::vector<double> x(n);
    const double cycles = n / 7.3;
    for (unsigned i = 0; i < n; ++i) x[i] = std::sin(2 * M_PI * cycles * i / n) + noise(rng);
    return x;
}

// Bins to check: all of them for small frames, an even spread plus the peak region otherwise
// (a full long-double DFT of 16384 points would dominate the suite's run time).
std::vector<size_t> binsToCheck(unsigned n) {
    std::vector<size_t> bins;
    const size_t stride = n <= 2048 ? 1 : n / 512;
    for (size_t k = 0; k < n; k += stride) bins.push_back(k);
    const size_t peak = static_cast<size_t>(std::lround(n / 7.3));
    for (size_t k = peak - 3; k <= peak + 3; ++k) bins.push_back(k);
    bins.push_back(n - peak);
    return bins;
}

class FftSizes : public ::testing::TestWithParam<unsigned> {};

TEST_P(FftSizes, MagnitudesWithinOnePercentOfPeak) {
    const unsigned n = GetParam();
    const std::vector<double> x = testFrame(n, n);
    std::vector<double> re = x, im(n, 0.0);
    FFT::magnitudePhaseFFT(re.data(), n, im.data(), n);
    const std::vector<double> zeros(n, 0.0);
    const std::vector<size_t> bins = binsToCheck(n);
    std::vector<long double> ref(bins.size());
    long double peak = 0;
    for (size_t b = 0; b < bins.size(); ++b) {
        ref[b] = std::abs(dftBin(x, zeros, bins[b]));
        peak = std::max(peak, ref[b]);
    }
    for (size_t b = 0; b < bins.size(); ++b) {
        EXPECT_NEAR(re[bins[b]], static_cast<double>(ref[b]), 0.01 * static_cast<double>(peak))
            << "n=" << n << " bin " << bins[b];
    }
}

TEST_P(FftSizes, ComplexForwardMatchesDftAndRoundTripGivesNTimesInput) {
    const unsigned n = GetParam();
    const std::vector<double> x = testFrame(n, n + 1), y = testFrame(n, n + 2);
    std::vector<double> re = x, im = y;
    EXPECT_EQ(FFT::fft(re.data(), n, im.data(), n, -1), 1);
    const std::vector<size_t> bins = binsToCheck(n);
    std::vector<cld> ref(bins.size());
    long double peak = 0;
    for (size_t b = 0; b < bins.size(); ++b) {
        ref[b] = dftBin(x, y, bins[b]);
        peak = std::max(peak, std::abs(ref[b]));
    }
    const double tol = 0.01 * static_cast<double>(peak);
    for (size_t b = 0; b < bins.size(); ++b) {
        EXPECT_NEAR(re[bins[b]], static_cast<double>(ref[b].real()), tol) << "n=" << n;
        EXPECT_NEAR(im[bins[b]], static_cast<double>(ref[b].imag()), tol) << "n=" << n;
    }
    // fft_faster is the same forward transform.
    std::vector<double> re2 = x, im2 = y;
    FFT::fft_faster(re2.data(), n, im2.data(), n);
    EXPECT_EQ(re2, re);
    EXPECT_EQ(im2, im);

    EXPECT_EQ(FFT::fft(re.data(), n, im.data(), n, 1), 1);
    double maxIn = 0;
    for (unsigned i = 0; i < n; ++i) maxIn = std::max({maxIn, std::fabs(x[i]), std::fabs(y[i])});
    for (unsigned i = 0; i < n; ++i) {
        ASSERT_NEAR(re[i], n * x[i], 0.01 * n * maxIn) << "n=" << n << " i=" << i;
        ASSERT_NEAR(im[i], n * y[i], 0.01 * n * maxIn) << "n=" << n << " i=" << i;
    }
}

TEST_P(FftSizes, StageCountIsExactForPowersOfTwo) {
    const unsigned n = GetParam();
    EXPECT_EQ(1u << FFT::stageCount(n), n);
}

INSTANTIATE_TEST_SUITE_P(PowersOfTwo, FftSizes,
                         ::testing::Values(8u, 16u, 32u, 64u, 128u, 256u, 512u, 1024u, 2048u,
                                           4096u, 8192u, 16384u));

TEST(Fft, ConstantFrameGivesTheEstimatesOfEightAndOfZero) {
    std::vector<double> re(8, 1.0), im(8, 0.0);
    FFT::magnitudePhaseFFT(re.data(), 8, im.data(), 8);
    EXPECT_NEAR(re[0], 8.0136, 1e-3);
    for (int k = 1; k < 8; ++k) {
        EXPECT_GT(re[k], 5.0e-20) << k;  // the estimate of sqrt(0) is not 0
        EXPECT_LT(re[k], 5.1e-20) << k;
    }
}

TEST(Fft, SquareRootEstimateWithinItsBound) {
    for (double r = 1e-6; r < 1e9; r *= 1.37) {
        const double est = FFT::estimateSqrt(r);
        EXPECT_LE(std::fabs(est - std::sqrt(r)) / std::sqrt(r), 0.0018) << r;
    }
}

TEST(Fft, LengthMismatchPrintsOnceAndStillTransformsNPoints) {
    const std::vector<double> x = testFrame(64, 3);
    std::vector<double> expected = x, expectedIm(64, 0.0);
    FFT::magnitudePhaseFFT(expected.data(), 64, expectedIm.data(), 64);

    std::vector<double> re = x, im(64, 0.0);
    ::testing::internal::CaptureStdout();
    FFT::magnitudePhaseFFT(re.data(), 64, im.data(), 32);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "different fft length not yet supported!\n");
    EXPECT_EQ(re, expected);
}

TEST(Fft, LengthsThatAreNotPowersOfTwoLeaveTheFrameAlone) {
    for (unsigned n : {0u, 3u, 12u, 1000u}) {
        std::vector<double> re(n + 1, 0.5), im(n + 1, 0.25);
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(FFT::fft(re.data(), n, im.data(), n, -1), 1);
        FFT::magnitudePhaseFFT(re.data(), n, im.data(), n);
        ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(re, std::vector<double>(n + 1, 0.5)) << n;
        EXPECT_EQ(im, std::vector<double>(n + 1, 0.25)) << n;
    }
}

TEST(Fft, PowerAndMagnitudeSpectraOfARealFrame) {
    const unsigned n = 512;
    const std::vector<double> x = testFrame(n, 9);
    const std::vector<double> zeros(n, 0.0);
    std::vector<double> power = x, magnitude = x;
    FFT::powerFFT(power.data(), n);
    FFT::magnitudeFFT(magnitude.data(), n);
    long double peak = 0;
    std::vector<long double> ref(n);
    for (unsigned k = 0; k < n; ++k) {
        ref[k] = std::abs(dftBin(x, zeros, k));
        peak = std::max(peak, ref[k]);
    }
    for (unsigned k = 0; k < n; ++k) {
        EXPECT_NEAR(magnitude[k], static_cast<double>(ref[k]), 0.01 * static_cast<double>(peak));
        EXPECT_NEAR(power[k], static_cast<double>(ref[k] * ref[k]),
                    0.02 * static_cast<double>(peak * peak));
    }
    // The static frame takes lengths below 8192 only; longer frames are refused unchanged.
    std::vector<double> big(FFT::kStaticFrameCapacity, 1.0);
    ::testing::internal::CaptureStdout();
    FFT::powerFFT(big.data(), FFT::kStaticFrameCapacity);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(big, std::vector<double>(FFT::kStaticFrameCapacity, 1.0));
}

TEST(Fft, PowerPhaseRoundTrip) {
    const unsigned n = 256;
    const std::vector<double> x = testFrame(n, 11);
    std::vector<double> re = x, im(n, 0.0);
    FFT::powerPhaseFFT(re.data(), n, im.data(), n);
    FFT::powerPhaseIFFT(re.data(), n, im.data(), n);
    double maxIn = 0;
    for (double v : x) maxIn = std::max(maxIn, std::fabs(v));
    for (unsigned i = 0; i < n; ++i) {
        EXPECT_NEAR(re[i], n * x[i], 0.01 * n * maxIn) << i;
        EXPECT_NEAR(im[i], 0.0, 0.01 * n * maxIn) << i;
    }
}

}  // namespace
