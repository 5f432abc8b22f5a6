// Recording through a real sound server: a private PulseAudio daemon with a float null sink is the
// sound card, two decks play known tones through the engine's entry points, and the recordings are
// held against what the sink's monitor received and against the tones themselves.
//
// Deck A plays 440 Hz on the left only, deck B 660 Hz on the right only, so each channel of the mix
// is one pure tone: any lost, repeated or garbled block shows as a sample the tone's recurrence
// x[n] = 2 cos(w) x[n-1] - x[n-2] does not predict. On a loaded machine a deck's render worker may
// fall behind and the deck then plays a block of silence before it goes on where it was; such
// blocks are in what the card received as well, and are taken out before the tone is checked.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "MixDown.h"
#include "TKCore.h"
#include "deck_support.h"
#include "mixdown_test_support.h"
#include "pulse_server.hpp"
#include "scoped_env.hpp"
#include "signal_measure.hpp"
#include "source_capture.hpp"
#include "temp_dir.hpp"

namespace {

constexpr int kRate = 44100;
constexpr double kAmplitude = 0.5;
constexpr double kHzA = 440.0;  // deck A, left
constexpr double kHzB = 660.0;  // deck B, right
// The tone's recurrence predicts each recorded sample to within the 16-bit truncation of three
// samples; a splice of two stretches of a tone misses by far more.
constexpr double kSpliceThreshold = 0.005;

struct Wav {
    int channels = 0, rate = 0, bits = 0;
    uint32_t dataBytes = 0;
    size_t fileBytes = 0;
    std::vector<std::vector<double>> samples;  // per channel, full scale 1.0
};

Wav readWav(const std::string& path) {
    const std::vector<uint8_t> b = mixdowntest::readFile(path);
    Wav w;
    w.fileBytes = b.size();
    if (b.size() < 44) return w;
    w.channels = b[22] | b[23] << 8;
    w.rate = static_cast<int>(mixdowntest::u32At(b, 24));
    w.bits = b[34] | b[35] << 8;
    w.dataBytes = mixdowntest::u32At(b, 40);
    if (w.channels <= 0) return w;
    w.samples.resize(w.channels);
    for (size_t at = 44, i = 0; at + 1 < b.size(); at += 2, ++i) {
        w.samples[i % w.channels].push_back(mixdowntest::s16At(b, at) / 32768.0);
    }
    return w;
}

// A valid file: 16-bit stereo at the mixer's rate, and sizes that describe exactly what is there.
void expectValid(const Wav& w) {
    EXPECT_EQ(w.channels, 2);
    EXPECT_EQ(w.rate, kRate);
    EXPECT_EQ(w.bits, 16);
    EXPECT_EQ(w.dataBytes + 44, w.fileBytes);
}

// The channel without its runs of 32 or more exact zeros: the silence a deck plays while its
// render worker catches up. A tone quantised to 16 bits is never 0 for more than two samples.
std::vector<double> withoutSilentRuns(const std::vector<double>& x) {
    std::vector<double> kept;
    size_t run = 0;
    for (size_t n = 0; n <= x.size(); ++n) {
        if (n < x.size() && x[n] == 0.0) {
            ++run;
            continue;
        }
        if (run > 0 && run < 32) kept.insert(kept.end(), x.begin() + long(n - run), x.begin() + long(n));
        run = 0;
        if (n < x.size()) kept.push_back(x[n]);
    }
    return kept;
}

// Indexes where the recurrence of a tone at hz misses the recorded sample.
std::vector<size_t> splices(const std::vector<double>& recorded, double hz) {
    const std::vector<double> x = withoutSilentRuns(recorded);
    const double k = 2 * std::cos(2 * M_PI * hz / kRate);
    std::vector<size_t> at;
    for (size_t n = 2; n < x.size(); ++n) {
        if (std::fabs(x[n] - (k * x[n - 1] - x[n - 2])) > kSpliceThreshold) {
            if (at.empty() || n > at.back() + 2) at.push_back(n);  // one splice disturbs two predictions
        }
    }
    return at;
}

std::vector<float> channelOf(const std::vector<float>& stereo, int channel) {
    std::vector<float> one;
    for (size_t i = size_t(channel); i < stereo.size(); i += 2) one.push_back(stereo[i]);
    return one;
}

// Sample for sample, the recording is what the card received at half amplitude (a stereo pair is
// recorded so), truncated to 16 bits; frames where the server ran dry are only in the sink. Every
// recorded frame must be found there, in one run. Returns the frames matched.
size_t expectRecordedFromSink(const Wav& w, const std::vector<float>& heard) {
    std::vector<float> recorded;
    for (size_t f = 0; f < w.samples[0].size(); ++f) {
        recorded.push_back(float(w.samples[0][f]));
        recorded.push_back(float(w.samples[1][f]));
    }
    recorded = pw::test::withoutSilentFrames(recorded, 2);
    const std::vector<float> sink = pw::test::withoutSilentFrames(heard, 2);
    auto matches = [&](size_t r, size_t s) {
        return std::fabs(double(recorded[r]) - 0.5 * sink[s]) <= 1.0 / 32768;
    };
    size_t offset = 0;
    for (bool found = false; !found && offset + 512 < sink.size(); offset += found ? 0 : 2) {
        found = true;
        for (size_t i = 0; i < 512 && found; ++i) found = matches(i, offset + i);
    }
    const size_t overlap = std::min(recorded.size(), sink.size() - std::min(offset, sink.size()));
    EXPECT_EQ(overlap, recorded.size());  // every recorded frame was found at the sink
    size_t differing = 0;
    for (size_t i = 0; i < overlap; ++i) differing += matches(i, offset + i) ? 0 : 1;
    EXPECT_EQ(differing, 0u) << "of " << overlap / 2 << " frames";
    return overlap / 2;
}

double peak(const std::vector<double>& x) {
    double p = 0;
    for (double v : x) p = std::max(p, std::fabs(v));
    return p;
}

class MixDownPulse : public ::testing::Test {
protected:
    void SetUp() override {
        if (!pw::test::PulseServer::binaryAvailable()) GTEST_SKIP() << "pulseaudio not installed";
        server_.emplace(std::vector<pw::test::NullSink>{{"card1", "Card1", 2, kRate}});
        ASSERT_TRUE(server_->ready()) << server_->error();
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_.path());
        for (const auto& [name, hz, channel] : {std::tuple{"a.wav", kHzA, 0}, {"b.wav", kHzB, 1}}) {
            ASSERT_TRUE(deck_test::writeWav(file(name), kRate, 2, 16, long(kRate) * 45, [=](long f, int c) {
                return c == channel ? float(kAmplitude * std::sin(2 * M_PI * hz * f / kRate + 0.3)) : 0.0f;
            }));
        }
        ASSERT_EQ(t_core.InitPlayer(0, 1, kRate), 1);
        slot_ = deck_test::findSlot("Card1", 0);
        ASSERT_GE(slot_, 0);
    }

    void TearDown() override {
        t_core.CleanUp();
        if (!previous_.empty()) std::filesystem::current_path(previous_);
    }

    std::string file(const std::string& name) const { return dir_.file(name); }

    void play(int deck, const std::string& name) {
        std::string path = file(name);
        ASSERT_EQ(t_core.Load(deck, path.data(), slot_, slot_, false), 1);
        ASSERT_EQ(t_core.SetVolume(deck, 10000), 1);
        ASSERT_EQ(t_core.Play(deck, true), 1);
    }

    static void sleepSeconds(double s) { std::this_thread::sleep_for(std::chrono::duration<double>(s)); }

    pw::test::ScopedEnv noTable_{"PELLWARDEN_DEVICE_TABLE", std::nullopt};
    std::optional<pw::test::PulseServer> server_;
    pw::test::TempDir dir_{"pw-mixdown-pulse-"};
    std::filesystem::path previous_;
    int slot_ = -1;
};

TEST_F(MixDownPulse, TwoDecksRecordedForThirtySecondsMatchWhatTheSinkReceived) {
    pw::test::SourceCapture monitor("card1.monitor", 2, kRate);
    ASSERT_TRUE(monitor.ok()) << monitor.error();
    play(0, "a.wav");
    play(1, "b.wav");
    ASSERT_EQ(t_core.MixDown_setup(0, 1), 1);
    std::string path = file("mix.wav");
    ASSERT_EQ(t_core.MixDown_openFile(path.data(), 1, 128, 0, nullptr, nullptr), 1);
    ASSERT_EQ(t_core.MixDown_start(), 1);
    monitor.waitFrames(monitor.capturedFrames() + size_t(kRate) * 30, 60.0);
    ASSERT_EQ(t_core.MixDown_close(), 1);
    // The decks play on: two more seconds at the sink cover what the card had not yet received
    // when the recording closed.
    const std::vector<float> heard = monitor.waitFrames(monitor.capturedFrames() + size_t(kRate) * 2, 60.0);

    const Wav w = readWav(path);
    expectValid(w);
    ASSERT_EQ(w.samples.size(), 2u);
    const double seconds = double(w.samples[0].size()) / kRate;
    EXPECT_GE(seconds, 29.0);
    EXPECT_LE(seconds, 32.0);
    EXPECT_GE(expectRecordedFromSink(w, heard), size_t(kRate) * 29);
    const std::vector<float> sink = pw::test::withoutSilentFrames(heard, 2);

    for (const auto& [channel, hz] : {std::pair{0, kHzA}, {1, kHzB}}) {
        SCOPED_TRACE(channel);
        const std::vector<double>& rec = w.samples[channel];
        EXPECT_TRUE(splices(rec, hz).empty()) << splices(rec, hz).size() << " splices, first at "
                                              << splices(rec, hz).front();
        const std::vector<double> tone = withoutSilentRuns(rec);
        EXPECT_NEAR(pw::test::toneHz(std::vector<float>(tone.begin(), tone.end()), kRate), hz, 0.5);
        const std::vector<float> received = channelOf(sink, channel);
        const double db = 20 * std::log10(pw::test::rms(std::vector<float>(tone.begin(), tone.end())) /
                                          pw::test::rms(received));
        EXPECT_NEAR(db, -6.02, 0.5);
    }
}

// The disk stalls for 2.5 s from the first second of a master recording of both decks on one card
// (one source), and the recording is closed 2.5 s in, in the middle of the stall. Everything
// captured until the close is in the file, sample for sample what the card played; and while the
// close waits for the disk, a deck call on another thread answers at once.
TEST_F(MixDownPulse, AStalledDiskAtCloseLosesNothingAndFreezesNoDeck) {
    using Clock = std::chrono::steady_clock;
    pw::test::SourceCapture monitor("card1.monitor", 2, kRate);
    ASSERT_TRUE(monitor.ok()) << monitor.error();
    play(0, "a.wav");
    play(1, "b.wav");
    ASSERT_EQ(t_core.MixDown_setup(0, 1), 1);
    std::string path = file("stalled.wav");
    ASSERT_EQ(t_core.MixDown_openFile(path.data(), 1, 128, 0, nullptr, nullptr), 1);
    const Clock::time_point started = Clock::now();
    const Clock::time_point stallFrom = started + std::chrono::milliseconds(1000);
    const Clock::time_point stallUntil = started + std::chrono::milliseconds(3500);
    t_core.m_pMixDown->setWriteHookForTesting([=] {
        const Clock::time_point now = Clock::now();
        if (now >= stallFrom && now < stallUntil) std::this_thread::sleep_until(stallUntil);
    });
    ASSERT_EQ(t_core.MixDown_start(), 1);
    std::this_thread::sleep_until(started + std::chrono::milliseconds(2500));
    std::atomic<int> closed{0};
    std::thread closer([&closed] { closed = t_core.MixDown_close(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // The close now waits for the disk; the decks must not.
    double slowestMs = 0;
    for (int i = 0; i < 20; ++i) {
        const Clock::time_point before = Clock::now();
        EXPECT_GT(t_core.GetPosition(0), 0);
        slowestMs = std::max(slowestMs, std::chrono::duration<double, std::milli>(Clock::now() - before).count());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const bool closeWasWaiting = closed.load() == 0;
    closer.join();
    EXPECT_TRUE(closeWasWaiting);  // the deck calls were made while the close waited
    EXPECT_LT(slowestMs, 100.0);
    EXPECT_EQ(closed.load(), 1);
    t_core.m_pMixDown->setWriteHookForTesting(nullptr);
    const std::vector<float> heard = monitor.waitFrames(monitor.capturedFrames() + size_t(kRate) * 2, 60.0);

    const Wav w = readWav(path);
    expectValid(w);
    ASSERT_EQ(w.samples.size(), 2u);
    // Captured from start to close: 2.5 s, less the few blocks a loaded machine may take to begin.
    const double seconds = double(w.samples[0].size()) / kRate;
    std::printf("slowest deck call during the close: %.1f ms; recorded: %.3f s\n", slowestMs, seconds);
    EXPECT_GE(seconds, 2.3);
    EXPECT_LE(seconds, 2.8);
    expectRecordedFromSink(w, heard);
    EXPECT_TRUE(splices(w.samples[0], kHzA).empty());
    EXPECT_TRUE(splices(w.samples[1], kHzB).empty());
}

TEST_F(MixDownPulse, ADeckRecordedAloneHoldsThatDeckOnly) {
    play(0, "a.wav");
    play(1, "b.wav");
    std::string path = file("deck.wav");
    ASSERT_EQ(t_core.PlayerMixDown_openFile(0, path.data(), 1, 128), 1);
    ASSERT_EQ(t_core.PlayerMixDown_start(0), 1);
    sleepSeconds(3);
    ASSERT_EQ(t_core.PlayerMixDown_close(0), 1);

    const Wav w = readWav(path);
    expectValid(w);
    ASSERT_EQ(w.samples.size(), 2u);
    EXPECT_GE(w.samples[0].size(), size_t(kRate) * 5 / 2);
    EXPECT_TRUE(splices(w.samples[0], kHzA).empty());
    EXPECT_NEAR(peak(w.samples[0]), kAmplitude / 2, 0.01);
    EXPECT_EQ(peak(w.samples[1]), 0.0);  // deck B plays on the same card, and is not in it
}

TEST_F(MixDownPulse, PauseAndStartLeaveOneCleanSpliceAndNoDuplicate) {
    play(0, "a.wav");
    play(1, "b.wav");
    ASSERT_EQ(t_core.MixDown_setup(0, 1), 1);
    std::string path = file("paused.wav");
    ASSERT_EQ(t_core.MixDown_openFile(path.data(), 1, 128, 0, nullptr, nullptr), 1);
    ASSERT_EQ(t_core.MixDown_start(), 1);
    sleepSeconds(2);
    ASSERT_EQ(t_core.MixDown_pause(), 1);
    sleepSeconds(1.05);
    ASSERT_EQ(t_core.MixDown_start(), 1);
    sleepSeconds(2);
    ASSERT_EQ(t_core.MixDown_close(), 1);

    const Wav w = readWav(path);
    expectValid(w);
    ASSERT_EQ(w.samples.size(), 2u);
    const double seconds = double(w.samples[0].size()) / kRate;
    EXPECT_GE(seconds, 3.5);
    EXPECT_LE(seconds, 4.5);  // the paused second is not in it
    for (const auto& [channel, hz] : {std::pair{0, kHzA}, {1, kHzB}}) {
        SCOPED_TRACE(channel);
        // The pause is one splice at most (a second of tone left out); a repeated block would be
        // another.
        EXPECT_LE(splices(w.samples[channel], hz).size(), 1u);
        // No click: every sample stays within the tone.
        EXPECT_LE(peak(w.samples[channel]), kAmplitude / 2 + 0.001);
    }
    // At least one channel shows the splice: its tone jumped by the paused stretch.
    EXPECT_GE(splices(w.samples[0], kHzA).size() + splices(w.samples[1], kHzB).size(), 1u);
}

TEST_F(MixDownPulse, FilesStayValidThroughUnloadShutdownAndTheSizeLimit) {
    play(0, "a.wav");
    play(1, "b.wav");
    // A deck unloaded while it records, then its recording closed.
    std::string unloaded = file("unloaded.wav");
    ASSERT_EQ(t_core.PlayerMixDown_openFile(0, unloaded.data(), 1, 128), 1);
    ASSERT_EQ(t_core.PlayerMixDown_start(0), 1);
    sleepSeconds(1);
    ASSERT_EQ(t_core.Unload(0), 1);
    t_core.PlayerMixDown_close(0);
    {
        const Wav w = readWav(unloaded);
        expectValid(w);
        EXPECT_GT(w.dataBytes, uint32_t(kRate) * 2);
    }

    // The master recording held to a small size limit (the 4 GiB limit scaled down): it stops
    // growing at whole frames and stays valid.
    play(0, "a.wav");
    ASSERT_EQ(t_core.MixDown_setup(0, 1), 1);
    std::string limited = file("limited.wav");
    ASSERT_EQ(t_core.MixDown_openFile(limited.data(), 1, 128, 0, nullptr, nullptr), 1);
    constexpr uint32_t kLimit = 4 * 22050 + 2;  // half a second and half a frame
    t_core.m_pMixDown->setDataLimitForTesting(kLimit);
    ASSERT_EQ(t_core.MixDown_start(), 1);
    sleepSeconds(1.5);
    ASSERT_EQ(t_core.MixDown_close(), 1);
    {
        const Wav w = readWav(limited);
        expectValid(w);
        EXPECT_EQ(w.dataBytes, kLimit - 2);
        EXPECT_TRUE(splices(w.samples[0], kHzA).empty());
    }

    // The engine shut down while the master and a deck record.
    std::string master = file("shutdown-master.wav");
    std::string deck = file("shutdown-deck.wav");
    ASSERT_EQ(t_core.MixDown_openFile(master.data(), 1, 128, 0, nullptr, nullptr), 1);
    ASSERT_EQ(t_core.MixDown_start(), 1);
    ASSERT_EQ(t_core.PlayerMixDown_openFile(1, deck.data(), 1, 128), 1);
    ASSERT_EQ(t_core.PlayerMixDown_start(1), 1);
    sleepSeconds(1);
    t_core.CleanUp();
    for (const std::string& path : {master, deck}) {
        SCOPED_TRACE(path);
        const Wav w = readWav(path);
        expectValid(w);
        EXPECT_GT(w.dataBytes, uint32_t(kRate) * 2);
    }
}

}  // namespace
