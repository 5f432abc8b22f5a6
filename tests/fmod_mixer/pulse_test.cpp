// Against a private PulseAudio daemon with two float null sinks: the drivers are the sinks, a tone
// played through the layer comes back bit for bit from the sink's monitor on the speakers asked
// for, and every source is a record driver.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "mixer_test_util.hpp"
#include "pulse_server.hpp"
#include "source_capture.hpp"

using namespace pw::mixtest;

namespace {

TEST(MixerPulse, SinksAreDriversAndAToneReturnsBitExactOnTheSpeakerAskedFor) {
    if (!pw::test::PulseServer::binaryAvailable()) GTEST_SKIP() << "pulseaudio not installed";
    pw::test::PulseServer server({{"card1", "Card1", 2}, {"card2", "Card2", 6}});
    ASSERT_TRUE(server.ready()) << server.error();

    FMOD::System* system = nullptr;
    ASSERT_EQ(FMOD_System_Create(&system), FMOD_OK);
    int count = 0;
    ASSERT_EQ(system->getNumDrivers(&count), FMOD_OK);
    ASSERT_EQ(count, 2);
    const struct {
        const char* name;
        FMOD_SPEAKERMODE panel;
        bool multichannel;
    } expected[] = {{"Card1", FMOD_SPEAKERMODE_STEREO, false}, {"Card2", FMOD_SPEAKERMODE_5POINT1, true}};
    for (int i = 0; i < 2; ++i) {
        char name[256] = {0};
        FMOD_CAPS caps = 0;
        FMOD_SPEAKERMODE panel = FMOD_SPEAKERMODE_RAW;
        ASSERT_EQ(system->getDriverInfo(i, name, sizeof(name), nullptr), FMOD_OK);
        ASSERT_EQ(system->getDriverCaps(i, &caps, nullptr, nullptr, &panel), FMOD_OK);
        EXPECT_STREQ(name, expected[i].name);
        EXPECT_EQ(panel, expected[i].panel);
        EXPECT_EQ((caps & FMOD_CAPS_OUTPUT_MULTICHANNEL) != 0, expected[i].multichannel);
    }
    int records = 0;
    ASSERT_EQ(system->getRecordNumDrivers(&records), FMOD_OK);
    EXPECT_EQ(records, 2);  // the two monitors
    for (int r = 0; r < records; ++r) {
        char name[256] = {0};
        EXPECT_EQ(system->getRecordDriverInfo(r, name, sizeof(name), nullptr), FMOD_OK);
        EXPECT_GT(std::strlen(name), 0u);
    }

    ASSERT_EQ(system->setDriver(1), FMOD_OK);
    ASSERT_EQ(system->setSoftwareFormat(44100, FMOD_SOUND_FORMAT_PCMFLOAT, 0, 6, FMOD_DSP_RESAMPLER_LINEAR), FMOD_OK);
    ASSERT_EQ(system->setSpeakerMode(FMOD_SPEAKERMODE_5POINT1), FMOD_OK);
    ASSERT_EQ(system->setDSPBufferSize(1024, 4), FMOD_OK);
    ASSERT_EQ(system->init(16, FMOD_INIT_NORMAL, nullptr), FMOD_OK);

    pw::test::SourceCapture capture("card2.monitor", 6);
    ASSERT_TRUE(capture.ok()) << capture.error();
    GenState gen;
    FMOD_DSP_DESCRIPTION d = describe("Player", 1, genRead, &gen);
    FMOD::DSP* head = nullptr;
    ASSERT_EQ(system->createDSP(&d, &head), FMOD_OK);
    FMOD::Channel* channel = nullptr;
    ASSERT_EQ(system->playDSP(FMOD_CHANNEL_FREE, head, true, &channel), FMOD_OK);
    ASSERT_EQ(channel->setSpeakerMix(0, 0, 1, 0, 0, 0, 0, 0), FMOD_OK);  // centre only
    ASSERT_EQ(channel->setPaused(false), FMOD_OK);

    const size_t frames = 44100;
    const auto got = capture.waitFrames(frames);
    ASSERT_EQ(got.size(), frames * 6);
    const long start = pw::test::findFirst(got, 6, 2);
    ASSERT_GE(start, 0);
    const size_t n = std::min<size_t>(8192, frames - static_cast<size_t>(start));
    ASSERT_GT(n, 4096u);
    for (size_t f = 0; f < n; ++f) {
        const size_t k = (static_cast<size_t>(start) + f) * 6;
        ASSERT_EQ(got[k + 2], genValue(f, 0)) << "frame " << f;
        for (int c : {0, 1, 3, 4, 5}) ASSERT_EQ(got[k + c], 0.0f) << "channel " << c;
    }
    EXPECT_EQ(system->release(), FMOD_OK);
}

}  // namespace
