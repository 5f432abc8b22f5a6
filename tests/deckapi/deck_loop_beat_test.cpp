// A loop set as a DJ sets it, heard through a real sound server against a second deck's beat.
//
// Two decks play the same 120 BPM click track (a click every 500 ms of source over a quiet
// continuous tone), deck A panned left and deck B right, through a private PulseAudio daemon
// whose null sink's monitor is recorded. On deck A a one-beat loop is set from the position the
// deck reports, through the engine's entry points:
// - loop-out at the report: e = GetPosition, SetLoopPoints(e - 500, e), SetLoop(on);
// - loop-in, then loop-out: s = GetPosition; once the report reaches s + 500,
//   SetLoopPoints(s, s + 500), SetLoop(on).
// The report counts what the mixer takes, so the end lies behind what the deck has rendered ahead
// (its output ring and, away from tempo 1, the stretcher's backlog). The loop holds one click, so
// deck A's clicks stay one beat apart through every lap when the first lap lasts e - s: the
// first lap is the interval from the last click before the loop to the first one after the wrap.
// Deck A must stay on deck B's beat after 8 laps and after leaving the loop, and the quiet tone
// under the clicks never drops out (a gap of silence at the wrap).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "TKCore.h"
#include "deck_support.h"
#include "pulse_server.hpp"
#include "scoped_env.hpp"
#include "source_capture.hpp"
#include "temp_dir.hpp"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSourceRate = 44100;
constexpr int kBeatMs = 500;  // 120 BPM
constexpr long kBeatFrames = kSourceRate * kBeatMs / 1000;
constexpr long kClickFrames = kSourceRate * 3 / 100;  // 30 ms: the stretcher drops shorter stretches whole
constexpr double kTrackSeconds = 40.0;
constexpr int kLaps = 8;
constexpr float kOnsetThreshold = 0.35f;  // the clicks peak at 0.8, the tone under them at 0.1
constexpr float kSilence = 1e-3f;

int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// A 1 kHz click decaying over 30 ms at every beat, over a 150 Hz tone at 0.1 that never stops.
float trackSample(long frame, int) {
    const long t = frame % kBeatFrames;
    double v = 0.1 * std::sin(2.0 * M_PI * 150.0 * frame / kSourceRate + 0.3);
    if (t < kClickFrames)
        v += 0.8 * std::exp(-4.0 * t / kClickFrames) * std::sin(2.0 * M_PI * 1000.0 * t / kSourceRate);
    return static_cast<float>(v);
}

// Click onsets on one side of the capture, in (fractional) capture frames: where the signal first
// rises above the threshold after 100 ms below it, interpolated between the two frames around it.
std::vector<double> onsets(const std::vector<float>& capture, int side, int rate) {
    std::vector<double> found;
    const size_t quietNeeded = static_cast<size_t>(rate) / 10;
    const size_t frames = capture.size() / 2;
    size_t quiet = quietNeeded;
    float previous = 0.0f;
    for (size_t f = 0; f < frames; ++f) {
        const float v = std::fabs(capture[2 * f + static_cast<size_t>(side)]);
        if (v > kOnsetThreshold) {
            if (quiet >= quietNeeded) {
                const double w = (kOnsetThreshold - previous) / static_cast<double>(v - previous);
                found.push_back(static_cast<double>(f) - 1.0 + std::clamp(w, 0.0, 1.0));
            }
            quiet = 0;
        } else {
            ++quiet;
        }
        previous = v;
    }
    return found;
}

// The longest run of silent frames on one side within [from, to), in frames.
size_t longestSilence(const std::vector<float>& capture, int side, size_t from, size_t to) {
    size_t longest = 0, run = 0;
    to = std::min(to, capture.size() / 2);
    for (size_t f = from; f < to; ++f) {
        run = std::fabs(capture[2 * f + static_cast<size_t>(side)]) < kSilence ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

// A line through the onsets of a steady beat (least squares over the beat numbers): where beat k
// falls, so that another deck's click can be set against the nearest one.
struct BeatGrid {
    double first = 0.0;   // frames
    double period = 0.0;  // frames
    double nearestOffset(double at) const {
        const double k = std::round((at - first) / period);
        return at - (first + k * period);
    }
};

BeatGrid fitGrid(const std::vector<double>& beats, double period) {
    // Number the beats by the expected period (a dropped onset does not shift the numbers).
    std::vector<double> ks;
    for (double b : beats) ks.push_back(std::round((b - beats.front()) / period));
    double mk = 0.0, mb = 0.0;
    for (size_t i = 0; i < beats.size(); ++i) {
        mk += ks[i];
        mb += beats[i];
    }
    mk /= static_cast<double>(beats.size());
    mb /= static_cast<double>(beats.size());
    double skk = 0.0, skb = 0.0;
    for (size_t i = 0; i < beats.size(); ++i) {
        skk += (ks[i] - mk) * (ks[i] - mk);
        skb += (ks[i] - mk) * (beats[i] - mb);
    }
    BeatGrid g;
    g.period = skk > 0.0 ? skb / skk : period;
    g.first = mb - g.period * mk;
    return g;
}

struct Case {
    int cardRate;
    int tempoSlider;  // SetTimeStretcher: 5000 plays at tempo 1.0, 4000 at 1.2
    double tempo;
    bool loopIn;      // loop-in at the report first, loop-out when the report reaches it + 500 ms
};

std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    const Case& c = info.param;
    return std::to_string(c.cardRate) + "Hz_tempo" + std::to_string(static_cast<int>(std::lround(c.tempo * 100))) +
           (c.loopIn ? "_LoopInThenOut" : "_LoopOutAtReport");
}

class DeckLoopBeat : public ::testing::TestWithParam<Case> {};

TEST_P(DeckLoopBeat, TheFirstLapLastsTheLoopAndTheDeckStaysOnTheOtherDecksBeat) {
    const Case c = GetParam();
    if (!pw::test::PulseServer::binaryAvailable()) GTEST_SKIP() << "pulseaudio not installed";
    pw::test::ScopedEnv noTable("PELLWARDEN_DEVICE_TABLE", std::nullopt);
    pw::test::PulseServer server({{"card1", "Card1", 2, c.cardRate}});
    ASSERT_TRUE(server.ready()) << server.error();
    pw::test::TempDir dir("pw-deck-loop-beat-");
    struct Restore {
        std::filesystem::path previous = std::filesystem::current_path();
        ~Restore() {
            t_core.CleanUp();
            std::filesystem::current_path(previous);
        }
    } restore;
    std::filesystem::current_path(dir.path());

    const std::string track = dir.file("clicks.wav");
    ASSERT_TRUE(deck_test::writeWav(track, kSourceRate, 2, 16, static_cast<long>(kTrackSeconds * kSourceRate),
                                    trackSample));
    ASSERT_EQ(t_core.InitPlayer(0, 1, static_cast<unsigned int>(c.cardRate)), 1);
    const int slot = deck_test::findSlot("Card1", 0);
    ASSERT_GE(slot, 0);
    pw::test::SourceCapture capture("card1.monitor", 2, c.cardRate);
    ASSERT_TRUE(capture.ok()) << capture.error();

    std::vector<char> path(track.begin(), track.end());
    path.push_back('\0');
    for (int deck = 0; deck < 2; ++deck) {
        ASSERT_EQ(t_core.Load(deck, path.data(), slot, slot, false), 1);
        ASSERT_EQ(t_core.SetVolume(deck, 10000), 1);
        ASSERT_EQ(t_core.SetPan(deck, deck == 0 ? 0 : 10000), 1);  // A left, B right
        ASSERT_EQ(t_core.SetTimeStretcher(deck, c.tempoSlider), 1);
    }
    ASSERT_EQ(t_core.Play(0, true), 1);
    ASSERT_EQ(t_core.Play(1, true), 1);
    const int64_t started = nowNs();
    auto sleepMs = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };

    // After a second of play, wait for a report 200-300 ms past a click, so the loop's click lies
    // well inside the loop, then set the loop.
    sleepMs(1000);
    int mark = 0;
    for (;;) {
        mark = t_core.GetPosition(0);
        if (mark % kBeatMs >= 200 && mark % kBeatMs < 300) break;
        ASSERT_LT(nowNs() - started, 5'000'000'000LL) << "the report never reached the beat's middle";
        sleepMs(1);
    }
    int s = 0, e = 0;
    int64_t loopSet = 0;
    if (!c.loopIn) {
        e = mark;
        s = e - kBeatMs;
        loopSet = nowNs();
        ASSERT_EQ(t_core.SetLoopPoints(0, s, e), 1);
        ASSERT_EQ(t_core.SetLoop(0, true, false), 1);
    } else {
        s = mark;
        e = s + kBeatMs;
        int reached = 0;
        while ((reached = t_core.GetPosition(0)) < e) {
            ASSERT_LT(nowNs() - started, 6'000'000'000LL) << "the report never reached the loop-out";
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        loopSet = nowNs();
        ASSERT_EQ(t_core.SetLoopPoints(0, s, e), 1);
        ASSERT_EQ(t_core.SetLoop(0, true, false), 1);
        RecordProperty("loop_out_late_ms", reached - e);
    }
    const double lapMs = kBeatMs / c.tempo;
    sleepMs(static_cast<int>((kLaps + 1.5) * lapMs));
    const int64_t left = nowNs();
    ASSERT_EQ(t_core.SetLoop(0, false, false), 1);
    sleepMs(1500);
    const int64_t ended = nowNs();
    // What is still on its way to the monitor.
    const std::vector<float> got = capture.waitFrames(capture.capturedFrames() + static_cast<size_t>(c.cardRate) / 4);
    const int64_t frameZero = capture.frameZeroNs(c.cardRate);
    ASSERT_NE(frameZero, 0);
    EXPECT_EQ(t_core.Stop(0), 1);
    EXPECT_EQ(t_core.Stop(1), 1);

    const double msPerFrame = 1000.0 / c.cardRate;
    auto frameAt = [&](int64_t ns) { return static_cast<double>(ns - frameZero) * c.cardRate / 1e9; };
    const double beatFrames = lapMs / msPerFrame;
    const std::vector<double> a = onsets(got, 0, c.cardRate);
    const std::vector<double> b = onsets(got, 1, c.cardRate);
    ASSERT_GT(b.size(), 10u);

    // Deck B's beat, and how far its own clicks stray from it (away from tempo 1 the stretcher
    // moves each by up to a few ms): a lap of deck A may stray by that much at either end.
    const BeatGrid grid = fitGrid(b, beatFrames);
    double bStray = 0.0;
    for (double f : b) bStray = std::max(bStray, std::fabs(grid.nearestOffset(f)) * msPerFrame);
    EXPECT_NEAR(grid.period * msPerFrame, lapMs, 0.5) << "deck B's beat";

    // Deck A's clicks: the last one before the loop was set (the loop's own click, heard as plain
    // play) and those after it, one per lap. The loop's click lies 200-300 ms of source before
    // the loop's end, the next one as far after the loop start: 100 ms after the loop was set
    // parts them for any output latency under 160 ms.
    const double split = frameAt(loopSet + 100'000'000LL);
    auto firstAfter = std::find_if(a.begin(), a.end(), [&](double f) { return f > split; });
    ASSERT_NE(firstAfter, a.begin()) << "no click of deck A before the loop";
    const size_t before = static_cast<size_t>(firstAfter - a.begin()) - 1;
    ASSERT_GE(before, 1u);
    ASSERT_GT(a.size(), before + kLaps + 1) << "deck A's clicks in the loop";
    // Deck A against deck B: each click of A less B's nearest one, less where A stood at the
    // start. The two decks play the same sound at the same tempo, so before the loop A's clicks
    // are B's, moved by the time between their starts (a mixer block when the two starts fell in
    // different blocks). After the loop the stretcher moves A's clicks and B's differently, by up
    // to a few ms each: the mean over a few clicks is what is heard as the beat.
    auto toB = [&](double f) {
        double best = 1e18;
        for (double g : b)
            if (std::fabs(f - g) < std::fabs(best)) best = f - g;
        return best * msPerFrame;
    };
    auto meanToB = [&](size_t from, size_t to) {
        double sum = 0.0;
        for (size_t i = from; i < to; ++i) sum += toB(a[i]);
        return sum / static_cast<double>(to - from);
    };
    const size_t startFrom = before >= 3 ? before - 3 : 0;
    const double startOffset = meanToB(startFrom, before + 1);
    double startSpread = 0.0;
    for (size_t i = startFrom; i <= before; ++i)
        startSpread = std::max(startSpread, std::fabs(toB(a[i]) - startOffset));
    const double firstLap = (a[before + 1] - a[before]) * msPerFrame;
    const double afterLaps = meanToB(before + kLaps - 3, before + kLaps + 1) - startOffset;  // laps 5 to 8
    std::vector<double> laps;
    for (size_t i = before; i < before + kLaps; ++i) laps.push_back((a[i + 1] - a[i]) * msPerFrame);

    // After leaving: every click of deck A heard from 100 ms after the loop was switched off.
    const double leftAt = frameAt(left + 100'000'000LL);
    const double endAt = frameAt(ended);
    auto firstFrom = [&](double at) {
        return static_cast<size_t>(std::find_if(a.begin(), a.end(), [&](double f) { return f >= at; }) - a.begin());
    };
    const size_t leaving = firstFrom(leftAt);
    const size_t leavingEnd = firstFrom(endAt);
    const int clicksAfterLeaving = static_cast<int>(leavingEnd - leaving);
    ASSERT_GE(clicksAfterLeaving, 2) << "deck A's clicks after leaving the loop";
    const double afterLeaving = meanToB(leaving, leavingEnd) - startOffset;
    // The tone under the clicks plays on through the loop, its wraps and its exit.
    const size_t gap =
        longestSilence(got, 0, static_cast<size_t>(a[before]), static_cast<size_t>(std::max(0.0, endAt)));

    std::string lapList;
    for (double l : laps) lapList += " " + std::to_string(l).substr(0, 6);
    std::string offsetList;  // every click of deck A
    for (double f : a) offsetList += " " + std::to_string(toB(f) - startOffset).substr(0, 5);
    fprintf(stderr,
            "card %d tempo %.1f %s: s %d e %d, A - B at the start %+.2f ms (+-%.2f), first lap %.2f ms (loop %.2f ms), "
            "laps 5-8 %+.2f ms, after leaving %+.2f ms over %d clicks, B strays %.2f ms, longest silence %.2f ms\n"
            "  laps:%s\n  A against B, less the start:%s\n",
            c.cardRate, c.tempo, c.loopIn ? "loop-in then out" : "loop-out at report", s, e, startOffset, startSpread,
            firstLap, lapMs, afterLaps, afterLeaving, clicksAfterLeaving, bStray, gap * msPerFrame, lapList.c_str(),
            offsetList.c_str());
    RecordProperty("first_lap_ms", std::to_string(firstLap));
    RecordProperty("offset_after_laps_ms", std::to_string(afterLaps));
    RecordProperty("offset_after_leaving_ms", std::to_string(afterLeaving));

    // Before the loop, deck A's clicks are deck B's, moved by the same time each.
    ASSERT_LE(startSpread, 0.5) << "the decks do not play the same beat before the loop";
    const double lapTolerance = c.tempo == 1.0 ? 1.0 : 1.0 + 2.0 * bStray;
    EXPECT_NEAR(firstLap, lapMs, lapTolerance) << "the first lap";
    for (size_t i = 1; i < laps.size(); ++i) EXPECT_NEAR(laps[i], lapMs, lapTolerance) << "lap " << i + 1;
    EXPECT_LE(std::fabs(afterLaps), 5.0) << "deck A against deck B's beat after " << kLaps << " laps";
    EXPECT_LE(std::fabs(afterLeaving), 5.0) << "deck A against deck B's beat after leaving the loop";
    EXPECT_LE(gap * msPerFrame, 1.0) << "a gap of silence in deck A";
}

INSTANTIATE_TEST_SUITE_P(CardsAndPresses, DeckLoopBeat,
                         ::testing::Values(Case{44100, 5000, 1.0, false}, Case{44100, 5000, 1.0, true},
                                           Case{48000, 5000, 1.0, false}, Case{48000, 5000, 1.0, true}),
                         caseName);

// At tempo 1.2 the first lap lasts the loop within the stretcher's scatter and no silence is
// heard, but deck A goes on 4.5-7.5 ms behind deck B's beat after the loop was set (the
// stretcher starts again at the reported frame, and its sound lands that much later than the
// line it left). Run with --gtest_also_run_disabled_tests.
INSTANTIATE_TEST_SUITE_P(DISABLED_Tempo120, DeckLoopBeat,
                         ::testing::Values(Case{44100, 4000, 1.2, false}, Case{44100, 4000, 1.2, true},
                                           Case{48000, 4000, 1.2, false}, Case{48000, 4000, 1.2, true}),
                         caseName);

}  // namespace
