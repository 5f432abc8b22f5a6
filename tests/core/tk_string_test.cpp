// The tk_ string and file helpers, for 8-bit and UTF-16 names.
#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"
#include "tk_string.h"

namespace {

const char* wide(const char16_t* text) { return reinterpret_cast<const char*>(text); }

// A UTF-16 name placed at an odd address, as names may sit inside byte buffers.
std::vector<char> unaligned(const std::u16string& text) {
    std::vector<char> bytes((text.size() + 1) * 2 + 1, '\x7f');
    std::memcpy(bytes.data() + 1, text.c_str(), (text.size() + 1) * 2);
    return bytes;
}

TEST(Strnlen, CountsBytesOrUnitsToTheTerminator) {
    EXPECT_EQ(tk_strnlen("\xce\xa9.wav", 2, false), 6);  // the size is not consulted
    EXPECT_EQ(tk_strnlen(wide(u"Ωμέγα"), 2, true), 5);
    EXPECT_EQ(tk_strnlen(wide(u"\U0001F3B5.ogg"), 0, true), 6);  // a pair is two units
    EXPECT_EQ(tk_strnlen(unaligned(u"/Musik/Café.flac").data() + 1, 0, true), 16);
    EXPECT_EQ(tk_strnlen(wide(u""), 0, true), 0);
}

TEST(Strncpy, NarrowNamesBehaveAsStrncpy) {
    for (const char* name : {"abc", "abcdef", "abcdefgh"}) {
        for (int size : {0, 4, 6, 9}) {
            char mine[12], reference[12];
            std::memset(mine, '#', sizeof mine);
            std::memset(reference, '#', sizeof reference);
            tk_strncpy(mine, name, size, false);
            std::strncpy(reference, name, static_cast<size_t>(size));
            EXPECT_EQ(std::string(mine, 12), std::string(reference, 12)) << name << " " << size;
        }
    }
}

TEST(Strncpy, Utf16NamesAreCopiedWholeOrNotAtAll) {
    const char16_t source[] = u"0123456789";  // 10 units: 22 bytes with the terminator
    const struct { int size; bool copied; } cases[] = {{22, true}, {32, true}, {21, false}, {0, false}};
    for (const auto& c : cases) {
        char dst[32];
        std::memset(dst, '#', sizeof dst);
        tk_strncpy(dst, wide(source), c.size, true);
        const std::string expected = c.copied ? std::string(wide(source), 22) + std::string(10, '#')
                                              : std::string(32, '#');
        EXPECT_EQ(std::string(dst, 32), expected) << "size " << c.size;
    }
}

struct SearchCase {
    const char* haystack;
    const char* needle;
    bool unicode;
    long offset;  // in units from the haystack's start, -1 for no match
};

class StrstrTest : public ::testing::TestWithParam<SearchCase> {};

TEST_P(StrstrTest, FindsTheFirstOccurrenceAnywhere) {
    const SearchCase& c = GetParam();
    const char* found = tk_strstr(c.haystack, c.needle, 0, c.unicode);
    EXPECT_EQ(found, c.offset < 0 ? nullptr : c.haystack + c.offset * (c.unicode ? 2 : 1));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StrstrTest,
    ::testing::Values(
        SearchCase{"/Volumes/Audio CD/Track 01.cda", ".cda", false, 26},
        SearchCase{"/music/old.cda/set.mp3", ".cda", false, 10},  // in a folder name
        SearchCase{"a.CDA", ".cda", false, -1},
        SearchCase{wide(u"/Volumes/Audio CD/Track 01.cda"), ".cda", true, 26},
        SearchCase{wide(u"Ωμέγα/cd://1"), "cd://", true, 6},
        SearchCase{wide(u"Музыка.cd"), ".cda", true, -1},  // the needle runs past the end
        // Units 0x632E 0x6164 hold the bytes ".cda" in little-endian order; unit by unit there
        // is no match, and a needle byte never matches a unit with a non-zero high byte.
        SearchCase{wide(u"\u632E\u6164"), ".cda", true, -1},
        SearchCase{wide(u"a\u012Ecda"), ".cda", true, -1}));

TEST(Strstr, FindsInUnalignedUtf16) {
    const std::vector<char> name = unaligned(u"/Mùsica/Track 02.cda");
    EXPECT_EQ(tk_strstr(name.data() + 1, ".cda", 0, true), name.data() + 1 + 16 * 2);
}

struct ConvCase {
    const char* label;
    const char16_t* source;
    int size;
    std::string text;  // the destination's first bytes; the rest of size must be zeros
};

class ConvWideTest : public ::testing::TestWithParam<ConvCase> {};

TEST_P(ConvWideTest, WritesUtf8AndStaysTerminated) {
    const ConvCase& c = GetParam();
    std::vector<char> dst(static_cast<size_t>(c.size) + 4, '#');
    tk_convUnicodeToChar(dst.data(), c.size, wide(c.source), true);
    std::string expected = c.text;
    expected.resize(static_cast<size_t>(c.size), '\0');
    EXPECT_EQ(std::string(dst.data(), dst.size()), expected + "####");  // never beyond size
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConvWideTest,
    ::testing::Values(
        ConvCase{"CutKeepsTerminator", u"abcdef", 4, "abc"},
        ConvCase{"Greek", u"Ωμέγα.mp3", 32, "Ωμέγα.mp3"},
        ConvCase{"Cjk", u"日本語の曲.flac", 32, "日本語の曲.flac"},
        // U+0100 and U+0200 have a zero low byte: converted, they do not end the name.
        ConvCase{"ZeroLowByte", u"\u0100b\u0200.wav", 16, "Āb\u0200.wav"},
        ConvCase{"SurrogatePair", u"\U0001F3B5.ogg", 16, "\xF0\x9F\x8E\xB5.ogg"},
        ConvCase{"LoneHighThenLetter", u"\xD83Dz", 8, "\xEF\xBF\xBDz"},
        ConvCase{"LoneLowAtEnd", u"a\xDC00", 8, "a\xEF\xBF\xBD"},
        ConvCase{"TwoHighs", u"\xD800\xD801\xDC00", 16, "\xEF\xBF\xBD\xF0\x90\x90\x80"},
        // A character is never split: Ω needs two bytes and only one is left.
        ConvCase{"NoSplitCharacter", u"aΩ", 3, "a"},
        ConvCase{"NoSplitPair", u"ab\U0001F3B5", 6, "ab"}),
    [](const ::testing::TestParamInfo<ConvCase>& info) { return std::string(info.param.label); });

TEST(ConvUnicodeToChar, NarrowNamesBehaveAsStrncpyAndBadArgumentsAreHarmless) {
    for (int size : {1, 4, 6, 7, 24}) {
        char mine[32], reference[32];
        std::memset(mine, '#', sizeof mine);
        std::memset(reference, '#', sizeof reference);
        tk_convUnicodeToChar(mine, size, "abcdef", false);
        std::strncpy(reference, "abcdef", static_cast<size_t>(size));
        EXPECT_EQ(std::string(mine, 32), std::string(reference, 32)) << "size " << size;
    }
    const std::vector<char> name = unaligned(u"Ωμέγα");
    char dst[16];
    tk_convUnicodeToChar(dst, sizeof dst, name.data() + 1, true);
    EXPECT_STREQ(dst, "Ωμέγα");
    tk_convUnicodeToChar(dst, 4, nullptr, true);
    EXPECT_EQ(std::string(dst, 5), std::string("\0\0\0\0\xce", 5));
    tk_convUnicodeToChar(nullptr, 4, name.data() + 1, true);
}

struct UpperCase {
    int dstSize, srcSize;
    std::string expected;  // the destination's 8 bytes, '#' where untouched
};

class StruprTest : public ::testing::TestWithParam<UpperCase> {};

TEST_P(StruprTest, UpperCasesWithinTheSmallerSize) {
    char src[16] = "flac";
    char dst[8];
    std::memset(dst, '#', sizeof dst);
    tk_strupr(dst, GetParam().dstSize, src, GetParam().srcSize, true);  // flag not consulted
    EXPECT_EQ(std::string(dst, sizeof dst), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, StruprTest,
                         ::testing::Values(UpperCase{10, 10, std::string("FLAC\0###", 8)},
                                           UpperCase{3, 10, std::string("FL\0#####", 8)},
                                           UpperCase{10, 3, std::string("FL\0#####", 8)},
                                           UpperCase{1, 10, std::string("\0#######", 8)},
                                           UpperCase{8, 0, std::string("\0#######", 8)}));

TEST(Strupr, WorksInPlaceAndIgnoresNullPointers) {
    char tail[10] = "p3.m4a";
    tk_strupr(tail, 10, tail, 10, false);
    EXPECT_STREQ(tail, "P3.M4A");
    tk_strupr(nullptr, 10, tail, 10, false);
    tk_strupr(tail, 10, nullptr, 10, false);
    EXPECT_STREQ(tail, "P3.M4A");
}

// Real files whose names are not Latin, reached through either encoding.
TEST(FileHelpers, SizeAndOpenWithNamesInEitherEncoding) {
    coretest::ScratchDir dir;  // the working directory: relative names resolve in it
    const char* utf8 = "Ωμέγα – 日本 \U0001F3B5.wav";
    const char* utf16 = wide(u"Ωμέγα – 日本 \U0001F3B5.wav");
    {
        std::ofstream file(utf8, std::ios::binary);
        for (int i = 0; i < 1234; ++i) file.put(static_cast<char>(i & 0xFF));
    }
    const struct { const char* path; bool unicode; long long size; } cases[] = {
        {utf8, false, 1234}, {utf16, true, 1234},
        {"missing.wav", false, -1}, {wide(u"Ωμέγα.wav"), true, -1}, {nullptr, true, -1}};
    for (const auto& c : cases) {
        EXPECT_EQ(tk_filesize(c.path, c.unicode), c.size) << c.unicode;
        std::FILE* file = tk_fopen(c.path, "rb", c.unicode);
        EXPECT_EQ(file != nullptr, c.size > 0) << c.unicode;
        if (file == nullptr) continue;
        EXPECT_EQ(std::fgetc(file), 0);
        EXPECT_EQ(std::fgetc(file), 1);
        std::fclose(file);
    }
    std::FILE* file = tk_fopen(utf8, "rb");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    EXPECT_EQ(tk_fopen("missing.wav", "rb"), nullptr);
}

}  // namespace
