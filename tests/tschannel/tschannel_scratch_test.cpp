// Scratch speeds on a card paced in real time, as a sound card paces the mixer: at speed s the
// card takes s ring blocks per block it plays, and the ring's worker must keep up, or the deck
// falls silent. A tone with an offset never plays an exact zero, so every silent frame the card
// received is a block the ring could not deliver.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include "tschannel_rig.h"

using namespace tsc_test;

namespace {

constexpr double kSettleSeconds = 0.4;   // the ring learns the pace and fills
constexpr double kMeasureSeconds = 1.5;  // then every frame the card plays is counted

// Frames of interleaved stereo in which both channels are exactly zero.
size_t silentFrames(const std::vector<float>& stereo) {
    size_t silent = 0;
    for (size_t i = 0; i + 1 < stereo.size(); i += 2) silent += stereo[i] == 0.0f && stereo[i + 1] == 0.0f;
    return silent;
}

TEST(ScratchSpeeds, TheRingKeepsTheCardFedAtEverySpeedTheControllerAllows) {
    OutputRig rig(true);
    ASSERT_TRUE(rig.ok());
    for (const float speed : {1.0f, 3.0f, 10.0f, 25.0f}) {
        SCOPED_TRACE(testing::Message() << speed << "x");
        const auto frames =
            static_cast<unsigned int>(speed * (kSettleSeconds + kMeasureSeconds + 1.0) * kRate);
        GeneratedSound source(frames, 2, [](unsigned int i, int c) {
            return 0.1f + 0.4f * static_cast<float>(std::sin(2.0 * M_PI * (c ? 60.0 : 45.0) * i / kRate));
        });
        ASSERT_TRUE(source.ok());
        auto channel = std::make_unique<TimeStretchedChannel>(rig.system(), source.get(), true);
        auto* ring = channel->getOutputBuffer();
        ASSERT_NE(ring, nullptr);
        ASSERT_EQ(channel->setPitch(speed), FMOD_OK);
        ASSERT_EQ(channel->setPaused(false), FMOD_OK);
        std::this_thread::sleep_for(std::chrono::duration<double>(kSettleSeconds));
        rig.clearReceived();
        const uint64_t underrunsBefore = ring->getUnderruns();
        std::this_thread::sleep_for(std::chrono::duration<double>(kMeasureSeconds));
        const uint64_t underruns = ring->getUnderruns() - underrunsBefore;
        const std::vector<float> out = rig.received();
        channel.reset();
        ASSERT_GE(out.size(), static_cast<size_t>(kRate));  // the card played on
        const size_t silent = silentFrames(out);
        std::printf("speed %gx: %.2f %% silent, %llu ring underruns\n", static_cast<double>(speed),
                    100.0 * static_cast<double>(silent) / static_cast<double>(out.size() / 2),
                    static_cast<unsigned long long>(underruns));
        EXPECT_EQ(silent, 0u);
        EXPECT_EQ(underruns, 0u);
    }
}

}  // namespace
