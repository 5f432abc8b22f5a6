// The PulseAudio backend against a private daemon with two float32le null sinks (2 and 6
// channels): drivers as the sinks, sources as record drivers, and tones that come back bit for
// bit from the sinks' monitors on the channels asked for.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <thread>

#include "device.hpp"
#include "pulse_server.hpp"
#include "scoped_env.hpp"
#include "source_capture.hpp"

namespace pw::dev {
namespace {

constexpr int kRate = 44100;

class PulseBackendTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!pw::test::PulseServer::binaryAvailable()) GTEST_SKIP() << "pulseaudio is not installed";
        noTable_ = std::make_unique<pw::test::ScopedEnv>("PELLWARDEN_DEVICE_TABLE", std::nullopt);
        server_ = std::make_unique<pw::test::PulseServer>(
            std::vector<pw::test::NullSink>{{"card1", "Card1", 2, kRate}, {"card2", "Card 2 Surround", 6, kRate}});
        ASSERT_TRUE(server_->ready()) << server_->error();
    }
    void TearDown() override {
        server_.reset();
        noTable_.reset();
    }

    int outputIndex(const std::string& name) {
        const auto drivers = autodetectBackend().outputDrivers();
        for (size_t i = 0; i < drivers.size(); ++i)
            if (drivers[i].name == name) return static_cast<int>(i);
        return -1;
    }

    std::unique_ptr<pw::test::ScopedEnv> noTable_;
    std::unique_ptr<pw::test::PulseServer> server_;
};

// A card plugged in after the first listing is seen at the next one, after the cards listed
// before, which keep their indexes.
TEST_F(PulseBackendTest, ACardPluggedInLaterIsListedAfterTheOthers) {
    Backend& backend = autodetectBackend();
    ASSERT_EQ(backend.outputDrivers().size(), 2u);
    ASSERT_EQ(std::system("pactl load-module module-null-sink sink_name=late rate=44100 channels=2 "
                          "sink_properties=device.description=Late >/dev/null 2>&1"),
              0);
    const auto outputs = backend.outputDrivers();
    ASSERT_EQ(outputs.size(), 3u);
    EXPECT_EQ(outputs[0].name, "Card1");
    EXPECT_EQ(outputs[1].name, "Card 2 Surround");
    EXPECT_EQ(outputs[2].name, "Late");
    bool lateMonitor = false;
    for (const auto& r : backend.recordDrivers()) lateMonitor = lateMonitor || r.name.find("Late") != std::string::npos;
    EXPECT_TRUE(lateMonitor);
}

// Channel c of frame f: a tone with a channel-specific level; never 0 at f = 0 so that the start
// can be found in the capture.
float tone(size_t f, int c) {
    return static_cast<float>((0.1 + 0.1 * c) * std::sin(2 * M_PI * 440.0 * static_cast<double>(f) / kRate + 0.3));
}

TEST_F(PulseBackendTest, SinksAreOutputDriversAndSourcesRecordDrivers) {
    Backend& backend = autodetectBackend();
    const auto outputs = backend.outputDrivers();
    ASSERT_EQ(outputs.size(), 2u);
    struct Row {
        std::string name;
        int channels;
        FMOD_CAPS caps;
        FMOD_SPEAKERMODE mode;
    };
    const Row rows[] = {{"Card1", 2, 0, FMOD_SPEAKERMODE_STEREO},
                        {"Card 2 Surround", 6, FMOD_CAPS_OUTPUT_MULTICHANNEL, FMOD_SPEAKERMODE_5POINT1}};
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(outputs[i].name, rows[i].name);
        EXPECT_EQ(outputs[i].channels, rows[i].channels) << rows[i].name;
        EXPECT_EQ(outputs[i].caps, rows[i].caps) << rows[i].name;
        EXPECT_EQ(outputs[i].controlPanelMode, rows[i].mode) << rows[i].name;
        EXPECT_EQ(outputs[i].minRate, 0);
        EXPECT_EQ(outputs[i].maxRate, 0);
    }
    // Each source is a record driver: here the two monitors, with their sinks' layouts.
    const auto records = backend.recordDrivers();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_NE(records[0].name.find("Card1"), std::string::npos) << records[0].name;
    EXPECT_EQ(records[0].channels, 2);
    EXPECT_NE(records[1].name.find("Card 2 Surround"), std::string::npos) << records[1].name;
    EXPECT_EQ(records[1].channels, 6);
    EXPECT_EQ(records[1].rate, kRate);
    // The order is stable for the process.
    EXPECT_EQ(autodetectBackend().outputDrivers()[1].name, "Card 2 Surround");
}

// What the stream writes comes back bit for bit from the monitor, channel i on sink channel i:
// with fewer channels than the sink, the others stay silent; with more, they are cut.
TEST_F(PulseBackendTest, ToneComesBackBitExactOnTheChannelsAskedFor) {
    struct Row {
        std::string sink;
        std::string driver;
        int sinkChannels;
        int streamChannels;
    };
    const Row rows[] = {{"card2", "Card 2 Surround", 6, 6}, {"card2", "Card 2 Surround", 6, 2}, {"card1", "Card1", 2, 6}};
    constexpr unsigned kBlock = 512;
    constexpr int kBlocks = 30;
    for (const Row& r : rows) {
        pw::test::SourceCapture capture(r.sink + ".monitor", r.sinkChannels, kRate);
        ASSERT_TRUE(capture.ok()) << capture.error();
        std::unique_ptr<OutputStream> stream;
        ASSERT_EQ(autodetectBackend().openOutput(outputIndex(r.driver), r.streamChannels, kRate, kBlock, &stream), FMOD_OK);
        std::vector<float> b(static_cast<size_t>(kBlock) * static_cast<size_t>(r.streamChannels));
        // The tone, then silence to push it through the server's buffers.
        for (int k = 0; k < kBlocks + 10; ++k) {
            for (unsigned f = 0; f < kBlock; ++f)
                for (int c = 0; c < r.streamChannels; ++c)
                    b[f * static_cast<size_t>(r.streamChannels) + static_cast<size_t>(c)] =
                        k < kBlocks ? tone(static_cast<size_t>(k) * kBlock + f, c) : 0.0f;
            ASSERT_TRUE(stream->write(b.data(), kBlock)) << "block " << k;
        }
        const size_t toneFrames = static_cast<size_t>(kBlocks) * kBlock;
        // The last write returned once the server had room, so the tone, ten blocks earlier, has
        // been played; allow the monitor's own latency on top.
        const size_t until = capture.capturedFrames() + kRate / 5;
        const auto got = pw::test::withoutSilentFrames(capture.waitFrames(until), r.sinkChannels);
        const long start = pw::test::findFirst(got, r.sinkChannels, 0);
        ASSERT_EQ(start, 0) << r.sink << ": the tone never arrived";
        const size_t frames = got.size() / static_cast<size_t>(r.sinkChannels);
        ASSERT_EQ(frames, toneFrames) << r.sink << ": samples lost or added";
        for (size_t f = 0; f < toneFrames; ++f)
            for (int c = 0; c < r.sinkChannels; ++c) {
                const float want = c < r.streamChannels ? tone(f, c) : 0.0f;
                ASSERT_EQ(got[(static_cast<size_t>(start) + f) * static_cast<size_t>(r.sinkChannels) + static_cast<size_t>(c)], want)
                    << r.sink << " stream of " << r.streamChannels << ": frame " << f << " channel " << c;
            }
    }
}

// A record driver (a monitor source) delivers what is played into its sink.
TEST_F(PulseBackendTest, RecordDriverReadsTheMonitor) {
    Backend& backend = autodetectBackend();
    std::unique_ptr<InputStream> in;
    ASSERT_EQ(backend.openInput(0, 2, kRate, &in), FMOD_OK);  // "Monitor of Card1"
    std::unique_ptr<OutputStream> out;
    ASSERT_EQ(backend.openOutput(outputIndex("Card1"), 2, kRate, 441, &out), FMOD_OK);
    constexpr size_t kToneFrames = 441 * 20;
    std::thread player([&] {
        std::vector<float> b(2 * 441);
        for (size_t k = 0; k < 40; ++k) {
            for (size_t f = 0; f < 441; ++f)
                for (int c = 0; c < 2; ++c) b[2 * f + static_cast<size_t>(c)] = k < 20 ? tone(k * 441 + f, c) : 0.0f;
            if (!out->write(b.data(), 441)) return;
        }
    });
    std::vector<float> got;
    std::vector<float> buffer(2 * 300);
    long start = -1;
    while (got.size() < 2 * static_cast<size_t>(kRate) * 4) {  // at most 4 s
        const unsigned n = in->read(buffer.data(), 300);  // an odd count that splits fragments
        ASSERT_GT(n, 0u);
        got.insert(got.end(), buffer.begin(), buffer.begin() + 2 * static_cast<std::ptrdiff_t>(n));
        if (start < 0) start = pw::test::findFirst(got, 2, 0);
        if (start >= 0 && got.size() >= 2 * (static_cast<size_t>(start) + kToneFrames + 441 * 10)) break;
    }
    player.join();
    got = pw::test::withoutSilentFrames(got, 2);
    start = pw::test::findFirst(got, 2, 0);
    ASSERT_GE(start, 0) << "the tone never arrived";
    ASSERT_GE(got.size(), 2 * (static_cast<size_t>(start) + kToneFrames));
    for (size_t f = 0; f < kToneFrames; ++f)
        for (int c = 0; c < 2; ++c)
            ASSERT_EQ(got[2 * (static_cast<size_t>(start) + f) + static_cast<size_t>(c)], tone(f, c)) << f << "/" << c;
    in->abort();
    EXPECT_EQ(in->read(buffer.data(), 300), 0u);
}

// Opening refuses bad arguments, and abort() releases a writer.
TEST_F(PulseBackendTest, BadArgumentsAndAbort) {
    Backend& backend = autodetectBackend();
    std::unique_ptr<OutputStream> out;
    EXPECT_EQ(backend.openOutput(2, 2, kRate, 512, &out), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(backend.openOutput(0, 0, kRate, 512, &out), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(backend.openOutput(0, 2, kRate, 0, &out), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(backend.openOutput(0, 64, kRate, 512, &out), FMOD_ERR_OUTPUT_CREATEBUFFER);
    std::unique_ptr<InputStream> in;
    EXPECT_EQ(backend.openInput(5, 2, kRate, &in), FMOD_ERR_INVALID_PARAM);
    ASSERT_EQ(backend.openOutput(0, 2, kRate, 512, &out), FMOD_OK);
    std::atomic<bool> stopped{false};
    std::thread mixer([&] {
        std::vector<float> silence(2 * 512, 0.0f);
        while (out->write(silence.data(), 512)) {
        }
        stopped = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    out->abort();
    mixer.join();
    EXPECT_TRUE(stopped.load());
}

}  // namespace
}  // namespace pw::dev
