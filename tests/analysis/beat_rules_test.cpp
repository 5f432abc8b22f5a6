// The beat record, the tracker's range setter and defaults, and the functions over beat lists
// that the grid filter and the snapping search are built from.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "BeatTracker.h"
#include "Event.h"

namespace {

// Test-owned events at the given times (phases as given, or not computed).
struct BeatList {
    std::vector<std::unique_ptr<Event>> owned;
    std::vector<Event*> beats;
    BeatList(std::initializer_list<double> times, std::initializer_list<double> phases = {}) {
        auto ph = phases.begin();
        for (double t : times) {
            owned.emplace_back(new Event(t, 0.0));
            if (ph != phases.end()) owned.back()->phase = *ph++;
            beats.push_back(owned.back().get());
        }
    }
};

TEST(Event, DefaultsAndCopy) {
    Event e(2.5, 0.0);
    EXPECT_EQ(e.time, 2.5);
    EXPECT_EQ(e.score, 0.0);
    EXPECT_EQ(e.salience, 0.0);
    EXPECT_FALSE(e.synthetic);
    EXPECT_EQ(e.phase, -1.0);
    EXPECT_EQ(e.energyPeak, -1.0);

    Event s(1.25, 0.75);
    s.salience = 3;
    s.synthetic = true;
    s.phase = 0.125;
    s.energyPeak = 17;
    Event copy(&s);
    EXPECT_EQ(std::memcmp(&copy.time, &s.time, sizeof(double)), 0);
    EXPECT_EQ(copy.score, 0.75);
    EXPECT_EQ(copy.salience, 3.0);
    EXPECT_TRUE(copy.synthetic);
    EXPECT_EQ(copy.phase, 0.125);
    EXPECT_EQ(copy.energyPeak, 17.0);
}

TEST(Event, DeleteSyntheticEventsLeavesTheOnsetsAlive) {
    Event onset(1.0, 0.0);
    std::vector<Event*> beats = {new Event(0.5, 0.0), &onset, new Event(1.5, 0.0)};
    beats[0]->synthetic = beats[2]->synthetic = true;
    deleteSyntheticEvents(beats);  // a double free or a free of `onset` shows under ASan
    EXPECT_TRUE(beats.empty());
    EXPECT_EQ(onset.time, 1.0);
}

TEST(BeatTrackerClass, DefaultsLocksAndIdleStop) {
    BeatTracker tracker;
    EXPECT_EQ(tracker.minBPM, 80.0f);
    EXPECT_EQ(tracker.maxBPM, 160.0f);
    EXPECT_EQ(tracker.readPos, 0u);
    for (int i = 0; i < 1024; ++i) ASSERT_EQ(tracker.fileName[i], 0) << i;
    EXPECT_STREQ(tracker.runningLock.getName(), "Running");
    EXPECT_STREQ(tracker.javaCallLock.getName(), "JavaCall");
    EXPECT_FALSE(tracker.isRunning().load());
    EXPECT_EQ(tracker.stopTracking(), 1);
}

struct RangeCase {
    float minBPM, maxBPM;
    int result;
    float storedMin, storedMax;
};

class BpmRange : public ::testing::TestWithParam<RangeCase> {};

TEST_P(BpmRange, SetMinMaxBpm) {
    const RangeCase c = GetParam();
    BeatTracker tracker;
    EXPECT_EQ(tracker.setMinMaxBPM(c.minBPM, c.maxBPM), c.result);
    EXPECT_EQ(tracker.minBPM, c.storedMin);
    EXPECT_EQ(tracker.maxBPM, c.storedMax);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BpmRange,
    ::testing::Values(RangeCase{70, 140, 1, 70, 140}, RangeCase{160, 80, -4, 80, 160},
                      RangeCase{100, 100, -4, 80, 160}, RangeCase{10, 300, 1, 20, 255},
                      RangeCase{-5, 19, 1, 20, 20}, RangeCase{254, 1000, 1, 254, 255},
                      RangeCase{std::numeric_limits<float>::quiet_NaN(), 100, -4, 80, 160}));

struct NextMatchCase {
    int index;
    double interval;
    int expected;
};

class NextMatching : public ::testing::TestWithParam<NextMatchCase> {};

TEST_P(NextMatching, FindsTheFirstBeatOnTheGridAhead) {
    BeatList l({0.0, 0.5, 0.8, 1.0, 1.52, 2.0});
    const NextMatchCase c = GetParam();
    EXPECT_EQ(findNextMatchingEvent(c.index, 0.025, c.interval, l.beats), c.expected)
        << "index " << c.index;
}

INSTANTIATE_TEST_SUITE_P(Cases, NextMatching,
                         ::testing::Values(NextMatchCase{0, 0.5, 1}, NextMatchCase{1, 0.5, 3},
                                           NextMatchCase{3, 0.5, 4}, NextMatchCase{2, 0.5, -1},
                                           NextMatchCase{2, 0.4, 5},  // three intervals ahead
                                           NextMatchCase{-1, 0.5, -1}, NextMatchCase{6, 0.5, -1},
                                           NextMatchCase{5, 0.5, -1}));

TEST(BeatListRules, TolerancesAreOpen) {
    const double interval = 0.5, tol = 0.025;
    BeatList l({0.0, 0.0 + (interval + tol), 0.0 + (interval + tol) + (interval - tol)});
    BeatList pair({0.0, 0.0 + (interval + tol)});
    EXPECT_EQ(findNextMatchingEvent(0, tol, interval, pair.beats), -1);
    EXPECT_FALSE(isSurroundedByBeatsOfTheSameInterval(1, 1, tol, l.beats, interval));
    EXPECT_FALSE(isSurroundedByBeatsOfTheSameInterval(1, 2, tol, l.beats, interval));
    BeatList inside({0.0, 0.0 + (interval + 0.9 * tol)});
    EXPECT_EQ(findNextMatchingEvent(0, tol, interval, inside.beats), 1);
    EXPECT_TRUE(isSurroundedByBeatsOfTheSameInterval(1, 1, tol, inside.beats, interval));
}

struct SurroundCase {
    int n;
    int index;
    bool expected;
};

class SurroundedByInterval : public ::testing::TestWithParam<SurroundCase> {};

TEST_P(SurroundedByInterval, CountsBackwardsThenForwards) {
    BeatList l({0.0, 0.5, 1.0, 1.5, 2.0, 2.6, 3.1, 3.6});
    const SurroundCase c = GetParam();
    EXPECT_EQ(isSurroundedByBeatsOfTheSameInterval(c.n, c.index, 0.025, l.beats, 0.5), c.expected)
        << "n " << c.n << " index " << c.index;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SurroundedByInterval,
    ::testing::Values(SurroundCase{4, 4, true},    // four spacings behind it
                      SurroundCase{5, 4, false},   // forward spacing 0.6 stops the count
                      SurroundCase{2, 5, true},    // 0.6 behind: nothing; two ahead
                      SurroundCase{3, 5, false},   // end of the list
                      SurroundCase{4, 2, true},    // two behind, two ahead
                      SurroundCase{5, 2, false},   // then 0.6 ahead
                      SurroundCase{1, -1, false}, SurroundCase{1, 8, false}));

TEST(BeatListRules, SurroundedByPhaseNeedsNeighboursOfTheSamePhase) {
    // Phases: the neighbours of index 2 share 0.1 except index 0.
    BeatList l({0.1, 0.6, 1.1, 1.6, 2.1}, {0.3, 0.1, 0.1, 0.11, 0.1});
    EXPECT_TRUE(isSurroundedByBeatsOfTheSamePhase(3, 2, 0.025, l.beats, 0.5));
    EXPECT_FALSE(isSurroundedByBeatsOfTheSamePhase(4, 2, 0.025, l.beats, 0.5));  // index 0 differs
    EXPECT_TRUE(isSurroundedByBeatsOfTheSameInterval(4, 2, 0.025, l.beats, 0.5));
    // Phases near 0: the window is floored at 0, so a neighbour at phase 0 takes only p in (0, tol).
    BeatList z({0.0, 0.5, 1.0}, {0.0, 0.0, 0.0});
    EXPECT_FALSE(isSurroundedByBeatsOfTheSamePhase(1, 1, 0.025, z.beats, 0.5));
}

TEST(BeatListRules, FindMaximumMagnitude) {
    const double data[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    EXPECT_EQ(findMaximumMagnitude(2, 2, data, 10, 2), 2.5);  // frames 1, 2
    EXPECT_EQ(findMaximumMagnitude(0, 4, data, 10, 2), 1.5);  // cut at 0: frames 0, 1
    EXPECT_EQ(findMaximumMagnitude(4, 4, data, 10, 2), 4.5);  // values beyond size skipped
    EXPECT_EQ(findMaximumMagnitude(40, 4, data, 10, 2), 0.0);
}

TEST(BeatListRules, CalcPhaseShift) {
    EXPECT_DOUBLE_EQ(calcPhaseShift(1.3, 0.5), std::fmod(1.3, 0.5));
    EXPECT_NEAR(calcPhaseShift(1.3, 0.5), 0.3, 1e-12);
}

TEST(BeatListRules, FindNearestOnsetPrefersACloserStrongSuccessor) {
    BeatList l({1.0, 1.05, 2.0, 3.0});
    l.beats[0]->energyPeak = 3;
    l.beats[1]->energyPeak = 3;
    l.beats[2]->energyPeak = 1;  // too weak to snap to
    l.beats[3]->energyPeak = 2.5;  // exactly at the threshold: too weak
    const struct {
        double t;
        int expected;
    } cases[] = {{1.04, 1}, {1.0, 0}, {1.1, 1}, {0.92, 0}, {2.0, -1}, {3.0, -1}, {1.5, -1}};
    for (const auto& c : cases) {
        Event* found = findNearestOnset(&l.beats, c.t, 0.1, 5.0);
        EXPECT_EQ(found, c.expected < 0 ? nullptr : l.beats[c.expected]) << c.t;
    }
    std::vector<Event*> empty;
    EXPECT_EQ(findNearestOnset(&empty, 1.0, 0.1, 5.0), nullptr);
    EXPECT_EQ(findNearestOnset(nullptr, 1.0, 0.1, 5.0), nullptr);
}

}  // namespace
