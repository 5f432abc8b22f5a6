// Start-up and shutdown of the engine as a whole: the MasterGain units, the master recorder, a
// second start-up, a start-up without outputs, a refused library version, and the list queries
// and shutdown outside a started engine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MixDown.h"
#include "device_table_file.hpp"
#include "startup_test_support.h"

namespace {

using namespace startuptest;

// A stereo card (one slot) and a quad card (three slots over one system).
const char kTwoCards[] =
    "output name=\"Stereo\" channels=2\n"
    "output name=\"Quad\" channels=4\n"
    "record name=\"Line In\"\n";

class Startup : public EngineTest {};

TEST_F(Startup, OneMasterGainUnitPerSlotAndTheRecorder) {
    pw::test::DeviceTableFile table(kTwoCards);
    const int dspsBefore = live(hooks::Kind::DSP);
    const int systemsBefore = live(hooks::Kind::System);
    ASSERT_EQ(t_core.InitPlayer(0, 1, 44100), 1);
    ASSERT_EQ(CTKCore::g_soundcardcount, 4);
    EXPECT_EQ(live(hooks::Kind::DSP) - dspsBefore, 4);
    EXPECT_EQ(live(hooks::Kind::System) - systemsBefore, 3) << "the silent system and one per card";
    ASSERT_NE(g_masterGainList, nullptr);
    ASSERT_NE(g_masterEQList, nullptr);
    ASSERT_NE(g_masterEQValues, nullptr);
    EXPECT_TRUE(g_masterEQValues->empty());
    for (int i = 0; i < kTKSlotCount; ++i) {
        EXPECT_TRUE(g_masterEQList[i].empty()) << i;
        if (i >= 4) {
            EXPECT_TRUE(g_masterGainList[i].empty()) << i;
            continue;
        }
        ASSERT_EQ(g_masterGainList[i].size(), 1u) << i;
        FMOD::DSP* unit = g_masterGainList[i].front();
        bool bypassed = true;
        ASSERT_EQ(unit->getBypass(&bypassed), FMOD_OK);
        EXPECT_FALSE(bypassed) << "slot " << i << " starts with its gain stage on";
        void* userData = nullptr;
        ASSERT_EQ(unit->getUserData(&userData), FMOD_OK);
        EXPECT_EQ(userData, static_cast<void*>(&CTKCore::g_fMasterGain));
        char name[32] = {};
        ASSERT_EQ(unit->getInfo(name, nullptr, nullptr, nullptr, nullptr), FMOD_OK);
        EXPECT_STREQ(name, "MasterGain");
        for (int j = 0; j < i; ++j) EXPECT_NE(g_masterGainList[j].front(), unit);
    }
    EXPECT_NE(t_core.m_pMixDown, nullptr);
    EXPECT_NE(CTKCore::g_SilentSystem, nullptr);

    t_core.CleanUp();
    EXPECT_EQ(live(hooks::Kind::DSP), dspsBefore);
    EXPECT_EQ(live(hooks::Kind::System), systemsBefore);
    EXPECT_EQ(t_core.m_pMixDown, nullptr);
    EXPECT_EQ(CTKCore::g_SilentSystem, nullptr);
    EXPECT_EQ(g_masterGainList, nullptr);
    EXPECT_EQ(g_masterEQList, nullptr);
    EXPECT_EQ(g_masterEQValues, nullptr);
    EXPECT_EQ(CTKCore::g_soundcards, nullptr);
    EXPECT_EQ(CTKCore::g_recorderdevices, nullptr);
    for (FMODSystem* slot : CTKCore::g_Systems) EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(CTKCore::g_soundcardcount, 4) << "the counts keep their values after shutdown";
    EXPECT_EQ(CTKCore::g_recordercount, 1);
    EXPECT_FALSE(CPlayerList::initialized.load());
}

TEST_F(Startup, SecondInitPlayerChangesNothing) {
    pw::test::DeviceTableFile table(kTwoCards);
    ASSERT_EQ(t_core.InitPlayer(0, 1, 44100), 1);
    std::vector<FMODSystem*> slots(CTKCore::g_Systems, CTKCore::g_Systems + kTKSlotCount);
    std::vector<FMOD::DSP*> units;
    for (int i = 0; i < CTKCore::g_soundcardcount; ++i) units.push_back(g_masterGainList[i].front());
    auto* gainLists = g_masterGainList;
    auto* eqLists = g_masterEQList;
    auto* eqValues = g_masterEQValues;
    char** names = CTKCore::g_soundcards;
    FMODSystem* silent = CTKCore::g_SilentSystem;
    CMixDown* recorder = t_core.m_pMixDown;
    const int dsps = live(hooks::Kind::DSP);
    const int systems = live(hooks::Kind::System);

    EXPECT_EQ(t_core.InitPlayer(0, 1, 44100), 1);
    EXPECT_EQ(t_core.InitPlayer(2, 3, 96000), 1);

    EXPECT_EQ(std::vector<FMODSystem*>(CTKCore::g_Systems, CTKCore::g_Systems + kTKSlotCount), slots);
    ASSERT_EQ(CTKCore::g_soundcardcount, 4);
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(gainLists[i].size(), 1u);
        EXPECT_EQ(gainLists[i].front(), units[i]);
    }
    EXPECT_EQ(g_masterGainList, gainLists);
    EXPECT_EQ(g_masterEQList, eqLists);
    EXPECT_EQ(g_masterEQValues, eqValues);
    EXPECT_EQ(CTKCore::g_soundcards, names);
    EXPECT_EQ(CTKCore::g_SilentSystem, silent);
    EXPECT_EQ(t_core.m_pMixDown, recorder);
    EXPECT_EQ(live(hooks::Kind::DSP), dsps);
    EXPECT_EQ(live(hooks::Kind::System), systems);

    const std::string log = logText();
    EXPECT_EQ(countOf(log, "You don't need to call initPlayer() again, because it's already initialized!"), 2);
    EXPECT_EQ(countOf(log, "InitPlayer done!\n"), 3);
    EXPECT_EQ(countOf(log, "EnumerateSoundcards done\n"), 1);
    // The locks were left as they were: a shutdown and a new start-up still get through.
    t_core.CleanUp();
    EXPECT_EQ(t_core.InitPlayer(0, 1, 44100), 1);
    EXPECT_EQ(CTKCore::g_soundcardcount, 4);
}

TEST_F(Startup, ModesOtherThanZeroAndOneStartWithoutSlots) {
    pw::test::DeviceTableFile table(kTwoCards);
    for (unsigned mode : {2u, 3u, 0xffffffffu}) {
        SCOPED_TRACE(mode);
        const int dspsBefore = live(hooks::Kind::DSP);
        const int systemsBefore = live(hooks::Kind::System);
        ASSERT_EQ(t_core.InitPlayer(mode, 1, 44100), 1);
        EXPECT_TRUE(CPlayerList::initialized.load());
        EXPECT_EQ(CTKCore::g_soundcardcount, 0);
        EXPECT_EQ(CTKCore::g_recordercount, 0);
        EXPECT_EQ(live(hooks::Kind::DSP), dspsBefore) << "no MasterGain unit";
        EXPECT_EQ(live(hooks::Kind::System) - systemsBefore, 1) << "only the silent system";
        EXPECT_NE(t_core.m_pMixDown, nullptr);
        int count = -1;
        EXPECT_NE(t_core.GetSoundcards(&count), nullptr);
        EXPECT_EQ(count, 0);
        t_core.CleanUp();
    }
    EXPECT_EQ(countOf(logText(), "EnumerateSoundcards done\n"), 3);
    EXPECT_EQ(countOf(logText(), "count of soundcards"), 0);
}

class WrongVersion : public EngineTest, public ::testing::WithParamInterface<unsigned> {};

TEST_P(WrongVersion, RefusedAndNothingLeftBehind) {
    pw::test::DeviceTableFile table(kTwoCards);
    hooks::overrideVersion(GetParam());
    const int systemsBefore = live(hooks::Kind::System);
    const int dspsBefore = live(hooks::Kind::DSP);
    EXPECT_EQ(t_core.InitPlayer(0, 1, 44100), -14);
    EXPECT_FALSE(CPlayerList::initialized.load());
    int count = 1234;
    EXPECT_EQ(t_core.GetSoundcards(&count), nullptr);
    EXPECT_EQ(count, 1234);
    EXPECT_EQ(t_core.GetRecorderDevices(&count), nullptr);
    EXPECT_EQ(count, 1234);
    EXPECT_EQ(t_core.m_pMixDown, nullptr);
    EXPECT_EQ(live(hooks::Kind::System), systemsBefore);
    EXPECT_EQ(live(hooks::Kind::DSP), dspsBefore);
    const std::string log = logText();
    EXPECT_NE(log.find("FMOD version is incorrect!!!\nYou have got to use version 43202\n"), std::string::npos);
    EXPECT_EQ(log.find("InitPlayer done!"), std::string::npos);
    EXPECT_EQ(log.find("count of soundcards"), std::string::npos) << "no enumeration";

    // The right version again: the engine starts as usual.
    hooks::overrideVersion(0);
    EXPECT_EQ(t_core.InitPlayer(0, 1, 44100), 1);
    EXPECT_EQ(CTKCore::g_soundcardcount, 4);
}

INSTANTIATE_TEST_SUITE_P(Versions, WrongVersion, ::testing::Values(0x43201u, 0x43203u, 0x42000u, 0x10043202u));

TEST_F(Startup, ListsBeforeStartUpAnswerNull) {
    int count = 77;
    EXPECT_EQ(t_core.GetSoundcards(&count), nullptr);
    EXPECT_EQ(count, 77);
    EXPECT_EQ(t_core.GetRecorderDevices(&count), nullptr);
    EXPECT_EQ(count, 77);
    EXPECT_EQ(countOf(logText(), "Init the library first!"), 2);
}

TEST_F(Startup, AsioOperationsDoNothing) {
    int count = 5;
    EXPECT_EQ(t_core.getAvailableASIODrivers(nullptr), nullptr);
    EXPECT_EQ(t_core.getAvailableASIODrivers(&count), nullptr);
    EXPECT_EQ(count, 0);
    for (unsigned driver : {0u, 3u, 0xffffffffu}) {
        EXPECT_EQ(t_core.setPreferredASIODriver(driver), 1);
        EXPECT_EQ(CTKCore::g_uiPreferredASIODriver, driver);
    }
    EXPECT_EQ(t_core.ASIOControlPanel(), -1);
}

TEST_F(Startup, AsioOutputTypeEnumeratesNothing) {
    pw::test::DeviceTableFile table(kTwoCards);
    ASSERT_EQ(t_core.InitPlayer(2, 1, 44100), 1);
    const int systemsBefore = live(hooks::Kind::System);
    char typeName[] = "CoreAudio";
    EXPECT_EQ(t_core.EnumerateSoundcards(FMOD_OUTPUTTYPE_ASIO, typeName, 1, 44100), 1);
    EXPECT_EQ(CTKCore::g_soundcardcount, 0);
    EXPECT_EQ(CTKCore::g_recordercount, 0);
    EXPECT_EQ(live(hooks::Kind::System), systemsBefore);
    EXPECT_EQ(logText().find("count of soundcards"), std::string::npos) << "not even a probe";
}

TEST_F(Startup, CleanUpOutsideAStartedEngine) {
    pw::test::DeviceTableFile table(kTwoCards);
    const int systemsBefore = live(hooks::Kind::System);
    t_core.CleanUp();  // never started
    EXPECT_EQ(live(hooks::Kind::System), systemsBefore);
    ASSERT_EQ(t_core.InitPlayer(0, 1, 44100), 1);
    t_core.CleanUp();
    t_core.CleanUp();
    EXPECT_EQ(live(hooks::Kind::System), systemsBefore);
    const std::string log = logText();
    EXPECT_EQ(countOf(log, "\n==========\ncleanUp()\n==========\n"), 1);
    EXPECT_EQ(countOf(log, "cleanUp done!"), 1);
}

}  // namespace
