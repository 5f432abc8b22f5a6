// The master bus heard through a real sound server: a private PulseAudio daemon with two float
// null sinks as sound cards, a deck playing a 1 kHz tone on the first, and the first sink's
// monitor recorded while master bands, master gain and master volume change.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "PlayerList.h"
#include "TKCore.h"
#include "deck_support.h"
#include "pulse_server.hpp"
#include "scoped_env.hpp"
#include "signal_measure.hpp"
#include "source_capture.hpp"
#include "temp_dir.hpp"

namespace {

constexpr int kRate = 44100;
constexpr double kToneHz = 1000.0;
constexpr double kAmplitude = 0.2;
constexpr int kSeconds = 20;
// After a change: what the server may still hold of the old setting, then the measured window.
constexpr size_t kSettleFrames = kRate / 2;
constexpr size_t kWindowFrames = kRate / 2;

double decibels(double ratio) { return 20.0 * std::log10(ratio); }

// The RMS of the left channel of the next window the card plays, once the settings of the moment
// have reached the monitor.
double nextLevel(pw::test::SourceCapture& capture) {
    const size_t start = capture.capturedFrames() + kSettleFrames;
    const std::vector<float> got = capture.waitFrames(start + kWindowFrames, 20.0);
    if (got.size() < 2 * (start + kWindowFrames)) return NAN;
    // A loaded machine may let the server (or the deck) underrun: the gaps are exact silence on
    // both channels, and are left out so that only the level of the tone is compared.
    const std::vector<float> window(got.begin() + static_cast<long>(2 * start),
                                    got.begin() + static_cast<long>(2 * (start + kWindowFrames)));
    const std::vector<float> sounding = pw::test::withoutSilentFrames(window, 2);
    std::vector<float> left;
    for (size_t i = 0; i < sounding.size(); i += 2) left.push_back(sounding[i]);
    return left.size() < kWindowFrames / 2 ? NAN : pw::test::rms(left);
}

TEST(MasterPulse, BandsGainAndVolumeShapeWhatTheCardPlays) {
    if (!pw::test::PulseServer::binaryAvailable()) GTEST_SKIP() << "pulseaudio not installed";
    pw::test::ScopedEnv noTable("PELLWARDEN_DEVICE_TABLE", std::nullopt);
    pw::test::PulseServer server({{"card1", "Card1", 2, kRate}, {"card2", "Card2", 2, kRate}});
    ASSERT_TRUE(server.ready()) << server.error();
    pw::test::TempDir dir("pw-master-pulse-");
    struct Restore {
        std::filesystem::path previous = std::filesystem::current_path();
        ~Restore() {
            t_core.CleanUp();
            for (int& uses : CTKCore::g_SystemsUseCount) uses = 0;
            CTKCore::g_fMasterGain = 1.0f;
            for (int b = 0; b < kTKMasterEqBands; ++b) {
                CTKCore::g_masterEQSupposedToEnable[b] = false;
                CTKCore::g_masterEQSupposedToEnableDb[b] = 0;
            }
            std::filesystem::current_path(previous);
        }
    } restore;
    std::filesystem::current_path(dir.path());

    const std::string tone = dir.file("tone.wav");
    ASSERT_TRUE(deck_test::writeWav(tone, kRate, 2, 16, static_cast<long>(kRate) * kSeconds, [](long f, int) {
        return static_cast<float>(kAmplitude * std::sin(2 * M_PI * kToneHz * f / kRate + 0.3));
    }));
    ASSERT_EQ(t_core.InitPlayer(0, 1, kRate), 1);
    const int card1 = deck_test::findSlot("Card1", 0);
    const int card2 = deck_test::findSlot("Card2", 0);
    ASSERT_GE(card1, 0);
    ASSERT_GE(card2, 0);
    ASSERT_EQ(t_core.AddMasterEq(1000.0f, 1.0f), 1);  // band 0 on the tone
    ASSERT_EQ(t_core.AddMasterEq(100.0f, 1.0f), 1);   // band 1 three octaves below it

    pw::test::SourceCapture capture("card1.monitor", 2, kRate);
    ASSERT_TRUE(capture.ok()) << capture.error();
    pw::test::SourceCapture other("card2.monitor", 2, kRate);
    ASSERT_TRUE(other.ok()) << other.error();
    std::vector<char> path(tone.begin(), tone.end());
    path.push_back('\0');
    ASSERT_EQ(t_core.Load(1, path.data(), card1, card1, false), 1);
    ASSERT_EQ(t_core.SetVolume(1, 10000), 1);
    ASSERT_EQ(t_core.Play(1, true), 1);

    // The deck starts after its buffers fill: measure the reference once the tone is there.
    long first = -1;
    for (size_t frames = kRate / 4; first < 0 && frames <= 10u * kRate; frames += kRate / 4)
        first = pw::test::findFirst(capture.waitFrames(frames, 20.0), 2, 0, 0.01f);
    ASSERT_GE(first, 0) << "the deck never sounded";
    const double unity = nextLevel(capture);
    ASSERT_NEAR(unity, kAmplitude / std::sqrt(2.0), 0.02) << "the tone as the deck plays it";

    struct Step {
        const char* what;
        std::function<void()> change;
        double expectDb;
    } steps[] = {
        {"band 0 at 1 kHz, gain 2.0", [] { ASSERT_EQ(CTKCore::SetMasterEq(0, 10000, true), 1); }, 6.02},
        {"band 0 switched off", [] { ASSERT_EQ(CTKCore::SetMasterEq(0, 10000, false), 1); }, 0.0},
        {"band 1 at 100 Hz, gain 2.0", [] { ASSERT_EQ(CTKCore::SetMasterEq(1, 10000, true), 1); }, 0.0},
        {"band 1 back to unity", [] { ASSERT_EQ(CTKCore::SetMasterEq(1, 5000, true), 1); }, 0.0},
        {"master gain 7500", [] { ASSERT_EQ(t_core.SetMasterGain(7500), 1); }, decibels(1.5)},
        {"master gain 5000", [] { ASSERT_EQ(t_core.SetMasterGain(5000), 1); }, 0.0},
        {"master volume 5000", [] { ASSERT_EQ(t_core.SetMasterVolume(5000), 1); }, decibels(0.5)},
        {"master volume 10000", [] { ASSERT_EQ(t_core.SetMasterVolume(10000), 1); }, 0.0},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        s.change();
        const double level = nextLevel(capture);
        EXPECT_NEAR(decibels(level / unity), s.expectDb, 0.3);
        if (std::string(s.what) == "master gain 7500") {
            bool bypassed = false;
            ASSERT_EQ(g_masterGainList[card2].front()->getBypass(&bypassed), FMOD_OK);
            EXPECT_TRUE(bypassed) << "the unused card's unit stays bypassed";
        }
    }
    EXPECT_EQ(t_core.Stop(1), 1);

    // Nothing played on the second card all along.
    const std::vector<float> quiet = other.waitFrames(other.capturedFrames(), 1.0);
    EXPECT_EQ(pw::test::rms(quiet), 0.0);
    EXPECT_EQ(t_core.Unload(1), 1);
}

}  // namespace
