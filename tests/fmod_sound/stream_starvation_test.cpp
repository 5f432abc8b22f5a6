// One stream's slow seek never silences another stream: two streams play on a card paced in real
// time, one of them seeks in a file whose seek takes longer than a stream's ring lasts, and the
// other's tone must reach the card without a gap. getLength on the seeking sound answers while
// its seek is still running.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "device_table_file.hpp"
#include "fmod_testhooks.hpp"
#include "sound_test_util.hpp"
#include "temp_dir.hpp"

namespace {

// The longest run of silent frames in the left channel from the first audible frame on.
size_t longestSilence(const std::vector<float>& interleaved, int channels) {
    size_t longest = 0;
    size_t run = 0;
    bool started = false;
    for (size_t i = 0; i + static_cast<size_t>(channels) <= interleaved.size(); i += static_cast<size_t>(channels)) {
        const bool silent = std::fabs(interleaved[i]) < 1e-4f;
        if (!started) {
            started = !silent;
            continue;
        }
        run = silent ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

TEST(StreamStarvation, ASlowSeekInOneStreamLeavesAnotherPlaying) {
    pw::test::TempDir dir("pw-starve-");
    // A tone that never rests on zero for more than a sample or two: an offset sine.
    ASSERT_TRUE(pw::test::run("sox -n -r 44100 -c 2 -b 16 " + dir.file("tone.wav") + " synth 30 sine 441 vol 0.5 dcshift 0.2"));
    ASSERT_TRUE(pw::test::writeFile(dir.file("long.slowseek"), {0}));
    pw::test::DeviceTableFile table("output name=\"Card1\" channels=2 sink=memory pacing=realtime\n");
    FMOD::System* system = nullptr;
    ASSERT_EQ(FMOD_System_Create(&system), FMOD_OK);
    ASSERT_EQ(system->setDSPBufferSize(256, 4), FMOD_OK);
    ASSERT_EQ(system->init(32, FMOD_INIT_NORMAL, nullptr), FMOD_OK);
    ASSERT_EQ(system->setPluginPath(PW_SLOW_PLUGIN_DIR), FMOD_OK);
    unsigned handle = 0;
    ASSERT_EQ(system->loadPlugin("slow_seek_codec.so", &handle, 0), FMOD_OK);

    FMOD::Sound* tone = nullptr;
    FMOD::Sound* slow = nullptr;
    ASSERT_EQ(system->createStream(dir.file("tone.wav").c_str(), 0xC0CA, nullptr, &tone), FMOD_OK);
    ASSERT_EQ(system->createStream(dir.file("long.slowseek").c_str(), 0xC0CA, nullptr, &slow), FMOD_OK);
    FMOD::Channel* toneChannel = nullptr;
    FMOD::Channel* slowChannel = nullptr;
    ASSERT_EQ(system->playSound(FMOD_CHANNEL_FREE, slow, false, &slowChannel), FMOD_OK);
    ASSERT_EQ(system->playSound(FMOD_CHANNEL_FREE, tone, false, &toneChannel), FMOD_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    // The seek runs on the slow stream's worker; meanwhile its length is still answered.
    ASSERT_EQ(slowChannel->setPosition(44100 * 30, FMOD_TIMEUNIT_PCM), FMOD_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::atomic<bool> answered{false};
    std::thread query([&] {
        unsigned length = 0;
        slow->getLength(&length, FMOD_TIMEUNIT_PCM);
        answered = length == 44100u * 60;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const bool answeredDuringSeek = answered.load();
    // Long enough for the seek to end: 2.5 s, more than the tone's ring of about 1.5 s holds.
    std::this_thread::sleep_for(std::chrono::milliseconds(2800));
    query.join();
    EXPECT_TRUE(answeredDuringSeek) << "getLength waited for the seek";

    bool playing = false;
    EXPECT_EQ(toneChannel->isPlaying(&playing), FMOD_OK);
    EXPECT_TRUE(playing);
    const std::vector<float> out = pw::testhooks::received("Card1");
    ASSERT_GT(out.size(), 2u * 44100 * 3);
    EXPECT_LE(longestSilence(out, 2), 4u) << "the tone stream ran dry while the other stream sought";

    toneChannel->stop();
    slowChannel->stop();
    tone->release();
    slow->release();
    system->release();
}

}  // namespace
