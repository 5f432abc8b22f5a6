// Speaker routing by role code, measured where it ends: on the channels a virtual card receives.
// A constant stereo source (left 0.25, right 0.5) or mono source (0.25) plays on a slot of each
// card; SetupSpeakerMixes routes it at level 0.8; each device channel must carry exactly what the
// role sends there and nothing else.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "FMODSystem.h"
#include "Monitor.h"
#include "TimestretchedChannel.h"
#include "TKCore.h"
#include "deck_support.h"
#include "fmod_testhooks.hpp"

namespace hooks = pw::testhooks;

namespace {

constexpr float kLevel = 0.8f;
constexpr float kLeft = 0.25f;
constexpr float kRight = 0.5f;

class Routing : public deck_test::EngineOnTable {
protected:
    std::string table() override {
        return "output name=\"Two\" channels=2 sink=memory pacing=stepped\n"
               "output name=\"Four\" channels=4 caps=4 sink=memory pacing=stepped\n"
               "output name=\"Six\" channels=6 caps=4 sink=memory pacing=stepped\n"
               "output name=\"Eight\" channels=8 caps=4 sink=memory pacing=stepped\n"
               "output name=\"BCD3000\" channels=4 caps=4 sink=memory pacing=stepped\n";
    }

    // Plays a looping constant source on the slot, routed by `role`, and returns the mean of each
    // device channel over a few blocks. Empty on failure.
    std::vector<float> measure(const std::string& card, int slot, int role, int sourceChannels) {
        FMODSystem* system = CTKCore::g_Systems[slot];
        if (!system) return {};
        const std::string path = file("dc" + std::to_string(sourceChannels) + ".wav");
        deck_test::writeWav(path, 44100, sourceChannels, 16, 44100,
                            [](long, int c) { return c == 0 ? kLeft : kRight; });
        FMOD::Sound* sound = nullptr;
        EXPECT_EQ(system->createSound(path.c_str(), FMOD_SOFTWARE | FMOD_LOOP_NORMAL | FMOD_2D, nullptr, &sound),
                  FMOD_OK);
        if (!sound) return {};
        FMOD::Channel* channel = nullptr;
        EXPECT_EQ(system->playSound(FMOD_CHANNEL_FREE, sound, true, &channel), FMOD_OK);
        if (!channel) {
            sound->release();
            return {};
        }
        channel->setSpeakerMix(0, 0, 0, 0, 0, 0, 0, 0);  // as a monitor's Init leaves a new channel
        CMonitor::SetupSpeakerMixes(role, channel, nullptr, kLevel);
        channel->setPaused(false);
        hooks::step(card, 2);  // the channel is running from here on
        hooks::clearReceived(card);
        EXPECT_TRUE(hooks::step(card, 4));
        const std::vector<float> got = hooks::received(card);
        const int channels = hooks::receivedChannels(card);
        channel->stop();
        sound->release();
        std::vector<float> mean(static_cast<size_t>(channels > 0 ? channels : 0), 0.0f);
        if (channels <= 0 || got.empty()) return {};
        const size_t frames = got.size() / static_cast<size_t>(channels);
        for (size_t f = 0; f < frames; ++f)
            for (int c = 0; c < channels; ++c) mean[static_cast<size_t>(c)] += got[f * channels + c];
        for (float& m : mean) m /= static_cast<float>(frames);
        return mean;
    }
};

struct RoleCase {
    const char* card;
    int role;
    int sourceChannels;
    std::vector<float> expect;  // per device channel
};

TEST_F(Routing, EveryRoleLandsOnExactlyItsSpeakers) {
    const float L = kLevel * kLeft, R = kLevel * kRight;
    const RoleCase cases[] = {
        {"Two", 0, 2, {L, R}},
        {"Two", 0, 1, {L, L}},  // mono reaches both speakers at the full level
        {"Four", 1, 2, {L, R, 0, 0}},
        {"Four", 2, 2, {0, 0, L, R}},
        {"Four", 5, 2, {L, R, L, R}},
        {"Six", 1, 2, {L, R, 0, 0, 0, 0}},
        {"Six", 3, 2, {0, 0, L, R, 0, 0}},
        {"Six", 3, 1, {0, 0, L, L, 0, 0}},
        {"Six", 2, 2, {0, 0, 0, 0, L, R}},
        {"Six", 5, 2, {L, R, L, R, L, R}},
        {"Eight", 1, 2, {L, R, 0, 0, 0, 0, 0, 0}},
        {"Eight", 3, 2, {0, 0, L, R, 0, 0, 0, 0}},
        {"Eight", 2, 2, {0, 0, 0, 0, L, R, 0, 0}},
        {"Eight", 4, 2, {0, 0, 0, 0, 0, 0, L, R}},
        {"Eight", 5, 2, {L, R, L, R, L, R, L, R}},
        {"BCD3000", 1000, 2, {L, R, 0, 0}},
        {"BCD3000", 1001, 2, {0, 0, L, R}},  // centre and LFE of the 5.1 mix: the card's 3 and 4
        {"BCD3000", 5, 2, {L, R, L, R}},
    };
    for (const RoleCase& c : cases) {
        SCOPED_TRACE(std::string(c.card) + " role " + std::to_string(c.role) + " source channels " +
                     std::to_string(c.sourceChannels));
        const int slot = deck_test::findSlot(c.card, c.role);
        ASSERT_GE(slot, 0);
        const std::vector<float> got = measure(c.card, slot, c.role, c.sourceChannels);
        ASSERT_EQ(got.size(), c.expect.size());
        for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], c.expect[i], 1e-3) << "device channel " << i;
    }
}

// Raw channel-pair roles and codes that route nothing, on the speaker matrix itself: 12 sets the
// back pair through speaker levels; 7 and 999 leave every level alone.
TEST_F(Routing, PairRolesAndUnknownRolesOnTheMatrix) {
    const int slot = deck_test::findSlot("Eight", 1);
    ASSERT_GE(slot, 0);
    FMODSystem* system = CTKCore::g_Systems[slot];
    const std::string path = file("dc.wav");
    ASSERT_TRUE(deck_test::writeWav(path, 44100, 2, 16, 4410, [](long, int c) { return c ? kRight : kLeft; }));
    FMOD::Sound* sound = nullptr;
    ASSERT_EQ(system->createSound(path.c_str(), FMOD_SOFTWARE | FMOD_2D, nullptr, &sound), FMOD_OK);
    struct Case {
        int role;
        int left, right;  // speakers that get the pair; -1: nothing changes
    };
    const Case cases[] = {{10, 0, 1}, {11, 2, 3}, {12, 4, 5}, {13, 6, 7}, {7, -1, -1}, {999, -1, -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.role);
        FMOD::Channel* channel = nullptr;
        ASSERT_EQ(system->playSound(FMOD_CHANNEL_FREE, sound, true, &channel), FMOD_OK);
        channel->setSpeakerMix(0.1f, 0.1f, 0.1f, 0.1f, 0.1f, 0.1f, 0.1f, 0.1f);
        const auto before = hooks::channelSpeakerMatrix(channel);
        CMonitor::SetupSpeakerMixes(c.role, channel, nullptr, kLevel);
        const auto after = hooks::channelSpeakerMatrix(channel);
        ASSERT_GE(after.size(), 8u);
        for (int s = 0; s < 8; ++s) {
            if (s == c.left) {
                EXPECT_FLOAT_EQ(after[s][0], kLevel);
                EXPECT_FLOAT_EQ(after[s][1], 0.0f);
            } else if (s == c.right) {
                EXPECT_FLOAT_EQ(after[s][0], 0.0f);
                EXPECT_FLOAT_EQ(after[s][1], kLevel);
            } else {
                EXPECT_EQ(after[s], before[s]) << "speaker " << s;
            }
        }
        channel->stop();
    }
    sound->release();
}

// With a time-stretched channel the whole-mix roles keep what earlier settings gave the other
// pairs; without one they clear them.
TEST(RoutingKeptLevels, WholeMixRolesKeepTheOtherPairsOfTheChannel) {
    struct Step {
        int role;
        float level;
        std::vector<float> kept;  // the eight kept levels afterwards
    };
    const std::vector<Step> steps = {
        {1, 0.9f, {0.9f, 0.9f, 0, 0, 0, 0, 0, 0}},
        {2, 0.4f, {0.9f, 0.9f, 0, 0, 0.4f, 0.4f, 0, 0}},
        {3, 0.3f, {0.9f, 0.9f, 0.3f, 0.3f, 0.4f, 0.4f, 0, 0}},
        {4, 0.2f, {0.9f, 0.9f, 0.3f, 0.3f, 0.4f, 0.4f, 0.2f, 0.2f}},
        {12, 0.7f, {0.9f, 0.9f, 0.3f, 0.3f, 0.4f, 0.4f, 0.2f, 0.2f}},  // pair roles keep nothing
        {1000, 0.7f, {0.9f, 0.9f, 0.3f, 0.3f, 0.4f, 0.4f, 0.2f, 0.2f}},
        {999, 0.7f, {0.9f, 0.9f, 0.3f, 0.3f, 0.4f, 0.4f, 0.2f, 0.2f}},
        {5, 0.6f, {0.6f, 0.6f, 0.6f, 0.6f, 0.6f, 0.6f, 0.6f, 0.6f}},
        {0, 0.1f, {0.1f, 0.1f, 0.6f, 0.6f, 0.6f, 0.6f, 0.6f, 0.6f}},
    };
    TimeStretchedChannel channel(nullptr, nullptr, true);  // no system: only its kept levels act
    for (const Step& s : steps) {
        CMonitor::SetupSpeakerMixes(s.role, nullptr, &channel, s.level);
        const float* kept = channel.keptSpeakerLevels();
        for (int i = 0; i < 8; ++i) EXPECT_FLOAT_EQ(kept[i], s.kept[static_cast<size_t>(i)]) << "role " << s.role << " speaker " << i;
    }
}

}  // namespace
