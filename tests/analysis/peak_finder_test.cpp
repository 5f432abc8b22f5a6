// Sub-sample peak location on sampled bumps, and the cases that have no clear peak.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "PeakFinder.h"

namespace {

// A symmetric bump centred at `centre` over a floor, sampled at 0..n-1.
std::vector<float> bump(int n, double centre, double floor, double height, double width) {
    std::vector<float> v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        const double x = (i - centre) / width;
        v[static_cast<size_t>(i)] = static_cast<float>(floor + height * std::exp(-x * x));
    }
    return v;
}

TEST(PeakFinder, FindsTheCentreOfASymmetricBumpBetweenSamples) {
    // Centres on a sample or halfway between two give symmetric crossings: exact. Elsewhere the
    // mass centre between whole-sample crossings is off by less than a third of a sample, and
    // it follows the true centre.
    const struct {
        double centre;
        double tolerance;
    } cases[] = {{20.0, 1e-4}, {20.5, 1e-4}, {20.25, 0.3}, {33.7, 0.3}, {40.9, 0.3}};
    float previous = 0;
    for (const auto& c : cases) {
        std::vector<float> v = bump(64, c.centre, 0.1, 1.0, 4.0);
        PeakFinder f;
        const float found = f.detectPeak(v.data(), 1, 63);
        EXPECT_NEAR(found, c.centre, c.tolerance) << c.centre;
        if (c.centre > 21) {
            EXPECT_GT(found, previous);
        }
        previous = found;
    }
}

TEST(PeakFinder, NoClearPeakGivesZero) {
    PeakFinder f;
    std::vector<float> flat(32, 1.0f);
    EXPECT_EQ(f.detectPeak(flat.data(), 0, 32), 0.0f);  // peak not 1.3 times its ground
    std::vector<float> noFloor = bump(64, 30, 0.0, 1.0, 3.0);
    EXPECT_EQ(f.detectPeak(noFloor.data(), 1, 63), 0.0f);  // ground below 1e-6
    std::vector<float> edge = bump(64, 2, 0.1, 1.0, 4.0);
    EXPECT_EQ(f.detectPeak(edge.data(), 1, 63), 0.0f);  // the cut level is never crossed on the left
    EXPECT_EQ(f.detectPeak(nullptr, 0, 10), 0.0f);
    EXPECT_EQ(f.detectPeak(flat.data(), 10, 10), 0.0f);
    EXPECT_EQ(f.detectPeak(flat.data(), -3, 10), 0.0f);
}

TEST(PeakFinder, TheRangeLimitsTheSearch) {
    // Two bumps; the range holds only the second.
    std::vector<float> v = bump(128, 30, 0.1, 2.0, 4.0);
    std::vector<float> second = bump(128, 90.5, 0.0, 1.0, 4.0);
    for (size_t i = 0; i < v.size(); ++i) v[i] += second[i];
    PeakFinder f;
    EXPECT_NEAR(f.detectPeak(v.data(), 60, 127), 90.5, 0.1);
    EXPECT_NEAR(f.detectPeak(v.data(), 1, 60), 30.0, 0.1);
}

}  // namespace
