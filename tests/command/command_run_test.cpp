// Commands run against the engine before start-up: what each kind of refused command answers and
// prints, a number reply longer than its buffer, and commands sent from several threads at once.
// (tests/java/harness/CommandTest.java sends every word from a JVM.)
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "TKCommand.h"

namespace {

// The reply and what the command printed to standard output.
std::pair<std::string, std::string> runCapturing(const std::string& text) {
    testing::internal::CaptureStdout();
    std::string reply = runCommand(text.c_str());
    return {reply, testing::internal::GetCapturedStdout()};
}

std::string refusal(const std::string& text) { return "Couldn't interprete this command << " + text + " >>!\n"; }

TEST(CommandRun, CommandsNoWordTakesAreRefusedAloud) {
    const std::string longName(5000, 'G');
    std::string manyArguments = "SetVolume(";
    for (int i = 0; i < 300; ++i) manyArguments += "1,";
    manyArguments += "1)";
    const std::string refused[] = {
        "getversion()",
        "GETVERSION",
        "GetVersion(1)",
        "Play(1)",
        "Play(1,true,3)",
        "SetEcho(1,true,1,1,1)",
        "NoSuchWord()",
        "Load(1,/tmp/a,b.wav,0,0)",  // the comma in the path makes five arguments
        "%s%n%x%p(%s,%n)",
        "GetVersion(%n%n%n%n)",
        longName + "()",
        "GetCDInfo(" + std::string(3000, '%') + ")",
        manyArguments,
        "",
    };
    for (const std::string& text : refused) {
        const auto [reply, printed] = runCapturing(text);
        EXPECT_EQ("", reply) << text.substr(0, 60);
        EXPECT_EQ(refusal(text), printed) << text.substr(0, 60);
    }
}

// 1e300 written with six decimals is over 300 characters: the reply keeps the first 254.
TEST(CommandRun, NumberRepliesAreCutAtTheirBuffer) {
    char whole[512];
    std::snprintf(whole, sizeof whole, "FrequencyPitch (%f) NOT set!", 1e300);
    ASSERT_GT(std::string(whole).size(), 300u);
    EXPECT_EQ(std::string(whole).substr(0, 254), runCommand("SetFrequencyPitch(1,1e300)"));
}

// Each thread's commands carry its own numbers: a reply that held another thread's text, or an
// argument read from another thread's command, shows.
TEST(CommandRun, ThreadsGetTheirOwnReplies) {
    constexpr int kThreads = 8;
    constexpr int kRounds = 300;
    const std::string functions = runCommand("GetFunctions()");
    std::vector<int> wrong(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &wrong, &functions] {
            for (int k = 0; k < kRounds; ++k) {
                const int value = t * 100000 + k;
                const std::string v = std::to_string(value);
                if (runCommand(("SetVolume(" + std::to_string(t) + "," + v + ")").c_str()) != v) ++wrong[t];
                if (runCommand(("SetPan(" + std::to_string(t) + "," + v + ")").c_str()) != "Pan (" + v + ") NOT set!") {
                    ++wrong[t];
                }
                if (runCommand("GetFunctions()") != functions) ++wrong[t];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(0, wrong[t]) << "thread " << t;
}

}  // namespace
