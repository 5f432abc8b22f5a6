// Enumeration of a virtual device table that takes every branch: names, role codes and order of
// the output slots, the recorder names, the -31 result, what each card's system was configured
// with, and the log lines that tell a user why a card yields what it yields.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "device_table_file.hpp"
#include "startup_test_support.h"

namespace {

using namespace startuptest;

// Driver order: 0 Stereo Card, 1 BCD3000, 2 Hercules DJ Console, 3 Hercules DJ Console Mk2,
// 4 M-Audio Xponent, 5 SigmaTel HD Quad, 6 Eight Card, 7 Refuses Surround, 8 Broken Card,
// 9 Emulated Card, 10 SigmaTel Stereo, 11 Ranged Quad.
const char kEveryBranch[] =
    "output name=\"Stereo Card\" channels=2\n"
    "output name=\"BCD3000\" channels=4\n"
    "output name=\"Hercules DJ Console\" channels=6\n"
    "output name=\"Hercules DJ Console Mk2\" channels=4\n"
    "output name=\"M-Audio Xponent\" channels=4 caps=4 panel=2\n"
    "output name=\"SigmaTel HD Quad\" channels=4 caps=4 panel=2\n"
    "output name=\"Eight Card\" channels=8\n"
    "output name=\"Refuses Surround\" channels=6 init=fail58\n"
    "output name=\"Broken Card\" channels=2 init=fail\n"
    "output name=\"Emulated Card\" channels=2 caps=2\n"
    "output name=\"SigmaTel Stereo\" channels=2\n"
    "output name=\"Ranged Quad\" channels=4 caps=4 panel=2 minrate=48000 maxrate=96000\n"
    "record name=\"Line In\" input=sine:440\n"
    "record name=\"Mic\" input=sine:1000 channels=1\n";

struct SlotCase {
    const char* name;
    int role;
    int driver;          // which card: slots with the same driver share one system
    int rate;            // the card's software format after init
    FMOD_SOUND_FORMAT format;
    FMOD_DSP_RESAMPLER resampler;
    int mixChannels;
    unsigned dspLength;  // 22 ms at the card's rate
};

// Started with resampler 7 and 44100 Hz. Cards of the last row of the name table keep the
// layer's own format (44100 Hz, 16-bit, linear); the set-format rows carry the arguments.
const SlotCase kSlots[] = {
    {"0[Stereo Card]-CoreAudio", 0, 0, 44100, FMOD_SOUND_FORMAT_PCM16, FMOD_DSP_RESAMPLER_LINEAR, 2, 1024},
    {"1[BCD3000]front-CoreAudio", 1000, 1, 44100, FMOD_SOUND_FORMAT_PCM16, FMOD_DSP_RESAMPLER_SPLINE, 6, 1024},
    {"2[BCD3000]Monitor-CoreAudio", 1001, 1, 44100, FMOD_SOUND_FORMAT_PCM16, FMOD_DSP_RESAMPLER_SPLINE, 6, 1024},
    {"3[BCD3000]all-CoreAudio", 5, 1, 44100, FMOD_SOUND_FORMAT_PCM16, FMOD_DSP_RESAMPLER_SPLINE, 6, 1024},
    {"4[Hercules DJ Console]front-CoreAudio", 1, 2, 44100, FMOD_SOUND_FORMAT_PCM16, FMOD_DSP_RESAMPLER_SPLINE, 6, 1024},
    {"5[Hercules DJ Console]center-CoreAudio", 3, 2, 44100, FMOD_SOUND_FORMAT_PCM16, FMOD_DSP_RESAMPLER_SPLINE, 6, 1024},
    {"6[Hercules DJ Console]rear-CoreAudio", 2, 2, 44100, FMOD_SOUND_FORMAT_PCM16, FMOD_DSP_RESAMPLER_SPLINE, 6, 1024},
    {"7[Hercules DJ Console]all-CoreAudio", 5, 2, 44100, FMOD_SOUND_FORMAT_PCM16, FMOD_DSP_RESAMPLER_SPLINE, 6, 1024},
    {"8[Hercules DJ Console Mk2]front-CoreAudio", 1, 3, 44100, FMOD_SOUND_FORMAT_PCM16, FMOD_DSP_RESAMPLER_SPLINE, 4, 1024},
    {"9[Hercules DJ Console Mk2]rear-CoreAudio", 2, 3, 44100, FMOD_SOUND_FORMAT_PCM16, FMOD_DSP_RESAMPLER_SPLINE, 4, 1024},
    {"10[Hercules DJ Console Mk2]all-CoreAudio", 5, 3, 44100, FMOD_SOUND_FORMAT_PCM16, FMOD_DSP_RESAMPLER_SPLINE, 4, 1024},
    {"11[M-Audio Xponent] 1/2-CoreAudio", 10, 4, 44100, FMOD_SOUND_FORMAT_PCM16, FMOD_DSP_RESAMPLER_SPLINE, 4, 1024},
    {"12[M-Audio Xponent] 3/4-CoreAudio", 11, 4, 44100, FMOD_SOUND_FORMAT_PCM16, FMOD_DSP_RESAMPLER_SPLINE, 4, 1024},
    {"13[SigmaTel HD Quad]front-CoreAudio", 1, 5, 44100, FMOD_SOUND_FORMAT_PCMFLOAT, FMOD_DSP_RESAMPLER_SPLINE, 4, 1024},
    {"14[SigmaTel HD Quad]rear-CoreAudio", 2, 5, 44100, FMOD_SOUND_FORMAT_PCMFLOAT, FMOD_DSP_RESAMPLER_SPLINE, 4, 1024},
    {"15[SigmaTel HD Quad]all-CoreAudio", 5, 5, 44100, FMOD_SOUND_FORMAT_PCMFLOAT, FMOD_DSP_RESAMPLER_SPLINE, 4, 1024},
    {"16[Eight Card]front-CoreAudio", 1, 6, 44100, FMOD_SOUND_FORMAT_PCM16, FMOD_DSP_RESAMPLER_LINEAR, 8, 1024},
    {"17[Eight Card]center-CoreAudio", 3, 6, 44100, FMOD_SOUND_FORMAT_PCM16, FMOD_DSP_RESAMPLER_LINEAR, 8, 1024},
    {"18[Eight Card]rear-CoreAudio", 2, 6, 44100, FMOD_SOUND_FORMAT_PCM16, FMOD_DSP_RESAMPLER_LINEAR, 8, 1024},
    {"19[Eight Card]side-CoreAudio", 4, 6, 44100, FMOD_SOUND_FORMAT_PCM16, FMOD_DSP_RESAMPLER_LINEAR, 8, 1024},
    {"20[Eight Card]all-CoreAudio", 5, 6, 44100, FMOD_SOUND_FORMAT_PCM16, FMOD_DSP_RESAMPLER_LINEAR, 8, 1024},
    {"21[Refuses Surround]-CoreAudio", 0, 7, 44100, FMOD_SOUND_FORMAT_PCM16, FMOD_DSP_RESAMPLER_LINEAR, 2, 1024},
    {"22[Emulated Card]-CoreAudio", 0, 9, 44100, FMOD_SOUND_FORMAT_PCM16, FMOD_DSP_RESAMPLER_LINEAR, 2, 1024},
    {"23[SigmaTel Stereo]-CoreAudio", 0, 10, 44100, FMOD_SOUND_FORMAT_PCM16, FMOD_DSP_RESAMPLER_LINEAR, 2, 1024},
    {"24[Ranged Quad]front-CoreAudio", 1, 11, 48000, FMOD_SOUND_FORMAT_PCM16, FMOD_DSP_RESAMPLER_SPLINE, 4, 2048},
    {"25[Ranged Quad]rear-CoreAudio", 2, 11, 48000, FMOD_SOUND_FORMAT_PCM16, FMOD_DSP_RESAMPLER_SPLINE, 4, 2048},
    {"26[Ranged Quad]all-CoreAudio", 5, 11, 48000, FMOD_SOUND_FORMAT_PCM16, FMOD_DSP_RESAMPLER_SPLINE, 4, 2048},
};
constexpr int kSlotCount = sizeof kSlots / sizeof kSlots[0];

class Enumeration : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        // 22 ms: 970.7 samples at 44100 Hz (1024), 1056.5 at 48000 Hz (2048): a card's clamped
        // rate shows in its buffer length.
        CTKCore::g_usebuffersizesMS = 1;
        CTKCore::g_dsp_buffer_sizeMS = 22;
    }
};

TEST_F(Enumeration, EveryBranchYieldsItsSlotsInDriverOrder) {
    pw::test::DeviceTableFile table(kEveryBranch);
    ASSERT_EQ(t_core.InitPlayer(0, 7, 44100), -31) << "the emulated card makes the pass answer -31";
    ASSERT_TRUE(CPlayerList::initialized.load()) << "-31 still starts the engine";

    int count = -1;
    char** names = t_core.GetSoundcards(&count);
    ASSERT_NE(names, nullptr);
    ASSERT_EQ(count, kSlotCount);
    ASSERT_EQ(names, CTKCore::g_soundcards) << "the table itself, not a copy";

    FMOD::System* cardSystem[12] = {};
    for (int i = 0; i < kSlotCount; ++i) {
        const SlotCase& expected = kSlots[i];
        SCOPED_TRACE(expected.name);
        EXPECT_STREQ(names[i], expected.name);
        EXPECT_EQ(CTKCore::g_outputstate[i], expected.role);
        ASSERT_NE(CTKCore::g_Systems[i], nullptr);

        // One wrapper per slot; all slots of one card wrap one system, other cards another.
        FMOD::System* system = CTKCore::g_Systems[i]->getFMODSystem();
        ASSERT_NE(system, nullptr);
        if (!cardSystem[expected.driver]) cardSystem[expected.driver] = system;
        EXPECT_EQ(system, cardSystem[expected.driver]);
        for (int j = 0; j < i; ++j) {
            EXPECT_NE(CTKCore::g_Systems[j], CTKCore::g_Systems[i]);
            if (kSlots[j].driver != expected.driver) {
                EXPECT_NE(CTKCore::g_Systems[j]->getFMODSystem(), system);
            }
        }

        int rate = 0, mixChannels = 0;
        FMOD_SOUND_FORMAT format = FMOD_SOUND_FORMAT_NONE;
        FMOD_DSP_RESAMPLER resampler = FMOD_DSP_RESAMPLER_NOINTERP;
        ASSERT_EQ(CTKCore::g_Systems[i]->getSoftwareFormat(&rate, &format, &mixChannels, nullptr, &resampler, nullptr),
                  FMOD_OK);
        EXPECT_EQ(rate, expected.rate);
        EXPECT_EQ(format, expected.format);
        EXPECT_EQ(resampler, expected.resampler);
        EXPECT_EQ(mixChannels, expected.mixChannels);
        unsigned length = 0;
        int buffers = 0;
        ASSERT_EQ(CTKCore::g_Systems[i]->getDSPBufferSize(&length, &buffers), FMOD_OK);
        EXPECT_EQ(length, expected.dspLength);
        EXPECT_EQ(buffers, 4);
    }
    for (int i = kSlotCount; i < kTKSlotCount; ++i) EXPECT_EQ(CTKCore::g_Systems[i], nullptr) << i;
    EXPECT_EQ(CTKCore::g_dsp_buffer_size, 2048u) << "the length the last card received";

    int recorders = -1;
    char** recorderNames = t_core.GetRecorderDevices(&recorders);
    ASSERT_NE(recorderNames, nullptr);
    ASSERT_EQ(recorders, 2);
    EXPECT_STREQ(recorderNames[0], "0[Line In] 1/2-CoreAudio");
    EXPECT_STREQ(recorderNames[1], "1[Mic] 3/4-CoreAudio");
    EXPECT_STREQ(recorderNames[2], "");
}

// Log lines in the order the pass writes them (other lines may come between).
TEST_F(Enumeration, LogTellsWhatEachCardYielded) {
    {
        pw::test::DeviceTableFile table(kEveryBranch);
        ASSERT_EQ(t_core.InitPlayer(1, 1, 44100), -31);
        t_core.CleanUp();
    }
    const std::string log = logText();
    const std::vector<std::string> inOrder = {
        "\n==========\ninitPlayer()\n==========\n",
        "System 0 set to outputtype:0!\n",
        "count of soundcards: 12\n",
        "examining sound card: Stereo Card\n",
        "numoutputchannel:0\n",
        "\nSpeakerMode: 0 2 0\n",
        "Trying to initialize Stereo.\n",
        "init done: 0\n",
        "sound card Stereo Card\n",
        "INFO: System initialized: 0[Stereo Card]-CoreAudio\n",
        "examining sound card: BCD3000\n",
        "\nSpeakerMode: 1 5 0\n",
        "INFO: System initialized: 1[BCD3000]front-CoreAudio\n",
        "INFO: System initialized: 2[BCD3000]Monitor-CoreAudio\n",
        "INFO: System initialized: 3[BCD3000]all-CoreAudio\n",
        "\nSpeakerMode: 11 0 4\n",
        "INFO: System initialized: 11[M-Audio Xponent] 1/2-CoreAudio\n",
        "INFO: System initialized: 12[M-Audio Xponent] 3/4-CoreAudio\n",
        "\nSpeakerMode: 16 6 0\n",
        // The multichannel attempt fails with 58, the same card then works in stereo.
        "examining sound card: Refuses Surround\n",
        "\nSpeakerMode: 21 5 0\n",
        "INFO: Soundcard 7 not usable! Please check your driver config\n",
        "\nSpeakerMode: 21 2 0\n",
        "Trying to initialize Stereo.\n",
        "init done: 0\n",
        "sound card Refuses Surround\n",
        "INFO: System initialized: 21[Refuses Surround]-CoreAudio\n",
        // A card that cannot open yields nothing; the next card takes slot 22.
        "examining sound card: Broken Card\n",
        "\nSpeakerMode: 22 2 0\n",
        "Trying to initialize Stereo.\n",
        "init done: ",
        "INFO: Soundcard 8 not usable! Please check your driver config\n",
        "examining sound card: Emulated Card\n",
        "INFO: System initialized: 22[Emulated Card]-CoreAudio\n",
        "INFO: System initialized: 26[Ranged Quad]all-CoreAudio\n",
        "INFO: System initialized: 0[Line In] 1/2-CoreAudio\n",
        "INFO: System initialized: 1[Mic] 3/4-CoreAudio\n",
        "EnumerateSoundcards done\n",
        "MasterGain created!\n",
        "MixDown created!\n",
        "InitPlayer done!\n",
        "\n==========\ncleanUp()\n==========\n",
        "\n==========\ncleanUp done!\n==========\n",
    };
    size_t at = 0;
    for (const std::string& line : inOrder) {
        const size_t found = log.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing, or out of order: \"" << line << "\"";
        at = found + line.size();
    }
    EXPECT_EQ(log.find("init done: 0\nINFO: Soundcard 8"), std::string::npos) << "the broken card's init failed";
    EXPECT_EQ(countOf(log, "not usable!"), 2);
    EXPECT_EQ(countOf(log, "examining sound card: "), 12);
}

// Small tables, one branch each: what the slot table holds afterwards and the pass's result.
struct TableCase {
    const char* what;
    const char* table;
    int result;
    std::vector<std::string> names;
    std::vector<int> roles;
    std::vector<std::string> recorders;
};

void PrintTo(const TableCase& c, std::ostream* os) { *os << c.what; }

class EnumerationTables : public Enumeration, public ::testing::WithParamInterface<TableCase> {};

TEST_P(EnumerationTables, SlotsAndRecorders) {
    const TableCase& c = GetParam();
    pw::test::DeviceTableFile table(c.table);
    EXPECT_EQ(t_core.InitPlayer(0, 1, 44100), c.result);
    EXPECT_EQ(slotNames(), c.names);
    EXPECT_EQ(roles(), c.roles);
    int count = -1;
    char** recorders = t_core.GetRecorderDevices(&count);
    ASSERT_NE(recorders, nullptr);
    ASSERT_EQ(count, static_cast<int>(c.recorders.size()));
    for (int i = 0; i < count; ++i) EXPECT_EQ(recorders[i], c.recorders[i]);
}

const TableCase kTables[] = {
    {"NoDriver", "", 1, {}, {}, {}},
    {"NoOutputRecorderNotListed", "record name=\"Line In\"\n", 1, {}, {}, {}},
    {"TwoStereoCards",
     "output name=\"A\"\noutput name=\"B\"\n", 1,
     {"0[A]-CoreAudio", "1[B]-CoreAudio"}, {0, 0}, {}},
    {"ControllerLayoutHoldsForItsCardOnly",
     "output name=\"BCD3000\" channels=4\noutput name=\"Six\" channels=6\n", 1,
     {"0[BCD3000]front-CoreAudio", "1[BCD3000]Monitor-CoreAudio", "2[BCD3000]all-CoreAudio",
      "3[Six]front-CoreAudio", "4[Six]center-CoreAudio", "5[Six]rear-CoreAudio", "6[Six]all-CoreAudio"},
     {1000, 1001, 5, 1, 3, 2, 5}, {}},
    {"ControllerLayoutOnSevenOneKeepsSideNoCenter",
     "output name=\"BCD3000\" channels=8 caps=0 panel=6\n", 1,
     {"0[BCD3000]front-CoreAudio", "1[BCD3000]Monitor-CoreAudio", "2[BCD3000]all-CoreAudio"},
     {1000, 1001, 5}, {}},
    {"NamesAreComparedWhole",
     "output name=\"Hercules DJ Console Mk2 \" channels=2\noutput name=\"BCD3000X\" channels=2\n", 1,
     {"0[Hercules DJ Console Mk2 ]-CoreAudio", "1[BCD3000X]-CoreAudio"}, {0, 0}, {}},
    {"SurroundPanelGivesThreeSlots",
     "output name=\"Five\" channels=5\n", 1,
     {"0[Five]front-CoreAudio", "1[Five]rear-CoreAudio", "2[Five]all-CoreAudio"}, {1, 2, 5}, {}},
    {"QuadPanelGivesThreeSlots",
     "output name=\"Four\" channels=4\n", 1,
     {"0[Four]front-CoreAudio", "1[Four]rear-CoreAudio", "2[Four]all-CoreAudio"}, {1, 2, 5}, {}},
    {"RawPanelGivesChannelPairs",
     "output name=\"Raw\" channels=4 panel=0\n", 1,
     {"0[Raw] 1/2-CoreAudio", "1[Raw] 3/4-CoreAudio"}, {10, 11}, {}},
    {"MultichannelBitWithoutStereoPanelKeepsPanel",
     "output name=\"M-Audio Xponent\" channels=6 caps=4\n", 1,
     {"0[M-Audio Xponent]front-CoreAudio", "1[M-Audio Xponent]center-CoreAudio",
      "2[M-Audio Xponent]rear-CoreAudio", "3[M-Audio Xponent]all-CoreAudio"},
     {1, 3, 2, 5}, {}},
    {"MonoAndProLogicAreStereo",
     "output name=\"Mono\" channels=1\noutput name=\"PL\" channels=2 panel=7\n", 1,
     {"0[Mono]-CoreAudio", "1[PL]-CoreAudio"}, {0, 0}, {}},
    {"FailedCardLeavesNoGap",
     "output name=\"Dead\" channels=6 init=fail\noutput name=\"A\"\noutput name=\"Dead2\" init=fail\n"
     "output name=\"B\"\n",
     1, {"0[A]-CoreAudio", "1[B]-CoreAudio"}, {0, 0}, {}},
    {"Fail58OnStereoCardIsNoRetry",
     "output name=\"Stereo58\" channels=2 init=fail58\noutput name=\"A\"\n", 1,
     {"0[Stereo58]-CoreAudio", "1[A]-CoreAudio"}, {0, 0}, {}},
    {"EmulatedCardStillGetsItsSlots",
     "output name=\"A\" caps=2\noutput name=\"Four\" channels=4 caps=6 panel=2\n", -31,
     {"0[A]-CoreAudio", "1[Four]front-CoreAudio", "2[Four]rear-CoreAudio", "3[Four]all-CoreAudio"},
     {0, 1, 2, 5}, {}},
    {"RecorderNumbersFollowDrivers",
     "output name=\"A\"\nrecord name=\"One\"\nrecord name=\"Two\"\nrecord name=\"Three\"\n", 1,
     {"0[A]-CoreAudio"}, {0},
     {"0[One] 1/2-CoreAudio", "1[Two] 3/4-CoreAudio", "2[Three] 5/6-CoreAudio"}},
};

INSTANTIATE_TEST_SUITE_P(Tables, EnumerationTables, ::testing::ValuesIn(kTables),
                         [](const auto& info) { return std::string(info.param.what); });

// More cards than the slot table holds: the table stops at 65 entries, whole cards are skipped
// and logged, and recorders beyond 65 are skipped too.
TEST_F(Enumeration, TablesStopAtTheirBound) {
    std::string text;
    for (int i = 0; i < 20; ++i) text += "output name=\"Eight" + std::to_string(i) + "\" channels=8\n";  // 5 slots each
    for (int i = 0; i < 70; ++i) text += "record name=\"Rec" + std::to_string(i) + "\"\n";
    pw::test::DeviceTableFile table(text);
    const int systemsBefore = live(hooks::Kind::System);
    ASSERT_EQ(t_core.InitPlayer(0, 1, 44100), 1);
    EXPECT_EQ(CTKCore::g_soundcardcount, 65) << "13 whole cards of 5 slots";
    EXPECT_STREQ(CTKCore::g_soundcards[64], "64[Eight12]all-CoreAudio");
    EXPECT_EQ(CTKCore::g_recordercount, 65);
    EXPECT_STREQ(CTKCore::g_recorderdevices[64], "64[Rec64] 129/130-CoreAudio");
    const std::string log = logText();
    EXPECT_EQ(countOf(log, "INFO: Soundcard "), 7) << "cards 13 to 19 are skipped and logged";
    EXPECT_NE(log.find("INFO: Recorder 65 skipped"), std::string::npos);
    // Every skipped card's system went away again: the slots' cards and the silent system remain.
    EXPECT_EQ(live(hooks::Kind::System) - systemsBefore, 13 + 1);
}

}  // namespace
