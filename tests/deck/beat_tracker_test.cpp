// The deck's background beat tracker, observed through its report sink: interim lists every 30 s
// of decoded audio, one final list, none after a stop, and no thread left behind.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BeatTracker.h"
#include "Event.h"
#include "deck_support.h"

namespace {

// Collects what the tracker reports, for one test at a time.
struct Collector {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<BeatReport> reports;

    static void sink(void* context, const BeatReport& report) {
        auto* self = static_cast<Collector*>(context);
        std::lock_guard<std::mutex> guard(self->lock);
        self->reports.push_back(report);
        self->changed.notify_all();
    }
    // Waits (bounded, generously) until `count` reports arrived; false when they did not.
    bool waitFor(size_t count) {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, std::chrono::minutes(5), [&] { return reports.size() >= count; });
    }
    std::vector<BeatReport> snapshot() {
        std::lock_guard<std::mutex> guard(lock);
        return reports;
    }
};

int threadCount() {
    int n = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* e = readdir(dir))
            if (e->d_name[0] != '.') ++n;
        closedir(dir);
    }
    return n;
}

class BeatTracking : public deck_test::EngineOnTable {
protected:
    void SetUp() override {
        EngineOnTable::SetUp();
        BeatTracker::setReportSinkForTesting(&Collector::sink, &collector_);
    }
    void TearDown() override {
        tracker_.stopTracking();
        BeatTracker::setReportSinkForTesting(nullptr, nullptr);
        EngineOnTable::TearDown();
    }
    // Runs the tracker over a file to its end and returns every report.
    std::vector<BeatReport> trackToEnd(const std::string& path, int precision) {
        std::vector<char> name(path.begin(), path.end());
        name.push_back('\0');
        EXPECT_EQ(tracker_.startTracking(3, name.data(), false, 80.0f, 160.0f, nullptr, precision), 1);
        // The final report is the last one; wait until the worker has finished.
        for (int i = 0; i < 3000 && (tracker_.isRunning().load() || collector_.snapshot().empty()); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        tracker_.stopTracking();
        return collector_.snapshot();
    }

    Collector collector_;
    BeatTracker tracker_;
};

// Mean spacing of the beats: at precision 0 a hop is 40 ms, so single spacings of a 500 ms beat
// alternate between 480 and 520 ms; the mean shows the tempo.
double meanInterval(const std::vector<double>& times) {
    if (times.size() < 2) return 0.0;
    return (times.back() - times.front()) / static_cast<double>(times.size() - 1);
}

struct RunCase {
    const char* name;
    int channels;
    int bits;
    double seconds;
    size_t interims;       // interim lists expected
    double maxPercent;     // highest interim percent, within 3
};

// Mono files report at most about 50 percent in their interim lists (the percent counts two
// channels whatever the file has); a 24-bit file is converted before onset detection.
TEST_F(BeatTracking, InterimListsEvery30SecondsThenOneFinalList) {
    const RunCase cases[] = {
        {"stereo16_5min", 2, 16, 300.0, 9, 90.0},
        {"mono16_70s", 1, 16, 70.0, 2, 42.9},
        {"stereo24_40s", 2, 24, 40.0, 1, 75.0},
        {"stereo16_20s", 2, 16, 20.0, 0, 0.0},
    };
    for (const RunCase& c : cases) {
        SCOPED_TRACE(c.name);
        collector_.reports.clear();
        const std::string path = file(std::string(c.name) + ".wav");
        ASSERT_TRUE(deck_test::writeClickTrack(path, 22050, c.channels, c.bits, c.seconds, 120.0));
        const std::vector<BeatReport> reports = trackToEnd(path, 0);
        ASSERT_EQ(reports.size(), c.interims + 1);
        for (size_t i = 0; i < c.interims; ++i) {
            EXPECT_FALSE(reports[i].finished);
            EXPECT_EQ(reports[i].deck, 3);
            EXPECT_LT(reports[i].percent, 100.0);
            if (i > 0) {
                EXPECT_GT(reports[i].percent, reports[i - 1].percent);
            }
            // The grid found in the first 30k seconds is filled to the end of the track.
            ASSERT_FALSE(reports[i].times.empty());
            EXPECT_NEAR(meanInterval(reports[i].times), 0.5, 0.025);  // the grid is quantised to 40 ms hops
        }
        if (c.interims > 0) {
            EXPECT_NEAR(reports[c.interims - 1].percent, c.maxPercent, 3.0);
        }
        const BeatReport& last = reports.back();
        EXPECT_TRUE(last.finished);
        EXPECT_EQ(last.percent, 100.0);
        ASSERT_FALSE(last.times.empty());
        EXPECT_NEAR(meanInterval(last.times), 0.5, 0.01);
        EXPECT_GT(last.times.back(), c.seconds - 2.0);  // beats reach the end of the track
        // Exactly one beat carries the first-beat flag.
        EXPECT_EQ(std::count(last.firstBeat.begin(), last.firstBeat.end(), true), 1);
    }
}

// Every width and layout the audio layer decodes is tracked as its 16-bit stereo copy is: the layer
// hands out whole frames (8190 bytes of a 8192-byte read for 24-bit stereo) and signed 8-bit
// samples, and neither may shift or invert what the onset detector hears. The loop under the
// clicks is a quiet off-beat hum, so a stream read askew drowns the clicks.
TEST_F(BeatTracking, EveryWidthAndLayoutGivesTheSixteenBitBeats) {
    const std::string reference = file("loop16.wav");
    const long period = 11025;  // 120 BPM at 22050 Hz
    ASSERT_TRUE(deck_test::writeWav(reference, 22050, 2, 16, 40L * 22050, [&](long f, int) {
        const long t = f % period;
        const double hum = 0.05 * std::sin(2.0 * M_PI * 220.0 * static_cast<double>(f) / 22050.0);
        if (t >= 220) return static_cast<float>(hum);
        return static_cast<float>(hum + 0.8 * std::exp(-5.0 * t / 220.0) * std::sin(2.0 * M_PI * 1000.0 * t / 22050.0));
    }));
    const std::vector<BeatReport> ref = trackToEnd(reference, 0);
    ASSERT_FALSE(ref.empty());
    const std::vector<double> want = ref.back().times;
    ASSERT_GT(want.size(), 60u);
    EXPECT_NEAR(meanInterval(want), 0.5, 0.01);

    const struct {
        const char* name;
        const char* soxArgs;  // how the copy is made from the reference
    } copies[] = {
        {"8-bit", "-b 8"},
        {"24-bit", "-b 24"},
        {"32-bit", "-b 32 -e signed-integer"},
        {"float", "-b 32 -e floating-point"},
        {"24-bit mono", "-b 24 remix 1"},
        {"16-bit six channels", "-b 16 remix 1 2 1 2 1 2"},
    };
    for (const auto& c : copies) {
        SCOPED_TRACE(c.name);
        const std::string path = file(std::string("copy") + std::to_string(&c - copies) + ".wav");
        std::string args = c.soxArgs;
        const size_t remix = args.find(" remix");
        const std::string effect = remix == std::string::npos ? "" : args.substr(remix);
        if (remix != std::string::npos) args.resize(remix);
        const std::string cmd = "sox '" + reference + "' " + args + " '" + path + "'" + effect + " 2>/dev/null";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        collector_.reports.clear();
        const std::vector<BeatReport> got = trackToEnd(path, 0);
        ASSERT_FALSE(got.empty());
        const std::vector<double>& times = got.back().times;
        ASSERT_NEAR(static_cast<double>(times.size()), static_cast<double>(want.size()), 1.0);
        EXPECT_NEAR(meanInterval(times), 0.5, 0.01);
        // Beat by beat, within one 40 ms hop of the reference's grid.
        for (size_t i = 0; i < std::min(times.size(), want.size()); ++i)
            ASSERT_NEAR(times[i], want[i], 0.041) << "beat " << i;
    }
}

TEST_F(BeatTracking, StopMidRunDeliversNoFinalListAndEndsTheWorker) {
    const std::string path = file("long.wav");
    ASSERT_TRUE(deck_test::writeClickTrack(path, 22050, 2, 16, 300.0, 120.0));
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    ASSERT_EQ(tracker_.startTracking(0, name.data(), false, 80.0f, 160.0f, nullptr, 0), 1);
    ASSERT_TRUE(collector_.waitFor(1));  // the first interim list: the run is in its slow part
    EXPECT_EQ(tracker_.stopTracking(), 1);
    EXPECT_FALSE(tracker_.isRunning().load());
    const std::vector<BeatReport> reports = collector_.snapshot();
    ASSERT_FALSE(reports.empty());
    for (const BeatReport& r : reports) EXPECT_FALSE(r.finished);
    EXPECT_LT(reports.size(), 9u);
}

TEST_F(BeatTracking, RefusedNamesAndUnreadableFilesReportNothing) {
    const std::string missing = file("missing.wav");
    struct Case {
        const char* label;
        std::vector<char> name;  // empty: a null pointer
        int result;
    };
    std::vector<Case> cases = {
        {"null", {}, -3},
        {"empty", {'\0'}, -3},
        {"missing file", std::vector<char>(missing.c_str(), missing.c_str() + missing.size() + 1), 1},
        {"cd track", std::vector<char>({'c', 'd', ':', '/', '/', 'x', '/', '1', '/', '1', '\0'}), 1},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(tracker_.startTracking(5, c.name.empty() ? nullptr : c.name.data(), false, 80.0f, 160.0f, nullptr, 2),
                  c.result);
        for (int i = 0; i < 500 && tracker_.isRunning().load(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        tracker_.stopTracking();
        EXPECT_TRUE(collector_.snapshot().empty());
        EXPECT_EQ(tracker_.deck, 5);  // stored even when the name is refused
    }
}

TEST_F(BeatTracking, HundredStartStopCyclesLeaveNoThreadBehind) {
    const std::string path = file("short.wav");
    ASSERT_TRUE(deck_test::writeClickTrack(path, 22050, 2, 16, 60.0, 120.0));
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    const int before = threadCount();
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(tracker_.startTracking(1, name.data(), false, 80.0f, 160.0f, nullptr, 2), 1);
        if (i % 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(tracker_.stopTracking(), 1);
        ASSERT_FALSE(tracker_.isRunning().load());
    }
    EXPECT_EQ(threadCount(), before);
    for (const BeatReport& r : collector_.snapshot()) EXPECT_FALSE(r.finished);
}

TEST(BeatReportSelection, OnlySalientBeatsAreSentAndTheFirstRealOneIsFlagged) {
    struct Beat {
        double time;
        double salience;
        bool synthetic;
    };
    struct Case {
        std::vector<Beat> beats;
        std::vector<double> times;
        std::vector<bool> first;
    };
    const Case cases[] = {
        {{}, {}, {}},
        {{{0.5, 1.0, false}, {1.0, 1.0, false}}, {0.5, 1.0}, {true, false}},
        {{{0.5, 1.0, true}, {1.0, 0.0, false}, {1.5, 2.0, false}, {2.0, 1.0, false}},
         {0.5, 1.5, 2.0},
         {false, true, false}},
        {{{0.5, 0.0, false}, {1.0, 0.5, true}}, {1.0}, {false}},
        {{{0.5, -1.0, false}}, {}, {}},
    };
    for (const Case& c : cases) {
        std::vector<Event> storage;
        storage.reserve(c.beats.size());
        std::vector<Event*> list;
        for (const Beat& b : c.beats) {
            storage.emplace_back(b.time, 1.0);
            storage.back().salience = b.salience;
            storage.back().synthetic = b.synthetic;
            list.push_back(&storage.back());
        }
        BeatReport report{0, false, 0.0, {}, {}};
        BeatTracker::selectReportedBeats(list, &report);
        EXPECT_EQ(report.times, c.times);
        EXPECT_EQ(report.firstBeat, c.first);
    }
}

TEST(BeatReadBuffer, CopiesThroughTheBlockAndRefusesBadArguments) {
    BeatTracker tracker;
    unsigned read = 77;
    char dest[16];
    EXPECT_EQ(tracker.readDataFromSound(nullptr, dest, 16, &read), 44);
    EXPECT_EQ(read, 77u);  // untouched for a null sound
}

}  // namespace
