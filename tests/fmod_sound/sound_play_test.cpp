// playSound on a virtual device that the test steps block by block: samples and streams play
// their exact audio, one-shots end and report it, loops keep going, positions and loop settings
// take effect.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>

#include "device_table_file.hpp"
#include "fmod_testhooks.hpp"
#include "sound_test_util.hpp"
#include "temp_dir.hpp"

namespace {

constexpr int kFrames = 11025;  // 0.25 s at 44100 Hz
constexpr FMOD_MODE kSample = 0x249;  // the sampler's compressed sample: one-shot
constexpr FMOD_MODE kStream = 0xC9;   // the sampler's stream: one-shot

// Mono 16-bit samples that are never zero, so silence in the output means "not playing", and that
// never repeat within the file: the tone alone repeats every 2205 frames, and the audio queued
// before a seek could then pass for the target's.
std::vector<int16_t> tone() {
    std::vector<int16_t> s(kFrames);
    for (int i = 0; i < kFrames; ++i)
        s[i] = static_cast<int16_t>(std::lround(8000.0 + 6000.0 * std::sin(2 * M_PI * 440.0 * i / 44100.0) + 4 * (i % 11)));
    return s;
}

class Playback : public ::testing::Test {
protected:
    void SetUp() override {
        const std::vector<int16_t> s = tone();
        std::vector<unsigned char> raw(s.size() * 2);
        for (size_t i = 0; i < s.size(); ++i) {
            raw[2 * i] = static_cast<unsigned char>(s[i] & 0xff);
            raw[2 * i + 1] = static_cast<unsigned char>((s[i] >> 8) & 0xff);
            source_.push_back(s[i] / 32768.0f);
        }
        ASSERT_TRUE(pw::test::writeFile(dir_.file("in.raw"), raw));
        wav_ = dir_.file("tone.wav");
        ASSERT_TRUE(pw::test::run("sox -t raw -r 44100 -e signed-integer -b 16 -c 1 " + dir_.file("in.raw") + " " + wav_));

        table_ = std::make_unique<pw::test::DeviceTableFile>(
            "output name=\"Card1\" channels=2 sink=memory pacing=stepped\n");
        ASSERT_EQ(FMOD_System_Create(&system_), FMOD_OK);
        ASSERT_EQ(system_->init(32, FMOD_INIT_NORMAL, nullptr), FMOD_OK);
        ASSERT_EQ(system_->getDSPBufferSize(&block_, nullptr), FMOD_OK);
        ASSERT_GT(block_, 0u);
    }
    void TearDown() override {
        if (system_) system_->release();
        table_.reset();
    }

    // Lets `blocks` blocks through the device; returns the left channel of what it received.
    std::vector<float> play(unsigned blocks) {
        EXPECT_TRUE(pw::testhooks::step("Card1", blocks));
        std::vector<float> all = pw::testhooks::received("Card1");
        pw::testhooks::clearReceived("Card1");
        const int ch = pw::testhooks::receivedChannels("Card1");
        std::vector<float> left;
        for (size_t i = 0; ch > 0 && i + ch <= all.size(); i += ch) left.push_back(all[i]);
        return left;
    }

    unsigned blocksFor(unsigned frames) const { return (frames + block_ - 1) / block_; }

    // Checks that `out` holds, from its first non-silent frame on, exactly the source frames
    // listed in `expected` (scaled by one constant gain), followed by silence up to `out`'s end
    // when `thenSilence` is set.
    // With `search`, the sequence may follow other audio (blocks the mixer had queued before a
    // seek): it starts where its first 32 frames match.
    void expectSequence(const std::vector<float>& out, const std::vector<int>& expected, bool thenSilence,
                        bool search = false) {
        const size_t first = locate(out, expected, search);
        ASSERT_LT(first, out.size()) << "nothing was played";
        ASSERT_LE(first + expected.size(), out.size());
        const double gain = out[first] / source_[static_cast<size_t>(expected[0])];
        ASSERT_GT(gain, 0.1);
        for (size_t i = 0; i < expected.size(); ++i) {
            ASSERT_NEAR(out[first + i], gain * source_[static_cast<size_t>(expected[i])], 1e-4)
                << "output frame " << i << " should be source frame " << expected[i];
        }
        if (!thenSilence) return;
        for (size_t i = first + expected.size(); i < out.size(); ++i) ASSERT_EQ(out[i], 0.0f) << "frame " << i;
    }

    // Where `expected` starts in `out`: its first non-silent frame, or with `search` the first
    // place whose 32 frames match; out.size() when there is none.
    size_t locate(const std::vector<float>& out, const std::vector<int>& expected, bool search) const {
        size_t first = 0;
        while (first < out.size() && out[first] == 0.0f) ++first;
        if (!search) return first;
        for (; first + 32 <= out.size(); ++first) {
            const double g = out[first] / source_[static_cast<size_t>(expected[0])];
            bool match = g > 0.1;
            for (size_t i = 0; match && i < 32; ++i)
                match = std::fabs(out[first + i] - g * source_[static_cast<size_t>(expected[i])]) < 1e-4;
            if (match) return first;
        }
        return out.size();
    }

    static std::vector<int> range(int from, int to) {  // [from, to)
        std::vector<int> v;
        for (int i = from; i < to; ++i) v.push_back(i);
        return v;
    }

    pw::test::TempDir dir_{"pw-sound-play-"};
    std::unique_ptr<pw::test::DeviceTableFile> table_;
    FMOD::System* system_ = nullptr;
    unsigned block_ = 0;
    std::string wav_;
    std::vector<float> source_;
};

struct ModeCase {
    const char* name;
    FMOD_MODE mode;
    bool viaCreateStream;
};

const ModeCase kModes[] = {
    {"sample", kSample, false},
    {"stream", kStream, false},
    {"create_stream", FMOD_LOOP_OFF, true},
};

class PlaybackModes : public Playback, public ::testing::WithParamInterface<ModeCase> {
protected:
    FMOD::Sound* open() {
        FMOD::Sound* sound = nullptr;
        const ModeCase& c = GetParam();
        const FMOD_RESULT r = c.viaCreateStream ? system_->createStream(wav_.c_str(), c.mode, nullptr, &sound)
                                                : system_->createSound(wav_.c_str(), c.mode, nullptr, &sound);
        EXPECT_EQ(r, FMOD_OK);
        return sound;
    }
};

TEST_P(PlaybackModes, OneShotPlaysToItsEndThenReportsNotPlaying) {
    FMOD::Sound* sound = open();
    ASSERT_NE(sound, nullptr);
    FMOD::Channel* channel = nullptr;
    // The sampler's call: reuse with no channel yet allocates one.
    ASSERT_EQ(system_->playSound(FMOD_CHANNEL_REUSE, sound, false, &channel), FMOD_OK);
    ASSERT_NE(channel, nullptr);
    EXPECT_EQ(channel->setPosition(0, FMOD_TIMEUNIT_MS), FMOD_OK);  // as the sampler does
    FMOD::Sound* current = nullptr;
    EXPECT_EQ(channel->getCurrentSound(&current), FMOD_OK);
    EXPECT_EQ(current, sound);
    const std::vector<float> out = play(blocksFor(kFrames) + 3);
    expectSequence(out, range(0, kFrames), true);
    bool playing = true;
    EXPECT_EQ(channel->isPlaying(&playing), FMOD_OK);
    EXPECT_FALSE(playing);
    sound->release();
}

TEST_P(PlaybackModes, LoopingSoundKeepsPlaying) {
    FMOD::Sound* sound = open();
    ASSERT_NE(sound, nullptr);
    ASSERT_EQ(sound->setMode(FMOD_LOOP_NORMAL), FMOD_OK);  // for the next play
    FMOD::Channel* channel = nullptr;
    ASSERT_EQ(system_->playSound(FMOD_CHANNEL_FREE, sound, false, &channel), FMOD_OK);
    std::vector<int> expected;
    for (int pass = 0; pass < 3; ++pass) {
        const std::vector<int> r = range(0, kFrames);
        expected.insert(expected.end(), r.begin(), r.end());
    }
    // A stream's worker refills the ring meanwhile; give it a moment between blocks.
    std::vector<float> out;
    for (unsigned b = 0; b < blocksFor(3 * kFrames) + 1; ++b) {
        const std::vector<float> part = play(1);
        out.insert(out.end(), part.begin(), part.end());
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    expectSequence(out, expected, false);
    bool playing = false;
    EXPECT_EQ(channel->isPlaying(&playing), FMOD_OK);
    EXPECT_TRUE(playing);
    channel->stop();
    sound->release();
}

TEST_P(PlaybackModes, LoopPointsAndLoopCountShapeThePlayback) {
    FMOD::Sound* sound = open();
    ASSERT_NE(sound, nullptr);
    FMOD::Channel* channel = nullptr;
    ASSERT_EQ(system_->playSound(FMOD_CHANNEL_FREE, sound, true, &channel), FMOD_OK);
    ASSERT_EQ(channel->setMode(FMOD_LOOP_NORMAL), FMOD_OK);
    ASSERT_EQ(channel->setLoopPoints(1000, FMOD_TIMEUNIT_PCM, 1999, FMOD_TIMEUNIT_PCM), FMOD_OK);
    ASSERT_EQ(channel->setLoopCount(2), FMOD_OK);
    // The sampler's habit: position 0 right after the start. A stream's worker refills its ring
    // for the new loop meanwhile.
    ASSERT_EQ(channel->setPosition(0, FMOD_TIMEUNIT_PCM), FMOD_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(channel->setPaused(false), FMOD_OK);
    // Frames 0..1999, the loop 1000..1999 twice more, then on to the end.
    std::vector<int> expected = range(0, 2000);
    for (int pass = 0; pass < 2; ++pass) {
        const std::vector<int> r = range(1000, 2000);
        expected.insert(expected.end(), r.begin(), r.end());
    }
    const std::vector<int> rest = range(2000, kFrames);
    expected.insert(expected.end(), rest.begin(), rest.end());
    std::vector<float> out;
    for (unsigned b = 0; b < blocksFor(static_cast<unsigned>(expected.size())) + 2; ++b) {
        const std::vector<float> part = play(1);
        out.insert(out.end(), part.begin(), part.end());
    }
    expectSequence(out, expected, true);
    bool playing = true;
    channel->isPlaying(&playing);
    EXPECT_FALSE(playing);
    sound->release();
}

TEST_P(PlaybackModes, PositionsInEachUnit) {
    FMOD::Sound* sound = open();
    ASSERT_NE(sound, nullptr);
    FMOD::Channel* channel = nullptr;
    ASSERT_EQ(system_->playSound(FMOD_CHANNEL_FREE, sound, true, &channel), FMOD_OK);
    ASSERT_EQ(channel->setPosition(100, FMOD_TIMEUNIT_MS), FMOD_OK);
    unsigned pcm = 0, ms = 0, bytes = 0;
    EXPECT_EQ(channel->getPosition(&pcm, FMOD_TIMEUNIT_PCM), FMOD_OK);
    EXPECT_EQ(channel->getPosition(&ms, FMOD_TIMEUNIT_MS), FMOD_OK);
    EXPECT_EQ(channel->getPosition(&bytes, FMOD_TIMEUNIT_PCMBYTES), FMOD_OK);
    EXPECT_EQ(pcm, 4410u);
    EXPECT_EQ(ms, 100u);
    EXPECT_EQ(bytes, 8820u);
    EXPECT_EQ(channel->setPosition(kFrames + 1, FMOD_TIMEUNIT_PCM), FMOD_ERR_INVALID_POSITION);
    EXPECT_EQ(channel->setPosition(0, 0x100), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(channel->getPosition(&pcm, 0x100), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(channel->setLoopCount(-2), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(channel->setLoopPoints(10, FMOD_TIMEUNIT_PCM, 5, FMOD_TIMEUNIT_PCM), FMOD_ERR_INVALID_PARAM);

    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // a stream's worker answers the seek
    ASSERT_EQ(channel->setPaused(false), FMOD_OK);
    const std::vector<float> out = play(blocksFor(kFrames - 4410) + 2);
    expectSequence(out, range(4410, kFrames), true);
    sound->release();
}

TEST_P(PlaybackModes, ReleasingThePlayingSoundEndsTheChannel) {
    FMOD::Sound* sound = open();
    ASSERT_NE(sound, nullptr);
    sound->setMode(FMOD_LOOP_NORMAL);
    FMOD::Channel* channel = nullptr;
    ASSERT_EQ(system_->playSound(FMOD_CHANNEL_FREE, sound, false, &channel), FMOD_OK);
    play(2);
    ASSERT_EQ(sound->release(), FMOD_OK);
    const std::vector<float> out = play(3);
    for (size_t i = out.size() / 3; i < out.size(); ++i) ASSERT_EQ(out[i], 0.0f) << i;
    bool playing = true;
    EXPECT_EQ(channel->isPlaying(&playing), FMOD_OK);
    EXPECT_FALSE(playing);
}

INSTANTIATE_TEST_SUITE_P(Modes, PlaybackModes, ::testing::ValuesIn(kModes),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Playback, StreamSeekWhilePlayingContinuesFromTheTarget) {
    FMOD::Sound* sound = nullptr;
    ASSERT_EQ(system_->createStream(wav_.c_str(), kStream, nullptr, &sound), FMOD_OK);
    FMOD::Channel* channel = nullptr;
    ASSERT_EQ(system_->playSound(FMOD_CHANNEL_FREE, sound, false, &channel), FMOD_OK);
    expectSequence(play(2), range(0, static_cast<int>(block_)), false);
    ASSERT_EQ(channel->setPosition(7000, FMOD_TIMEUNIT_PCM), FMOD_OK);
    // Until the worker has refilled the ring the channel plays silence, never old audio (apart
    // from what the mixer had queued before the seek).
    // The worker's refill time is not ours to know (sanitizers slow it a lot): step until the
    // whole target sequence and ten blocks after it have been played, within a generous deadline.
    const std::vector<int> expected = range(7000, kFrames);
    std::vector<float> out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::vector<float> part = play(1);
        out.insert(out.end(), part.begin(), part.end());
        const size_t first = locate(out, expected, true);
        if (first < out.size() && first + expected.size() + 10 * block_ <= out.size()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    expectSequence(out, expected, true, true);
    sound->release();
}

TEST_F(Playback, ReadersOfAPlayingStreamDoNotDisturbItsChannel) {
    // Java threads read and seek a sound (analysis) while the prefetch worker feeds its channel:
    // each keeps its own position, and the sound serialises them.
    FMOD::Sound* sound = nullptr;
    ASSERT_EQ(system_->createSound(wav_.c_str(), 0xC0CA, nullptr, &sound), FMOD_OK);  // a deck's stream: loops
    FMOD::Channel* channel = nullptr;
    ASSERT_EQ(system_->playSound(FMOD_CHANNEL_FREE, sound, false, &channel), FMOD_OK);
    std::atomic<bool> stop{false};
    std::atomic<int> faults{0};
    auto reader = [&](unsigned seed) {
        std::vector<unsigned char> buf(3000);
        while (!stop.load()) {
            seed = seed * 1103515245u + 12345u;
            if (sound->seekData(seed % kFrames) != FMOD_OK) ++faults;
            unsigned got = 0;
            const FMOD_RESULT r = sound->readData(buf.data(), static_cast<unsigned>(buf.size()), &got);
            if ((r != FMOD_OK && r != FMOD_ERR_FILE_EOF) || got % 2 != 0) ++faults;
            unsigned length = 0;
            if (sound->getLength(&length, FMOD_TIMEUNIT_PCM) != FMOD_OK || length != kFrames) ++faults;
        }
    };
    std::thread a(reader, 1u);
    std::thread b(reader, 2u);
    std::vector<float> out;
    for (unsigned i = 0; i < blocksFor(2 * kFrames) + 1; ++i) {
        const std::vector<float> part = play(1);
        out.insert(out.end(), part.begin(), part.end());
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    stop = true;
    a.join();
    b.join();
    EXPECT_EQ(faults.load(), 0);
    std::vector<int> expected = range(0, kFrames);
    const std::vector<int> again = range(0, kFrames);
    expected.insert(expected.end(), again.begin(), again.end());
    expectSequence(out, expected, false);
    sound->release();
}

TEST_F(Playback, BadArgumentsAreRefused) {
    FMOD::Channel* channel = nullptr;
    EXPECT_EQ(system_->playSound(FMOD_CHANNEL_FREE, nullptr, false, &channel), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(channel, nullptr);
}

}  // namespace
