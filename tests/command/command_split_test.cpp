// Splitting command lines, the argument conversions and the joined device lists.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "TKCommand.h"

namespace {

struct SplitCase {
    const char* text;
    const char* name;
    std::vector<std::string> arguments;
};

TEST(CommandSplit, NameAndArgumentsAsTheRulesGive) {
    const SplitCase cases[] = {
        {"GetVersion()", "GetVersion", {}},
        {"GetVersion", "GetVersion", {}},
        {"GetVersion(", "GetVersion", {}},
        {"Play(0,true)", "Play", {"0", "true"}},
        {"Play(0, true)", "Play", {"0", " true"}},
        {"X(,)", "X", {"", ""}},
        {"X(a)b)", "X", {"a", "b"}},
        {"X(a)b", "X", {"a"}},
        {"SetVolume(1,500", "SetVolume", {"1"}},
        {"X(a", "X", {}},
        {"X(())", "X", {"(", ""}},
        {"Load(1,/m/a,b.wav,0,0)", "Load", {"1", "/m/a", "b.wav", "0", "0"}},
        {"(a)", "(a)", {}},
        {")", ")", {}},
        {"", "", {}},
    };
    for (const SplitCase& c : cases) {
        CommandLine line;
        ASSERT_TRUE(splitCommand(c.text, &line)) << c.text;
        EXPECT_EQ(c.name, line.name) << c.text;
        EXPECT_EQ(c.arguments, line.arguments) << c.text;
    }
}

TEST(CommandSplit, LimitsOfNamesArgumentsAndCounts) {
    const std::string longest(kCommandTextLimit - 1, 'n');
    const std::string tooLong(kCommandTextLimit, 'n');
    auto arguments = [](std::size_t count) {
        std::string text = "X(";
        for (std::size_t i = 0; i < count; ++i) text += (i ? "," : "") + std::to_string(i);
        return text + ")";
    };
    struct Limit {
        std::string text;
        bool accepted;
    };
    const Limit limits[] = {
        {longest + "()", true},
        {tooLong + "()", false},
        {tooLong, false},
        {"X(" + longest + ")", true},
        {"X(" + tooLong + ")", false},
        {"X(1," + tooLong + ",2)", false},
        {arguments(kCommandMaxArguments), true},
        {arguments(kCommandMaxArguments + 1), false},
        {arguments(5000), false},
        // Text after the last separator of an unclosed list is no argument, so it cannot be too long.
        {"X(1," + tooLong, true},
    };
    for (const Limit& l : limits) {
        CommandLine line;
        EXPECT_EQ(l.accepted, splitCommand(l.text.c_str(), &line)) << l.text.substr(0, 40) << "... of " << l.text.size();
    }
    CommandLine line;
    ASSERT_TRUE(splitCommand(arguments(kCommandMaxArguments).c_str(), &line));
    EXPECT_EQ(kCommandMaxArguments, line.arguments.size());
    EXPECT_EQ("255", line.arguments.back());
}

// The bounds count characters, not bytes: "é" is two bytes, "€" three, "𝄞" four; bytes that are
// no UTF-8 count one each.
TEST(CommandSplit, LimitsCountCharactersNotBytes) {
    auto repeat = [](const char* unit, std::size_t times) {
        std::string text;
        for (std::size_t i = 0; i < times; ++i) text += unit;
        return text;
    };
    struct Limit {
        std::string what;
        std::string text;
        bool accepted;
    };
    const std::size_t longest = kCommandTextLimit - 1;
    const Limit limits[] = {
        {"argument of 2047 two-byte characters", "Load(4," + repeat("\xC3\xA9", longest) + ",0,0)", true},
        {"argument of 2048 two-byte characters", "Load(4," + repeat("\xC3\xA9", longest + 1) + ",0,0)", false},
        {"argument of 2047 four-byte characters", "X(" + repeat("\xF0\x9D\x84\x9E", longest) + ")", true},
        {"argument of 2047 mixed characters", "X(" + repeat("a\xE2\x82\xAC", longest / 2) + "b)", true},
        {"name of 2047 three-byte characters", repeat("\xE2\x82\xAC", longest) + "()", true},
        {"name of 2048 three-byte characters", repeat("\xE2\x82\xAC", longest + 1) + "()", false},
        {"argument of 2048 stray continuation bytes", "X(" + repeat("\x80", longest + 1) + ")", false},
        {"argument of 1024 cut-short sequences", "X(" + repeat("\xE2\x82", 1024) + ")", false},
        {"argument of 2048 bytes beyond F4", "X(" + repeat("\xF8", longest + 1) + ")", false},
    };
    for (const Limit& l : limits) {
        CommandLine line;
        EXPECT_EQ(l.accepted, splitCommand(l.text.c_str(), &line)) << l.what;
    }
    CommandLine line;
    ASSERT_TRUE(splitCommand(("Load(4,/m/" + repeat("\xC3\xA9", 1500) + ".wav,0,0)").c_str(), &line));
    ASSERT_EQ(4u, line.arguments.size());
    EXPECT_EQ("/m/" + repeat("\xC3\xA9", 1500) + ".wav", line.arguments[1]) << "the path's bytes unchanged";
}

TEST(CommandSplit, Conversions) {
    const std::pair<const char*, int> ints[] = {
        {"42", 42}, {" 42x", 42}, {"-4", -4}, {"+7", 7}, {"x", 0}, {"", 0}, {"0x10", 0},
        {"99999999999", INT_MAX}, {"-99999999999", INT_MIN},
    };
    for (const auto& [text, value] : ints) EXPECT_EQ(value, commandInt(text)) << text;
    EXPECT_DOUBLE_EQ(150.0, commandReal("1.5e2"));
    EXPECT_DOUBLE_EQ(-0.25, commandReal(" -0.25dB"));
    EXPECT_DOUBLE_EQ(0.0, commandReal("x"));
    EXPECT_TRUE(commandFlag("true"));
    for (const char* notTrue : {" true", "true ", "True", "TRUE", "1", "", "truex"}) EXPECT_FALSE(commandFlag(notTrue)) << notTrue;
}

TEST(CommandList, EscapesCommasAndCutsAtAWholeEntry) {
    const char* cards[] = {"0[CoreAudio]-A,B", "1[CoreAudio]-C"};
    EXPECT_EQ("0[CoreAudio]-A\\,B,1[CoreAudio]-C", joinCommandList(cards, 2, 255, 4096, true));
    EXPECT_EQ("0[CoreAudio]-A,B,1[CoreAudio]-C", joinCommandList(cards, 2, 255, 1024, false));

    const char* ten[] = {"aaaaaaaaaa", "bbbbbbbbbb", "cccccccccc"};
    EXPECT_EQ("aaaaaaaaaa,bbbbbbbbbb", joinCommandList(ten, 3, 255, 22, false));  // 21 characters and the end
    EXPECT_EQ("aaaaaaaaaa", joinCommandList(ten, 3, 255, 21, false));
    EXPECT_EQ("", joinCommandList(ten, 3, 255, 10, false));
    // The escape counts against the room: "a\,b" is four characters.
    const char* comma[] = {"a,b"};
    EXPECT_EQ("", joinCommandList(comma, 1, 255, 4, true));
    EXPECT_EQ("a\\,b", joinCommandList(comma, 1, 255, 5, true));

    const char* emptyFirst[] = {"", "b"};
    EXPECT_EQ(",b", joinCommandList(emptyFirst, 2, 255, 1024, false));
    EXPECT_EQ("", joinCommandList(ten, 0, 255, 1024, false));
    EXPECT_EQ("", joinCommandList(nullptr, 3, 255, 1024, false));
}

TEST(CommandList, NamesFillingTheirWholeEntryAreReadNoFurther) {
    const char full[4] = {'a', 'b', 'c', 'd'};  // no terminator inside its four bytes
    const char* names[] = {full, "e"};
    EXPECT_EQ("abcd,e", joinCommandList(names, 2, sizeof full, 1024, false));
}

}  // namespace
