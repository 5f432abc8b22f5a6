// End to end: PCM of generated click tracks through the onset detector and beat detection.
// Tempi inside the default range (80-160) come out as they are; 174 folds to 87 and 70 to 140.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "AudioProcessor.h"
#include "BeatTracker.h"
#include "analysis_signals.h"

using analysis_test::Track;
using analysis_test::analyse;
using analysis_test::clickTrack;

namespace {

struct TempoCase {
    double bpm;
    double noiseRms;
    int channels;
    float rate;
    double expectedBpm;
    double tolerance;
    // Clicks per beat: 1 when every click is a beat, 2 when the tempo folds down (every other
    // click is a beat), 0.5 when it folds up (a beat on every click and one between).
    double clicksPerBeat;
};

class ClickTracks : public ::testing::TestWithParam<TempoCase> {};

double distanceToNearest(const std::vector<double>& times, double t) {
    double best = 1e9;
    for (double x : times) best = std::min(best, std::fabs(x - t));
    return best;
}

TEST_P(ClickTracks, TempoAndEveryClickOnTheGrid) {
    const TempoCase c = GetParam();
    Track t = clickTrack(c.bpm, 60.0, c.noiseRms, 3, c.channels, c.rate);
    auto p = analyse(t);
    BeatTracker tracker;
    std::vector<Event*> beats;
    float bpm = 0.0f;
    ASSERT_EQ(tracker.beatTrack(p.get(), bpm, beats, nullptr, false), 1);
    EXPECT_NEAR(bpm, c.expectedBpm, c.tolerance) << c.bpm << " BPM, noise " << c.noiseRms;

    std::vector<double> beatTimes;
    for (const Event* e : beats) beatTimes.push_back(e->time);
    ASSERT_FALSE(beatTimes.empty());
    for (size_t i = 1; i < beatTimes.size(); ++i) ASSERT_GT(beatTimes[i], beatTimes[i - 1]);

    // The clicks a beat must match: all of them, or every other one when the tempo folds down.
    int unmatched = 0;
    const size_t stride = c.clicksPerBeat > 1.5 ? 2 : 1;
    size_t phase = 0;
    if (stride == 2 && distanceToNearest(beatTimes, t.clicks[0]) > 0.03) phase = 1;
    for (size_t k = phase; k < t.clicks.size(); k += stride) {
        if (distanceToNearest(beatTimes, t.clicks[k]) > 0.03) {
            ++unmatched;
            ADD_FAILURE() << "click at " << t.clicks[k] << " s has no beat within 30 ms";
        }
    }
    // And no beat off the grid: each lies on a click, or halfway between two when folded up.
    // The tail fill may add one beat after the last click, where the next click would be.
    std::vector<double> grid = t.clicks;
    grid.push_back(t.clicks.back() + 60.0 / c.bpm);
    const size_t onGrid = grid.size();
    if (c.clicksPerBeat < 0.75)
        for (size_t k = 0; k + 1 < onGrid; ++k) grid.push_back((grid[k] + grid[k + 1]) / 2);
    for (double b : beatTimes) EXPECT_LE(distanceToNearest(grid, b), 0.03) << "beat at " << b;
    EXPECT_EQ(unmatched, 0);
    deleteSyntheticEvents(beats);
}

INSTANTIATE_TEST_SUITE_P(
    Tempi, ClickTracks,
    ::testing::Values(TempoCase{120, 0.0, 2, 44100, 120.0, 1e-6, 1},
                      TempoCase{120, 0.05, 2, 44100, 120.0, 0.05, 1},
                      TempoCase{128, 0.0, 2, 44100, 128.0, 0.2, 1},
                      TempoCase{128, 0.05, 2, 44100, 128.0, 0.2, 1},
                      TempoCase{174, 0.0, 2, 44100, 87.0, 0.2, 2},
                      TempoCase{174, 0.05, 2, 44100, 87.0, 0.2, 2},
                      TempoCase{70, 0.0, 2, 44100, 140.0, 0.2, 0.5},
                      // The made-up beats between clicks snap to the strongest onset within 0.1 s.
                      // Over a -26 dBFS bed the noise's own onsets qualify and pull those beats
                      // up to 90 ms off the midpoint; over -34 dBFS they do not.
                      TempoCase{70, 0.02, 2, 44100, 140.0, 0.2, 0.5},
                      // Other layouts and rates reach the same grid.
                      TempoCase{128, 0.02, 1, 48000, 128.0, 0.2, 1},
                      TempoCase{100, 0.02, 6, 22050, 100.0, 0.2, 1}));

}  // namespace
