// Repeated start-up and shutdown: nothing of a cycle outlives it, and each card's system, shared
// by all its slots, is closed and released exactly once. Run under the AddressSanitizer build, a
// leak or a second release of a system also fails the run.
#include <gtest/gtest.h>

#include <string>

#include "device_table_file.hpp"
#include "startup_test_support.h"

namespace {

using namespace startuptest;

class Cycles : public EngineTest {};

TEST_F(Cycles, HundredStartUpsAndShutdownsLeaveNothing) {
    // Four cards: stereo, 7.1 (five slots), raw (two slots), and one that fails with 58 first.
    pw::test::DeviceTableFile table(
        "output name=\"Stereo\"\n"
        "output name=\"Eight\" channels=8\n"
        "output name=\"M-Audio Xponent\" channels=4 caps=4 panel=2\n"
        "output name=\"Refuses\" channels=6 init=fail58\n"
        "output name=\"Broken\" init=fail\n"
        "record name=\"Line In\"\n");
    constexpr int kCards = 4;
    const int systems = live(hooks::Kind::System);
    const int sounds = live(hooks::Kind::Sound);
    const int channels = live(hooks::Kind::Channel);
    const int dsps = live(hooks::Kind::DSP);
    // Debug logging on every cycle would only slow the run down.
    CTKCore::g_bDebug = false;
    for (int cycle = 0; cycle < 100; ++cycle) {
        SCOPED_TRACE(cycle);
        ASSERT_EQ(t_core.InitPlayer(0, 1, 44100), 1);
        ASSERT_EQ(CTKCore::g_soundcardcount, 9);
        ASSERT_EQ(live(hooks::Kind::System) - systems, kCards + 1);
        ASSERT_EQ(live(hooks::Kind::DSP) - dsps, 9);
        const int before = live(hooks::Kind::System);
        t_core.CleanUp();
        ASSERT_EQ(before - live(hooks::Kind::System), kCards + 1) << "each card once, and the silent system";
        ASSERT_EQ(live(hooks::Kind::System), systems);
        ASSERT_EQ(live(hooks::Kind::Sound), sounds);
        ASSERT_EQ(live(hooks::Kind::Channel), channels);
        ASSERT_EQ(live(hooks::Kind::DSP), dsps);
        ASSERT_FALSE(CPlayerList::initialized.load());
    }
}

}  // namespace
