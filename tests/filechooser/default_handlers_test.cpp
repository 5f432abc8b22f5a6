// Content types of extensions and schemes, and application ids, as the default-handler exports
// use them; the system's shared MIME database is the oracle for the extensions.
#include <gtest/gtest.h>

#include "default_handlers.hpp"
#include "panel_dialog.hpp"

namespace pw::desktop {
namespace {

TEST(DefaultHandlers, ExtensionsMapToTheirContentTypeAndUnknownOnesToNone) {
    const struct {
        const char* extension;
        std::optional<std::string> type;
    } rows[] = {
        {"mp3", "audio/mpeg"},
        {"MP3", "audio/mpeg"},
        {"flac", "audio/flac"},
        {"txt", "text/plain"},
        {"zzqqxy", std::nullopt},   // never generic binary data
        {"", std::nullopt},
        {"a/b", std::nullopt},
        {"mp3/", std::nullopt},
    };
    for (const auto& row : rows) EXPECT_EQ(row.type, contentTypeForExtension(row.extension)) << row.extension;
    EXPECT_EQ(std::nullopt, contentTypeForExtension(std::string("mp3\0x", 5)));
}

TEST(DefaultHandlers, SchemesMapToSchemeHandlerTypes) {
    const struct {
        const char* scheme;
        std::optional<std::string> type;
    } rows[] = {
        {"pwtest", "x-scheme-handler/pwtest"},
        {"HTTP", "x-scheme-handler/http"},
        {"svn+ssh", "x-scheme-handler/svn+ssh"},
        {"a1.b-c", "x-scheme-handler/a1.b-c"},
        {"", std::nullopt},
        {"1abc", std::nullopt},
        {"a b", std::nullopt},
        {"a/b", std::nullopt},
        {"http:", std::nullopt},
        {"sch\xc3\xa9ma", std::nullopt},
    };
    for (const auto& row : rows) EXPECT_EQ(row.type, contentTypeForScheme(row.scheme)) << row.scheme;
}

TEST(DefaultHandlers, ApplicationsCompareIgnoringCaseAndTheDesktopSuffix) {
    const struct {
        const char* a;
        const char* b;
        bool same;
    } rows[] = {
        {"org.example.Player", "org.example.Player", true},
        {"org.example.Player", "ORG.EXAMPLE.player", true},
        {"org.example.Player.desktop", "org.example.player", true},
        {"org.\xc3\xa9xample.P", "ORG.\xc3\x89XAMPLE.p", true},  // é and É
        {"org.example.Player", "org.example.Players", false},
        {"org.example.Player", "", false},
        {"bad\xff", "BAD\xff", false},  // not text: compared byte for byte
        {"bad\xff", "bad\xff", true},
    };
    for (const auto& row : rows) EXPECT_EQ(row.same, sameApplication(row.a, row.b)) << row.a << " / " << row.b;
}

TEST(PanelFilters, TypesMatchTheirExtensionInAnyCase) {
    const struct {
        const char* type;
        const char* pattern;
    } rows[] = {
        {"mp3", "*.[mM][pP]3"},
        {"WAV", "*.[wW][aA][vV]"},
        {"*", "*"},
        {"tar.gz", "*.[tT][aA][rR].[gG][zZ]"},
        {"a*?[", "*.[aA][*][?][[]"},
        {"\xc3\xa4u", "*.\xc3\xa4[uU]"},
    };
    for (const auto& row : rows) EXPECT_EQ(row.pattern, filterPattern(row.type)) << row.type;
}

}  // namespace
}  // namespace pw::desktop
