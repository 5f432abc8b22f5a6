// Parsing of the virtual device table: every key, the defaults, and lenient handling of bad lines.
#include <gtest/gtest.h>

#include "device_table.hpp"

namespace pw::dev {
namespace {

DeviceTable parse(const std::string& text, std::vector<std::string>* problems = nullptr) {
    std::vector<std::string> local;
    return parseDeviceTable(text, "t", problems ? problems : &local);
}

TEST(DeviceTable, OutputDefaults) {
    std::vector<std::string> problems;
    const DeviceTable t = parse("output name=Card1\n", &problems);
    ASSERT_EQ(t.outputs.size(), 1u);
    const OutputEntry& e = t.outputs[0];
    EXPECT_EQ(e.info.name, "Card1");
    EXPECT_EQ(e.info.channels, 2);
    EXPECT_EQ(e.info.minRate, 0);
    EXPECT_EQ(e.info.maxRate, 0);
    EXPECT_EQ(e.info.caps, 0u);
    EXPECT_EQ(e.info.controlPanelMode, FMOD_SPEAKERMODE_STEREO);
    EXPECT_EQ(e.init, InitOutcome::Ok);
    EXPECT_EQ(e.sink, SinkKind::Discard);
    EXPECT_EQ(e.pacing, Pacing::Realtime);
    EXPECT_TRUE(problems.empty());
}

TEST(DeviceTable, EveryOutputKeyInAnyOrder) {
    const DeviceTable t = parse(
        "output pacing=stepped sink=memory init=fail58 panel=0 caps=0x6 maxrate=96000 minrate=48000 "
        "channels=4 name=\"BCD3000\"\n");
    ASSERT_EQ(t.outputs.size(), 1u);
    const OutputEntry& e = t.outputs[0];
    EXPECT_EQ(e.info.name, "BCD3000");
    EXPECT_EQ(e.info.channels, 4);
    EXPECT_EQ(e.info.minRate, 48000);
    EXPECT_EQ(e.info.maxRate, 96000);
    EXPECT_EQ(e.info.caps, FMOD_CAPS_HARDWARE_EMULATED | FMOD_CAPS_OUTPUT_MULTICHANNEL);
    EXPECT_EQ(e.info.controlPanelMode, FMOD_SPEAKERMODE_RAW);  // given panel wins over the count
    EXPECT_EQ(e.init, InitOutcome::Fail58);
    EXPECT_EQ(e.sink, SinkKind::Memory);
    EXPECT_EQ(e.pacing, Pacing::Stepped);
}

TEST(DeviceTable, PanelDefaultFollowsChannelCount) {
    struct Row {
        int channels;
        FMOD_SPEAKERMODE mode;
    };
    const Row rows[] = {{1, FMOD_SPEAKERMODE_MONO},    {2, FMOD_SPEAKERMODE_STEREO},
                        {3, FMOD_SPEAKERMODE_RAW},     {4, FMOD_SPEAKERMODE_QUAD},
                        {5, FMOD_SPEAKERMODE_SURROUND}, {6, FMOD_SPEAKERMODE_5POINT1},
                        {7, FMOD_SPEAKERMODE_RAW},     {8, FMOD_SPEAKERMODE_7POINT1},
                        {12, FMOD_SPEAKERMODE_RAW}};
    for (const Row& r : rows) {
        const DeviceTable t = parse("output name=X channels=" + std::to_string(r.channels) + "\n");
        ASSERT_EQ(t.outputs.size(), 1u) << r.channels;
        EXPECT_EQ(t.outputs[0].info.controlPanelMode, r.mode) << r.channels << " channels";
    }
}

TEST(DeviceTable, SinksAndInitOutcomes) {
    struct Row {
        std::string keys;
        SinkKind sink;
        std::string path;
        InitOutcome init;
    };
    const Row rows[] = {
        {"sink=discard init=ok", SinkKind::Discard, "", InitOutcome::Ok},
        {"sink=memory init=fail", SinkKind::Memory, "", InitOutcome::Fail},
        {"sink=wav:/tmp/out.wav", SinkKind::Wav, "/tmp/out.wav", InitOutcome::Ok},
        {"sink=\"wav:/tmp/with space.wav\" init=fail58", SinkKind::Wav, "/tmp/with space.wav", InitOutcome::Fail58},
    };
    for (const Row& r : rows) {
        const DeviceTable t = parse("output name=X " + r.keys + "\n");
        ASSERT_EQ(t.outputs.size(), 1u) << r.keys;
        EXPECT_EQ(t.outputs[0].sink, r.sink) << r.keys;
        EXPECT_EQ(t.outputs[0].sinkPath, r.path) << r.keys;
        EXPECT_EQ(t.outputs[0].init, r.init) << r.keys;
    }
}

TEST(DeviceTable, RecordAndCdromEntries) {
    const DeviceTable t = parse(
        "record name=\"Line In\" input=sine:440.5 channels=1 rate=48000\n"
        "record name=Mic input=wav:/path/in.wav\n"
        "record name=Plain\n"
        "cdrom name=\"Virtual CD\" image=/path/disc.cue\n"
        "cdrom name=\"Empty drive\"\n");
    ASSERT_EQ(t.records.size(), 3u);
    EXPECT_EQ(t.records[0].info.name, "Line In");
    EXPECT_EQ(t.records[0].input, InputKind::Sine);
    EXPECT_DOUBLE_EQ(t.records[0].frequency, 440.5);
    EXPECT_EQ(t.records[0].info.channels, 1);
    EXPECT_EQ(t.records[0].info.rate, 48000);
    EXPECT_EQ(t.records[1].input, InputKind::Wav);
    EXPECT_EQ(t.records[1].path, "/path/in.wav");
    EXPECT_EQ(t.records[1].info.channels, 2);
    EXPECT_EQ(t.records[1].info.rate, 44100);
    EXPECT_EQ(t.records[2].input, InputKind::Sine);
    ASSERT_EQ(t.cdroms.size(), 2u);
    EXPECT_EQ(t.cdroms[0].name, "Virtual CD");
    EXPECT_EQ(t.cdroms[0].image, "/path/disc.cue");
    EXPECT_FALSE(t.cdroms[0].empty);
    EXPECT_EQ(t.cdroms[1].name, "Empty drive");
    EXPECT_TRUE(t.cdroms[1].empty);
}

TEST(DeviceTable, CommentsBlankLinesAndOrder) {
    const DeviceTable t = parse(
        "# sound cards\n"
        "\n"
        "   \t\n"
        "output name=\"A # not a comment\" channels=6  # a comment\n"
        "output name=B\r\n"
        "output name=C\n");
    ASSERT_EQ(t.outputs.size(), 3u);
    EXPECT_EQ(t.outputs[0].info.name, "A # not a comment");
    EXPECT_EQ(t.outputs[0].info.channels, 6);
    EXPECT_EQ(t.outputs[1].info.name, "B");
    EXPECT_EQ(t.outputs[2].info.name, "C");
}

// A bad key or value is reported with its line number and skipped; the entry survives with the
// default for that key. A malformed line is skipped whole.
TEST(DeviceTable, BadInputIsReportedAndSkipped) {
    struct Row {
        std::string line;
        size_t outputs;       // entries that survive
        std::string problem;  // expected in the report
        int channels;         // of the surviving entry
    };
    const Row rows[] = {
        {"output name=X colour=red", 1, "t:1: unknown key \"colour\"", 2},
        {"output name=X channels=abc", 1, "t:1: bad value \"abc\" for channels", 2},
        {"output name=X channels=0", 1, "bad value \"0\" for channels", 2},
        {"output name=X channels=99", 1, "bad value \"99\" for channels", 2},
        {"output name=X channels=4x", 1, "bad value \"4x\"", 2},
        {"output name=X init=maybe channels=4", 1, "bad value \"maybe\" for init", 4},
        {"output name=X sink=wav: channels=4", 1, "bad value \"wav:\" for sink", 4},
        {"output name=X pacing=fast", 1, "bad value \"fast\" for pacing", 2},
        {"output name=X panel=9", 1, "bad value \"9\" for panel", 2},
        {"output name=X minrate=-5", 1, "bad value \"-5\" for minrate", 2},
        {"output channels=2", 0, "t:1: entry without a name", 0},
        {"output name=\"", 0, "unterminated quote", 0},
        {"output name=\"a\"b", 0, "after the closing quote", 0},
        {"output name=X stray", 0, "expected key=value", 0},
        {"output name=X =5", 0, "a value without a key", 0},
        {"speaker name=X", 0, "unknown entry kind \"speaker\"", 0},
    };
    for (const Row& r : rows) {
        std::vector<std::string> problems;
        const DeviceTable t = parse(r.line + "\n", &problems);
        ASSERT_EQ(t.outputs.size(), r.outputs) << r.line;
        ASSERT_EQ(problems.size(), 1u) << r.line;
        EXPECT_NE(problems[0].find(r.problem), std::string::npos) << r.line << " -> " << problems[0];
        if (r.outputs == 1) {
            EXPECT_EQ(t.outputs[0].info.channels, r.channels) << r.line;
        }
    }
}

TEST(DeviceTable, ProblemsCarryTheirOwnLineNumbers) {
    std::vector<std::string> problems;
    const DeviceTable t = parse(
        "output name=Good\n"
        "bogus line\n"
        "# fine\n"
        "record name=R input=square:5\n"
        "cdrom name=D tray=open\n",
        &problems);
    EXPECT_EQ(t.outputs.size(), 1u);
    EXPECT_EQ(t.records.size(), 1u);
    EXPECT_EQ(t.cdroms.size(), 1u);
    ASSERT_EQ(problems.size(), 3u);
    EXPECT_EQ(problems[0].rfind("t:2:", 0), 0u) << problems[0];
    EXPECT_EQ(problems[1].rfind("t:4:", 0), 0u) << problems[1];
    EXPECT_EQ(problems[2].rfind("t:5:", 0), 0u) << problems[2];
}

TEST(DeviceTable, DuplicateOutputNamesAreKeptButReported) {
    std::vector<std::string> problems;
    const DeviceTable t = parse("output name=A channels=2\noutput name=A channels=4\n", &problems);
    ASSERT_EQ(t.outputs.size(), 2u);
    EXPECT_EQ(t.outputs[1].info.channels, 4);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].rfind("t:2:", 0), 0u) << problems[0];
}

TEST(DeviceTable, MissingFileGivesEmptyTable) {
    const DeviceTable t = loadDeviceTable("/nonexistent/folder/devices.txt");
    EXPECT_TRUE(t.outputs.empty());
    EXPECT_TRUE(t.records.empty());
    EXPECT_TRUE(t.cdroms.empty());
}

// Arbitrary bytes never crash the parser (a small deterministic fuzz).
TEST(DeviceTable, RandomBytesNeverCrash) {
    uint32_t seed = 12345;
    const char alphabet[] = "output record cdrom name=\"#\t\n=channels caps 0x panel init sink wav: sine:";
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        const int len = static_cast<int>(seed % 200);
        for (int i = 0; i < len; ++i) {
            seed = seed * 1664525u + 1013904223u;
            text.push_back(alphabet[(seed >> 16) % (sizeof alphabet - 1)]);
        }
        std::vector<std::string> problems;
        const DeviceTable t = parseDeviceTable(text, "fuzz", &problems);
        for (const OutputEntry& e : t.outputs) {
            EXPECT_FALSE(e.info.name.empty());
            EXPECT_GE(e.info.channels, 1);
        }
    }
}

}  // namespace
}  // namespace pw::dev
