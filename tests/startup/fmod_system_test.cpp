// The FMODSystem wrapper: a wrapper without a system, the one close and release, and the named
// lock's log lines.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "startup_test_support.h"

namespace {

using namespace startuptest;

class FMODSystemWrapper : public EngineTest {};

TEST_F(FMODSystemWrapper, WithoutSystemEveryCallAnswers44AndTouchesNothing) {
    FMODSystem wrapper(nullptr);
    EXPECT_EQ(wrapper.getFMODSystem(), nullptr);
    int i = 77;
    unsigned u = 77;
    char text[8] = "keep";
    FMOD::Sound* sound = reinterpret_cast<FMOD::Sound*>(0x1);
    FMOD::DSP* dsp = reinterpret_cast<FMOD::DSP*>(0x1);
    FMOD::Channel* channel = reinterpret_cast<FMOD::Channel*>(0x1);
    FMOD::ChannelGroup* group = reinterpret_cast<FMOD::ChannelGroup*>(0x1);
    FMOD::DSPConnection* connection = reinterpret_cast<FMOD::DSPConnection*>(0x1);
    FMOD_SOUND_FORMAT format = FMOD_SOUND_FORMAT_PCM24;
    FMOD_DSP_RESAMPLER resampler = FMOD_DSP_RESAMPLER_CUBIC;
    FMOD_PLUGINTYPE pluginType = FMOD_PLUGINTYPE_DSP;
    float spectrum[4] = {9, 9, 9, 9};
    FMOD_DSP_DESCRIPTION description = describeUnit("X", 0, nullptr, nullptr);

    const std::vector<std::pair<const char*, std::function<FMOD_RESULT()>>> calls = {
        {"getNumCDROMDrives", [&] { return wrapper.getNumCDROMDrives(&i); }},
        {"getCDROMDriveName", [&] { return wrapper.getCDROMDriveName(0, text, 8, text, 8, text, 8); }},
        {"createStream", [&] { return wrapper.createStream("x.wav", 0, nullptr, &sound); }},
        {"createSound", [&] { return wrapper.createSound("x.wav", 0, nullptr, &sound); }},
        {"getMasterChannelGroup", [&] { return wrapper.getMasterChannelGroup(&group); }},
        {"createDSP", [&] { return wrapper.createDSP(&description, &dsp); }},
        {"createDSPByType", [&] { return wrapper.createDSPByType(FMOD_DSP_TYPE_PARAMEQ, &dsp); }},
        {"addDSP", [&] { return wrapper.addDSP(dsp, &connection); }},
        {"getVersion", [&] { return wrapper.getVersion(&u); }},
        {"playSound", [&] { return wrapper.playSound(FMOD_CHANNEL_FREE, sound, false, &channel); }},
        {"playDSP", [&] { return wrapper.playDSP(FMOD_CHANNEL_FREE, dsp, false, &channel); }},
        {"getDriverInfo", [&] { return wrapper.getDriverInfo(0, text, 8, nullptr); }},
        {"setDSPBufferSize", [&] { return wrapper.setDSPBufferSize(1024, 4); }},
        {"getDSPBufferSize", [&] { return wrapper.getDSPBufferSize(&u, &i); }},
        {"setPluginPath", [&] { return wrapper.setPluginPath("./plugins"); }},
        {"loadPlugin", [&] { return wrapper.loadPlugin("Trellisco.dylib", &u, 0); }},
        {"getPluginInfo", [&] { return wrapper.getPluginInfo(0, &pluginType, text, 8, &u); }},
        {"unloadPlugin", [&] { return wrapper.unloadPlugin(0); }},
        {"createDSPByPlugin", [&] { return wrapper.createDSPByPlugin(0, &dsp); }},
        {"setOutput", [&] { return wrapper.setOutput(FMOD_OUTPUTTYPE_NOSOUND_NRT); }},
        {"setStreamBufferSize", [&] { return wrapper.setStreamBufferSize(8192, FMOD_TIMEUNIT_RAWBYTES); }},
        {"init", [&] { return wrapper.init(16, FMOD_INIT_NORMAL, nullptr); }},
        {"getSpectrum", [&] { return wrapper.getSpectrum(spectrum, 4, 0, FMOD_DSP_FFT_WINDOW_RECT); }},
        {"getSoftwareFormat", [&] { return wrapper.getSoftwareFormat(&i, &format, &i, &i, &resampler, &i); }},
        {"recordStart", [&] { return wrapper.recordStart(0, sound, true); }},
        {"recordStop", [&] { return wrapper.recordStop(0); }},
        {"getRecordDriverInfo", [&] { return wrapper.getRecordDriverInfo(0, text, 8, nullptr); }},
        {"getRecordNumDrivers", [&] { return wrapper.getRecordNumDrivers(&i); }},
    };
    for (const auto& call : calls) EXPECT_EQ(call.second(), FMOD_ERR_MEMORY) << call.first;
    EXPECT_EQ(i, 77);
    EXPECT_EQ(u, 77u);
    EXPECT_STREQ(text, "keep");
    EXPECT_EQ(sound, reinterpret_cast<FMOD::Sound*>(0x1));
    EXPECT_EQ(dsp, reinterpret_cast<FMOD::DSP*>(0x1));
    EXPECT_EQ(channel, reinterpret_cast<FMOD::Channel*>(0x1));
    EXPECT_EQ(group, reinterpret_cast<FMOD::ChannelGroup*>(0x1));
    EXPECT_EQ(connection, reinterpret_cast<FMOD::DSPConnection*>(0x1));
    EXPECT_EQ(format, FMOD_SOUND_FORMAT_PCM24);
    EXPECT_EQ(resampler, FMOD_DSP_RESAMPLER_CUBIC);
    EXPECT_EQ(pluginType, FMOD_PLUGINTYPE_DSP);
    EXPECT_EQ(spectrum[0], 9.0f);
}

TEST_F(FMODSystemWrapper, ForwardsToItsSystem) {
    FMOD::System* system = nullptr;
    ASSERT_EQ(FMOD_System_Create(&system), FMOD_OK);
    FMODSystem wrapper(system);
    EXPECT_EQ(wrapper.getFMODSystem(), system);
    unsigned version = 0;
    EXPECT_EQ(wrapper.getVersion(&version), FMOD_OK);
    EXPECT_EQ(version, 0x43202u);
    // A failure comes back unchanged: a DSP buffer of 0 is refused with 37.
    EXPECT_EQ(wrapper.setDSPBufferSize(0, 4), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(wrapper.setDSPBufferSize(512, 3), FMOD_OK);
    unsigned length = 0;
    int count = 0;
    EXPECT_EQ(wrapper.getDSPBufferSize(&length, &count), FMOD_OK);
    EXPECT_EQ(length, 512u);
    EXPECT_EQ(count, 3);
}

TEST_F(FMODSystemWrapper, DestructionClosesAndReleasesOnce) {
    const int before = live(hooks::Kind::System);
    FMOD::System* system = nullptr;
    ASSERT_EQ(FMOD_System_Create(&system), FMOD_OK);
    ASSERT_EQ(system->setOutput(FMOD_OUTPUTTYPE_NOSOUND_NRT), FMOD_OK);
    ASSERT_EQ(system->init(16, FMOD_INIT_NORMAL, nullptr), FMOD_OK);
    auto* first = new FMODSystem(system);
    auto* second = new FMODSystem(system);
    ASSERT_EQ(live(hooks::Kind::System), before + 1);

    // The further wrapper lets go without closing: the system is still usable through the first.
    second->detach();
    EXPECT_EQ(second->getFMODSystem(), nullptr);
    delete second;
    EXPECT_EQ(live(hooks::Kind::System), before + 1);
    FMOD::ChannelGroup* group = nullptr;
    EXPECT_EQ(first->getMasterChannelGroup(&group), FMOD_OK);
    EXPECT_NE(group, nullptr);

    delete first;
    EXPECT_EQ(live(hooks::Kind::System), before);

    // A wrapper over null closes nothing.
    delete new FMODSystem(nullptr);
    EXPECT_EQ(live(hooks::Kind::System), before);
}

TEST_F(FMODSystemWrapper, NamedLockLogsEachCall) {
    FMOD::System* system = nullptr;
    ASSERT_EQ(FMOD_System_Create(&system), FMOD_OK);
    ASSERT_EQ(system->setOutput(FMOD_OUTPUTTYPE_NOSOUND_NRT), FMOD_OK);
    ASSERT_EQ(system->init(16, FMOD_INIT_NORMAL, nullptr), FMOD_OK);
    {
        FMODSystem wrapper(system);
        FMOD::Sound* sound = nullptr;
        EXPECT_EQ(wrapper.createSound("missing.wav", FMOD_DEFAULT, nullptr, &sound), FMOD_ERR_FILE_NOTFOUND);
        EXPECT_EQ(sound, nullptr);
    }
    const std::string log = logText();
    EXPECT_EQ(countOf(log, "Enter: FMODSystem at createSound in "), 1);
    EXPECT_EQ(countOf(log, "Leave: FMODSystem at createSound in "), 1);
    EXPECT_LT(log.find("Enter: FMODSystem at createSound"), log.find("Leave: FMODSystem at createSound"));

    // Debugging off: the same call leaves no line.
    CTKCore::g_bDebug = false;
    FMOD::System* other = nullptr;
    ASSERT_EQ(FMOD_System_Create(&other), FMOD_OK);
    {
        FMODSystem wrapper(other);
        FMOD::Sound* sound = nullptr;
        wrapper.createSound("missing.wav", FMOD_DEFAULT, nullptr, &sound);
    }
    EXPECT_EQ(countOf(logText(), "at createSound in "), 2);
}

}  // namespace
