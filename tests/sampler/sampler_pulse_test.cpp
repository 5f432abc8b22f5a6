// Samples heard through a real sound server: a private PulseAudio daemon with two float null
// sinks as sound cards, both monitors recorded while a sample plays once, loops, and moves to
// the other card with SetupSampler.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "TKCore.h"
#include "deck_support.h"
#include "pulse_server.hpp"
#include "sampler_test_support.h"
#include "scoped_env.hpp"
#include "signal_measure.hpp"
#include "source_capture.hpp"
#include "temp_dir.hpp"

namespace {

using namespace samplertest;

constexpr long kShotFrames = kRate * 3 / 10;  // 300 ms

// The frames a card played from `from` on, over `frames` frames (waiting for them to arrive).
std::vector<float> played(pw::test::SourceCapture& capture, size_t from, size_t frames) {
    const std::vector<float> got = capture.waitFrames(from + frames, 20.0);
    if (got.size() < 2 * (from + frames)) return {};
    return std::vector<float>(got.begin() + static_cast<long>(2 * from), got.begin() + static_cast<long>(2 * (from + frames)));
}

// Frames of sound (not silent on both channels) in an interleaved stereo capture.
double soundingFrames(const std::vector<float>& stereo) {
    return static_cast<double>(pw::test::withoutSilentFrames(stereo, 2).size() / 2);
}

std::vector<float> leftOf(const std::vector<float>& stereo) {
    std::vector<float> left;
    for (size_t i = 0; i + 1 < stereo.size(); i += 2) left.push_back(stereo[i]);
    return left;
}

TEST(SamplerPulse, PlaysOnceLoopsAndMovesToTheOtherCard) {
    if (!pw::test::PulseServer::binaryAvailable()) GTEST_SKIP() << "pulseaudio not installed";
    pw::test::ScopedEnv noTable("PELLWARDEN_DEVICE_TABLE", std::nullopt);
    pw::test::PulseServer server({{"card1", "Card1", 2, kRate}, {"card2", "Card2", 2, kRate}});
    ASSERT_TRUE(server.ready()) << server.error();
    pw::test::TempDir dir("pw-sampler-pulse-");
    struct Restore {
        std::filesystem::path previous = std::filesystem::current_path();
        ~Restore() {
            t_core.CleanUp();
            g_iSamplerSoundcard = 0;
            std::filesystem::current_path(previous);
        }
    } restore;
    std::filesystem::current_path(dir.path());
    const std::string shot = dir.file("shot.wav");
    ASSERT_TRUE(writeTone(shot, kShotFrames));

    ASSERT_EQ(t_core.InitPlayer(0, 1, kRate), 1);
    const int card1 = deck_test::findSlot("Card1", 0);
    const int card2 = deck_test::findSlot("Card2", 0);
    ASSERT_GE(card1, 0);
    ASSERT_GE(card2, 0);
    pw::test::SourceCapture one("card1.monitor", 2, kRate);
    pw::test::SourceCapture two("card2.monitor", 2, kRate);
    ASSERT_TRUE(one.ok()) << one.error();
    ASSERT_TRUE(two.ok()) << two.error();

    ASSERT_EQ(t_core.SetupSampler(card1), 1);
    std::vector<char> path = narrow(shot);
    ASSERT_EQ(t_core.LoadSample(3, path.data(), false, false), 1);
    ASSERT_EQ(t_core.SetSampleVolume(3, 10000), 1);
    ASSERT_EQ(t_core.SetSampleFrequencyPitch(3, 1.0f), 1);

    // Once: 300 ms of tone within a second.
    size_t from = one.capturedFrames();
    ASSERT_EQ(t_core.PlaySample(3, false), 1);
    std::vector<float> heard = played(one, from, kRate);
    EXPECT_NEAR(soundingFrames(heard), kShotFrames, 2048.0);
    const std::vector<float> tone = pw::test::withoutSilentFrames(heard, 2);
    EXPECT_NEAR(pw::test::rms(leftOf(tone)), kAmplitude / std::sqrt(2.0), 0.01);
    EXPECT_NEAR(pw::test::toneHz(leftOf(tone), kRate), kToneHz, 1.0);

    // Looping: still sounding after more than four laps.
    ASSERT_EQ(t_core.SetSampleMode(3, true), 1);
    from = one.capturedFrames();
    ASSERT_EQ(t_core.PlaySample(3, false), 1);
    heard = played(one, from, kRate * 3 / 2);
    EXPECT_GT(soundingFrames(heard), 1.2 * kRate);
    const std::vector<float> late(heard.end() - kRate, heard.end());  // the last half second
    EXPECT_NEAR(pw::test::rms(leftOf(pw::test::withoutSilentFrames(late, 2))), kAmplitude / std::sqrt(2.0), 0.01);

    // To the second card, at half volume: played once there, and the first card falls silent.
    ASSERT_EQ(t_core.SetSampleVolume(3, 5000), 1);
    ASSERT_EQ(t_core.SetupSampler(card2), 1);
    const size_t quietFrom = one.capturedFrames() + kRate / 4;  // what the server still held
    from = two.capturedFrames();
    ASSERT_EQ(t_core.PlaySample(3, false), 1);
    heard = played(two, from, kRate);
    EXPECT_NEAR(soundingFrames(heard), kShotFrames, 2048.0);
    EXPECT_NEAR(pw::test::rms(leftOf(pw::test::withoutSilentFrames(heard, 2))), 0.5 * kAmplitude / std::sqrt(2.0),
                0.01);
    EXPECT_EQ(soundingFrames(played(one, quietFrom, kRate / 2)), 0.0) << "the first card no longer plays it";
}

}  // namespace
