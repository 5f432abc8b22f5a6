// Systems on virtual devices of a device table (stepped pacing, memory sinks): the drivers the
// engine reads, init outcomes, and what reaches the device, sample for sample.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "device_table_file.hpp"
#include "fmod_testhooks.hpp"
#include "mixer_test_util.hpp"

using namespace pw::mixtest;

namespace {

constexpr unsigned kBlock = 512;

const char* const kTable =
    "# the drivers of the enumeration tests\n"
    "output name=\"Card1\" channels=2 minrate=8000 maxrate=96000 caps=0 panel=2 sink=memory pacing=stepped\n"
    "output name=\"Hercules DJ Console\" channels=6 caps=6 sink=memory pacing=stepped\n"
    "output name=\"BCD3000\" channels=4 caps=4 panel=2 init=fail58 sink=memory pacing=stepped\n"
    "output name=\"Broken\" init=fail\n"
    "output name=\"Eight\" channels=8 caps=4 minrate=44100 maxrate=48000 sink=memory pacing=stepped\n"
    "output name=\"Four\" channels=4 caps=4 sink=memory pacing=stepped\n"
    "record name=\"Line In\" input=sine:440\n"
    "record name=\"Mic\" input=sine:1000 channels=1\n";

struct DriverRow {
    const char* name;
    FMOD_CAPS caps;
    int minRate, maxRate;
    FMOD_SPEAKERMODE panel;
};

const DriverRow kDrivers[] = {
    {"Card1", 0, 8000, 96000, FMOD_SPEAKERMODE_STEREO},
    {"Hercules DJ Console", 6, 0, 0, FMOD_SPEAKERMODE_5POINT1},
    {"BCD3000", 4, 0, 0, FMOD_SPEAKERMODE_STEREO},
    {"Broken", 0, 0, 0, FMOD_SPEAKERMODE_STEREO},
    {"Eight", 4, 44100, 48000, FMOD_SPEAKERMODE_7POINT1},
    {"Four", 4, 0, 0, FMOD_SPEAKERMODE_QUAD},
};

// The generator position (mod 2001) behind a genValue of channel 0: 7 is invertible mod 2001.
long genPosition(float value) {
    const long residue = std::lround(value * 1024.0f + 1000.5f);
    for (long n = 0; n < 2001; ++n)
        if ((n * 7) % 2001 == residue) return n;
    return -1;
}

// Every frame of `frames` (stereo) advances the generator by `step` positions.
void expectStride(const std::vector<float>& frames, long step) {
    ASSERT_GE(frames.size(), 4u);
    for (size_t f = 0; f + 1 < frames.size() / 2; ++f) {
        const long a = genPosition(frames[f * 2]);
        const long b = genPosition(frames[(f + 1) * 2]);
        ASSERT_EQ(((b - a) % 2001 + 2001) % 2001, step) << "frame " << f;
    }
}

class MixerDevices : public ::testing::Test {
protected:
    static void SetUpTestSuite() { table = new pw::test::DeviceTableFile(kTable); }
    static void TearDownTestSuite() {
        delete table;
        table = nullptr;
    }
    void TearDown() override {
        for (FMOD::System* s : systems) EXPECT_EQ(s->release(), FMOD_OK);
    }
    // User data of the units: members, not locals of a test body, because the mixer thread may run
    // one more callback after the body returns and before TearDown releases the system.
    std::deque<GenState> gens;
    std::deque<float> gains;
    FMOD::System* create() {
        FMOD::System* s = nullptr;
        EXPECT_EQ(FMOD_System_Create(&s), FMOD_OK);
        systems.push_back(s);
        return s;
    }
    // A system on driver `driver`, in `mode`, initialised.
    FMOD::System* open(int driver, FMOD_SPEAKERMODE mode) {
        FMOD::System* s = create();
        EXPECT_EQ(s->setDriver(driver), FMOD_OK);
        EXPECT_EQ(s->setSoftwareFormat(44100, FMOD_SOUND_FORMAT_PCMFLOAT, 0, 6, FMOD_DSP_RESAMPLER_LINEAR), FMOD_OK);
        EXPECT_EQ(s->setDSPBufferSize(kBlock, 4), FMOD_OK);
        EXPECT_EQ(s->setSpeakerMode(mode), FMOD_OK);
        EXPECT_EQ(s->init(16, FMOD_INIT_NORMAL, nullptr), FMOD_OK);
        return s;
    }
    FMOD::DSP* unit(FMOD::System* s, const char* name, int channels, FMOD_DSP_READCALLBACK read, void* ud) {
        FMOD_DSP_DESCRIPTION d = describe(name, channels, read, ud);
        FMOD::DSP* dsp = nullptr;
        EXPECT_EQ(s->createDSP(&d, &dsp), FMOD_OK);
        return dsp;
    }
    // Steps `blocks` blocks and returns everything the device received so far.
    static std::vector<float> stepAndCollect(const std::string& name, unsigned blocks, size_t minSamples) {
        EXPECT_TRUE(pw::testhooks::step(name, blocks));
        std::vector<float> got = pw::testhooks::received(name);
        // The memory sink is filled by its own worker: give it a moment (bounded, not timed).
        for (int i = 0; i < 2000 && got.size() < minSamples; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            got = pw::testhooks::received(name);
        }
        return got;
    }
    static pw::test::DeviceTableFile* table;
    std::vector<FMOD::System*> systems;
};

pw::test::DeviceTableFile* MixerDevices::table = nullptr;

TEST_F(MixerDevices, DriversReportWhatTheTableSays) {
    FMOD::System* s = create();
    int count = 0;
    ASSERT_EQ(s->getNumDrivers(&count), FMOD_OK);
    ASSERT_EQ(count, static_cast<int>(std::size(kDrivers)));
    for (int i = 0; i < count; ++i) {
        const DriverRow& row = kDrivers[i];
        char name[256];
        std::memset(name, 'x', sizeof(name));
        ASSERT_EQ(s->getDriverInfo(i, name, sizeof(name), nullptr), FMOD_OK);
        EXPECT_STREQ(name, row.name);
        FMOD_CAPS caps = 99;
        int minRate = -1, maxRate = -1;
        FMOD_SPEAKERMODE panel = FMOD_SPEAKERMODE_RAW;
        ASSERT_EQ(s->getDriverCaps(i, &caps, &minRate, &maxRate, &panel), FMOD_OK);
        EXPECT_EQ(caps, row.caps) << row.name;
        EXPECT_EQ(minRate, row.minRate) << row.name;
        EXPECT_EQ(maxRate, row.maxRate) << row.name;
        EXPECT_EQ(panel, row.panel) << row.name;
    }
    // A short buffer gets the name cut and terminated.
    char shortName[5];
    std::memset(shortName, 'x', sizeof(shortName));
    ASSERT_EQ(s->getDriverInfo(1, shortName, sizeof(shortName), nullptr), FMOD_OK);
    EXPECT_STREQ(shortName, "Herc");
    EXPECT_EQ(s->getDriverInfo(count, shortName, sizeof(shortName), nullptr), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(s->getDriverCaps(-1, nullptr, nullptr, nullptr, nullptr), FMOD_ERR_INVALID_PARAM);

    int records = 0;
    ASSERT_EQ(s->getRecordNumDrivers(&records), FMOD_OK);
    ASSERT_EQ(records, 2);
    char rec[256];
    ASSERT_EQ(s->getRecordDriverInfo(1, rec, sizeof(rec), nullptr), FMOD_OK);
    EXPECT_STREQ(rec, "Mic");
    EXPECT_EQ(s->getRecordDriverInfo(2, rec, sizeof(rec), nullptr), FMOD_ERR_INVALID_PARAM);
}

// Each explicit output type lists its own back-end: the table's drivers for the virtual type, the
// sound server's sinks (whatever the server has, never the table's cards) for the server type.
TEST_F(MixerDevices, EachOutputTypeListsItsOwnBackEnd) {
    struct Row {
        FMOD_OUTPUTTYPE type;
        bool listsTheTable;
    };
    for (const Row& row : {Row{FMOD_OUTPUTTYPE_AUTODETECT, true}, Row{FMOD_OUTPUTTYPE_VIRTUAL, true},
                           Row{FMOD_OUTPUTTYPE_PULSEAUDIO, false}}) {
        SCOPED_TRACE(static_cast<int>(row.type));
        FMOD::System* s = create();
        ASSERT_EQ(s->setOutput(row.type), FMOD_OK);
        int count = 0;
        ASSERT_EQ(s->getNumDrivers(&count), FMOD_OK);
        bool sawCard1 = false;
        for (int i = 0; i < count; ++i) {
            char name[256] = {0};
            ASSERT_EQ(s->getDriverInfo(i, name, sizeof name, nullptr), FMOD_OK);
            sawCard1 = sawCard1 || std::string(name) == "Card1";
        }
        EXPECT_EQ(sawCard1, row.listsTheTable);
    }
}

TEST_F(MixerDevices, RefusedLayoutFailsWith58ThenStereoInitWorks) {
    FMOD::System* s = create();
    ASSERT_EQ(s->setDriver(2), FMOD_OK);  // BCD3000
    ASSERT_EQ(s->setSpeakerMode(FMOD_SPEAKERMODE_5POINT1), FMOD_OK);
    EXPECT_EQ(s->init(65, FMOD_INIT_NORMAL, nullptr), FMOD_ERR_OUTPUT_CREATEBUFFER);
    EXPECT_EQ(s->init(65, FMOD_INIT_NORMAL, nullptr), FMOD_OK);  // the same system, now stereo
    int channels = 0;
    s->getSoftwareFormat(nullptr, nullptr, &channels, nullptr, nullptr, nullptr);
    EXPECT_EQ(channels, 2);
}

TEST_F(MixerDevices, DeviceThatCannotOpenFailsWithAnotherResult) {
    FMOD::System* s = create();
    ASSERT_EQ(s->setDriver(3), FMOD_OK);  // Broken
    const FMOD_RESULT first = s->init(65, FMOD_INIT_NORMAL, nullptr);
    EXPECT_NE(first, FMOD_OK);
    EXPECT_NE(first, FMOD_ERR_OUTPUT_CREATEBUFFER);
    EXPECT_NE(s->init(65, FMOD_INIT_NORMAL, nullptr), FMOD_OK);
}

TEST_F(MixerDevices, GeneratorReachesTheDeviceSampleExactOverHundredBlocks) {
    FMOD::System* s = open(0, FMOD_SPEAKERMODE_STEREO);
    pw::testhooks::clearReceived("Card1");
    GenState& gen = gens.emplace_back();
    FMOD::Channel* channel = nullptr;
    ASSERT_EQ(s->playDSP(FMOD_CHANNEL_FREE, unit(s, "Player", 2, genRead, &gen), false, &channel), FMOD_OK);
    const auto got = stepAndCollect("Card1", 101, 101 * kBlock * 2);
    ASSERT_EQ(pw::testhooks::receivedChannels("Card1"), 2);
    ASSERT_GE(got.size(), 101u * kBlock * 2);
    // A block mixed before playDSP is silence; the channel starts on a block boundary.
    size_t start = 0;
    while (start < got.size() / 2 && got[start * 2] == 0.0f) ++start;
    ASSERT_EQ(start % kBlock, 0u);
    ASSERT_GE(got.size() / 2, start + 100 * kBlock);
    for (size_t f = 0; f < 100 * kBlock; ++f)
        for (int c = 0; c < 2; ++c) ASSERT_EQ(got[(start + f) * 2 + c], genValue(f, c)) << "frame " << f;
}

TEST_F(MixerDevices, DoubleFrequencyPullsTwoBlocksPerBlock) {
    FMOD::System* s = open(0, FMOD_SPEAKERMODE_STEREO);
    GenState& gen = gens.emplace_back();
    FMOD::Channel* channel = nullptr;
    ASSERT_EQ(s->playDSP(FMOD_CHANNEL_FREE, unit(s, "Player", 2, genRead, &gen), true, &channel), FMOD_OK);
    ASSERT_EQ(channel->setFrequency(2 * 44100.0f), FMOD_OK);
    ASSERT_EQ(channel->setPaused(false), FMOD_OK);
    ASSERT_TRUE(pw::testhooks::step("Card1", 3));
    pw::testhooks::clearReceived("Card1");
    const int before = gen.calls.load();
    const auto got = stepAndCollect("Card1", 10, 10 * kBlock * 2);
    // The mixer may already be mixing the next block when a step returns: one block either way.
    const int calls = gen.calls.load() - before;
    EXPECT_GE(calls, 18);
    EXPECT_LE(calls, 22);
    expectStride(got, 2);  // every output frame is two generator frames on
}

struct SelfDriving {
    std::atomic<FMOD::Channel*> channel{nullptr};
    std::atomic<int> calls{0};
    std::atomic<int> sawPaused{0};
};

// Writes the generator's frames, asks its own channel whether it is paused and doubles its
// frequency, from inside the mix, as the engine's "Player" unit does.
FMOD_RESULT selfDrivingRead(FMOD_DSP_STATE* state, float*, float* out, unsigned length, int, int outch) {
    void* ud = nullptr;
    state->instance->getUserData(&ud);
    auto* sd = static_cast<SelfDriving*>(ud);
    if (FMOD::Channel* channel = sd->channel.load()) {
        bool paused = true;
        if (channel->getPaused(&paused) == FMOD_OK && paused) sd->sawPaused.fetch_add(1);
        channel->setFrequency(2 * 44100.0f);
    }
    const unsigned long start = static_cast<unsigned long>(sd->calls.fetch_add(1)) * length;
    for (unsigned f = 0; f < length; ++f)
        for (int c = 0; c < outch; ++c) out[f * outch + c] = pw::mixtest::genValue(start + f, c);
    return FMOD_OK;
}

TEST_F(MixerDevices, CallbackDrivesItsOwnChannel) {
    FMOD::System* s = open(0, FMOD_SPEAKERMODE_STEREO);
    SelfDriving sd;
    FMOD::Channel* channel = nullptr;
    ASSERT_EQ(s->playDSP(FMOD_CHANNEL_FREE, unit(s, "Player", 2, selfDrivingRead, &sd), true, &channel), FMOD_OK);
    sd.channel.store(channel);
    ASSERT_EQ(channel->setPaused(false), FMOD_OK);
    ASSERT_TRUE(pw::testhooks::step("Card1", 3));
    pw::testhooks::clearReceived("Card1");
    const auto got = stepAndCollect("Card1", 5, 5 * kBlock * 2);
    expectStride(got, 2);  // the frequency it set itself
    EXPECT_EQ(sd.sawPaused.load(), 0);
    float frequency = 0;
    channel->getFrequency(&frequency);
    EXPECT_EQ(frequency, 88200.0f);
}

struct RouteCase {
    const char* what;
    int driver;
    const char* device;
    FMOD_SPEAKERMODE mode;
    int inputs;        // 1 mono, 2 stereo
    bool levelsCall;   // setSpeakerLevels(BL, {0.5, 1}) after the mix
    std::vector<float> expected;  // one frame, as the device received it
};

// Left input 0.25, right 0.5; mix levels 1..8 in speaker order.
const RouteCase kRoutes[] = {
    {"5.1 stereo", 1, "Hercules DJ Console", FMOD_SPEAKERMODE_5POINT1, 2, false,
     {0.25f, 1.0f, 0.75f, 2.0f, 1.25f, 3.0f}},
    {"5.1 mono", 1, "Hercules DJ Console", FMOD_SPEAKERMODE_5POINT1, 1, false,
     {0.25f, 0.5f, 0.75f, 1.0f, 1.25f, 1.5f}},
    {"7.1 stereo", 4, "Eight", FMOD_SPEAKERMODE_7POINT1, 2, false,
     {0.25f, 1.0f, 0.75f, 2.0f, 1.25f, 3.0f, 1.75f, 4.0f}},
    {"7.1 stereo, back-left row", 4, "Eight", FMOD_SPEAKERMODE_7POINT1, 2, true,
     {0.25f, 1.0f, 0.75f, 2.0f, 0.25f * 0.5f + 0.5f, 3.0f, 1.75f, 4.0f}},
    {"5.1 on four channels: C and LFE on 3 and 4", 5, "Four", FMOD_SPEAKERMODE_5POINT1, 2, false,
     {0.25f, 1.0f, 0.75f, 2.0f}},
    {"quad", 5, "Four", FMOD_SPEAKERMODE_QUAD, 2, false, {0.25f, 1.0f, 1.25f, 3.0f}},
    {"raw: speaker i is channel i+1", 5, "Four", FMOD_SPEAKERMODE_RAW, 2, false, {0.25f, 1.0f, 0.75f, 2.0f}},
};

class MixerRouting : public MixerDevices, public ::testing::WithParamInterface<RouteCase> {};

TEST_P(MixerRouting, SpeakerMixAndLevelsPutEachInputWhereAsked) {
    const RouteCase& rc = GetParam();
    FMOD::System* s = open(rc.driver, rc.mode);
    GenState& gen = gens.emplace_back();
    gen.constant[0] = 0.25f;
    gen.constant[1] = 0.5f;
    FMOD::Channel* channel = nullptr;
    ASSERT_EQ(s->playDSP(FMOD_CHANNEL_FREE, unit(s, "Player", rc.inputs, constantRead, &gen), true, &channel),
              FMOD_OK);
    ASSERT_EQ(channel->setSpeakerMix(1, 2, 3, 4, 5, 6, 7, 8), FMOD_OK);
    if (rc.levelsCall) {
        float levels[2] = {0.5f, 1.0f};
        ASSERT_EQ(channel->setSpeakerLevels(FMOD_SPEAKER_BACK_LEFT, levels, 2), FMOD_OK);
    }
    const auto matrix = pw::testhooks::channelSpeakerMatrix(channel);
    ASSERT_EQ(matrix.size(), 8u);
    ASSERT_EQ(matrix[FMOD_SPEAKER_FRONT_RIGHT].size(), static_cast<size_t>(rc.inputs));
    EXPECT_EQ(matrix[FMOD_SPEAKER_FRONT_RIGHT][rc.inputs - 1], 2.0f);
    channel->setPaused(false);
    ASSERT_TRUE(pw::testhooks::step(rc.device, 2));  // the block mixed before the unpause drains
    pw::testhooks::clearReceived(rc.device);
    const size_t ch = rc.expected.size();
    const auto got = stepAndCollect(rc.device, 2, 2 * kBlock * ch);
    ASSERT_EQ(pw::testhooks::receivedChannels(rc.device), static_cast<int>(ch));
    ASSERT_GE(got.size(), 2 * kBlock * ch);
    for (size_t f = 0; f < 2 * kBlock; ++f)
        for (size_t c = 0; c < ch; ++c) ASSERT_EQ(got[f * ch + c], rc.expected[c]) << rc.what << " channel " << c;
}

INSTANTIATE_TEST_SUITE_P(Layouts, MixerRouting, ::testing::ValuesIn(kRoutes));

TEST_F(MixerDevices, MasterGroupUnitScalesTheDeviceOutputByItsUserData) {
    FMOD::System* s = open(0, FMOD_SPEAKERMODE_STEREO);
    GenState& gen = gens.emplace_back();
    gen.constant[0] = 0.5f;
    gen.constant[1] = -0.5f;
    float& gain = gains.emplace_back(0.25f);
    FMOD::ChannelGroup* master = nullptr;
    ASSERT_EQ(s->getMasterChannelGroup(&master), FMOD_OK);
    FMOD::DSP* masterGain = unit(s, "MasterGain", 0, scaleRead, &gain);
    ASSERT_EQ(master->addDSP(masterGain, nullptr), FMOD_OK);
    FMOD::Channel* channel = nullptr;
    ASSERT_EQ(s->playDSP(FMOD_CHANNEL_FREE, unit(s, "Player", 2, constantRead, &gen), false, &channel), FMOD_OK);
    ASSERT_TRUE(pw::testhooks::step("Card1", 2));
    pw::testhooks::clearReceived("Card1");
    const auto got = stepAndCollect("Card1", 1, kBlock * 2);
    ASSERT_GE(got.size(), kBlock * 2);
    EXPECT_EQ(got[0], 0.125f);
    EXPECT_EQ(got[1], -0.125f);
}

}  // namespace

namespace {

double largestStep(const std::vector<float>& got, size_t from) {
    double worst = 0.0;
    for (size_t f = from + 1; f * 2 < got.size(); ++f)
        worst = std::max(worst, double(std::fabs(got[f * 2] - got[(f - 1) * 2])));
    return worst;
}

}  // namespace

TEST_F(MixerDevices, StoppingAPlayingToneFadesItOutInsteadOfCuttingIt) {
    // A -6 dBFS tone started and stopped six times, each after a different number of blocks (so
    // the stops fall at different phases), on a device stepped as fast as the mixer goes.
    FMOD::System* s = open(0, FMOD_SPEAKERMODE_STEREO);
    pw::testhooks::clearReceived("Card1");
    std::atomic<bool> stepping{true};
    std::thread stepper([&] {
        while (stepping.load()) pw::testhooks::step("Card1", 1);
    });
    const double hz = 1000.0;
    for (int play = 0; play < 6; ++play) {
        GenState& tone = gens.emplace_back();
        tone.hz = hz;
        tone.amplitude = 0.5f;
        FMOD::Channel* channel = nullptr;
        ASSERT_EQ(s->playDSP(FMOD_CHANNEL_FREE, unit(s, "Tone", 1, sineRead, &tone), true, &channel), FMOD_OK);
        // Faded in from a pause, so that the test is about the stop alone.
        ASSERT_EQ(channel->setPaused(false), FMOD_OK);
        while (tone.calls.load() < 3 + play) std::this_thread::sleep_for(std::chrono::microseconds(200));
        ASSERT_EQ(channel->stop(), FMOD_OK);
    }
    const unsigned long before = pw::testhooks::received("Card1").size();
    while (pw::testhooks::received("Card1").size() < before + 4 * kBlock * 2)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    stepping.store(false);
    stepper.join();
    const std::vector<float> got = pw::testhooks::received("Card1");
    const double toneStep = 2.0 * 0.5 * std::sin(M_PI * hz / 44100.0);
    EXPECT_LE(largestStep(got, 0), 3.0 * toneStep);
}
