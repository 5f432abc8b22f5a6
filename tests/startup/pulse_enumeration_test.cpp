// Enumeration against a private PulseAudio server: null sinks of 2 and 6 channels stand for a
// stereo card and a 5.1 card.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "pulse_server.hpp"
#include "scoped_env.hpp"
#include "startup_test_support.h"

namespace {

using namespace startuptest;

class PulseEnumeration : public EngineTest {};

TEST_F(PulseEnumeration, StereoAndSixChannelSinks) {
    if (!pw::test::PulseServer::binaryAvailable()) GTEST_SKIP() << "pulseaudio not installed";
    // A device table in the environment would win over the server.
    pw::test::ScopedEnv noTable("PELLWARDEN_DEVICE_TABLE", std::nullopt);
    pw::test::PulseServer server({{"card1", "Card1", 2}, {"card2", "Card2", 6}});
    ASSERT_TRUE(server.ready()) << server.error();

    const int systemsBefore = live(hooks::Kind::System);
    ASSERT_EQ(t_core.InitPlayer(0, 1, 44100), 1);
    // The 6-channel sink reports the multichannel bit and a 5.1 control panel: four slots.
    EXPECT_EQ(slotNames(), (std::vector<std::string>{"0[Card1]-CoreAudio", "1[Card2]front-CoreAudio",
                                                     "2[Card2]center-CoreAudio", "3[Card2]rear-CoreAudio",
                                                     "4[Card2]all-CoreAudio"}));
    EXPECT_EQ(roles(), (std::vector<int>{0, 1, 3, 2, 5}));
    EXPECT_EQ(live(hooks::Kind::System) - systemsBefore, 3) << "the silent system and one per card";
    for (int i = 0; i < CTKCore::g_soundcardcount; ++i) {
        int mixChannels = 0;
        ASSERT_EQ(CTKCore::g_Systems[i]->getSoftwareFormat(nullptr, nullptr, &mixChannels, nullptr, nullptr, nullptr),
                  FMOD_OK);
        EXPECT_EQ(mixChannels, i == 0 ? 2 : 6) << "slot " << i;
    }
    t_core.CleanUp();
    EXPECT_EQ(live(hooks::Kind::System), systemsBefore);
}

}  // namespace
