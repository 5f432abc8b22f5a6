// Peak picking helpers and the 16-bit conversion that every source passes before onset detection.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Util.h"

namespace {

TEST(Peaks, NormaliseGivesZeroMeanAndUnitDeviation) {
    std::vector<double> v = {1, 2, 3, 4, 10, -3, 0.5};
    Peaks::normalise(v.data(), static_cast<int>(v.size()));
    double sum = 0, sq = 0;
    for (double x : v) {
        sum += x;
        sq += x * x;
    }
    EXPECT_NEAR(sum / v.size(), 0.0, 1e-12);
    EXPECT_NEAR(std::sqrt(sq / v.size()), 1.0, 1e-12);

    std::vector<double> flat(5, 3.25);  // no spread: deviation taken as 1, values just centred
    Peaks::normalise(flat.data(), 5);
    for (double x : flat) EXPECT_EQ(x, 0.0);

    std::vector<double> untouched = {4.0};
    Peaks::normalise(untouched.data(), 0);
    EXPECT_EQ(untouched[0], 4.0);
}

struct PickCase {
    const char* name;
    std::vector<double> data;
    int width;
    double threshold;
    bool relative;
    std::vector<int> expected;
};

class PeakPicking : public ::testing::TestWithParam<PickCase> {};

TEST_P(PeakPicking, FindsExactlyTheExpectedPeaks) {
    const PickCase& c = GetParam();
    std::vector<int> peaks;
    std::atomic<bool> running(true);
    Peaks::findPeaksInternal(c.data.data(), static_cast<int>(c.data.size()), c.width, c.threshold,
                             0.84, c.relative, &peaks, &running);
    EXPECT_EQ(peaks, c.expected) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PeakPicking,
    ::testing::Values(
        PickCase{"two clear peaks", {0, 0, 5, 0, 0, 0, 0, 0, 4, 0, 0}, 2, 0.35, true, {2, 8}},
        // Equal neighbours: only the first can be the maximum of its neighbourhood.
        PickCase{"equal neighbours", {0, 0, 5, 5, 0, 0, 0, 0, 0}, 1, 0.35, true, {2}},
        // The second bump lies within the width of the larger first one.
        PickCase{"within width", {0, 6, 0, 5, 0, 0, 0, 0}, 2, 0.35, true, {1}},
        // Relative test: a plateau does not stand out from its own local mean.
        PickCase{"plateau", {1, 1, 1, 1, 1, 1}, 1, 0.35, true, {}},
        // Absolute test: only values above the threshold itself.
        PickCase{"absolute", {0, 0.3, 0, 0, 0.5, 0, 0}, 1, 0.4, false, {4}},
        // The decaying average holds a peak's level: a smaller peak right after it is not
        // above the average yet.
        PickCase{"held by decay", {0, 0, 10, 0, 3, 0, 0, 0, 0, 0}, 1, 0.35, true, {2}},
        PickCase{"empty", {}, 2, 0.35, true, {}}));

TEST(Peaks, RunningFlagStopsThePick) {
    std::vector<double> data = {0, 5, 0, 0, 5, 0, 0, 5, 0};
    std::vector<int> peaks;
    std::atomic<bool> stopped(false);
    Peaks::findPeaksInternal(data.data(), 9, 1, 0.35, 0.84, true, &peaks, &stopped);
    EXPECT_TRUE(peaks.empty());
}

TEST(Peaks, FindPeaks2KeepsTheLargestSortedAndEqualsInOrder) {
    std::vector<double> data = {0, 3, 0, 7, 0, 3, 0, 9, 0, 1, 0};
    int peaks[3] = {-1, -1, -1};
    EXPECT_EQ(Peaks::findPeaks2(data.data(), 11, peaks, 3, 1), 3);
    EXPECT_EQ(peaks[0], 7);
    EXPECT_EQ(peaks[1], 3);
    EXPECT_EQ(peaks[2], 1);  // the earlier of the two 3s
    int two[2];
    EXPECT_EQ(Peaks::findPeaks2(data.data(), 11, two, 2, 1), 2);
    EXPECT_EQ(two[0], 7);
    EXPECT_EQ(two[1], 3);
}

TEST(Peaks, GetSlopeMatchesDirectRegression) {
    const int n = 40, window = 7;
    const double hop = 0.01;
    std::vector<double> data(n), slope(n, -99);
    for (int i = 0; i < n; ++i) data[i] = std::sin(i * 0.3) + 0.05 * i * i;
    Peaks::getSlope(data.data(), n, hop, window, slope.data(), n);
    auto direct = [&](int s) {
        double sx = 0, sy = 0, sxx = 0, sxy = 0;
        for (int i = s; i < s + window; ++i) {
            const double x = i * hop;
            sx += x;
            sy += data[i];
            sxx += x * x;
            sxy += x * data[i];
        }
        return (window * sxy - sx * sy) / (window * sxx - sx * sx);
    };
    for (int i = 0; i < n; ++i) {
        int s = i - window / 2;
        if (s < 0) s = 0;
        if (s > n - window) s = n - window;
        EXPECT_NEAR(slope[i], direct(s), 1e-6 * std::fabs(direct(s)) + 1e-9) << i;
    }
}

TEST(Peaks, ExtremesAndAverages) {
    std::vector<double> d = {3, -1, 7, -1, 7};
    EXPECT_EQ(Peaks::imin(d.data(), 5), 1);
    EXPECT_EQ(Peaks::imax(d.data(), 5), 2);
    EXPECT_EQ(Peaks::min(d.data(), 5), -1);
    EXPECT_EQ(Peaks::max(d.data(), 5), 7);
    EXPECT_EQ(Peaks::min(d.data(), 1), 3);
    EXPECT_EQ(Util::min(d.data(), 5), -1);
    EXPECT_EQ(Util::max(d.data(), 5), 7);
    EXPECT_NEAR(Util::rms(d.data(), 5), std::sqrt((9 + 1 + 49 + 1 + 49) / 5.0), 1e-12);
    // From 10: max(3, 6.5) = 6.5, then max(-1, 2.75) = 2.75.
    EXPECT_DOUBLE_EQ(Peaks::expDecayWithHold(10.0, 0.5, d.data(), 5, 0, 2), 2.75);
    EXPECT_FALSE(Peaks::overThreshold(d.data(), 5, 2, 1, 0.35, true, 8.0));  // av above the value
    EXPECT_TRUE(Peaks::overThreshold(d.data(), 5, 2, 1, 0.35, false, 0.0));
}

TEST(Util, ThresholdClampsBetweenBAndA) {
    const double cases[][4] = {{5, 10, 1, 5}, {0.5, 10, 1, 1}, {11, 10, 1, 10}, {1, 10, 1, 1}};
    for (const auto& c : cases) EXPECT_EQ(Util::threshold(c[0], c[1], c[2]), c[3]);
}

struct ConversionCase {
    const char* name;
    std::vector<uint8_t> bytes;
    int bits;
    bool isFloat;
    std::vector<short> expected;
};

class Pcm16Conversion : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(Pcm16Conversion, GivesTheSixteenBitValues) {
    const ConversionCase& c = GetParam();
    std::vector<short> out(c.expected.size() + 2, 12345);
    const int n = convertToPcm16(c.bytes.data(), static_cast<unsigned>(c.bytes.size()), c.bits,
                                 c.isFloat, out.data(), static_cast<unsigned>(out.size()));
    ASSERT_EQ(n, static_cast<int>(c.expected.size())) << c.name;
    for (size_t i = 0; i < c.expected.size(); ++i) EXPECT_EQ(out[i], c.expected[i]) << c.name;
    EXPECT_EQ(out[c.expected.size()], 12345) << c.name << ": wrote past the samples";
}

std::vector<uint8_t> floats(std::initializer_list<float> values) {
    std::vector<uint8_t> b(values.size() * sizeof(float));
    std::memcpy(b.data(), values.begin(), b.size());
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Formats, Pcm16Conversion,
    ::testing::Values(
        ConversionCase{"8-bit", {0, 128, 255, 129}, 8, false, {0, -32768, -256, -32512}},
        ConversionCase{"16-bit", {0x34, 0x12, 0x00, 0x80}, 16, false, {0x1234, -32768}},
        ConversionCase{"24-bit", {0xff, 0x34, 0x12, 0x00, 0x00, 0x80, 0x01}, 24, false, {0x1234, -32768}},
        ConversionCase{"32-bit", {0, 0, 0xff, 0x7f, 0xff, 0xff, 0xff, 0xff}, 32, false, {32767, -1}},
        ConversionCase{"float clipped", floats({0.5f, -1.0f, 2.0f, -3.0f}), 32, true,
                       {16384, -32768, 32767, -32768}}));

TEST(Pcm16ConversionErrors, RefusesUnsupportedFormatsAndStopsAtCapacity) {
    uint8_t bytes[8] = {0};
    short out[2];
    EXPECT_EQ(convertToPcm16(bytes, 8, 12, false, out, 2), -1);
    EXPECT_EQ(convertToPcm16(bytes, 8, 16, true, out, 2), -1);
    EXPECT_EQ(convertToPcm16(nullptr, 8, 16, false, out, 2), -1);
    EXPECT_EQ(convertToPcm16(bytes, 8, 16, false, out, 2), 2);  // 4 samples in, room for 2
}

}  // namespace
