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
// (its output ring and, away from tempo 1, the stretcher's backlog), or a little before where
// play is (the report moves in whole mixer blocks). The loop holds one click, so deck A's clicks
// stay one beat apart through every lap when the first lap lasts e - s: the first lap is the
// interval from the last click before the loop to the first one after the wrap. Every lap is
// judged against deck B's beat, which the sound server delays alike when it runs short. Deck A
// must stay on deck B's beat after 8 laps and after leaving the loop, and the quiet tone under
// the clicks never drops out (a gap of silence at the wrap).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "PlayerList.h"
#include "TKCore.h"
#include "TimestretchedChannel.h"
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

// The longest run of silent frames of the left side (deck A) within [from, to), leaving out runs
// where the right side (deck B) is mostly silent too: the sound server inserts such silence on
// both when it runs short.
size_t longestSilence(const std::vector<float>& capture, size_t from, size_t to) {
    size_t longest = 0, run = 0, bothSilent = 0;
    to = std::min(to, capture.size() / 2);
    for (size_t f = from; f <= to; ++f) {
        if (f < to && std::fabs(capture[2 * f]) < kSilence) {
            ++run;
            if (std::fabs(capture[2 * f + 1]) < kSilence) ++bothSilent;
            continue;
        }
        if (2 * bothSilent < run) longest = std::max(longest, run);
        run = bothSilent = 0;
    }
    return longest;
}

// Whether the right side (deck B) holds a silent run longer than `frames` within [from, to): the
// sound server inserted silence there.
bool rightSilentWithin(const std::vector<float>& capture, size_t from, size_t to, size_t frames) {
    size_t run = 0;
    to = std::min(to, capture.size() / 2);
    for (size_t f = from; f < to; ++f) {
        run = std::fabs(capture[2 * f + 1]) < kSilence ? run + 1 : 0;
        if (run > frames) return true;
    }
    return false;
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

// What one run measured, in ms.
struct Measured {
    uint64_t underruns = 0;      // blocks either deck's ring could not serve while it was judged
    double startOffset = 0.0;    // deck A less deck B before the loop
    double startSpread = 0.0;
    double lapMs = 0.0;          // e - s at the tempo
    double firstLap = 0.0;       // as heard
    std::vector<double> lapSteps;  // how far each lap moved deck A against deck B
    double afterLaps = 0.0;      // deck A against deck B over laps 5 to 8, less the start
    double afterLeaving = 0.0;   // the same after leaving the loop
    double stray = 0.0;          // how far deck B's beat strays by itself, one beat to the next
    double gap = 0.0;            // the longest silence of deck A alone
    std::string log;
};

uint64_t ringUnderruns(int deck) {
    CPlayer* player = CPlayerList::getInstance() ? CPlayerList::getInstance()->getChannelObject(deck) : nullptr;
    TimeStretchedChannel* channel = player ? deck_test::renderChannel(*player) : nullptr;
    auto* ring = channel ? channel->getOutputBuffer() : nullptr;
    return ring ? ring->getUnderruns() : 0;
}

void runOnce(const Case& c, Measured* m) {
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
    const uint64_t underrunsBefore = ringUnderruns(0) + ringUnderruns(1);
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
    }
    const double lapMs = kBeatMs / c.tempo;
    sleepMs(static_cast<int>((kLaps + 1.5) * lapMs));
    const int64_t left = nowNs();
    ASSERT_EQ(t_core.SetLoop(0, false, false), 1);
    sleepMs(1500);
    const int64_t ended = nowNs();
    m->underruns = ringUnderruns(0) + ringUnderruns(1) - underrunsBefore;
    // What is still on its way to the monitor.
    const std::vector<float> got = capture.waitFrames(capture.capturedFrames() + static_cast<size_t>(c.cardRate) / 4);
    const int64_t frameZero = capture.frameZeroNs(c.cardRate);
    ASSERT_NE(frameZero, 0);
    EXPECT_EQ(t_core.Stop(0), 1);
    EXPECT_EQ(t_core.Stop(1), 1);

    const double msPerFrame = 1000.0 / c.cardRate;
    auto frameAt = [&](int64_t ns) { return static_cast<double>(ns - frameZero) * c.cardRate / 1e9; };
    const std::vector<double> a = onsets(got, 0, c.cardRate);
    const std::vector<double> b = onsets(got, 1, c.cardRate);
    ASSERT_GT(b.size(), 10u);

    // How far deck B's beat strays by itself: its clicks one beat apart, apart from those the
    // sound server's silence parts (away from tempo 1 the stretcher moves each click by a few ms).
    double bStray = 0.0;
    for (size_t i = 1; i < b.size(); ++i) {
        const double interval = (b[i] - b[i - 1]) * msPerFrame;
        if (std::fabs(interval - lapMs) > lapMs / 4) continue;  // a click not heard
        const size_t from = static_cast<size_t>(b[i - 1]), to = static_cast<size_t>(b[i]);
        if (rightSilentWithin(got, from, to, static_cast<size_t>(c.cardRate) / 1000)) continue;
        bStray = std::max(bStray, std::fabs(interval - lapMs));
    }

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
    // A lap that lasts e - s leaves deck A where it stood against deck B, whose beat lasts as
    // long: what the sound server inserts when it runs short delays both decks alike.
    std::vector<double> laps, lapSteps;
    for (size_t i = before; i < before + kLaps; ++i) {
        laps.push_back((a[i + 1] - a[i]) * msPerFrame);
        lapSteps.push_back(toB(a[i + 1]) - toB(a[i]));
    }

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
        longestSilence(got, static_cast<size_t>(a[before]), static_cast<size_t>(std::max(0.0, endAt)));

    std::string lapList;
    for (double l : laps) lapList += " " + std::to_string(l).substr(0, 6);
    std::string offsetList;  // every click of deck A
    for (double f : a) offsetList += " " + std::to_string(toB(f) - startOffset).substr(0, 5);
    char line[512];
    std::snprintf(line, sizeof line,
                  "card %d tempo %.1f %s: s %d e %d, A - B at the start %+.2f ms (+-%.2f), first lap %.2f ms "
                  "(loop %.2f ms), laps 5-8 %+.2f ms, after leaving %+.2f ms over %d clicks, B strays %.2f ms, "
                  "longest silence of A alone %.2f ms, ring underruns %llu\n",
                  c.cardRate, c.tempo, c.loopIn ? "loop-in then out" : "loop-out at report", s, e, startOffset,
                  startSpread, firstLap, lapMs, afterLaps, afterLeaving, clicksAfterLeaving, bStray,
                  gap * msPerFrame, static_cast<unsigned long long>(m->underruns));
    m->log = std::string(line) + "  laps:" + lapList + "\n  A against B, less the start:" + offsetList + "\n";
    m->startOffset = startOffset;
    m->startSpread = startSpread;
    m->lapMs = lapMs;
    m->firstLap = firstLap;
    m->lapSteps = lapSteps;
    m->afterLaps = afterLaps;
    m->afterLeaving = afterLeaving;
    m->stray = bStray;
    m->gap = gap * msPerFrame;
}

class DeckLoopBeat : public ::testing::TestWithParam<Case> {};

// A deck's ring that runs dry on a loaded machine plays a block of silence and moves that deck
// against the other: such a run is not judged, and the case runs again (three times at most).
TEST_P(DeckLoopBeat, TheFirstLapLastsTheLoopAndTheDeckStaysOnTheOtherDecksBeat) {
    const Case c = GetParam();
    if (!pw::test::PulseServer::binaryAvailable()) GTEST_SKIP() << "pulseaudio not installed";
    Measured m;
    for (int attempt = 0; attempt < 3; ++attempt) {
        m = Measured{};
        runOnce(c, &m);
        if (HasFatalFailure()) return;
        std::fputs(m.log.c_str(), stderr);
        if (m.underruns == 0) break;
    }
    ASSERT_EQ(m.underruns, 0u) << "a deck's ring ran dry in every run: the machine is too loaded";
    RecordProperty("first_lap_ms", std::to_string(m.firstLap));
    RecordProperty("offset_after_laps_ms", std::to_string(m.afterLaps));
    RecordProperty("offset_after_leaving_ms", std::to_string(m.afterLeaving));

    // Before the loop, deck A's clicks are deck B's, moved by the same time each.
    ASSERT_LE(m.startSpread, 0.5) << "the decks do not play the same beat before the loop";
    // Each lap against deck B's beat: exact at tempo 1; away from it within the stretcher's
    // scatter of deck A's clicks and of deck B's, at either end of the lap.
    const double lapTolerance = c.tempo == 1.0 ? 1.0 : 1.0 + 2.0 * m.stray;
    ASSERT_EQ(m.lapSteps.size(), static_cast<size_t>(kLaps));
    EXPECT_NEAR(m.lapSteps[0], 0.0, lapTolerance) << "the first lap lasted " << m.firstLap << " ms, not " << m.lapMs;
    for (size_t i = 1; i < m.lapSteps.size(); ++i) EXPECT_NEAR(m.lapSteps[i], 0.0, lapTolerance) << "lap " << i + 1;
    EXPECT_LE(std::fabs(m.afterLaps), 5.0) << "deck A against deck B's beat after " << kLaps << " laps";
    EXPECT_LE(std::fabs(m.afterLeaving), 5.0) << "deck A against deck B's beat after leaving the loop";
    EXPECT_LE(m.gap, 1.0) << "a gap of silence in deck A";
}

INSTANTIATE_TEST_SUITE_P(CardsTemposAndPresses, DeckLoopBeat,
                         ::testing::Values(Case{44100, 5000, 1.0, false}, Case{44100, 5000, 1.0, true},
                                           Case{44100, 4000, 1.2, false}, Case{44100, 4000, 1.2, true},
                                           Case{48000, 5000, 1.0, false}, Case{48000, 5000, 1.0, true},
                                           Case{48000, 4000, 1.2, false}, Case{48000, 4000, 1.2, true}),
                         caseName);

}  // namespace
