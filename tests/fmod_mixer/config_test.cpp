// System configuration before and after init, refusals, version, plug-ins.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>
#include <sys/stat.h>

#include "fmod_testhooks.hpp"
#include "mixer_test_util.hpp"
#include "services.hpp"

namespace {

struct MixerConfig : ::testing::Test {
    void SetUp() override { ASSERT_EQ(FMOD_System_Create(&system), FMOD_OK); }
    void TearDown() override {
        if (system) {
            EXPECT_EQ(system->release(), FMOD_OK);
        }
    }
    FMOD::System* system = nullptr;
};

TEST_F(MixerConfig, SoftwareFormatBeforeInitLeavesRoomForTheEnumerationsChannelSums) {
    int rate = 0, out = -1, in = -1, bits = 0;
    FMOD_SOUND_FORMAT format{};
    FMOD_DSP_RESAMPLER resampler{};
    ASSERT_EQ(system->getSoftwareFormat(&rate, &format, &out, &in, &resampler, &bits), FMOD_OK);
    EXPECT_EQ(out, 0);
    EXPECT_EQ(in, 6);
    EXPECT_GT(rate, 0);
    // "+4" and "+6" as the enumeration writes them.
    ASSERT_EQ(system->setSoftwareFormat(48000, FMOD_SOUND_FORMAT_PCMFLOAT, out + 6, in + 6, resampler), FMOD_OK);
    ASSERT_EQ(system->setOutput(FMOD_OUTPUTTYPE_NOSOUND_NRT), FMOD_OK);
    ASSERT_EQ(system->setSpeakerMode(FMOD_SPEAKERMODE_5POINT1), FMOD_OK);
    ASSERT_EQ(system->init(16, FMOD_INIT_NORMAL, nullptr), FMOD_OK);
    ASSERT_EQ(system->getSoftwareFormat(&rate, &format, &out, &in, nullptr, &bits), FMOD_OK);
    EXPECT_EQ(rate, 48000);
    EXPECT_EQ(format, FMOD_SOUND_FORMAT_PCMFLOAT);
    EXPECT_EQ(out, 6);  // the real mix: 5.1
    EXPECT_EQ(bits, 32);
    EXPECT_EQ(pw::systemMixRate(system), 48000);
    EXPECT_EQ(pw::systemBackend(system), nullptr);  // no-sound output
    // Configuration is closed once initialised.
    EXPECT_EQ(system->setSoftwareFormat(44100, FMOD_SOUND_FORMAT_PCM16, 2, 2, FMOD_DSP_RESAMPLER_LINEAR),
              FMOD_ERR_INITIALIZED);
    EXPECT_EQ(system->init(16, FMOD_INIT_NORMAL, nullptr), FMOD_ERR_INITIALIZED);
    EXPECT_EQ(system->close(), FMOD_OK);
    EXPECT_EQ(system->setSpeakerMode(FMOD_SPEAKERMODE_STEREO), FMOD_OK);
}

struct Refusal {
    const char* what;
    FMOD_RESULT (*call)(FMOD::System*);
    FMOD_RESULT expected;
};

const Refusal kRefusals[] = {
    {"buffer 0", [](FMOD::System* s) { return s->setDSPBufferSize(0, 4); }, FMOD_ERR_INVALID_PARAM},
    {"buffer 262145", [](FMOD::System* s) { return s->setDSPBufferSize(262145, 4); }, FMOD_ERR_INVALID_PARAM},
    {"buffer 262144", [](FMOD::System* s) { return s->setDSPBufferSize(262144, 4); }, FMOD_OK},
    {"buffer 128", [](FMOD::System* s) { return s->setDSPBufferSize(128, 4); }, FMOD_OK},
    {"buffer count 0", [](FMOD::System* s) { return s->setDSPBufferSize(1024, 0); }, FMOD_ERR_INVALID_PARAM},
    {"rate 0", [](FMOD::System* s) { return s->setSoftwareFormat(0, FMOD_SOUND_FORMAT_PCM16, 0, 6, FMOD_DSP_RESAMPLER_LINEAR); }, FMOD_ERR_INVALID_PARAM},
    {"rate -44100", [](FMOD::System* s) { return s->setSoftwareFormat(-44100, FMOD_SOUND_FORMAT_PCM16, 0, 6, FMOD_DSP_RESAMPLER_LINEAR); }, FMOD_ERR_INVALID_PARAM},
    {"rate 10 MHz", [](FMOD::System* s) { return s->setSoftwareFormat(10000000, FMOD_SOUND_FORMAT_PCM16, 0, 6, FMOD_DSP_RESAMPLER_LINEAR); }, FMOD_ERR_INVALID_PARAM},
    {"rate 96000", [](FMOD::System* s) { return s->setSoftwareFormat(96000, FMOD_SOUND_FORMAT_PCM16, 0, 6, FMOD_DSP_RESAMPLER_SPLINE); }, FMOD_OK},
    {"format 9", [](FMOD::System* s) { return s->setSoftwareFormat(44100, static_cast<FMOD_SOUND_FORMAT>(9), 0, 6, FMOD_DSP_RESAMPLER_LINEAR); }, FMOD_ERR_INVALID_PARAM},
    {"resampler 7", [](FMOD::System* s) { return s->setSoftwareFormat(44100, FMOD_SOUND_FORMAT_PCM16, 0, 6, static_cast<FMOD_DSP_RESAMPLER>(7)); }, FMOD_ERR_INVALID_PARAM},
    {"speaker mode 8", [](FMOD::System* s) { return s->setSpeakerMode(static_cast<FMOD_SPEAKERMODE>(8)); }, FMOD_ERR_INVALID_PARAM},
    {"stream buffer 0", [](FMOD::System* s) { return s->setStreamBufferSize(0, FMOD_TIMEUNIT_RAWBYTES); }, FMOD_ERR_INVALID_PARAM},
    {"stream buffer unit 3", [](FMOD::System* s) { return s->setStreamBufferSize(8192, 3); }, FMOD_ERR_INVALID_PARAM},
    {"stream buffer ok", [](FMOD::System* s) { return s->setStreamBufferSize(8192, FMOD_TIMEUNIT_RAWBYTES); }, FMOD_OK},
    {"software channels -1", [](FMOD::System* s) { return s->setSoftwareChannels(-1); }, FMOD_ERR_INVALID_PARAM},
    {"init -1", [](FMOD::System* s) { return s->init(-1, 0, nullptr); }, FMOD_ERR_INVALID_PARAM},
    {"playDSP before init", [](FMOD::System* s) {
         FMOD_DSP_DESCRIPTION d = pw::mixtest::describe("X", 2, nullptr, nullptr);
         FMOD::DSP* dsp = nullptr;
         s->createDSP(&d, &dsp);
         return s->playDSP(FMOD_CHANNEL_FREE, dsp, false, nullptr);
     }, FMOD_ERR_UNINITIALIZED},
    {"createDSP null", [](FMOD::System* s) { FMOD::DSP* d = nullptr; return s->createDSP(nullptr, &d); }, FMOD_ERR_INVALID_PARAM},
    {"driver info out of range", [](FMOD::System* s) { char n[8]; return s->getDriverInfo(99, n, 8, nullptr); }, FMOD_ERR_INVALID_PARAM},
};

TEST_F(MixerConfig, BadArgumentsAreRefusedAndGoodOnesTaken) {
    system->setOutput(FMOD_OUTPUTTYPE_NOSOUND_NRT);
    for (const auto& r : kRefusals) EXPECT_EQ(r.call(system), r.expected) << r.what;
}

TEST_F(MixerConfig, StreamAndDspBufferSizesRoundTrip) {
    ASSERT_EQ(system->setDSPBufferSize(2048, 4), FMOD_OK);
    ASSERT_EQ(system->setStreamBufferSize(16384, FMOD_TIMEUNIT_PCMBYTES), FMOD_OK);
    unsigned len = 0, size = 0;
    int count = 0;
    FMOD_TIMEUNIT unit = 0;
    system->getDSPBufferSize(&len, &count);
    system->getStreamBufferSize(&size, &unit);
    EXPECT_EQ(len, 2048u);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(size, 16384u);
    EXPECT_EQ(unit, static_cast<FMOD_TIMEUNIT>(FMOD_TIMEUNIT_PCMBYTES));
}

TEST_F(MixerConfig, AdvancedSettingsRoundTrip) {
    FMOD_ADVANCEDSETTINGS settings{};
    settings.cbsize = sizeof(settings);
    ASSERT_EQ(system->getAdvancedSettings(&settings), FMOD_OK);
    const int xma = settings.maxXMAcodecs;
    settings.maxMPEGcodecs = settings.maxADPCMcodecs = settings.maxCELTcodecs = settings.maxPCMcodecs = 65;
    ASSERT_EQ(system->setAdvancedSettings(&settings), FMOD_OK);
    FMOD_ADVANCEDSETTINGS back{};
    back.cbsize = sizeof(back);
    ASSERT_EQ(system->getAdvancedSettings(&back), FMOD_OK);
    EXPECT_EQ(back.maxMPEGcodecs, 65);
    EXPECT_EQ(back.maxADPCMcodecs, 65);
    EXPECT_EQ(back.maxCELTcodecs, 65);
    EXPECT_EQ(back.maxPCMcodecs, 65);
    EXPECT_EQ(back.maxXMAcodecs, xma);
    EXPECT_EQ(system->getAdvancedSettings(nullptr), FMOD_ERR_INVALID_PARAM);
    FMOD_ADVANCEDSETTINGS tiny{};
    tiny.cbsize = 2;
    EXPECT_EQ(system->setAdvancedSettings(&tiny), FMOD_ERR_INVALID_PARAM);
}

TEST_F(MixerConfig, VersionIsTheOneTheEngineChecksAndCanBeOverridden) {
    unsigned version = 0;
    ASSERT_EQ(system->getVersion(&version), FMOD_OK);
    EXPECT_EQ(version, 0x43202u);
    pw::testhooks::overrideVersion(0x43000);
    system->getVersion(&version);
    EXPECT_EQ(version, 0x43000u);
    pw::testhooks::overrideVersion(0);
    system->getVersion(&version);
    EXPECT_EQ(version, 0x43202u);
}

TEST_F(MixerConfig, NoSoundOutputHasNoDrivers) {
    ASSERT_EQ(system->setOutput(FMOD_OUTPUTTYPE_NOSOUND_NRT), FMOD_OK);
    int count = -1, records = -1;
    EXPECT_EQ(system->getNumDrivers(&count), FMOD_OK);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(system->getRecordNumDrivers(&records), FMOD_OK);
    EXPECT_EQ(records, 0);
    EXPECT_EQ(system->setOutput(FMOD_OUTPUTTYPE_ASIO), FMOD_ERR_OUTPUT_INIT);
}

TEST_F(MixerConfig, MissingPluginIsFileNotFound) {
    ASSERT_EQ(system->setPluginPath("/nonexistent-folder"), FMOD_OK);
    unsigned handle = 0;
    EXPECT_EQ(system->loadPlugin("Trellisco.dylib", &handle, 0), FMOD_ERR_FILE_NOTFOUND);
    EXPECT_EQ(system->getPluginInfo(handle, nullptr, nullptr, 0, nullptr), FMOD_ERR_INVALID_PARAM);
    EXPECT_TRUE(pw::systemCodecs(system).empty());
}

TEST_F(MixerConfig, FileThatIsNoPluginIsRefused) {
    char folder[] = "/tmp/pw-mixer-plugin-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string file = std::string(folder) + "/Fake.dylib";
    std::ofstream(file) << "not a shared object";
    ASSERT_EQ(system->setPluginPath(folder), FMOD_OK);
    unsigned handle = 0;
    EXPECT_EQ(system->loadPlugin("Fake.dylib", &handle, 0), FMOD_ERR_PLUGIN);
    EXPECT_TRUE(pw::systemCodecs(system).empty());
    std::remove(file.c_str());
    rmdir(folder);
}

TEST_F(MixerConfig, CodecPluginLoadsRelativeToThePluginPathAndUnloads) {
    ASSERT_EQ(system->setPluginPath(PW_TEST_PLUGIN_DIR), FMOD_OK);
    unsigned first = 0, second = 0;
    ASSERT_EQ(system->loadPlugin("mixer_test_codec.so", &first, 0), FMOD_OK);
    ASSERT_EQ(system->loadPlugin("mixer_test_codec.so", &second, 0), FMOD_OK);
    EXPECT_NE(first, second);
    FMOD_PLUGINTYPE type{};
    unsigned version = 0;
    char name[5];
    ASSERT_EQ(system->getPluginInfo(first, &type, name, sizeof(name), &version), FMOD_OK);
    EXPECT_EQ(type, FMOD_PLUGINTYPE_CODEC);
    EXPECT_EQ(version, 0x10007u);
    EXPECT_STREQ(name, "Test");  // cut to the buffer
    ASSERT_EQ(pw::systemCodecs(system).size(), 2u);
    EXPECT_STREQ(pw::systemCodecs(system)[0]->extensions, "tst");
    FMOD::DSP* dsp = nullptr;
    EXPECT_EQ(system->createDSPByPlugin(first, &dsp), FMOD_ERR_UNSUPPORTED);
    EXPECT_EQ(system->unloadPlugin(first), FMOD_OK);
    EXPECT_EQ(system->unloadPlugin(first), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(pw::systemCodecs(system).size(), 1u);
    EXPECT_EQ(system->getPluginInfo(second, nullptr, nullptr, 0, &version), FMOD_OK);
    // A shared object without the entry point, and a folder, are no plug-ins.
    unsigned handle = 0;
    EXPECT_EQ(system->loadPlugin("mixer_test_no_entry.so", &handle, 0), FMOD_ERR_PLUGIN);
    EXPECT_EQ(system->loadPlugin(".", &handle, 0), FMOD_ERR_FILE_NOTFOUND);
    EXPECT_EQ(system->loadPlugin(nullptr, &handle, 0), FMOD_ERR_INVALID_PARAM);
}

TEST_F(MixerConfig, RealCodecPluginLoadsReportsItselfAndUnloads) {
    const std::string dir = PW_PLUGIN_DIR;
    struct stat info {};
    if (stat((dir + "/Trellisco.dylib").c_str(), &info) != 0) GTEST_SKIP() << "the AAC plug-in is not built";
    ASSERT_EQ(system->setPluginPath(dir.c_str()), FMOD_OK);
    unsigned handle = 0;
    ASSERT_EQ(system->loadPlugin("Trellisco.dylib", &handle, 0), FMOD_OK);
    FMOD_PLUGINTYPE type{};
    unsigned version = 0;
    char name[64] = {0};
    ASSERT_EQ(system->getPluginInfo(handle, &type, name, sizeof(name), &version), FMOD_OK);
    EXPECT_EQ(type, FMOD_PLUGINTYPE_CODEC);
    EXPECT_GE(version, 0x10003u);
    ASSERT_EQ(pw::systemCodecs(system).size(), 1u);
    EXPECT_EQ(pw::systemCodecs(system)[0]->version, version);
    FMOD::DSP* dsp = nullptr;
    EXPECT_EQ(system->createDSPByPlugin(handle, &dsp), FMOD_ERR_UNSUPPORTED);
    EXPECT_EQ(dsp, nullptr);
    ASSERT_EQ(system->unloadPlugin(handle), FMOD_OK);
    EXPECT_TRUE(pw::systemCodecs(system).empty());
    EXPECT_EQ(system->getPluginInfo(handle, nullptr, nullptr, 0, &version), FMOD_ERR_INVALID_PARAM);
}

// One table of texts: the ones the engine quotes word for word, every known code with a text of
// its own in the same style (result 0 included), anything else "Unknown error.".
TEST(ResultTexts, EveryCodeHasItsOwnTextAndUnknownCodesOneText) {
    const struct {
        FMOD_RESULT code;
        const char* text;
    } quoted[] = {{FMOD_OK, "No errors. "},
                  {FMOD_ERR_FILE_NOTFOUND, "File not found. "},
                  {FMOD_ERR_FORMAT, "Unsupported file or audio format. "},
                  {FMOD_ERR_MEMORY, "Not enough memory or resources. "},
                  {FMOD_ERR_OUTPUT_CREATEBUFFER, "Error creating hardware sound buffer. "}};
    for (const auto& q : quoted) EXPECT_STREQ(FMOD_ErrorString(q.code), q.text) << q.code;
    std::set<std::string> seen;
    for (int code = 0; code <= 97; ++code) {
        const std::string text = FMOD_ErrorString(static_cast<FMOD_RESULT>(code));
        ASSERT_GT(text.size(), 2u) << code;
        EXPECT_EQ(text.substr(text.size() - 2), ". ") << code << ": " << text;
        EXPECT_TRUE(seen.insert(text).second) << code << " repeats " << text;
    }
    for (int code : {-1, 98, 1000}) EXPECT_STREQ(FMOD_ErrorString(static_cast<FMOD_RESULT>(code)), "Unknown error.");
}

}  // namespace
