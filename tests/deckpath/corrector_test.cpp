// The position corrector: walks over recorded source reads, with loops, jumps and reverse.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "TimeStretchCorrector.h"

namespace {

struct Walk {
    double ratio;
    unsigned int frames;
    int64_t expected;
};

struct Case {
    const char* name;
    double reset;
    std::vector<TimeStretchCorrector::Segment> segments;
    std::vector<Walk> walks;
    size_t segmentsLeft;
};

TEST(TimeStretchCorrector, WalksRecordedReads) {
    const Case cases[] = {
        {"contiguous forward", 0, {{0, 1000, true}}, {{1.0, 400, 400}, {1.0, 600, 1000}, {1.0, 100, 1000}}, 0},
        {"forward reads chained", 0, {{0, 300, true}, {300, 700, true}}, {{1.0, 500, 500}, {1.0, 200, 700}}, 0},
        {"repeated loop region restarts", 0, {{0, 1000, true}, {0, 1000, true}}, {{1.0, 1500, 500}}, 1},
        {"a jump is walked from its start", 0, {{0, 1000, true}, {5000, 6000, true}},
         {{1.0, 1000, 1000}, {1.0, 500, 5500}}, 1},
        {"a jump continues into the read after it", 0,
         {{0, 1000, true}, {5000, 6000, true}, {6000, 7000, true}},
         {{1.0, 1000, 1000}, {1.0, 1500, 6500}}, 1},
        {"a loop wrap read in chunks counts the lap's first chunk", 0,
         {{0, 16, true}, {16, 32, true}, {0, 16, true}, {16, 32, true}},
         {{1.0, 40, 8}, {1.0, 20, 28}}, 1},
        {"reverse jump", 500, {{500, 400, false}, {900, 800, false}}, {{1.0, 150, 850}}, 1},
        {"reverse reads", 2000, {{2000, 1500, false}, {1500, 1000, false}}, {{1.0, 700, 1300}}, 1},
        {"half ratio", 0, {{0, 1000, true}}, {{0.5, 1000, 500}, {0.25, 3, 500}, {0.25, 3, 501}}, 1},
        {"zero ratio leaves the cursor", 10, {{10, 90, true}}, {{0.0, 1000, 10}, {-1.0, 1000, 10}}, 1},
        {"empty list returns the reset position", 1234.75, {}, {{1.0, 100, 1234}}, 0},
        {"a walk that runs out of segments loses the rest", 0, {{0, 100, true}, {100, 200, true}},
         {{1.0, 500, 200}, {1.0, 10, 200}}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TimeStretchCorrector corrector;
        corrector.reset(c.reset);
        for (const auto& s : c.segments) EXPECT_EQ(corrector.putSamplesPCM(s.from, s.to, s.forward), 1);
        for (const Walk& w : c.walks) EXPECT_EQ(corrector.getSamplePCMPos(w.ratio, w.frames), w.expected);
        EXPECT_EQ(corrector.pendingSegments(), c.segmentsLeft);
    }
}

// A stretched block walks a fractional number of source frames; the fraction left at each read's
// end must carry on, or the report falls behind the audio by up to a frame per read.
TEST(TimeStretchCorrector, FractionsCarryAcrossReads) {
    for (const double tempo : {0.8, 1.05, 1.2}) {
        SCOPED_TRACE(tempo);
        TimeStretchCorrector corrector;
        corrector.reset(0);
        const unsigned int chunk = 16, block = 1024;
        unsigned int read = 0;
        double walked = 0.0;
        for (int b = 0; b < 2000; ++b) {
            while (read < walked + 4 * block) {
                corrector.putSamplesPCM(read, read + chunk, true);
                read += chunk;
            }
            const int64_t p = corrector.getSamplePCMPos(1.0 / tempo, block);
            walked += block / tempo;
            ASSERT_LE(std::abs(static_cast<double>(p) - walked), 1.0) << "block " << b;
        }
    }
}

TEST(TimeStretchCorrector, EmptyReadsAreNotRecorded) {
    TimeStretchCorrector corrector;
    corrector.reset(0);
    EXPECT_EQ(corrector.putSamplesPCM(5, 5, true), 0);
    EXPECT_EQ(corrector.pendingSegments(), 0u);
    EXPECT_EQ(corrector.putSamplesPCM(0, 10, true), 1);
    EXPECT_EQ(corrector.getSamplePCMPos(1.0, 4), 4);
}

TEST(TimeStretchCorrector, ResetDropsRecordedReads) {
    TimeStretchCorrector corrector;
    corrector.putSamplesPCM(0, 1000, true);
    corrector.reset(300);
    EXPECT_EQ(corrector.pendingSegments(), 0u);
    EXPECT_EQ(corrector.getSamplePCMPos(1.0, 100), 300);
}

}  // namespace
