// Song length of files in every supported format, made at test time with sox, lame, flac, oggenc
// and ffmpeg from one generated tone: accurately through a handle (OpenFile + GetSongLength) and
// quickly by name (CalcSongLength), which may estimate compressed formats.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "TKCore.h"
#include "soundopen_support.h"

namespace {

struct Format {
    const char* leaf;
    const char* tool;     // the program that must be present
    const char* command;  // %1$s the source WAV, %2$s the target; empty: sox writes it directly
    int rate, channels;
    long frames;
    unsigned accurateSlackMs;  // how far the accurate length may stray from the true one
    unsigned quickSlackMs;     // the same for the quick length
    bool needsPlugin;
};

// 2.5 s at 44.1 kHz unless said otherwise; odd frame counts catch rounding of partial blocks.
const Format kFormats[] = {
    {"pcm16.wav", "sox", "", 44100, 2, 110250, 1, 1, false},
    {"pcm24_mono_48k.wav", "sox", "-b 24", 48000, 1, 96001, 1, 1, false},
    {"tone.aiff", "sox", "", 44100, 2, 88201, 1, 1, false},
    {"tone.aif", "sox", "", 22050, 1, 30000, 1, 1, false},
    {"tone.flac", "flac", "flac -s -f -o '%2$s' '%1$s'", 44100, 2, 110251, 1, 1, false},
    {"tone.ogg", "oggenc", "oggenc -Q -o '%2$s' '%1$s'", 44100, 2, 110250, 1, 1, false},
    {"cbr.mp3", "lame", "lame --quiet -b 192 '%1$s' '%2$s'", 44100, 2, 110250, 1, 60, false},
    {"vbr.mp3", "lame", "lame --quiet -V 2 '%1$s' '%2$s'", 44100, 2, 132300, 1, 100, false},
    {"tone.mp2", "ffmpeg", "ffmpeg -loglevel error -y -i '%1$s' -c:a mp2 '%2$s'", 44100, 2, 110250, 60, 100, false},
    {"tone.m4a", "ffmpeg", "ffmpeg -loglevel error -y -i '%1$s' -c:a aac -b:a 192k '%2$s'", 44100, 2, 110250, 60, 100,
     true},
    {"tone.aac", "ffmpeg", "ffmpeg -loglevel error -y -i '%1$s' -c:a aac -b:a 192k -f adts '%2$s'", 44100, 2, 110250,
     60, 100, true},
};

class SongLength : public soundopen::EngineFixture, public ::testing::WithParamInterface<Format> {};

TEST_P(SongLength, AccurateAndQuickLengths) {
    ASSERT_EQ(initResult_, 1);
    const Format& f = GetParam();
    if (!soundopen::haveTool(f.tool)) GTEST_SKIP() << f.tool << " not installed";

    std::string target = file(f.leaf);
    const std::string source = file("source.wav");
    ASSERT_TRUE(soundopen::makeWav(source, f.frames, f.rate, f.channels));
    if (f.command[0] == '\0' || f.command[0] == '-') {
        ASSERT_TRUE(soundopen::run("sox '" + source + "' " + f.command + " '" + target + "'"));
    } else {
        char command[2048];
        std::snprintf(command, sizeof command, f.command, source.c_str(), target.c_str());
        ASSERT_TRUE(soundopen::run(command)) << command;
    }
    const unsigned trueMs = static_cast<unsigned>(f.frames * 1000 / f.rate);

    int64_t handle = 0;
    const int opened = t_core.OpenFile(&target[0], false, &handle);
    unsigned int quick = 0;
    const int calculated = t_core.CalcSongLength(&target[0], &quick, false);
    if (f.needsPlugin && !CTKCore::g_bHaveAACPlugin) {
        // Without the plug-in its types are not accepted at all.
        EXPECT_EQ(opened, -16);
        EXPECT_EQ(handle, 0);
        EXPECT_EQ(calculated, -16);
        return;
    }
    ASSERT_EQ(opened, 1);
    unsigned int accurate = 0;
    EXPECT_EQ(t_core.GetSongLength(static_cast<uint64_t>(handle), &accurate), 1);
    EXPECT_EQ(t_core.CloseFile(handle), 1);
    EXPECT_NEAR(accurate, trueMs, f.accurateSlackMs);
    EXPECT_EQ(calculated, 1);
    EXPECT_NEAR(quick, trueMs, f.quickSlackMs);
}

INSTANTIATE_TEST_SUITE_P(Formats, SongLength, ::testing::ValuesIn(kFormats),
                         [](const ::testing::TestParamInfo<Format>& info) {
                             std::string name = info.param.leaf;
                             for (char& c : name)
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

class PluginProbe : public soundopen::EngineFixture {};

TEST_F(PluginProbe, ThePluginLoadsFromTheWorkingDirectory) {
    // The build places the plug-in beside the tests; a start-up in a folder whose ./plugins holds
    // it must find it, or every AAC case above only tests the refusal.
    ASSERT_EQ(initResult_, 1);
    EXPECT_TRUE(CTKCore::g_bHaveAACPlugin);
}

}  // namespace
