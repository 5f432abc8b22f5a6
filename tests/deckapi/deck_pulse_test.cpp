// A deck heard through a real sound server: a private PulseAudio daemon with a float null sink
// stands for the sound card, and the sink's monitor is recorded while the deck plays a tone file
// through the engine's entry points.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "PlayerList.h"
#include "TKCore.h"
#include "deck_support.h"
#include "deckapi_support.h"
#include "pulse_server.hpp"
#include "scoped_env.hpp"
#include "source_capture.hpp"
#include "temp_dir.hpp"

namespace {

constexpr int kRate = 44100;
constexpr double kToneHz = 440.0;
constexpr double kAmplitude = 0.5;
constexpr int kSeconds = 3;

TEST(DeckApiPulse, ADeckPlaysAToneThatTheSinkReceivesAtItsLevelAndPitch) {
    if (!pw::test::PulseServer::binaryAvailable()) GTEST_SKIP() << "pulseaudio not installed";
    // A device table in the environment would win over the server.
    pw::test::ScopedEnv noTable("PELLWARDEN_DEVICE_TABLE", std::nullopt);
    pw::test::PulseServer server({{"card1", "Card1", 2, kRate}});
    ASSERT_TRUE(server.ready()) << server.error();
    pw::test::TempDir dir("pw-deckapi-pulse-");
    // Shuts the engine down and restores the working directory on every way out of the test.
    struct Restore {
        std::filesystem::path previous = std::filesystem::current_path();
        ~Restore() {
            t_core.CleanUp();
            std::filesystem::current_path(previous);
        }
    } restore;
    std::filesystem::current_path(dir.path());

    // A phase offset keeps the tone from ever being 0 on both channels at once, so only the
    // silence around it is dropped from the capture.
    const std::string tone = dir.file("tone.wav");
    ASSERT_TRUE(deck_test::writeWav(tone, kRate, 2, 16, static_cast<long>(kRate) * kSeconds, [](long f, int) {
        return static_cast<float>(kAmplitude * std::sin(2 * M_PI * kToneHz * f / kRate + 0.3));
    }));

    ASSERT_EQ(t_core.InitPlayer(0, 1, kRate), 1);
    const int slot = deck_test::findSlot("Card1", 0);
    ASSERT_GE(slot, 0);
    pw::test::SourceCapture capture("card1.monitor", 2, kRate);
    ASSERT_TRUE(capture.ok()) << capture.error();

    std::vector<char> path(tone.begin(), tone.end());
    path.push_back('\0');
    ASSERT_EQ(t_core.Load(0, path.data(), slot, slot, false), 1);
    EXPECT_EQ(t_core.SetVolume(0, 10000), 1);
    EXPECT_EQ(t_core.Play(0, true), 1);
    // The whole tone and a second of what follows it (the deck plays silence past the end).
    const std::vector<float> got = capture.waitFrames(static_cast<size_t>(kRate) * (kSeconds + 1) + kRate / 2, 30.0);
    EXPECT_EQ(t_core.Stop(0), 1);
    EXPECT_EQ(t_core.Unload(0), 1);

    const std::vector<float> heard = pw::test::withoutSilentFrames(got, 2);
    const double frames = static_cast<double>(heard.size() / 2);
    // Nothing lost or repeated beyond a mixer block at either end.
    EXPECT_NEAR(frames, kRate * kSeconds, 2048.0);
    for (int channel = 0; channel < 2; ++channel) {
        SCOPED_TRACE(channel);
        const std::vector<float> one = deckapi_test::channelOf(heard, 2, channel);
        EXPECT_NEAR(deckapi_test::rms(one), kAmplitude / std::sqrt(2.0), 0.01);
        EXPECT_NEAR(deckapi_test::toneHz(one, kRate), kToneHz, 0.5);
    }
}

}  // namespace
