// Recording into user sounds: from a virtual record driver (a sine) and from a PulseAudio source
// (the monitor of a null sink the test plays into), while the same sound plays on another channel.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>

#include "device_table_file.hpp"
#include "fmod_testhooks.hpp"
#include "pulse_server.hpp"
#include "sound_test_util.hpp"
#include "source_capture.hpp"
#include "temp_dir.hpp"

namespace {

constexpr FMOD_MODE kLineIn = 0x44A;  // open user, software, 2D, loop normal

// The record the engine passes for a line-in deck: 200 ms of mono 16-bit audio.
FMOD_CREATESOUNDEXINFO lineInRecord() {
    FMOD_CREATESOUNDEXINFO ex;
    std::memset(&ex, 0, sizeof ex);
    ex.cbsize = 208;
    ex.length = 17640;
    ex.numchannels = 1;
    ex.defaultfrequency = 44100;
    ex.format = FMOD_SOUND_FORMAT_PCM16;
    return ex;
}

std::vector<float> contents(FMOD::Sound* sound) {
    sound->seekData(0);
    return pw::test::pcm16ToFloat(pw::test::readToEnd(sound, 17640));
}

// Waits (bounded) until `done` holds, doing `tick` between checks.
template <typename Done, typename Tick>
bool waitFor(Done done, Tick tick, int iterations = 4000) {
    for (int i = 0; i < iterations; ++i) {
        if (done()) return true;
        tick();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

int recordDriverNamed(FMOD::System* system, const std::string& part) {
    int n = 0;
    system->getRecordNumDrivers(&n);
    for (int i = 0; i < n; ++i) {
        char name[256] = {};
        system->getRecordDriverInfo(i, name, sizeof name, nullptr);
        if (std::string(name).find(part) != std::string::npos) return i;
    }
    return -1;
}

class VirtualRecording : public ::testing::Test {
protected:
    void SetUp() override {
        table_ = std::make_unique<pw::test::DeviceTableFile>(
            "output name=\"Card1\" channels=2 sink=memory pacing=stepped\n"
            "record name=\"Line In\" input=sine:440 channels=1 rate=44100\n");
        ASSERT_EQ(FMOD_System_Create(&system_), FMOD_OK);
        ASSERT_EQ(system_->init(32, FMOD_INIT_NORMAL, nullptr), FMOD_OK);
        lineIn_ = recordDriverNamed(system_, "Line In");
        ASSERT_GE(lineIn_, 0);
        FMOD_CREATESOUNDEXINFO ex = lineInRecord();
        ASSERT_EQ(system_->createSound(nullptr, kLineIn, &ex, &sound_), FMOD_OK);
    }
    void TearDown() override {
        if (system_) system_->release();  // also stops recordings still running
        table_.reset();
    }

    std::unique_ptr<pw::test::DeviceTableFile> table_;
    FMOD::System* system_ = nullptr;
    FMOD::Sound* sound_ = nullptr;
    int lineIn_ = -1;
};

TEST_F(VirtualRecording, LoopingRecordingFillsTheSoundWhileItPlays) {
    ASSERT_EQ(system_->recordStart(lineIn_, sound_, true), FMOD_OK);
    bool recording = false;
    EXPECT_EQ(system_->isRecording(lineIn_, &recording), FMOD_OK);
    EXPECT_TRUE(recording);
    FMOD::Channel* channel = nullptr;
    ASSERT_EQ(system_->playSound(FMOD_CHANNEL_REUSE, sound_, false, &channel), FMOD_OK);

    // Wait until the ring has wrapped twice: the position falls back each time.
    unsigned last = 0;
    int wraps = 0;
    const bool wrapped = waitFor(
        [&] {
            unsigned pos = 0;
            system_->getRecordPosition(lineIn_, &pos);
            EXPECT_LT(pos, 8820u);
            if (pos < last) ++wraps;
            last = pos;
            return wraps >= 2;
        },
        [&] { pw::testhooks::step("Card1", 1); });
    ASSERT_TRUE(wrapped);

    const std::vector<float> recorded = contents(sound_);
    EXPECT_NEAR(pw::test::zeroCrossingFrequency(recorded, 1, 0, 44100), 440.0, 5.0);
    EXPECT_NEAR(pw::test::rms(recorded, 1, 0), 0.5 / std::sqrt(2.0), 0.02);

    // What the channel played of it is the same tone.
    pw::testhooks::clearReceived("Card1");
    ASSERT_TRUE(pw::testhooks::step("Card1", 20));
    const std::vector<float> played = pw::testhooks::received("Card1");
    const int ch = pw::testhooks::receivedChannels("Card1");
    ASSERT_GT(ch, 0);
    EXPECT_NEAR(pw::test::zeroCrossingFrequency(played, ch, 0, 44100), 440.0, 10.0);
    EXPECT_GT(pw::test::rms(played, ch, 0), 0.1);

    bool playing = false;
    channel->isPlaying(&playing);
    EXPECT_TRUE(playing);  // a looping user sound never ends
    EXPECT_EQ(system_->recordStop(lineIn_), FMOD_OK);
    system_->isRecording(lineIn_, &recording);
    EXPECT_FALSE(recording);
}

TEST_F(VirtualRecording, OneShotRecordingStopsAtTheEnd) {
    ASSERT_EQ(system_->recordStart(lineIn_, sound_, false), FMOD_OK);
    bool recording = true;
    ASSERT_TRUE(waitFor([&] { return system_->isRecording(lineIn_, &recording) == FMOD_OK && !recording; }, [] {}));
    unsigned pos = 0;
    EXPECT_EQ(system_->getRecordPosition(lineIn_, &pos), FMOD_OK);
    EXPECT_EQ(pos, 8820u);
    // Filled to the last frame.
    const std::vector<float> recorded = contents(sound_);
    ASSERT_EQ(recorded.size(), 8820u);
    double tail = 0.0;
    for (size_t i = recorded.size() - 200; i < recorded.size(); ++i) tail += std::fabs(recorded[i]);
    EXPECT_GT(tail / 200, 0.1);
    EXPECT_NEAR(pw::test::zeroCrossingFrequency(recorded, 1, 0, 44100), 440.0, 5.0);
}

TEST_F(VirtualRecording, BadRequestsAreRefused) {
    EXPECT_EQ(system_->recordStart(-1, sound_, true), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(system_->recordStart(99, sound_, true), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(system_->recordStart(lineIn_, nullptr, true), FMOD_ERR_INVALID_PARAM);
    // Only sounds in memory can be recorded into.
    pw::test::TempDir dir("pw-sound-rec-");
    ASSERT_TRUE(pw::test::writeFile(dir.file("in.raw"), pw::test::makePcm(4410, 1, 2)));
    ASSERT_TRUE(pw::test::run("sox -t raw -r 44100 -e signed-integer -b 16 -c 1 " + dir.file("in.raw") + " " +
                              dir.file("x.wav")));
    FMOD::Sound* stream = nullptr;
    ASSERT_EQ(system_->createStream(dir.file("x.wav").c_str(), 0xC9, nullptr, &stream), FMOD_OK);
    EXPECT_EQ(system_->recordStart(lineIn_, stream, true), FMOD_ERR_INVALID_PARAM);
    stream->release();
    // Stopping what does not run is harmless.
    EXPECT_EQ(system_->recordStop(lineIn_), FMOD_OK);
    bool recording = true;
    EXPECT_EQ(system_->isRecording(lineIn_, &recording), FMOD_OK);
    EXPECT_FALSE(recording);
}

TEST_F(VirtualRecording, ReleasingTheSoundStopsItsRecording) {
    ASSERT_EQ(system_->recordStart(lineIn_, sound_, true), FMOD_OK);
    FMOD::Channel* channel = nullptr;
    ASSERT_EQ(system_->playSound(FMOD_CHANNEL_FREE, sound_, false, &channel), FMOD_OK);
    pw::testhooks::step("Card1", 2);
    EXPECT_EQ(sound_->release(), FMOD_OK);
    bool recording = true;
    EXPECT_EQ(system_->isRecording(lineIn_, &recording), FMOD_OK);
    EXPECT_FALSE(recording);
    pw::testhooks::step("Card1", 2);
    bool playing = true;
    channel->isPlaying(&playing);
    EXPECT_FALSE(playing);
}

// ---- PulseAudio ----------------------------------------------------------------------------------

TEST(PulseRecording, MonitorOfAPlayedSinkFillsTheSoundWhileItPlaysOnAnotherCard) {
    if (!pw::test::PulseServer::binaryAvailable()) GTEST_SKIP() << "pulseaudio not installed";
    pw::test::PulseServer server({{"card1", "Card1", 2}, {"card2", "Card2", 2}});
    ASSERT_TRUE(server.ready()) << server.error();
    pw::test::TempDir dir("pw-sound-pulse-");
    ASSERT_TRUE(pw::test::run("sox -n -r 44100 -b 16 -c 1 " + dir.file("tone.wav") + " synth 1 sine 440 vol 0.5"));

    auto openOn = [](const std::string& card, FMOD::System** out) {
        ASSERT_EQ(FMOD_System_Create(out), FMOD_OK);
        int n = 0;
        (*out)->getNumDrivers(&n);
        int index = -1;
        for (int i = 0; i < n; ++i) {
            char name[256] = {};
            (*out)->getDriverInfo(i, name, sizeof name, nullptr);
            if (card == name) index = i;
        }
        ASSERT_GE(index, 0) << card;
        ASSERT_EQ((*out)->setDriver(index), FMOD_OK);
        ASSERT_EQ((*out)->init(32, FMOD_INIT_NORMAL, nullptr), FMOD_OK);
    };
    FMOD::System* player = nullptr;
    FMOD::System* recorder = nullptr;
    openOn("Card1", &player);
    openOn("Card2", &recorder);
    if (!player || !recorder) {
        if (player) player->release();
        if (recorder) recorder->release();
        return;
    }

    FMOD::Sound* tone = nullptr;
    ASSERT_EQ(player->createSound(dir.file("tone.wav").c_str(), 0x249 & ~FMOD_LOOP_OFF, nullptr, &tone), FMOD_OK);
    tone->setMode(FMOD_LOOP_NORMAL);
    FMOD::Channel* toneChannel = nullptr;
    ASSERT_EQ(player->playSound(FMOD_CHANNEL_FREE, tone, false, &toneChannel), FMOD_OK);

    const int monitor = recordDriverNamed(recorder, "Card1");
    ASSERT_GE(monitor, 0) << "no record driver for the monitor of Card1";
    FMOD_CREATESOUNDEXINFO ex = lineInRecord();
    FMOD::Sound* lineIn = nullptr;
    ASSERT_EQ(recorder->createSound(nullptr, kLineIn, &ex, &lineIn), FMOD_OK);
    ASSERT_EQ(recorder->recordStart(monitor, lineIn, true), FMOD_OK);
    FMOD::Channel* lineInChannel = nullptr;
    ASSERT_EQ(recorder->playSound(FMOD_CHANNEL_REUSE, lineIn, false, &lineInChannel), FMOD_OK);

    // The line-in sound, played on Card2, comes out of Card2's monitor as the tone.
    pw::test::SourceCapture capture("card2.monitor", 2);
    ASSERT_TRUE(capture.ok()) << capture.error();
    const std::vector<float> heard = capture.waitFrames(44100);
    ASSERT_EQ(heard.size(), 2u * 44100);
    const std::vector<float> lastHalf(heard.begin() + 44100, heard.end());
    EXPECT_NEAR(pw::test::zeroCrossingFrequency(lastHalf, 2, 0, 44100), 440.0, 10.0);
    EXPECT_GT(pw::test::rms(lastHalf, 2, 0), 0.1);

    unsigned last = 0;
    int wraps = 0;
    EXPECT_TRUE(waitFor(
        [&] {
            unsigned pos = 0;
            recorder->getRecordPosition(monitor, &pos);
            if (pos < last) ++wraps;
            last = pos;
            return wraps >= 1;
        },
        [] {}));
    const std::vector<float> recorded = contents(lineIn);
    EXPECT_NEAR(pw::test::zeroCrossingFrequency(recorded, 1, 0, 44100), 440.0, 5.0);
    EXPECT_NEAR(pw::test::rms(recorded, 1, 0), 0.5 / std::sqrt(2.0), 0.05);

    EXPECT_EQ(recorder->recordStop(monitor), FMOD_OK);
    recorder->release();
    player->release();
}

}  // namespace
