// A real recording: a tone plays on a virtual sound card paced in real time, the recorder's unit
// is attached at system level after the master group (as the master recording attaches it), and
// the writer thread writes the file. sox, not our code, reads it back.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

#include "FMODSystem.h"
#include "device_table_file.hpp"
#include "mixdown_test_support.h"

namespace {

constexpr int kRate = 44100;
constexpr unsigned kBlockFrames = 441;  // 100 blocks a second
constexpr unsigned kBlocks = 200;       // 2 s
constexpr float kAmplitude = 0.8f;

struct Tone {
    double phase = 0.0;
    std::atomic<unsigned> blocks{0};  // blocks mixed, read by the test thread
};

FMOD_RESULT toneRead(FMOD_DSP_STATE* state, float*, float* out, unsigned length, int, int channels) {
    void* userData = nullptr;
    state->instance->getUserData(&userData);
    Tone* tone = static_cast<Tone*>(userData);
    for (unsigned f = 0; f < length; ++f) {
        const float v = kAmplitude * float(std::sin(tone->phase));
        tone->phase += 2 * M_PI * 1000.0 / kRate;
        for (int c = 0; c < channels; ++c) out[f * channels + c] = v;
    }
    tone->blocks.fetch_add(1, std::memory_order_release);
    return FMOD_OK;
}

// sox's answer to `arguments`, and the number after `label` in it (NaN when absent).
double sox(const std::string& arguments, const std::string& label) {
    std::string text;
    if (FILE* pipe = popen(("sox " + arguments + " 2>&1").c_str(), "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, pipe) != nullptr) text += line;
        pclose(pipe);
    }
    const size_t at = text.find(label);
    return at == std::string::npos ? NAN : std::strtod(text.c_str() + at + label.size(), nullptr);
}

TEST(MixDownRecording, ToneFromAVirtualCardForTwoSeconds) {
    pw::test::DeviceTableFile table("output name=\"Card1\" channels=2 sink=discard pacing=realtime\n");
    const std::string path = table.file("tone.wav");
    FMOD::System* system = nullptr;
    ASSERT_EQ(FMOD_System_Create(&system), FMOD_OK);
    FMODSystem wrapper(system);  // closes and releases the system after the recorder is gone
    ASSERT_EQ(system->setDriver(0), FMOD_OK);
    system->setSoftwareFormat(kRate, FMOD_SOUND_FORMAT_PCMFLOAT, 0, 6, FMOD_DSP_RESAMPLER_LINEAR);
    system->setDSPBufferSize(kBlockFrames, 4);
    ASSERT_EQ(system->init(16, FMOD_INIT_NORMAL, nullptr), FMOD_OK);

    Tone tone;
    FMOD_DSP_DESCRIPTION description;
    std::memset(&description, 0, sizeof description);
    description.channels = 2;
    description.read = toneRead;
    description.userdata = &tone;
    FMOD::DSP* generator = nullptr;
    ASSERT_EQ(system->createDSP(&description, &generator), FMOD_OK);
    ASSERT_EQ(system->playDSP(FMOD_CHANNEL_FREE, generator, false, nullptr), FMOD_OK);
    // Waits (bounded) until the mixer has made `blocks` more tone blocks; returns how many it made.
    auto await = [&tone](unsigned blocks) {
        const unsigned start = tone.blocks.load(std::memory_order_acquire);
        for (int i = 0; i < 20000 && tone.blocks.load(std::memory_order_acquire) - start < blocks; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return tone.blocks.load(std::memory_order_acquire) - start;
    };
    ASSERT_GE(await(2), 2u);  // the tone runs before capture starts
    unsigned liveBlocks = 0;   // blocks the mixer made from before start to after pause
    unsigned innerBlocks = 0;  // blocks it made between the two calls
    {
        CMixDown recorder;
        FMOD::DSP* unit = nullptr;
        ASSERT_EQ(recorder.setup(&wrapper, 0, &unit, nullptr, 0, nullptr), 1);
        ASSERT_EQ(wrapper.addDSP(unit, nullptr), FMOD_OK);
        ASSERT_EQ(recorder.openFile(path.c_str(), 1, 128, false, -1, -1, -1.0f), 1);  // the mixer's format
        // start and pause take effect somewhere inside their calls, which a loaded machine can
        // stretch over several blocks: the blocks mixed while the unit was on lie between the
        // blocks mixed strictly inside (after start returned, before pause was called) and those
        // mixed around both calls.
        const unsigned beforeStart = tone.blocks.load(std::memory_order_acquire);
        ASSERT_EQ(recorder.start(), 1);
        const unsigned afterStart = tone.blocks.load(std::memory_order_acquire);
        await(kBlocks);
        const unsigned beforePause = tone.blocks.load(std::memory_order_acquire);
        ASSERT_EQ(recorder.pause(), 1);
        liveBlocks = tone.blocks.load(std::memory_order_acquire) - beforeStart;
        innerBlocks = beforePause - afterStart;
        ASSERT_GE(innerBlocks, kBlocks);
        // The writer polls every millisecond; wait (bounded) until it has taken everything.
        for (int i = 0; i < 10000 && MixDownTestPeer::queue(recorder, 1)->size() > 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_EQ(MixDownTestPeer::queue(recorder, 1)->droppedBlocks(), 0u);  // the writer kept up
        ASSERT_EQ(recorder.close(), 1);
    }
    const std::vector<uint8_t> bytes = mixdowntest::readFile(path);
    ASSERT_GT(bytes.size(), 44u);
    EXPECT_EQ(mixdowntest::u32At(bytes, 40), bytes.size() - 44);
    for (const auto& [option, value] : {std::pair{"-r", kRate}, {"-c", 2}, {"-b", 16}}) {
        EXPECT_EQ(sox(std::string("--i ") + option + " '" + path + "'", ""), value) << option;
    }
    // Every block mixed while the unit was on is in the file once, whole. A block's tone is counted
    // before the unit sees it in the same mix, so the block in flight at either call can fall
    // either side: give or take one at each end.
    const double frames = sox("--i -s '" + path + "'", "");
    EXPECT_EQ(std::fmod(frames, kBlockFrames), 0.0) << frames;
    EXPECT_LE(frames, (liveBlocks + 1) * kBlockFrames) << frames << " for " << liveBlocks;
    EXPECT_GE(frames, (innerBlocks - 1) * kBlockFrames) << frames << " for " << innerBlocks;
    EXPECT_GE(frames, (kBlocks - 2) * kBlockFrames);  // 2 s
    // A stereo pair is recorded at half amplitude.
    const std::string stat = "'" + path + "' -n stat";
    EXPECT_NEAR(sox(stat, "Maximum amplitude:"), kAmplitude / 2, 0.002);
    EXPECT_NEAR(sox(stat, "Minimum amplitude:"), -kAmplitude / 2, 0.002);
    EXPECT_NEAR(sox(stat, "RMS     amplitude:"), kAmplitude / 2 / std::sqrt(2.0), 0.002);
}

}  // namespace
