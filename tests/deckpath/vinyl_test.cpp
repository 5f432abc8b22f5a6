// The virtual vinyl controller: speeds from target positions against the examples, with an
// injected clock and a fake channel.
#include <gtest/gtest.h>

#include <sys/time.h>

#include <cmath>
#include <vector>

#include "VirtualVinylController.h"

namespace {

struct timeval g_now{};
int fakeClock(struct timeval* tv) {
    *tv = g_now;
    return 0;
}
void setNowMs(long ms) {
    g_now.tv_sec = 5000 + ms / 1000;
    g_now.tv_usec = (ms % 1000) * 1000;
}

class FakeDeck : public CVirtualVinylController {
public:
    int SetFrequencyHighResPitch(double speed) override {
        applied.push_back(speed);
        return 1;
    }
    unsigned int GetPositionVinylScratch() override {
        ++positionQueries;
        return position;
    }
    std::vector<double> applied;
    unsigned int position = 0;
    int positionQueries = 0;
};

class VinylTest : public testing::Test {
protected:
    void SetUp() override {
        setNowMs(0);
        CVirtualVinylController::setClockForTesting(&fakeClock);
    }
    void TearDown() override { CVirtualVinylController::setClockForTesting(nullptr); }
};

TEST_F(VinylTest, DurationsAreCheckedFirst) {
    struct Case {
        double duration;
        int result;
        bool stepped;
    };
    for (const Case& c : {Case{0.0, -4, false}, Case{-1.0, -4, false}, Case{0.005, 1, false}, Case{0.01, 1, true},
                          Case{1.0, 1, true}}) {
        SCOPED_TRACE(c.duration);
        FakeDeck deck;
        deck.enableVirtualVinyl(true);
        EXPECT_EQ(deck.setVirtualVelocity(600, c.duration), c.result);
        EXPECT_EQ(!deck.applied.empty(), c.stepped);
    }
}

TEST_F(VinylTest, DisabledControllerKeepsTheTargetButNotTheSpeed) {
    FakeDeck deck;
    EXPECT_EQ(deck.setVirtualVelocity(600, 1.0), 1);
    deck.calculateVinylScratch(true);
    EXPECT_TRUE(deck.applied.empty());
    EXPECT_EQ(deck.getCurrentSpeed(), 1.0);
    deck.enableVirtualVinyl(true);
    deck.calculateVinylScratch(true);  // the stored target now drives the speed
    ASSERT_EQ(deck.applied.size(), 1u);
    EXPECT_DOUBLE_EQ(deck.applied[0], 5.5);
}

// Target 600 ms ahead every 10 ms: raw speed 10; the smoothed speed averages the last four.
TEST_F(VinylTest, SpeedSmoothsTowardTheRawSpeedOverFourValues) {
    FakeDeck deck;
    deck.enableVirtualVinyl(true);
    EXPECT_EQ(deck.setVirtualVelocity(600, 1.0), 1);
    const double expected[] = {5.5, 6.625, 7.1875, 7.5390625, 8.3564453125};
    for (size_t i = 1; i < 5; ++i) {
        setNowMs(static_cast<long>(10 * i + 100));
        deck.calculateVinylScratch(true);
    }
    ASSERT_EQ(deck.applied.size(), 5u);
    for (size_t i = 0; i < 5; ++i) EXPECT_DOUBLE_EQ(deck.applied[i], expected[i]) << i;
    EXPECT_DOUBLE_EQ(deck.getCurrentSpeed(), expected[4]);
}

TEST_F(VinylTest, ElapsedTimeIsAtLeastTenMilliseconds) {
    FakeDeck deck;
    deck.enableVirtualVinyl(true);
    setNowMs(1000);
    deck.setVirtualVelocity(600, 1.0);  // first step: E = 10, raw 10
    setNowMs(1005);
    deck.calculateVinylScratch(true);   // 5 ms later: still E = 10, raw 10
    setNowMs(1045);
    deck.calculateVinylScratch(true);   // 40 ms later: raw 600 / 6 / 40 = 2.5
    const std::vector<double> expected = {5.5, 6.625, 5.9375};
    ASSERT_EQ(deck.applied.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_DOUBLE_EQ(deck.applied[i], expected[i]) << i;
}

TEST_F(VinylTest, RawSpeedIsLimited) {
    struct Case {
        long target;
        unsigned int position;
        double applied;  // NaN: nothing applied
    };
    // 18000 ms ahead: raw 300, (300 + 1) / 2 above 25 becomes 25. Behind: -300 restarts from 0.
    // 60 ms ahead: raw 1.0 equals the current speed, so nothing is applied.
    const double none = std::nan("");
    for (const Case& c : {Case{18000, 0, 25.0}, Case{0, 18000, -25.0}, Case{60, 0, none}}) {
        SCOPED_TRACE(c.target);
        FakeDeck deck;
        deck.position = c.position;
        deck.enableVirtualVinyl(true);
        deck.setVirtualVelocity(c.target, 1.0);
        if (std::isnan(c.applied)) {
            EXPECT_TRUE(deck.applied.empty());
            continue;
        }
        ASSERT_EQ(deck.applied.size(), 1u);
        EXPECT_DOUBLE_EQ(deck.applied[0], c.applied);
    }
}

TEST_F(VinylTest, PassingTheTargetRestartsFromZero) {
    FakeDeck deck;
    deck.enableVirtualVinyl(true);
    deck.setVirtualVelocity(600, 1.0);  // 5.5
    deck.position = 900;                // now beyond the target: raw -5
    setNowMs(10);
    deck.calculateVinylScratch(true);   // S restarts at 0: -2.5, averaged with 5.5
    ASSERT_EQ(deck.applied.size(), 2u);
    EXPECT_DOUBLE_EQ(deck.applied[1], (5.5 - 2.5) / 2);
}

TEST_F(VinylTest, ReachingTheTargetReturnsToTheBaseSpeedOnce) {
    FakeDeck deck;
    deck.enableVirtualVinyl(true);
    deck.setVirtualVelocity(600, 1.0);  // 5.5
    deck.position = 600;
    setNowMs(10);
    deck.calculateVinylScratch(true);   // raw = base 1.0: (1 + 5.5) / 2 = 3.25, mean with 5.5
    setNowMs(20);
    deck.calculateVinylScratch(true);   // no target any more: nothing
    ASSERT_EQ(deck.applied.size(), 2u);
    EXPECT_DOUBLE_EQ(deck.applied[1], (5.5 + 3.25) / 2);
}

TEST_F(VinylTest, PlatterModeSetsTheSpeedOutright) {
    FakeDeck deck;
    deck.enableVirtualVinyl(true);
    deck.setVirtualVelocity(600, 1.0);
    EXPECT_EQ(deck.setVirtualVTMode(0.0), 1);
    EXPECT_EQ(deck.applied.back(), 0.0);
    EXPECT_EQ(deck.getBaseSpeed(), 0.0);
    setNowMs(10);
    deck.calculateVinylScratch(true);  // the target was cleared
    EXPECT_EQ(deck.applied.back(), 0.0);
    EXPECT_EQ(deck.setVirtualVTMode(1.0), 1);
    EXPECT_EQ(deck.applied.back(), 1.0);
    EXPECT_EQ(deck.getCurrentSpeed(), 1.0);
    EXPECT_EQ(deck.setVirtualVTInertia(3.0), 1);
    EXPECT_EQ(deck.applied.size(), 3u);
}

}  // namespace
