// Virtual record inputs: a continuous sine at the asked frequency, and a looped WAV file.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <thread>

#include "device.hpp"
#include "device_table_file.hpp"
#include "wav_file.hpp"

namespace pw::dev {
namespace {

std::vector<float> readFrames(InputStream& in, int channels, size_t frames, unsigned maxPerRead) {
    std::vector<float> all;
    std::vector<float> buffer(static_cast<size_t>(maxPerRead) * static_cast<size_t>(channels));
    while (all.size() < frames * static_cast<size_t>(channels)) {
        const unsigned n = in.read(buffer.data(), maxPerRead);
        if (n == 0) break;
        EXPECT_LE(n, maxPerRead);
        all.insert(all.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n) * channels);
    }
    all.resize(std::min(all.size(), frames * static_cast<size_t>(channels)));
    return all;
}

// Frequency from the positive-going zero crossings, interpolated between samples.
double measureFrequency(const std::vector<float>& x, int channels, int channel, int rate) {
    double first = -1, last = -1;
    int crossings = 0;
    const size_t frames = x.size() / static_cast<size_t>(channels);
    for (size_t f = 1; f < frames; ++f) {
        const float a = x[(f - 1) * static_cast<size_t>(channels) + static_cast<size_t>(channel)];
        const float b = x[f * static_cast<size_t>(channels) + static_cast<size_t>(channel)];
        if (a < 0 && b >= 0) {
            const double at = static_cast<double>(f - 1) + a / static_cast<double>(a - b);
            if (first < 0) first = at;
            last = at;
            ++crossings;
        }
    }
    return crossings > 1 ? (crossings - 1) * rate / (last - first) : 0.0;
}

TEST(VirtualInput, SineHasItsFrequencyOnEveryChannel) {
    pw::test::DeviceTableFile table(
        "record name=A input=sine:440 channels=2 rate=44100\n"
        "record name=B input=sine:1234.5 channels=1 rate=48000\n"
        "record name=C input=sine:50\n");
    Backend& backend = autodetectBackend();
    ASSERT_EQ(backend.recordDrivers().size(), 3u);
    struct Row {
        int index;
        int channels;
        int rate;
        double frequency;
        unsigned maxPerRead;
    };
    const Row rows[] = {{0, 2, 44100, 440.0, 512}, {1, 1, 48000, 1234.5, 37}, {2, 3, 22050, 50.0, 4096}};
    for (const Row& r : rows) {
        std::unique_ptr<InputStream> in;
        ASSERT_EQ(backend.openInput(r.index, r.channels, r.rate, &in), FMOD_OK);
        const auto x = readFrames(*in, r.channels, static_cast<size_t>(r.rate / 5), r.maxPerRead);  // 0.2 s
        ASSERT_EQ(x.size(), static_cast<size_t>(r.rate / 5) * static_cast<size_t>(r.channels));
        for (int c = 0; c < r.channels; ++c)
            EXPECT_NEAR(measureFrequency(x, r.channels, c, r.rate), r.frequency, r.frequency * 0.002) << r.index;
        // Loud but below full scale, and continuous across reads (no jump larger than one step).
        float peak = 0;
        float maxStep = 0;
        for (size_t i = 0; i < x.size(); ++i) {
            peak = std::max(peak, std::fabs(x[i]));
            if (i >= static_cast<size_t>(r.channels))
                maxStep = std::max(maxStep, std::fabs(x[i] - x[i - static_cast<size_t>(r.channels)]));
        }
        EXPECT_NEAR(peak, 0.5f, 0.01f);
        EXPECT_LE(maxStep, 0.5 * 2 * M_PI * r.frequency / r.rate * 1.01 + 1e-6) << r.index;
    }
}

TEST(VirtualInput, WavInputLoopsTheFile) {
    pw::test::TempDir dir;
    const std::string path = dir.file("in.wav");
    {
        WavWriter w;
        std::string error;
        ASSERT_TRUE(w.open(path, 1, 44100, &error)) << error;
        std::vector<float> ramp(1000);
        for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<float>(i) / 1000.0f - 0.5f;
        ASSERT_TRUE(w.write(ramp.data(), ramp.size()));
        ASSERT_TRUE(w.close());
    }
    std::ofstream(dir.file("junk.wav")) << "not a wav file";
    pw::test::DeviceTableFile table("record name=Mic input=\"wav:" + path + "\"\n"
                                    "record name=Missing input=wav:" + dir.file("none.wav") + "\n"
                                    "record name=Junk input=wav:" + dir.file("junk.wav") + "\n");
    Backend& backend = autodetectBackend();
    std::unique_ptr<InputStream> in;
    EXPECT_EQ(backend.openInput(1, 2, 44100, &in), FMOD_ERR_FILE_NOTFOUND);
    EXPECT_EQ(backend.openInput(2, 2, 44100, &in), FMOD_ERR_FORMAT);
    EXPECT_EQ(backend.openInput(3, 2, 44100, &in), FMOD_ERR_INVALID_PARAM);
    ASSERT_EQ(backend.openInput(0, 2, 44100, &in), FMOD_OK);
    const auto x = readFrames(*in, 2, 2500, 300);
    ASSERT_EQ(x.size(), 5000u);
    for (size_t f = 0; f < 2500; ++f) {
        const float want = static_cast<float>(f % 1000) / 1000.0f - 0.5f;
        ASSERT_EQ(x[2 * f], want) << f;
        ASSERT_EQ(x[2 * f + 1], want) << f;  // a mono file feeds every channel
    }
}

TEST(VirtualInput, AbortReleasesABlockedRead) {
    pw::test::DeviceTableFile table("record name=A input=sine:440\n");
    Backend& backend = autodetectBackend();
    std::unique_ptr<InputStream> in;
    ASSERT_EQ(backend.openInput(0, 2, 44100, &in), FMOD_OK);
    std::atomic<unsigned> last{1};
    std::thread recorder([&] {
        std::vector<float> buffer(2 * 256);
        unsigned n;
        while ((n = in->read(buffer.data(), 256)) > 0) {
        }
        last = n;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));  // let it read a few chunks
    in->abort();
    recorder.join();
    EXPECT_EQ(last.load(), 0u);
    std::vector<float> buffer(2);
    EXPECT_EQ(in->read(buffer.data(), 1), 0u);
}

}  // namespace
}  // namespace pw::dev
