// Beat detection on the cases at the edges of its rules: no processor, nothing to find, one
// candidate, spacings outside the BPM range, a range narrower than an octave, the fills at both
// ends of the track, and runs over a track only partly decoded.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <vector>

#include "AudioProcessor.h"
#include "BeatTracker.h"
#include "analysis_signals.h"

using analysis_test::Track;
using analysis_test::analyse;
using analysis_test::clickTrack;

namespace {

// A beat list whose synthetic events are deleted with it, as every holder must.
struct Beats {
    std::vector<Event*> list;
    ~Beats() { deleteSyntheticEvents(list); }
};

bool isOnset(const AudioProcessor& p, const Event* e) {
    return std::find(p.onsets.begin(), p.onsets.end(), e) != p.onsets.end();
}

double nearest(const std::vector<Event*>& beats, double t) {
    double best = 1e9;
    for (const Event* e : beats) best = std::min(best, std::fabs(e->time - t));
    return best;
}

TEST(BeatTrackEdges, NullProcessorTouchesNothing) {
    BeatTracker tracker;
    Event mine(1.0, 0.0);
    std::vector<Event*> beats = {&mine};
    float bpm = 42.0f;
    std::atomic<bool> running(true);
    EXPECT_EQ(tracker.beatTrack(nullptr, bpm, beats, &running, false), -28);
    EXPECT_EQ(bpm, 42.0f);
    ASSERT_EQ(beats.size(), 1u);
    EXPECT_EQ(beats[0], &mine);
}

TEST(BeatTrackEdges, RangeThatIsNotPositiveIsRefused) {
    Track t = clickTrack(120, 5.0);
    auto p = analyse(t);
    for (float bad : {0.0f, -80.0f, 5000.0f}) {
        BeatTracker tracker;
        tracker.minBPM = bad;
        Beats b;
        float bpm = 42.0f;
        EXPECT_EQ(tracker.beatTrack(p.get(), bpm, b.list, nullptr, false), -4) << bad;
        EXPECT_EQ(bpm, 42.0f);
        EXPECT_TRUE(b.list.empty());
    }
}

TEST(BeatTrackEdges, SilenceGivesNoBeatsAndLeavesBpm) {
    Track t = clickTrack(120, 8.0, 0.0, 1, 2, 44100.0f, 0.25, 0u);  // no channel carries clicks
    auto p = analyse(t);
    BeatTracker tracker;
    Beats b;
    float bpm = 42.0f;
    std::atomic<bool> running(true);
    EXPECT_EQ(tracker.beatTrack(p.get(), bpm, b.list, &running, false), 1);
    EXPECT_TRUE(b.list.empty());
    EXPECT_EQ(bpm, 42.0f);
    ASSERT_EQ(p->onsets.size(), 1u);  // the silent track's one onset, too weak for a beat
    EXPECT_LT(p->onsets[0]->energyPeak, 5.0);
}

TEST(BeatTrackEdges, OneCandidateIsTheOnlyBeatAndNoTempo) {
    Track t = clickTrack(1, 10.0, 0.0, 1, 2, 44100.0f, 2.0);
    ASSERT_EQ(t.clicks.size(), 1u);
    auto p = analyse(t);
    BeatTracker tracker;
    Beats b;
    float bpm = 42.0f;
    EXPECT_EQ(tracker.beatTrack(p.get(), bpm, b.list, nullptr, false), 1);
    ASSERT_EQ(b.list.size(), 1u);
    EXPECT_FALSE(b.list[0]->synthetic);
    EXPECT_TRUE(isOnset(*p, b.list[0]));
    EXPECT_NEAR(b.list[0]->time, 2.0, 0.03);
    EXPECT_EQ(bpm, 42.0f);
}

struct FoldCase {
    double spacing;
    float minBPM, maxBPM;
    double bpm;
};

class OctaveFolding : public ::testing::TestWithParam<FoldCase> {};

// Beats already in the list take part like candidates; over a silent track they are the only
// ones, so their spacing alone sets the interval.
TEST_P(OctaveFolding, SpacingIsFoldedIntoTheRange) {
    const FoldCase c = GetParam();
    Track t = clickTrack(120, 30.0, 0.0, 1, 2, 44100.0f, 0.25, 0u);
    auto p = analyse(t);
    std::vector<std::unique_ptr<Event>> owned;
    Beats b;
    for (int k = 0; k < 6; ++k) {
        owned.emplace_back(new Event(1.0 + k * c.spacing, 0.0));
        owned.back()->salience = 1.0;
        b.list.push_back(owned.back().get());
    }
    BeatTracker tracker;
    tracker.minBPM = c.minBPM;
    tracker.maxBPM = c.maxBPM;
    float bpm = 0.0f;
    EXPECT_EQ(tracker.beatTrack(p.get(), bpm, b.list, nullptr, false), 1);
    EXPECT_NEAR(bpm, c.bpm, 0.01) << "spacing " << c.spacing;
}

INSTANTIATE_TEST_SUITE_P(Spacings, OctaveFolding,
                         ::testing::Values(FoldCase{0.3, 80, 160, 100.0},   // doubled to 0.6
                                           FoldCase{1.6, 80, 160, 150.0},   // halved twice
                                           FoldCase{0.5, 80, 160, 120.0},   // in range
                                           FoldCase{1.05, 150, 160, 60 / 0.2625}));

TEST(BeatTrackEdges, RangeNarrowerThanAnOctaveLeavesTheTempoOutsideIt) {
    // 1.05 s halves to 0.525 and 0.2625, below the shortest interval 0.375: no grid filter, no
    // isolated-beat pass, no tail fill; every click stays a beat.
    Track t = clickTrack(60 / 1.05, 30.0, 0.01);
    auto p = analyse(t);
    BeatTracker tracker;
    ASSERT_EQ(tracker.setMinMaxBPM(150, 160), 1);
    Beats b;
    float bpm = 0.0f;
    EXPECT_EQ(tracker.beatTrack(p.get(), bpm, b.list, nullptr, false), 1);
    EXPECT_NEAR(bpm, 228.57, 0.01);
    for (double click : t.clicks) EXPECT_LE(nearest(b.list, click), 0.03) << click;
    EXPECT_LT(b.list.back()->time, t.clicks.back() + 0.1);  // no tail fill
}

TEST(BeatTrackEdges, BackFillSnapsToQuietOnsetsAndNeverReachesTimeZero) {
    // The first four clicks are too quiet to be candidates but loud enough to snap to.
    const std::vector<double> gains = {0.4, 0.4, 0.4, 0.4};
    Track t = clickTrack(120, 30.0, 0.0, 1, 2, 44100.0f, 0.3, ~0u, gains);
    auto p = analyse(t);
    BeatTracker tracker;
    Beats b;
    float bpm = 0.0f;
    EXPECT_EQ(tracker.beatTrack(p.get(), bpm, b.list, nullptr, false), 1);
    EXPECT_EQ(bpm, 120.0f);
    int snapped = 0;
    for (const Event* e : b.list) {
        EXPECT_GT(e->time, 0.0);
        if (e->time < t.clicks[4] - 0.1) {
            EXPECT_FALSE(e->synthetic) << e->time;
            EXPECT_TRUE(isOnset(*p, e)) << e->time;
            EXPECT_GT(e->energyPeak, 2.5);
            EXPECT_LE(e->energyPeak, 5.0);
            ++snapped;
        }
    }
    EXPECT_EQ(snapped, 4);
    for (double click : t.clicks) EXPECT_LE(nearest(b.list, click), 0.03) << click;
    // Deleting the list's synthetic events leaves the snapped onsets to the processor (a double
    // free would show here or when the processor goes).
    deleteSyntheticEvents(b.list);
    p.reset();
}

TEST(BeatTrackEdges, BackFillMakesSyntheticBeatsOnlyAfterTimeZero) {
    // Clicks start late and the early part is silent: the back-filled beats are made up, and the
    // first one lies in (0, interval].
    Track t = clickTrack(120, 30.0, 0.0, 1, 2, 44100.0f, 5.3);
    auto p = analyse(t);
    BeatTracker tracker;
    Beats b;
    float bpm = 0.0f;
    tracker.beatTrack(p.get(), bpm, b.list, nullptr, false);
    ASSERT_FALSE(b.list.empty());
    EXPECT_GT(b.list[0]->time, 0.0);
    EXPECT_LE(b.list[0]->time, 0.5 + 0.03);
    EXPECT_TRUE(b.list[0]->synthetic);
    for (size_t i = 1; i < b.list.size(); ++i) EXPECT_GT(b.list[i]->time, b.list[i - 1]->time);
}

TEST(BeatTrackEdges, InterimRunFillsToTheEndAndNormalisesOnTheDecodedPart) {
    Track t = clickTrack(120, 60.0, 0.01);
    auto p = analyse(t, 2, 2000);  // 20 s of 60 decoded
    BeatTracker tracker;
    Beats b;
    float bpm = 0.0f;
    std::atomic<bool> running(true);
    EXPECT_EQ(tracker.beatTrack(p.get(), bpm, b.list, &running, true), 1);
    EXPECT_EQ(bpm, 120.0f);
    ASSERT_FALSE(b.list.empty());
    EXPECT_GT(b.list.back()->time, 59.0);
    EXPECT_LT(b.list.back()->time, 60.0);
    for (const Event* e : b.list) {
        if (e->time > 20.5) {
            EXPECT_TRUE(e->synthetic) << e->time;
        }
    }
    // The reference part has a positive maximum: decoded clicks map to about 20, not to the
    // thousands that a reference of 1 would give.
    double loudest = 0;
    for (const Event* o : p->onsets) loudest = std::max(loudest, o->energyPeak);
    EXPECT_GT(loudest, 10.0);
    EXPECT_LT(loudest, 40.0);
}

TEST(BeatTrackEdges, RepeatedRunsAfterClearingOnsetsAgreeAndThrottleChangesNothing) {
    Track t = clickTrack(128, 40.0, 0.02, 7);
    auto p = analyse(t);
    BeatTracker tracker;
    std::vector<double> first;
    float bpm1 = 0.0f, bpm2 = 0.0f;
    {
        Beats b;
        tracker.beatTrack(p.get(), bpm1, b.list, nullptr, false);
        for (const Event* e : b.list) first.push_back(e->time);
    }
    for (Event* o : p->onsets) delete o;  // as the deck tracker does between runs
    p->onsets.clear();
    Beats b;
    std::atomic<bool> running(true);
    tracker.beatTrack(p.get(), bpm2, b.list, &running, true);
    EXPECT_EQ(bpm1, bpm2);
    ASSERT_EQ(b.list.size(), first.size());
    for (size_t i = 0; i < first.size(); ++i) EXPECT_EQ(b.list[i]->time, first[i]);
}

TEST(BeatTrackEdges, ClearedRunningFlagFindsNoOnsetsAndNoBeats) {
    Track t = clickTrack(120, 10.0);
    auto p = analyse(t);
    BeatTracker tracker;
    Beats b;
    float bpm = 42.0f;
    std::atomic<bool> stopped(false);
    EXPECT_EQ(tracker.beatTrack(p.get(), bpm, b.list, &stopped, false), 1);
    EXPECT_TRUE(b.list.empty());
    EXPECT_EQ(bpm, 42.0f);
}

}  // namespace
