// Files whose headers lie (make_hostile_corpus.py): each opens with an error or plays, and a
// header value never sizes an allocation. Lengths the data cannot hold come from the data.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "device_table_file.hpp"
#include "fmod_testhooks.hpp"
#include "sound_test_util.hpp"
#include "temp_dir.hpp"

namespace {

constexpr FMOD_MODE kSample = 0x249;   // the sampler's compressed sample
constexpr FMOD_MODE kStream = 0xC9;    // the sampler's stream
constexpr FMOD_MODE kDeck = 0xE0CA;    // a deck's stream: accurate length, MPEG search

class HostileFiles : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pw::test::run("/usr/bin/python3 " PW_TEST_SOURCE_DIR "/make_hostile_corpus.py " + dir_.path()));
        table_ = std::make_unique<pw::test::DeviceTableFile>(
            "output name=\"Card1\" channels=2 sink=memory pacing=stepped\n");
        ASSERT_EQ(FMOD_System_Create(&system_), FMOD_OK);
        ASSERT_EQ(system_->init(32, FMOD_INIT_NORMAL, nullptr), FMOD_OK);
    }
    void TearDown() override {
        if (system_) system_->release();
        table_.reset();
    }

    std::vector<std::string> corpus() const {
        std::vector<std::string> names;
        if (DIR* d = opendir(dir_.path().c_str())) {
            while (dirent* e = readdir(d))
                if (e->d_name[0] != '.') names.push_back(e->d_name);
            closedir(d);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    pw::test::TempDir dir_{"pw-hostile-"};
    std::unique_ptr<pw::test::DeviceTableFile> table_;
    FMOD::System* system_ = nullptr;
};

// Whatever a file claims: an error result, or a sound that reads, seeks and plays.
TEST_F(HostileFiles, EveryFileOpensWithAnErrorOrPlays) {
    const std::vector<std::string> names = corpus();
    ASSERT_GE(names.size(), 15u);
    for (const std::string& name : names) {
        for (FMOD_MODE mode : {kSample, kStream, kDeck}) {
            SCOPED_TRACE(name + " mode " + std::to_string(mode));
            FMOD::Sound* sound = nullptr;
            const FMOD_RESULT r = system_->createSound(dir_.file(name).c_str(), mode, nullptr, &sound);
            if (r != FMOD_OK) {
                EXPECT_EQ(sound, nullptr);
                EXPECT_TRUE(r == FMOD_ERR_FORMAT || r == FMOD_ERR_FILE_BAD || r == FMOD_ERR_MEMORY) << r;
                continue;
            }
            ASSERT_NE(sound, nullptr);
            unsigned length = 0;
            EXPECT_EQ(sound->getLength(&length, FMOD_TIMEUNIT_PCM), FMOD_OK);
            std::vector<unsigned char> buffer(65536);
            unsigned read = 0;
            sound->readData(buffer.data(), static_cast<unsigned>(buffer.size()), &read);
            sound->seekData(length / 2);
            sound->readData(buffer.data(), static_cast<unsigned>(buffer.size()), &read);
            FMOD::Channel* channel = nullptr;
            EXPECT_EQ(system_->playSound(FMOD_CHANNEL_FREE, sound, false, &channel), FMOD_OK);
            EXPECT_TRUE(pw::testhooks::step("Card1", 8));
            if (channel) channel->stop();
            EXPECT_EQ(sound->release(), FMOD_OK);
        }
    }
    pw::testhooks::clearReceived("Card1");
}

// Rates outside 1 kHz-768 kHz and more channels than a channel plays are refused as a format
// error before anything is sized from them.
TEST_F(HostileFiles, ImpossibleFormatsAreRefused) {
    for (const char* name : {"wav-rate-2e31.wav", "wav-rate-4e9.wav", "wav-rate-100.wav", "wav-rate-1.wav",
                             "aiff-rate-2e31.aiff", "aiff-rate-1e300.aiff", "wav-channels-9.wav",
                             "wav-channels-1000.wav"}) {
        for (FMOD_MODE mode : {kSample, kStream}) {
            SCOPED_TRACE(std::string(name) + " mode " + std::to_string(mode));
            FMOD::Sound* sound = nullptr;
            EXPECT_EQ(system_->createSound(dir_.file(name).c_str(), mode, nullptr, &sound), FMOD_ERR_FORMAT);
            EXPECT_EQ(sound, nullptr);
        }
    }
}

// A length the file's data cannot hold is replaced by the data's own: every one of these files
// holds 1000 frames whatever its header says.
TEST_F(HostileFiles, LengthsComeFromTheDataWhenTheHeaderCannotBeTrue) {
    const std::map<std::string, unsigned> expected = {
        {"wav-rate-ok.wav", 1000},       {"wav-data-4g.wav", 1000},       {"aiff-frames-4g.aiff", 1000},
        {"flac-frames-2e36.flac", 1000}, {"flac-frames-2e30.flac", 1000},
    };
    for (const auto& [name, frames] : expected) {
        for (FMOD_MODE mode : {kSample, kStream, kDeck}) {
            SCOPED_TRACE(name + " mode " + std::to_string(mode));
            FMOD::Sound* sound = nullptr;
            ASSERT_EQ(system_->createSound(dir_.file(name).c_str(), mode, nullptr, &sound), FMOD_OK);
            unsigned length = 0;
            EXPECT_EQ(sound->getLength(&length, FMOD_TIMEUNIT_PCM), FMOD_OK);
            EXPECT_EQ(length, frames);
            const std::vector<unsigned char> all = pw::test::readToEnd(sound, 4096);
            EXPECT_EQ(all.size(), frames * 4u);
            sound->release();
        }
    }
}

// An MP3 that turns from stereo to mono half-way keeps the first part's shape: the mono half is
// heard on both channels at its own speed, not read as half as many stereo frames.
TEST_F(HostileFiles, AnMp3ThatChangesShapeKeepsItsFirstShape) {
    FMOD::Sound* sound = nullptr;
    ASSERT_EQ(system_->createSound(dir_.file("mp3-stereo-then-mono.mp3").c_str(), kDeck, nullptr, &sound), FMOD_OK);
    int channels = 0;
    ASSERT_EQ(sound->getFormat(nullptr, nullptr, &channels, nullptr), FMOD_OK);
    EXPECT_EQ(channels, 2);
    unsigned length = 0;
    ASSERT_EQ(sound->getLength(&length, FMOD_TIMEUNIT_PCM), FMOD_OK);
    const std::vector<unsigned char> all = pw::test::readToEnd(sound, 4096);
    // 0.5 s of each part plus each encoder's delay and padding (no gapless tag: lame -t).
    EXPECT_EQ(all.size(), length * 4u);
    EXPECT_GE(length, 44100u);
    EXPECT_LE(length, 44100u + 4 * 1152u);
    // The mono part's 1 kHz tone, at the right speed, on both channels alike.
    const std::vector<float> pcm = pw::test::pcm16ToFloat(all);
    const std::vector<float> tail(pcm.end() - 2 * 16384, pcm.end() - 2 * 4096);
    EXPECT_NEAR(pw::test::zeroCrossingFrequency(tail, 2, 0, 44100), 1000.0, 20.0);
    EXPECT_NEAR(pw::test::zeroCrossingFrequency(tail, 2, 1, 44100), 1000.0, 20.0);
    sound->release();
}

}  // namespace
