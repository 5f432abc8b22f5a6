// Virtual outputs of the device table, driven through the backend interface as the mixer drives
// them: init outcomes, memory sinks, stepped pacing, channel cut and extend, wav sinks.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <sndfile.h>
#include <thread>

#include "device.hpp"
#include "device_table_file.hpp"
#include "fmod_testhooks.hpp"
#include "temp_dir.hpp"

namespace pw::dev {
namespace {

namespace hooks = pw::testhooks;

// Interleaved test signal: frame f, channel c -> a value unique to both (exact in float).
float sampleValue(size_t frame, int channel) {
    return static_cast<float>(static_cast<int>(frame % 4096) - 2048) / 4096.0f + static_cast<float>(channel) / 64.0f;
}

std::vector<float> block(size_t firstFrame, unsigned frames, int channels) {
    std::vector<float> b(static_cast<size_t>(frames) * static_cast<size_t>(channels));
    for (unsigned f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c) b[f * static_cast<size_t>(channels) + static_cast<size_t>(c)] = sampleValue(firstFrame + f, c);
    return b;
}

int indexOf(Backend& backend, const std::string& name) {
    const auto drivers = backend.outputDrivers();
    for (size_t i = 0; i < drivers.size(); ++i)
        if (drivers[i].name == name) return static_cast<int>(i);
    return -1;
}

// Writes `blocks` blocks on a thread (as the mixer would), counting those write() accepted.
struct Writer {
    Writer(OutputStream* stream, int blocks, unsigned frames, int channels) {
        thread = std::thread([=] {
            for (int k = 0; k < blocks; ++k) {
                const auto b = block(static_cast<size_t>(k) * frames, frames, channels);
                if (!stream->write(b.data(), frames)) {
                    failed = true;
                    return;
                }
                accepted.fetch_add(1);
            }
        });
    }
    ~Writer() {
        if (thread.joinable()) thread.join();
    }
    std::thread thread;
    std::atomic<int> accepted{0};
    std::atomic<bool> failed{false};
};

const char* kTable =
    "output name=Stereo channels=2 sink=memory pacing=stepped\n"
    "output name=Quad58 channels=4 init=fail58 sink=memory pacing=stepped\n"
    "output name=Dead init=fail\n"
    "output name=Eight channels=8 sink=memory pacing=stepped\n"
    "output name=Fast channels=2 sink=memory pacing=realtime\n"
    "output name=Discard\n";

TEST(VirtualOutput, InitOutcomes) {
    pw::test::DeviceTableFile table(kTable);
    Backend& backend = autodetectBackend();
    struct Row {
        std::string device;
        int channels;
        FMOD_RESULT result;
    };
    const Row rows[] = {
        {"Quad58", 6, FMOD_ERR_OUTPUT_CREATEBUFFER}, {"Quad58", 4, FMOD_ERR_OUTPUT_CREATEBUFFER},
        {"Quad58", 3, FMOD_ERR_OUTPUT_CREATEBUFFER}, {"Quad58", 2, FMOD_OK},
        {"Quad58", 1, FMOD_OK},                      {"Dead", 2, FMOD_ERR_OUTPUT_INIT},
        {"Dead", 1, FMOD_ERR_OUTPUT_INIT},           {"Stereo", 8, FMOD_OK},
        {"Eight", 6, FMOD_OK},                       {"Discard", 2, FMOD_OK},
        {"Stereo", 0, FMOD_ERR_INVALID_PARAM},       {"Stereo", 33, FMOD_ERR_INVALID_PARAM},
    };
    for (const Row& r : rows) {
        const int index = indexOf(backend, r.device);
        ASSERT_GE(index, 0) << r.device;
        std::unique_ptr<OutputStream> stream;
        EXPECT_EQ(backend.openOutput(index, r.channels, 44100, 256, &stream), r.result)
            << r.device << " with " << r.channels << " channels";
        EXPECT_EQ(stream != nullptr, r.result == FMOD_OK) << r.device;
    }
    std::unique_ptr<OutputStream> stream;
    EXPECT_EQ(backend.openOutput(-1, 2, 44100, 256, &stream), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(backend.openOutput(6, 2, 44100, 256, &stream), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(backend.openOutput(0, 2, 0, 256, &stream), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(backend.openOutput(0, 2, 44100, 0, &stream), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(backend.openOutput(0, 2, 44100, 256, nullptr), FMOD_ERR_INVALID_PARAM);
    // One stream per device at a time; closing frees it.
    ASSERT_EQ(backend.openOutput(0, 2, 44100, 256, &stream), FMOD_OK);
    std::unique_ptr<OutputStream> second;
    EXPECT_EQ(backend.openOutput(0, 2, 44100, 256, &second), FMOD_ERR_OUTPUT_ALLOCATED);
    stream.reset();
    EXPECT_EQ(backend.openOutput(0, 2, 44100, 256, &second), FMOD_OK);
}

// step(n) lets exactly n blocks through, and the memory sink holds exactly what was written.
TEST(VirtualOutput, SteppedMemorySinkIsExact) {
    pw::test::DeviceTableFile table(kTable);
    Backend& backend = autodetectBackend();
    constexpr unsigned kFrames = 333;  // odd on purpose
    std::unique_ptr<OutputStream> stream;
    ASSERT_EQ(backend.openOutput(indexOf(backend, "Stereo"), 2, 44100, kFrames, &stream), FMOD_OK);
    EXPECT_EQ(hooks::receivedChannels("Stereo"), 2);
    Writer writer(stream.get(), 40, kFrames, 2);
    int expectedBlocks = 0;
    for (unsigned n : {1u, 3u, 16u, 20u}) {
        ASSERT_TRUE(hooks::step("Stereo", n));
        expectedBlocks += static_cast<int>(n);
        // Nothing beyond the credits came through (the writer's own count may lag by the block
        // whose write() is returning; the received samples below are exact).
        EXPECT_LE(writer.accepted.load(), expectedBlocks);
        const auto got = hooks::received("Stereo");
        const auto want = block(0, static_cast<unsigned>(expectedBlocks) * kFrames, 2);
        ASSERT_EQ(got.size(), want.size()) << "after " << expectedBlocks << " blocks";
        ASSERT_EQ(got, want);
    }
    writer.thread.join();
    EXPECT_FALSE(writer.failed.load());
    // clearReceived starts over; later blocks still arrive.
    hooks::clearReceived("Stereo");
    EXPECT_TRUE(hooks::received("Stereo").empty());
    Writer more(stream.get(), 2, kFrames, 2);
    ASSERT_TRUE(hooks::step("Stereo", 2));
    EXPECT_EQ(hooks::received("Stereo"), block(0, 2 * kFrames, 2));
    more.thread.join();
    // Reopening the device starts a fresh recording.
    stream.reset();
    EXPECT_EQ(hooks::received("Stereo").size(), 2u * kFrames * 2u);  // kept after close
    ASSERT_EQ(backend.openOutput(indexOf(backend, "Stereo"), 2, 44100, kFrames, &stream), FMOD_OK);
    EXPECT_TRUE(hooks::received("Stereo").empty());
}

TEST(VirtualOutput, StepFailsWithoutAnOpenSteppedDevice) {
    pw::test::DeviceTableFile table(kTable);
    Backend& backend = autodetectBackend();
    EXPECT_FALSE(hooks::step("Stereo", 1));        // not open
    EXPECT_FALSE(hooks::step("No such device", 1));
    EXPECT_TRUE(hooks::received("No such device").empty());
    EXPECT_EQ(hooks::receivedChannels("No such device"), 0);
    std::unique_ptr<OutputStream> stream;
    ASSERT_EQ(backend.openOutput(indexOf(backend, "Fast"), 2, 44100, 64, &stream), FMOD_OK);
    EXPECT_FALSE(hooks::step("Fast", 1));  // real-time pacing is not stepped
}

// The device gets the stream's first min(stream, device) channels; its other channels are silent.
TEST(VirtualOutput, ChannelsAreCutOrExtended) {
    pw::test::DeviceTableFile table(
        "output name=D1 channels=1 sink=memory pacing=stepped\n"
        "output name=D2 channels=2 sink=memory pacing=stepped\n"
        "output name=D4 channels=4 sink=memory pacing=stepped\n"
        "output name=D6 channels=6 sink=memory pacing=stepped\n"
        "output name=D8 channels=8 sink=memory pacing=stepped\n");
    Backend& backend = autodetectBackend();
    struct Row {
        std::string device;
        int deviceChannels;
        int streamChannels;
    };
    const Row rows[] = {{"D4", 4, 6}, {"D6", 6, 2}, {"D2", 2, 2}, {"D1", 1, 2}, {"D8", 8, 8}, {"D8", 8, 1}, {"D2", 2, 8}};
    constexpr unsigned kFrames = 100;
    for (const Row& r : rows) {
        std::unique_ptr<OutputStream> stream;
        ASSERT_EQ(backend.openOutput(indexOf(backend, r.device), r.streamChannels, 48000, kFrames, &stream), FMOD_OK);
        Writer writer(stream.get(), 3, kFrames, r.streamChannels);
        ASSERT_TRUE(hooks::step(r.device, 3));
        writer.thread.join();
        ASSERT_EQ(hooks::receivedChannels(r.device), r.deviceChannels);
        const auto got = hooks::received(r.device);
        ASSERT_EQ(got.size(), 3u * kFrames * static_cast<size_t>(r.deviceChannels)) << r.device;
        for (size_t f = 0; f < 3u * kFrames; ++f)
            for (int c = 0; c < r.deviceChannels; ++c) {
                const float want = c < r.streamChannels ? sampleValue(f, c) : 0.0f;
                ASSERT_EQ(got[f * static_cast<size_t>(r.deviceChannels) + static_cast<size_t>(c)], want)
                    << r.device << " from " << r.streamChannels << " channels, frame " << f << " channel " << c;
            }
    }
}

// A realtime device accepts blocks at its own pace and still records every one of them.
TEST(VirtualOutput, RealtimeMemorySinkReceivesEveryBlock) {
    pw::test::DeviceTableFile table(kTable);
    Backend& backend = autodetectBackend();
    std::unique_ptr<OutputStream> stream;
    constexpr unsigned kFrames = 441;  // 10 ms at 44100 Hz
    ASSERT_EQ(backend.openOutput(indexOf(backend, "Fast"), 2, 44100, kFrames, &stream), FMOD_OK);
    for (int k = 0; k < 10; ++k) {
        const auto b = block(static_cast<size_t>(k) * kFrames, kFrames, 2);
        ASSERT_TRUE(stream->write(b.data(), kFrames));
    }
    // A call longer than the block is taken in blocks.
    const auto big = block(10 * kFrames, 3 * kFrames, 2);
    ASSERT_TRUE(stream->write(big.data(), 3 * kFrames));
    EXPECT_EQ(hooks::received("Fast"), block(0, 13 * kFrames, 2));
}

// abort() from another thread releases a write() blocked on the step or the clock.
TEST(VirtualOutput, AbortReleasesABlockedWrite) {
    pw::test::DeviceTableFile table(kTable);
    Backend& backend = autodetectBackend();
    for (const char* name : {"Stereo", "Fast"}) {
        std::unique_ptr<OutputStream> stream;
        // A one-second block keeps the real-time device asleep well past the abort.
        const unsigned frames = 44100;
        ASSERT_EQ(backend.openOutput(indexOf(backend, name), 2, 44100, frames, &stream), FMOD_OK);
        std::atomic<int> result{-1};
        std::thread mixer([&] {
            const std::vector<float> b(2 * frames, 0.25f);
            bool ok = stream->write(b.data(), frames);
            if (ok) ok = stream->write(b.data(), frames);  // the realtime device sleeps in the first
            result = ok ? 1 : 0;
        });
        stream->abort();
        mixer.join();
        EXPECT_EQ(result.load(), 0) << name;
        const std::vector<float> b(2 * frames, 0.25f);
        EXPECT_FALSE(stream->write(b.data(), frames)) << name << ": an aborted stream takes no more";
    }
}

TEST(VirtualOutput, WavSinkWritesAReadableFile) {
    pw::test::TempDir dir;
    const std::string path = dir.file("mix.wav");
    pw::test::DeviceTableFile table("output name=Rec channels=4 sink=\"wav:" + path + "\" pacing=stepped\n"
                                    "output name=Bad sink=wav:/nonexistent/folder/x.wav\n");
    Backend& backend = autodetectBackend();
    constexpr unsigned kFrames = 1000;
    {
        std::unique_ptr<OutputStream> stream;
        ASSERT_EQ(backend.openOutput(1, 2, 44100, kFrames, &stream), FMOD_ERR_OUTPUT_INIT);
        ASSERT_EQ(backend.openOutput(0, 6, 48000, kFrames, &stream), FMOD_OK);
        Writer writer(stream.get(), 25, kFrames, 6);
        ASSERT_TRUE(hooks::step("Rec", 25));
        writer.thread.join();
        // wav sinks keep nothing for received().
        EXPECT_TRUE(hooks::received("Rec").empty());
    }  // closing finalises the header
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info.channels, 4);
    EXPECT_EQ(info.samplerate, 48000);
    EXPECT_EQ(info.frames, 25 * 1000);
    EXPECT_EQ(info.format & SF_FORMAT_SUBMASK, SF_FORMAT_FLOAT);
    std::vector<float> got(static_cast<size_t>(info.frames) * 4);
    EXPECT_EQ(sf_readf_float(file, got.data(), info.frames), info.frames);
    sf_close(file);
    for (size_t f = 0; f < 25u * kFrames; ++f)
        for (int c = 0; c < 4; ++c) ASSERT_EQ(got[f * 4 + static_cast<size_t>(c)], sampleValue(f, c)) << f << "/" << c;
    // sox agrees on the length.
    if (std::system("sox --version >/dev/null 2>&1") == 0) {
        const std::string cmd = "test \"$(soxi -s '" + path + "')\" = 25000";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }
}

}  // namespace
}  // namespace pw::dev
