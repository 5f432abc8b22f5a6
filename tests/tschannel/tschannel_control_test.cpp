// Operations that answer without audio: argument checks and result codes, the inert channel, the
// scratch low-pass and vinyl speed tables, tempo changes with and without a re-seek, the beat
// list and the pass-through resampler.
#include <gtest/gtest.h>

#include <string>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "tschannel_rig.h"

using namespace tsc_test;

namespace {


class Control : public ChannelFixture {
protected:
    void SetUp() override {
        open(makeTone(440.0, 20 * kRate), false);
        ASSERT_NE(channel->getLowPassDSP(), nullptr);
    }
    float cutoff() {
        float v = -1.0f;
        channel->getLowPassDSP()->getParameter(0, &v, nullptr, 0);
        return v;
    }
    float frequency() {
        float f = -1.0f;
        channel->getFMODChannel()->getFrequency(&f);
        return f;
    }
};

TEST_F(Control, BadArgumentsAreRefusedWithTheirCodes) {
    unsigned int pos = 0;
    float levels[3] = {1.0f, 1.0f, 1.0f};
    struct Row {
        const char* what;
        int result;
        int expected;
    };
    const Row rows[] = {
        {"setLoopCount(1)", channel->setLoopCount(1), FMOD_ERR_INVALID_PARAM},
        {"setLoopCount(-2)", channel->setLoopCount(-2), FMOD_ERR_INVALID_PARAM},
        {"setLoopCount(0)", channel->setLoopCount(0), FMOD_OK},
        {"setLoopCount(-1)", channel->setLoopCount(-1), FMOD_OK},
        {"setLoopPoints ms/pcm", channel->setLoopPoints(100, 1, 200, 2), FMOD_ERR_INVALID_PARAM},
        {"setLoopPoints unit 3", channel->setLoopPoints(100, 3, 200, 3), FMOD_ERR_INVALID_PARAM},
        {"getPosition unit 3", channel->getPosition(&pos, 3, false), FMOD_ERR_INVALID_PARAM},
        {"getPosition null", channel->getPosition(nullptr, 1, true), FMOD_ERR_INVALID_PARAM},
        {"setPosition unit 4", channel->setPosition(10, 4), FMOD_ERR_INVALID_PARAM},
        {"setSpeakerLevels 3", channel->setSpeakerLevels(FMOD_SPEAKER_FRONT_LEFT, levels, 3), FMOD_ERR_UNSUPPORTED},
        {"setSpeakerLevels 16", channel->setSpeakerLevels(static_cast<FMOD_SPEAKER>(16), levels, 2),
         FMOD_ERR_UNSUPPORTED},
        {"setSpeakerLevels ok", channel->setSpeakerLevels(FMOD_SPEAKER_FRONT_LEFT, levels, 2), FMOD_OK},
        {"setBeatEvents null", channel->setBeatEvents(nullptr), -5},
        {"setPan", channel->setPan(0.2f), FMOD_OK},
    };
    for (const Row& row : rows) EXPECT_EQ(row.result, row.expected) << row.what;
}

TEST(InertChannel, WithoutSystemEveryOperationAnswersWithoutCrashing) {
    TimeStretchedChannel channel(nullptr, nullptr, true);
    unsigned int pos = 7;
    bool paused = false;
    float buf[64];
    struct Row {
        const char* what;
        int result;
        int expected;
    };
    const Row rows[] = {
        {"setPaused", channel.setPaused(false), FMOD_ERR_INTERNAL},
        {"getPaused", channel.getPaused(&paused), FMOD_ERR_MEMORY},
        {"addDSP", channel.addDSP(nullptr, nullptr), FMOD_ERR_INTERNAL},
        {"stop", channel.stop(), FMOD_ERR_INTERNAL},
        {"setVolume", channel.setVolume(1.0f), FMOD_ERR_MEMORY},
        {"setPan", channel.setPan(0.0f), FMOD_ERR_MEMORY},
        {"setPitch", channel.setPitch(1.0f), FMOD_ERR_MEMORY},
        {"setHighResPitch", channel.setHighResPitch(1.0f), FMOD_ERR_MEMORY},
        {"getPosition", channel.getPosition(&pos, 1, true), FMOD_ERR_MEMORY},
        {"getPosition null", channel.getPosition(nullptr, 1, true), FMOD_ERR_MEMORY},
        {"setPosition", channel.setPosition(0, 1), FMOD_ERR_MEMORY},
        {"setLoopCount", channel.setLoopCount(0), FMOD_ERR_MEMORY},
        {"addPlaybackSnippet", channel.addPlaybackSnippet(0, 10), FMOD_ERR_MEMORY},
        {"setReverse", channel.setReverse(true), FMOD_ERR_MEMORY},
        {"setScratchIntensity", channel.setScratchIntensity(2.0f), FMOD_OK},
        {"readFromBuffer paused", channel.readFromBuffer(buf, 32, 2), FMOD_ERR_INTERNAL},
    };
    for (const Row& row : rows) EXPECT_EQ(row.result, row.expected) << row.what;
    EXPECT_EQ(pos, 7u);
    EXPECT_EQ(channel.getPositionRawMs(), 0u);
}

TEST_F(Control, ScratchLowPassFollowsTheSpeedMultiple) {
    struct Row {
        float intensity;
        float cutoff;
    };
    const Row rows[] = {{0.0f, 22000.0f}, {1.0f, 20900.0f}, {-1.0f, 20900.0f}, {2.0f, 17600.0f},
                        {0.5f, 17600.0f}, {0.25f, 4400.0f}, {4.0f, 4400.0f},   {-4.0f, 4400.0f},
                        {10.0f, 2500.0f}, {0.1f, 2500.0f},  {4.3f, 2500.0f},   {3.0f, 12100.0f}};
    for (const Row& row : rows) {
        EXPECT_EQ(channel->setScratchIntensity(row.intensity), FMOD_OK);
        EXPECT_NEAR(cutoff(), row.cutoff, 0.01f) << "intensity " << row.intensity;
    }
}

TEST_F(Control, VinylSpeedSetsFrequencyDirectionAndLowPass) {
    struct Row {
        double speed;
        float frequency;
        bool reverse;
        float cutoff;
    };
    const Row rows[] = {
        {1.0, 44100.0f, false, 20900.0f}, {2.0, 88200.0f, false, 17600.0f}, {-1.0, 44100.0f, true, 20900.0f},
        {0.5, 22050.0f, false, 17600.0f}, {-3.0, 132300.0f, true, 12100.0f}, {0.25, 11025.0f, false, 4400.0f},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(channel->SetFrequencyHighResPitch(row.speed), 1);
        EXPECT_FLOAT_EQ(frequency(), row.frequency) << row.speed;
        EXPECT_EQ(channel->getLoopSound()->isReverse(), row.reverse) << row.speed;
        EXPECT_NEAR(cutoff(), row.cutoff, 0.01f) << row.speed;
    }
}

// The vinyl controller's platter mode reaches the channel through SetFrequencyHighResPitch.
TEST_F(Control, VinylPlatterModeDrivesTheChannel) {
    ASSERT_EQ(channel->enableVirtualVinyl(true), 1);
    for (double mode : {2.0, -1.5, 1.0}) {
        ASSERT_EQ(channel->setVirtualVTMode(mode), 1);
        EXPECT_FLOAT_EQ(frequency(), static_cast<float>(std::fabs(mode) * 44100.0)) << mode;
        EXPECT_EQ(channel->getLoopSound()->isReverse(), mode < 0.0) << mode;
    }
}

TEST_F(Control, SameSpeedAndDirectionChangesNothing) {
    EXPECT_EQ(channel->setPitch(-1.0f), FMOD_OK);
    EXPECT_TRUE(channel->getLoopSound()->isReverse());
    EXPECT_FLOAT_EQ(frequency(), 44100.0f);
    channel->getFMODChannel()->setFrequency(1000.0f);  // a change the second call must not undo
    EXPECT_EQ(channel->setPitch(-1.0f), 0);
    EXPECT_FLOAT_EQ(frequency(), 1000.0f);
    EXPECT_EQ(channel->setPitch(1.0f), FMOD_OK);
    EXPECT_FALSE(channel->getLoopSound()->isReverse());
    EXPECT_FLOAT_EQ(frequency(), 44100.0f);
}

// A tempo change re-seeks only while the deck is silent (paused or at volume 0), the factor
// changes and resync is asked for; audible play keeps its backlog.
TEST_F(Control, TempoChangeReseeksOnlyWhenSilent) {
    struct Row {
        bool paused;
        float volume;
        bool resync;
        float factor;
        bool reseek;
    };
    const Row rows[] = {
        {false, 1.0f, true, 0.8f, false}, {true, 1.0f, true, 0.8f, true},   {false, 0.0f, true, 0.8f, true},
        {true, 1.0f, false, 0.8f, false}, {true, 1.0f, true, 1.0f, false},
    };
    channel->getOutputBuffer()->setBypass(true);
    takeOverPrefetch(*channel);
    std::vector<float> block(kBlock * 2);
    for (const Row& row : rows) {
        ASSERT_EQ(channel->setPosition(0, FMOD_TIMEUNIT_PCM), FMOD_OK);
        channel->setTimeStretch(1.0f, false);
        channel->setPaused(false);
        for (int i = 0; i < 10; ++i) {
            feedPrefetch(*channel);
            channel->readFromBuffer(block.data(), kBlock, 2);
        }
        const unsigned int heard = heardFrame(*channel);
        ASSERT_GE(heard, 8 * kBlock);
        channel->setPaused(row.paused);
        channel->setVolume(row.volume);
        // A re-seek goes to the millisecond reported: paused, that of the heard frame (which lies
        // a few frames before it); playing, where the report stands (it moves with the clock).
        LoopSound* loop = channel->getLoopSound();
        unsigned int reported = 0;
        ASSERT_EQ(channel->getPosition(&reported, FMOD_TIMEUNIT_MS, true), FMOD_OK);
        channel->setTimeStretch(row.factor, row.resync);
        EXPECT_FLOAT_EQ(channel->getTimeStretch(), row.factor);
        const unsigned int reseekTo = loop->ConvertMS2PCM(loop->ConvertPCM2MS(heard));
        ASSERT_NE(reseekTo, heard);
        const unsigned int now = heardFrame(*channel);
        const std::string where = std::string("paused ") + (row.paused ? "1" : "0") + " volume " +
                                  std::to_string(row.volume) + " resync " + (row.resync ? "1" : "0");
        if (!row.reseek) {
            EXPECT_EQ(now, heard) << where;
        } else if (row.paused) {
            EXPECT_EQ(now, reseekTo) << where;
        } else {
            EXPECT_NEAR(static_cast<double>(now), static_cast<double>(loop->ConvertMS2PCM(reported)), kRate / 1000.0)
                << where;
        }
        channel->setVolume(1.0f);
    }
}

TEST_F(Control, BeatListIsCopiedInMillisecondsSkippingNulls) {
    Event a(1.5, 3.0), b(0.25, 1.0);
    std::vector<Event*> list = {&a, nullptr, &b};
    EXPECT_EQ(channel->setBeatEvents(&list), 1);
    ASSERT_EQ(channel->getBeatEventCount(), 2u);
    EXPECT_DOUBLE_EQ(channel->getBeatEventTime(0), 1500.0);
    EXPECT_DOUBLE_EQ(channel->getBeatEventTime(1), 250.0);
    std::vector<Event*> empty;
    EXPECT_EQ(channel->setBeatEvents(&empty), 1);
    EXPECT_EQ(channel->getBeatEventCount(), 0u);
}

// The line-in gain unit: a straight copy at gain 1, a scaled copy otherwise, nothing written
// without buffers, and 44 for a call that has no state, no frames or no input channels.
TEST_F(Control, LineInGainUnitScalesOrRefuses) {
    FMOD_DSP_DESCRIPTION desc;
    std::memset(&desc, 0, sizeof desc);
    std::strncpy(desc.name, "probe", sizeof desc.name - 1);
    desc.userdata = channel.get();
    FMOD::DSP* unit = nullptr;
    ASSERT_EQ(rig.system()->createDSP(&desc, &unit), FMOD_OK);
    FMOD_DSP_STATE state{unit, nullptr, 0};
    struct Row {
        float gain;
        bool withState;
        unsigned int length;
        bool withOutput;
        int result;
        float expected;  // out[3] afterwards; 9 = untouched
    };
    const Row rows[] = {
        {1.0f, true, 4, true, FMOD_OK, 0.4f},   {0.5f, true, 4, true, FMOD_OK, 0.2f},
        {0.5f, true, 4, false, FMOD_OK, 9.0f},  {0.5f, false, 4, true, FMOD_ERR_MEMORY, 9.0f},
        {0.5f, true, 0, true, FMOD_ERR_MEMORY, 9.0f},
    };
    for (const Row& row : rows) {
        channel->setGain(row.gain);
        float in[8] = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f};
        float out[8];
        for (float& v : out) v = 9.0f;
        const FMOD_RESULT r = TimeStretchedChannel::GainFactor(row.withState ? &state : nullptr, in,
                                                               row.withOutput ? out : nullptr, row.length, 2, 2);
        EXPECT_EQ(r, row.result) << "gain " << row.gain;
        EXPECT_FLOAT_EQ(out[3], row.expected) << "gain " << row.gain;
    }
    unit->release();
}

struct CountingSource : com_tarvenkolm_resampler::ITKResamplerSource {
    int calls = 0;
    unsigned int lastFrames = 0;
    int readFromBuffer(float* buffer, unsigned int frames, int channels) override {
        ++calls;
        lastFrames = frames;
        for (unsigned int i = 0; i < frames * static_cast<unsigned int>(channels); ++i) buffer[i] = 0.25f;
        return 7;
    }
};

TEST(NoResampler, PassesReadsThroughAndRefusesWithoutSource) {
    CountingSource source;
    com_tarvenkolm_resampler::NoResampler through(&source, com_tarvenkolm_resampler::RESAMPLER_QUALITY_NONE, 2, 44100.0f);
    float buf[20] = {};
    EXPECT_EQ(through.readFromBuffer(buf, 10, 2), 7);
    EXPECT_EQ(source.calls, 1);
    EXPECT_EQ(source.lastFrames, 10u);
    EXPECT_EQ(buf[19], 0.25f);
    EXPECT_EQ(through.setPitch(2.0f), 0);
    EXPECT_EQ(through.reset(), 0);
    com_tarvenkolm_resampler::NoResampler none(nullptr, com_tarvenkolm_resampler::RESAMPLER_QUALITY_NONE, 2, 44100.0f);
    EXPECT_EQ(none.readFromBuffer(buf, 10, 2), 2);
}

}  // namespace
