// The name checks asked before anything is opened: supported extension, file present and large
// enough, CD audio or not. 8-bit names and UTF-16 names (converted, never narrowed).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "TKCore.h"
#include "soundopen_support.h"
#include "temp_dir.hpp"

namespace {

using soundopen::utf16;

// Runs a check on the 8-bit name, or on its UTF-16 form.
template <typename Check>
auto onName(const std::string& name, bool unicode, Check check) {
    std::vector<char> bytes = unicode ? utf16(name) : std::vector<char>(name.begin(), name.end());
    if (!unicode) bytes.push_back('\0');
    return check(bytes.data(), unicode);
}

struct TypeCase {
    const char* name;
    bool aacPlugin;
    int expected;
};

class ValidFileType : public ::testing::TestWithParam<TypeCase> {
protected:
    void TearDown() override { CTKCore::g_bHaveAACPlugin = false; }
};

TEST_P(ValidFileType, EightBitAndUtf16AgreeWithTheTail) {
    const TypeCase& c = GetParam();
    CTKCore::g_bHaveAACPlugin = c.aacPlugin;
    for (bool unicode : {false, true}) {
        SCOPED_TRACE(unicode ? "UTF-16" : "8-bit");
        EXPECT_EQ(onName(c.name, unicode, CTKCore::IsValidFileType), c.expected) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, ValidFileType,
    ::testing::Values(
        TypeCase{"song.mp3", false, 1}, TypeCase{"SONG.MP3", false, 1}, TypeCase{"a.mP3", false, 1},
        TypeCase{"/music/x.mp2", false, 1}, TypeCase{"x.mp1", false, 1}, TypeCase{"x.ogg", false, 1},
        TypeCase{"x.WAV", false, 1}, TypeCase{"x.flac", false, 1}, TypeCase{"x.aiff", false, 1},
        TypeCase{"x.aif", false, 1},
        // The pattern counts anywhere in the last five characters.
        TypeCase{"song.mp3x", false, 1}, TypeCase{"song.wav2", false, 1}, TypeCase{"song.mp3xy", false, -16},
        TypeCase{".mp3", false, 1}, TypeCase{"mp3", false, -16}, TypeCase{"x.mp4", false, -16},
        TypeCase{"x.flac ", false, -16}, TypeCase{"/a.mp3/readme.txt", false, -16},
        // The plug-in's types only with the plug-in.
        TypeCase{"x.m4a", false, -16}, TypeCase{"x.m4a", true, 1}, TypeCase{"x.AAC", false, -16},
        TypeCase{"x.AAC", true, 1}, TypeCase{"x.wma", true, -16},
        // Missing names and special sources.
        TypeCase{"", false, -16}, TypeCase{"cd://dev/disc/1", false, 1}, TypeCase{"CD://x", false, 1},
        TypeCase{"record://0", false, 1}, TypeCase{"RECORD://2", false, 1}, TypeCase{"Record://2", false, -16},
        // Non-ASCII names: U+0100 has a zero low byte and must not end the name.
        TypeCase{"\xc4\x80.mp3", false, 1}, TypeCase{"\xd0\xbf\xd0\xb5\xd1\x81\xd0\xbd\xd1\x8f.flac", false, 1},
        TypeCase{"\xe6\x97\xa5\xe6\x9c\xac.ogg", false, 1}));

TEST(ValidFileTypeNull, NullNameIsUnsupported) {
    EXPECT_EQ(CTKCore::IsValidFileType(nullptr, false), -16);
    EXPECT_EQ(CTKCore::IsValidFileType(nullptr, true), -16);
}

struct SizeCase {
    long bytes;  // -1: no file at all
    int expected;
};

class FileAvailable : public ::testing::TestWithParam<SizeCase> {
protected:
    pw::test::TempDir dir_{"pw-soundopen-avail-"};
};

TEST_P(FileAvailable, SizeDecides) {
    const SizeCase& c = GetParam();
    // A plain name and a non-ASCII one (UTF-8 as 8-bit, and as UTF-16).
    for (const std::string leaf : {"f.wav", "\xc4\x80\xe6\x97\xa5.wav"}) {
        const std::string path = dir_.file(leaf);
        std::remove(path.c_str());
        if (c.bytes >= 0) {
            ASSERT_TRUE(soundopen::writeBytes(path, static_cast<size_t>(c.bytes)));
        }
        for (bool unicode : {false, true}) {
            SCOPED_TRACE(leaf + (unicode ? " UTF-16" : " 8-bit"));
            EXPECT_EQ(onName(path, unicode, CTKCore::IsFileAvailable), c.expected);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, FileAvailable,
                         ::testing::Values(SizeCase{-1, -3}, SizeCase{0, -16}, SizeCase{1, -16}, SizeCase{128, -16},
                                           SizeCase{129, 1}, SizeCase{4096, 1}));

// Paths longer than 1024 bytes are ordinary here (the platform takes 4096): an ASCII path of 1,200
// bytes, and one of about 400 characters whose UTF-8 form passes 1024 bytes, are checked like
// short ones, as 8-bit text and as UTF-16.
TEST(LongPaths, AreCheckedLikeShortOnes) {
    pw::test::TempDir dir("pw-soundopen-long-");
    for (const std::string& segment : {std::string(240, 'a'), [] {
             std::string s;
             for (int i = 0; i < 80; ++i) s += "\xe6\x97\xa5";  // U+65E5, three UTF-8 bytes
             return s;
         }()}) {
        std::string path = dir.file("");
        for (int depth = 0; depth < 5; ++depth) {
            path += segment + "/";
            ASSERT_EQ(mkdir(path.c_str(), 0700), 0) << path;
        }
        path += "f.wav";
        ASSERT_GT(path.size(), 1100u);
        ASSERT_TRUE(soundopen::writeBytes(path, 4096));
        for (bool unicode : {false, true}) {
            SCOPED_TRACE(std::to_string(path.size()) + (unicode ? " bytes, UTF-16" : " bytes, 8-bit"));
            EXPECT_EQ(onName(path, unicode, CTKCore::IsValidFileType), 1);
            EXPECT_EQ(onName(path, unicode, CTKCore::IsFileAvailable), 1);
        }
    }
}

TEST(FileAvailableNames, MissingEmptyAndSourceNames) {
    struct Case {
        const char* name;
        int expected;
    } cases[] = {{"", -3},           {"/no/such/dir/x.mp3", -3}, {"record://0", 1},
                 {"cd://dev/id/3", 1}, {"x://anything", 1}};
    for (const Case& c : cases) {
        for (bool unicode : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (unicode ? " UTF-16" : " 8-bit"));
            EXPECT_EQ(onName(c.name, unicode, CTKCore::IsFileAvailable), c.expected);
        }
    }
    EXPECT_EQ(CTKCore::IsFileAvailable(nullptr, false), -3);
}

TEST(WaveDataAccess, CdAudioIsRefusedWithTheExactMarkers) {
    struct Case {
        const char* name;
        bool allowed;
    } cases[] = {{"/m/a.mp3", true},          {"D:\\Track01.cda", false}, {"x.CDA", false},
                 {"x.Cda", true},             {"cd://dev/id/1", false},   {"CD://dev/id/1", false},
                 {"Cd://dev/id/1", true},     {"/cd:/x.wav", true},       {"/music/.cda/x.wav", false},
                 {"record://0", true}};
    for (const Case& c : cases) {
        for (bool unicode : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (unicode ? " UTF-16" : " 8-bit"));
            EXPECT_EQ(onName(c.name, unicode, CTKCore::isWaveDataAccessAllowed), c.allowed);
        }
    }
}

}  // namespace
