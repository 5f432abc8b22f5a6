// The byte-level rules of the JNI frame (strings handed to Java, the UTF-8 form's surrogate pairs)
// and the fixed answers of the information exports, checked without a JVM.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <sstream>
#include <string>

#include "EngineInfo.h"
#include "JavaText.h"
#include "TKCore.h"

namespace {

struct PlainCase {
    const char* name;
    std::string bytes;
    bool plain;
};

TEST(JavaText, WhatNewStringUTFMayTake) {
    const PlainCase cases[] = {
        {"empty", "", true},
        {"ascii", "mp3|wav", true},
        {"two-byte", "h\xC3\xA9llo", true},
        {"three-byte", "\xE2\x82\xAC", true},
        {"four-byte", "\xF0\x9F\x98\x80", false},
        {"stray continuation", "a\x80", false},
        {"truncated two-byte", "a\xC3", false},
        {"truncated three-byte", "\xE2\x82", false},
        {"overlong slash", "\xC0\xAF", false},
        {"overlong nul", "\xC0\x80", false},
        {"encoded surrogate", "\xED\xA0\x80", false},
        {"latin-1 byte", "caf\xE9", false},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", false},
        {"invalid lead", "\xFF", false},
    };
    for (const PlainCase& c : cases) EXPECT_EQ(c.plain, isPlainModifiedUtf8(c.bytes.c_str())) << c.name;
}

struct DecodeCase {
    const char* name;
    std::string bytes;
    std::u16string units;
};

TEST(JavaText, DecodesUtf8WithReplacement) {
    const DecodeCase cases[] = {
        {"empty", "", u""},
        {"ascii", "abc", u"abc"},
        {"two-byte", "\xC3\xA9", u"\u00e9"},
        {"three-byte", "\xE2\x82\xAC", u"\u20ac"},
        {"four-byte to a pair", "\xF0\x9F\x98\x80", u"\U0001F600"},
        {"highest code point", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
        {"invalid lead then ascii", "\xFF" "a", u"\uFFFDa"},
        {"truncated at the end", "a\xE2\x82", u"a\uFFFD\uFFFD"},
        {"truncated before ascii", "\xE2" "b", u"\uFFFDb"},
        {"overlong", "\xC0\xAF", u"\uFFFD\uFFFD"},
        {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"latin-1", "caf\xE9", u"caf\uFFFD"},
    };
    for (const DecodeCase& c : cases) {
        std::u16string out(c.bytes.size() + 1, u'#');
        const size_t n = decodeUtf8ToUtf16(c.bytes.data(), c.bytes.size(), &out[0]);
        ASSERT_LE(n, c.bytes.size()) << c.name;
        EXPECT_EQ(c.units, out.substr(0, n)) << c.name;
        EXPECT_EQ(u'#', out[n]) << c.name << ": wrote past its count";
    }
}

struct PairCase {
    const char* name;
    std::string in;
    std::string out;
};

TEST(JavaText, RewritesSurrogatePairsOnly) {
    const PairCase cases[] = {
        {"none", "abc", "abc"},
        {"one pair", "\xED\xA0\xBD\xED\xB8\x80", "\xF0\x9F\x98\x80"},
        {"pair between text", "a\xED\xA0\xBC\xED\xBE\xB5" "b", "a\xF0\x9F\x8E\xB5" "b"},
        {"two pairs", "\xED\xA0\xBD\xED\xB8\x80\xED\xA0\xBD\xED\xB8\x80", "\xF0\x9F\x98\x80\xF0\x9F\x98\x80"},
        {"highest pair", "\xED\xAF\xBF\xED\xBF\xBF", "\xF4\x8F\xBF\xBF"},
        {"lone high", "\xED\xA0\x80x", "\xED\xA0\x80x"},
        {"lone low", "\xED\xB0\x80", "\xED\xB0\x80"},
        {"high then end", "\xED\xA0\xBD\xED", "\xED\xA0\xBD\xED"},
        {"low before high", "\xED\xB8\x80\xED\xA0\xBD", "\xED\xB8\x80\xED\xA0\xBD"},
        {"modified nul kept", "\xC0\x80", "\xC0\x80"},
    };
    for (const PairCase& c : cases) {
        std::string text = c.in;
        const size_t n = rewriteSurrogatePairs(&text[0]);
        EXPECT_EQ(c.out.size(), n) << c.name;
        EXPECT_EQ(c.out, std::string(text.c_str())) << c.name;
    }
}

TEST(EngineInfo, UuidText) {
    struct Case {
        unsigned char bytes[16];
        const char* text;
    };
    const Case cases[] = {
        {{0}, "00000000-0000-0000-0000-000000000000"},
        {{0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff},
         "ffffffff-ffff-ffff-ffff-ffffffffffff"},
        {{0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0x10, 0x32, 0x54, 0x76, 0x98, 0xba, 0xdc, 0xfe},
         "01234567-89ab-cdef-1032-547698badcfe"},
        {{0x0a, 0, 0, 0, 0x0b, 0, 0x0c, 0, 0x0d, 0, 0x0e, 0, 0, 0, 0, 0x0f},
         "0a000000-0b00-0c00-0d00-0e000000000f"},
    };
    for (const Case& c : cases) {
        char text[kUuidTextSize];
        std::memset(text, '#', sizeof text);
        formatUuid(c.bytes, text);
        EXPECT_STREQ(c.text, text);
    }
}

TEST(EngineInfo, Version) { EXPECT_STREQ(sizeof(void*) == 8 ? "2.7.0.67-64" : "2.7.0.67-32", engineVersion()); }

// The list Java reads and the engine's own file-type check must agree, with and without the
// plug-in: every listed type is accepted, and the AAC types only with the plug-in.
TEST(EngineInfo, ExtensionListsMatchTheFileTypeCheck) {
    const bool saved = CTKCore::g_bHaveAACPlugin;
    for (bool plugin : {false, true}) {
        CTKCore::g_bHaveAACPlugin = plugin;
        const std::string list = supportedAudioFileList(plugin);
        std::set<std::string> listed;
        std::stringstream in(list);
        for (std::string type; std::getline(in, type, '|');) {
            EXPECT_FALSE(type.empty()) << list;
            for (char ch : type) EXPECT_TRUE((ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9')) << type;
            listed.insert(type);
            std::string name = "/music/song." + type;
            EXPECT_EQ(1, CTKCore::IsValidFileType(&name[0], false)) << name << " plug-in " << plugin;
        }
        EXPECT_EQ(plugin ? 10u : 8u, listed.size()) << list;
        for (std::string type : {"m4a", "aac"}) {
            std::string name = "/music/song." + type;
            EXPECT_EQ(plugin ? 1 : -16, CTKCore::IsValidFileType(&name[0], false)) << name << " plug-in " << plugin;
            EXPECT_EQ(plugin, listed.count(type) == 1) << type;
        }
        for (std::string name : {"/music/song.wma", "/music/song.txt"}) {
            EXPECT_EQ(-16, CTKCore::IsValidFileType(&name[0], false)) << name;
        }
    }
    CTKCore::g_bHaveAACPlugin = saved;
}

}  // namespace
