// How long a block takes from the mixer to a private PulseAudio null sink: the output holds the four
// blocks the engine's buffer settings give, its own hand-over to the server included (a block
// waits there only to be handed over), and no floor over them from 256 frames up
// (smaller blocks get what 256-frame ones hold); and the server does not run dry on the way.
//
// A writer thread plays the mixer: it waits for room, makes a block and hands it over, as fast as
// the stream lets it (awaitRoom() and write() are what pace the mixer), a steady level with a
// louder marker block every tenth of a second, and notes when it made each marker and when the
// marker left the hand-over for the server. The sink's monitor tells when each marker played (the
// capture's deliveries place its frames on the steady clock, never earlier than they played).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "device.hpp"
#include "pulse_output.hpp"
#include "pulse_server.hpp"
#include "scoped_env.hpp"
#include "source_capture.hpp"

namespace pw::dev {
namespace {

constexpr int kRate = 44100;
constexpr float kLevel = 0.1f;
constexpr float kMarker = 0.5f;

int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

class PulseLatencyTest : public ::testing::TestWithParam<unsigned> {
protected:
    void SetUp() override {
        if (!pw::test::PulseServer::binaryAvailable()) GTEST_SKIP() << "pulseaudio is not installed";
        noTable_ = std::make_unique<pw::test::ScopedEnv>("PELLWARDEN_DEVICE_TABLE", std::nullopt);
        server_ = std::make_unique<pw::test::PulseServer>(std::vector<pw::test::NullSink>{{"card1", "Card1", 2, kRate}});
        ASSERT_TRUE(server_->ready()) << server_->error();
    }
    void TearDown() override {
        server_.reset();
        noTable_.reset();
    }

    std::unique_ptr<pw::test::ScopedEnv> noTable_;
    std::unique_ptr<pw::test::PulseServer> server_;
};

TEST_P(PulseLatencyTest, ABlockIsHeardWithinFourBlocksOfBeingMixed) {
    const unsigned block = GetParam();
    const double blockMs = 1000.0 * block / kRate;
    pw::test::SourceCapture capture("card1.monitor", 2, kRate);
    ASSERT_TRUE(capture.ok()) << capture.error();
    std::unique_ptr<OutputStream> out;
    ASSERT_EQ(autodetectBackend().openOutput(0, 2, kRate, block, &out), FMOD_OK);

    const unsigned markerEvery = std::max(1u, static_cast<unsigned>(kRate / 10 / block));
    const unsigned firstMarker = static_cast<unsigned>(kRate / 2 / block);  // past the start-up
    const unsigned blocks = firstMarker + 16 * markerEvery;
    auto* pulse = dynamic_cast<pw::dev::PulseOutput*>(out.get());
    ASSERT_NE(pulse, nullptr);
    std::vector<float> steady(2 * block, kLevel), marker(2 * block, kMarker);
    std::vector<int64_t> readyNs, takenNs;
    for (unsigned b = 0; b < blocks; ++b) {
        const bool isMarker = b >= firstMarker && (b - firstMarker) % markerEvery == 0;
        ASSERT_TRUE(out->awaitRoom());
        if (isMarker) readyNs.push_back(nowNs());
        ASSERT_TRUE(out->write(isMarker ? marker.data() : steady.data(), block));
        if (!isMarker) continue;
        // When the marker left the hand-over for the server.
        while (pulse->handOverSamples() > 0) std::this_thread::sleep_for(std::chrono::microseconds(100));
        takenNs.push_back(nowNs());
    }
    const std::vector<float> got = capture.waitFrames(capture.capturedFrames() + kRate / 2);
    out.reset();
    const int64_t frameZero = capture.frameZeroNs(kRate);
    ASSERT_NE(frameZero, 0);

    // Onsets of the markers, and silence from the first marker to the end of the last (the server
    // ran dry in steady play; before, the stream starts, after, the writer stops).
    std::vector<size_t> onsets;
    const size_t frames = got.size() / 2;
    size_t first = 0;
    while (first < frames && got[2 * first] == 0.0f) ++first;
    for (size_t f = first; f < frames; ++f)
        if (got[2 * f] == kMarker && (f == 0 || got[2 * (f - 1)] != kMarker)) onsets.push_back(f);
    size_t silent = 0, firstSilent = 0;
    for (size_t f = onsets.empty() ? frames : onsets.front(); f < std::min(frames, onsets.back() + block); ++f)
        if (got[2 * f] == 0.0f && silent++ == 0) firstSilent = f - onsets.front();
    ASSERT_EQ(onsets.size(), readyNs.size()) << "markers lost on the way";
    ASSERT_EQ(takenNs.size(), readyNs.size());
    EXPECT_EQ(silent, 0u) << "the server ran dry, first " << firstSilent << " frames after the first marker";

    std::vector<double> latencies, handOvers;
    for (size_t m = 0; m < onsets.size(); ++m)
        latencies.push_back((frameZero + static_cast<double>(onsets[m]) * 1e9 / kRate - readyNs[m]) * 1e-6);
    for (size_t m = 0; m < takenNs.size(); ++m) handOvers.push_back((takenNs[m] - readyNs[m]) * 1e-6);
    const double ms = median(latencies);
    const double handOverMs = median(handOvers);
    RecordProperty("latency_ms", std::to_string(ms));
    RecordProperty("hand_over_ms", std::to_string(handOverMs));
    std::printf("%u-frame blocks: %.1f ms from mixed to heard (%.2f blocks), %.1f ms from mixed to taken "
                "(%.2f blocks)\n",
                block, ms, ms / blockMs, handOverMs, handOverMs / blockMs);
    // A block is mixed when the server asks for it, so it waits in the hand-over only for the
    // main-loop thread's wake-up: a quarter block, and 3 ms for the scheduler of a loaded machine.
    // (Mixed when the ring had room, it waited for the server's next request: most of a block,
    // 5.9 ms at 256 frames.) Blocks shorter than the floor keep the floor's made ahead.
    const unsigned ahead = (std::max(block, 256u) + block - 1) / block - 1;
    EXPECT_LE(handOverMs, (ahead + 0.25) * blockMs + 3.0) << block << "-frame blocks";
    // Four blocks (of 256 frames for smaller blocks, the floor), and 4 ms for the monitor's own
    // delivery and the scheduler.
    EXPECT_LE(ms, 4 * std::max(blockMs, 1000.0 * 256 / kRate) + 4.0) << block << "-frame blocks";
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, PulseLatencyTest, ::testing::Values(128u, 256u, 512u, 1024u));

}  // namespace
}  // namespace pw::dev
