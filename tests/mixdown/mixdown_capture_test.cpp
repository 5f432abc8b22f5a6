// Capture through real units of the audio layer. The read callback is called directly, standing
// in for the mixer, with synthetic interleaved blocks of 2, 4, 6 and 8 channels on a no-sound
// system (no mixer thread), and what it queued is read back. Also the units' life: names, bypass
// with start, pause and close, and release on a repeated setup and on destruction.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "FMODSystem.h"
#include "fmod_testhooks.hpp"
#include "mixdown_test_support.h"
#include "temp_dir.hpp"

namespace {

using mixdowntest::readFile;
using mixdowntest::s16At;

constexpr unsigned kSlotFrames = 256;

// A second wrapper over the fixture's system: it never closes the system.
struct BorrowedSystem : FMODSystem {
    explicit BorrowedSystem(FMOD::System* system) : FMODSystem(system) {}
    ~BorrowedSystem() { detach(); }
};

FMOD_RESULT runUnit(FMOD::DSP* unit, const std::vector<float>& in, std::vector<float>& out, int channels) {
    FMOD_DSP_STATE state;
    std::memset(&state, 0, sizeof state);
    state.instance = unit;
    std::vector<float> input = in;
    out.assign(in.size(), -7.0f);
    return CMixDown::DSPCallback(&state, input.data(), out.data(), unsigned(in.size() / channels), channels, channels);
}

bool bypassed(FMOD::DSP* unit) {
    bool bypass = false;
    unit->getBypass(&bypass);
    return bypass;
}

class MixDownCapture : public ::testing::Test {
protected:
    void SetUp() override {
        FMOD::System* system = nullptr;
        ASSERT_EQ(FMOD_System_Create(&system), FMOD_OK);
        wrapper = std::make_unique<FMODSystem>(system);  // closes and releases the system
        system->setOutput(FMOD_OUTPUTTYPE_NOSOUND_NRT);
        system->setDSPBufferSize(kSlotFrames, 4);
        ASSERT_EQ(system->init(32, FMOD_INIT_NORMAL, nullptr), FMOD_OK);
    }
    // A recorder with one unit for `role` and an open stereo WAV file.
    FMOD::DSP* open(CMixDown& recorder, int role) {
        FMOD::DSP* unit = nullptr;
        EXPECT_EQ(recorder.setup(wrapper.get(), role, &unit, nullptr, 0, nullptr), 1);
        EXPECT_EQ(recorder.openFile(dir.file("c.wav").c_str(), 1, 0, true, 2, 16, 44100), 1);
        return unit;
    }
    pw::test::TempDir dir;
    std::unique_ptr<FMODSystem> wrapper;
};

TEST_F(MixDownCapture, RoleTableOnKnownFrames) {
    const unsigned frames = 37;  // odd, shorter than a slot
    for (int channels : {2, 4, 6, 8}) {
        for (int role : {0, 1, 2, 3, 4, 5, 6, 7, 10, 11, 12, 13, 14, 17, 18, 999, 1000, 1001, -1}) {
            SCOPED_TRACE(std::to_string(channels) + " channels, role " + std::to_string(role));
            CMixDown recorder;
            FMOD::DSP* unit = open(recorder, role);
            ASSERT_NE(unit, nullptr);
            std::vector<float> in(channels * frames), out;
            for (size_t i = 0; i < in.size(); ++i) in[i] = (i % channels + 1) * 0.01f + i / channels * 0.001f;
            ASSERT_EQ(runUnit(unit, in, out, channels), FMOD_OK);
            EXPECT_EQ(out, in);  // the audio passes unchanged
            MixDownSampleQueue* queue = MixDownTestPeer::queue(recorder, 1);
            ASSERT_EQ(queue->size(), 1u);
            const MixDownSampleQueue::Block block = queue->front();
            ASSERT_EQ(block.frames, frames);
            for (unsigned f = 0; f < frames; ++f) {
                double left, right;
                mixdowntest::expectedFold(&in[f * channels], channels, role, &left, &right);
                ASSERT_NEAR(block.samples[2 * f], left, 1e-6) << f;
                ASSERT_NEAR(block.samples[2 * f + 1], right, 1e-6) << f;
            }
        }
    }
}

TEST_F(MixDownCapture, QueuesOnlyIntoAnOpenStereoFileAndSplitsLongBlocks) {
    CMixDown recorder;
    FMOD::DSP* unit = nullptr;
    ASSERT_EQ(recorder.setup(wrapper.get(), 0, &unit, nullptr, 0, nullptr), 1);
    MixDownSampleQueue* queue = MixDownTestPeer::queue(recorder, 1);
    const std::vector<float> in(64, 0.5f);
    std::vector<float> out;
    const struct {
        unsigned format;
        int channels;
        size_t queued;
    } cases[] = {{0, 0, 0}, {1, 6, 0}, {unsigned(-1), 2, 0}, {1, 2, 1}};  // 0: before any openFile
    for (const auto& c : cases) {
        if (c.format != 0) recorder.openFile(dir.file("q.wav").c_str(), c.format, 0, true, c.channels, 16, 44100);
        EXPECT_EQ(runUnit(unit, in, out, 2), FMOD_OK);
        EXPECT_EQ(out, in);
        EXPECT_EQ(queue->size(), c.queued) << "format " << int(c.format) << ", " << c.channels << " channels";
    }
    // A context without a file record answers 44; the audio still passes.
    MIXDOWN_FILE* file = MixDownTestPeer::capture(recorder, 1).file;
    MixDownTestPeer::capture(recorder, 1).file = nullptr;
    EXPECT_EQ(runUnit(unit, in, out, 2), FMOD_ERR_MEMORY);
    EXPECT_EQ(out, in);
    MixDownTestPeer::capture(recorder, 1).file = file;

    // A block longer than a slot goes in slot-sized pieces; the writer puts it back together.
    queue->clear();
    const unsigned frames = 3 * kSlotFrames + 57;
    std::vector<float> ramp(2 * frames);
    for (unsigned i = 0; i < 2 * frames; ++i) ramp[i] = (i / 2) / 2048.0f;
    ASSERT_EQ(runUnit(unit, ramp, out, 2), FMOD_OK);
    EXPECT_EQ(queue->size(), 4u);
    EXPECT_EQ(MixDownTestPeer::drain(recorder), frames);
    ASSERT_EQ(recorder.close(), 1);
    EXPECT_EQ(runUnit(unit, in, out, 2), FMOD_OK);  // after close
    EXPECT_EQ(queue->size(), 0u);
    const std::vector<uint8_t> bytes = readFile(dir.file("q.wav"));
    ASSERT_EQ(bytes.size(), 44u + 4 * frames);
    for (unsigned f = 0; f < frames; ++f) ASSERT_EQ(s16At(bytes, 44 + 4 * f), int(8 * f)) << f;  // halved
}

TEST_F(MixDownCapture, TwoUnitsFeedTheirOwnQueues) {
    BorrowedSystem second(wrapper->getFMODSystem());
    CMixDown recorder;
    FMOD::DSP* units[2] = {};
    ASSERT_EQ(recorder.setup(wrapper.get(), 0, &units[0], &second, 3, &units[1]), 1);
    for (int u = 0; u < 2; ++u) {
        char name[32] = {};
        units[u]->getInfo(name, nullptr, nullptr, nullptr, nullptr);
        EXPECT_STREQ(name, u == 0 ? "first Mixdown" : "second Mixdown");
    }
    ASSERT_EQ(recorder.openFile(dir.file("two.wav").c_str(), 1, 0, true, 2, 16, 44100), 1);
    std::vector<float> in, out;
    for (int f = 0; f < 16; ++f) in.insert(in.end(), {0.5f, 0.5f, 0.25f, -0.25f});
    ASSERT_EQ(runUnit(units[0], in, out, 4), FMOD_OK);  // channels 0/1
    ASSERT_EQ(runUnit(units[1], in, out, 4), FMOD_OK);  // channels 2/3
    EXPECT_EQ(MixDownTestPeer::drain(recorder), 16u);
    ASSERT_EQ(recorder.close(), 1);
    const std::vector<uint8_t> bytes = readFile(dir.file("two.wav"));
    ASSERT_EQ(bytes.size(), 44u + 64u);
    EXPECT_EQ(s16At(bytes, 44), 6144);  // ((0.25 + 0.125) / 2) x 32768
    EXPECT_EQ(s16At(bytes, 46), 2048);  // ((0.25 - 0.125) / 2) x 32768
}

TEST_F(MixDownCapture, BypassFollowsStartPauseClose) {
    CMixDown recorder;
    FMOD::DSP* unit = open(recorder, 0);
    EXPECT_TRUE(bypassed(unit));
    ASSERT_EQ(recorder.start(), 1);
    const pthread_t writer = MixDownTestPeer::writer(recorder);
    EXPECT_FALSE(bypassed(unit));
    EXPECT_EQ(recorder.pause(), 1);
    EXPECT_TRUE(bypassed(unit));
    EXPECT_TRUE(MixDownTestPeer::writerRunning(recorder));  // still polling
    EXPECT_EQ(recorder.start(), 1);
    EXPECT_FALSE(bypassed(unit));
    EXPECT_TRUE(pthread_equal(writer, MixDownTestPeer::writer(recorder)));  // the same writer
    EXPECT_EQ(recorder.close(), 1);
    EXPECT_TRUE(bypassed(unit));
    EXPECT_FALSE(MixDownTestPeer::writerRunning(recorder));
}

TEST_F(MixDownCapture, RepeatedSetupAndDestructionReleaseTheUnits) {
    using pw::testhooks::Kind;
    const int before = pw::testhooks::liveCount(Kind::DSP);
    {
        BorrowedSystem other(wrapper->getFMODSystem());
        CMixDown recorder;
        FMOD::ChannelGroup* master = nullptr;
        ASSERT_EQ(wrapper->getMasterChannelGroup(&master), FMOD_OK);
        const struct {
            FMODSystem *first, *second;
            int live;
        } steps[] = {{wrapper.get(), nullptr, 1}, {wrapper.get(), nullptr, 1}, {wrapper.get(), &other, 2},
                     {nullptr, &other, 2}, {wrapper.get(), wrapper.get(), 1}};
        for (const auto& s : steps) {
            FMOD::DSP* unit = nullptr;
            ASSERT_EQ(recorder.setup(s.first, 0, &unit, s.second, 0, nullptr), 1);
            if (unit != nullptr) master->addDSP(unit, nullptr);  // attached, as a caller would
            EXPECT_EQ(pw::testhooks::liveCount(Kind::DSP), before + s.live);
        }
    }
    EXPECT_EQ(pw::testhooks::liveCount(Kind::DSP), before);
}

}  // namespace

// A stalled writer: the queue holds at least 30 s of the mixer's output at any block size and
// rate before capture drops, and what comes beyond is dropped and counted, never queued.
TEST(MixDownQueueSizing, HoldsThirtySecondsAtEveryBlockSizeAndRate) {
    const struct {
        int rate;
        unsigned blockFrames;
    } cases[] = {{44100, 64}, {44100, 256}, {44100, 1024}, {48000, 441}, {96000, 128}, {192000, 64},
                 {22050, 16384}, {8000, 4096}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz, blocks of " + std::to_string(c.blockFrames));
        FMOD::System* system = nullptr;
        ASSERT_EQ(FMOD_System_Create(&system), FMOD_OK);
        FMODSystem wrapper(system);
        ASSERT_EQ(system->setOutput(FMOD_OUTPUTTYPE_NOSOUND), FMOD_OK);
        ASSERT_EQ(system->setSoftwareFormat(c.rate, FMOD_SOUND_FORMAT_PCMFLOAT, 0, 6, FMOD_DSP_RESAMPLER_LINEAR),
                  FMOD_OK);
        ASSERT_EQ(system->setDSPBufferSize(c.blockFrames, 4), FMOD_OK);
        ASSERT_EQ(system->init(16, FMOD_INIT_NORMAL, nullptr), FMOD_OK);
        CMixDown recorder;
        MixDownSampleQueue queue;
        ASSERT_TRUE(MixDownTestPeer::allocateQueue(recorder, queue, &wrapper));
        // The mixer's blocks, queued with nobody writing, until the queue refuses one.
        uint64_t frames = 0;
        while (queue.append(c.blockFrames) && frames < uint64_t(3600) * c.rate) frames += c.blockFrames;
        EXPECT_GE(double(frames) / c.rate, 30.0);
        EXPECT_EQ(queue.droppedBlocks(), 1u);
        EXPECT_FALSE(queue.append(c.blockFrames));
        EXPECT_EQ(queue.droppedBlocks(), 2u);
    }
}
