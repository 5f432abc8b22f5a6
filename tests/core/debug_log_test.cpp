// The debug log and the FMOD error reporter.
#include <sys/stat.h>

#include "DebugLog.h"
#include "test_support.h"

namespace {

using coretest::DebugLogTest;
using coretest::fs::exists;

struct ErrCheckCase {
    int result;
    const char* expected;  // the exact bytes, on standard output and in the log
};

// The table's texts end in a blank and the format adds one: two blanks before the function.
const ErrCheckCase kErrCheckCases[] = {
    {0, ""},
    {23, "Please report the CORE error! (23) File not found.  openSound src/Sound.cpp:42\n"},
    {58, "Please report the CORE error! (58) Error creating hardware sound buffer.  openSound "
         "src/Sound.cpp:42\n"},
    {98, "Please report the CORE error! (98) Unknown error. openSound src/Sound.cpp:42\n"},
    {-1, "Please report the CORE error! (-1) Unknown error. openSound src/Sound.cpp:42\n"},
};

std::string errCheckToStdout(int result) {
    ::testing::internal::CaptureStdout();
    ERRCHECK("openSound", "src/Sound.cpp", 42, static_cast<FMOD_RESULT>(result));
    return ::testing::internal::GetCapturedStdout();
}

class ErrCheckTest : public DebugLogTest, public ::testing::WithParamInterface<ErrCheckCase> {};

TEST_P(ErrCheckTest, PrintsTheSameLineToStandardOutputAndTheLog) {
    EXPECT_EQ(errCheckToStdout(GetParam().result), GetParam().expected);
    // Result 0 writes nothing at all: not even the log file comes into being.
    if (GetParam().result == 0) {
        EXPECT_FALSE(exists(logPath()));
    } else {
        EXPECT_EQ(logText(), GetParam().expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Results, ErrCheckTest, ::testing::ValuesIn(kErrCheckCases));

TEST(DebugLogOff, NothingIsWrittenButErrorsStillReachStandardOutput) {
    coretest::ScratchDir dir;
    coretest::forgetDebugLog();
    ASSERT_FALSE(CTKCore::g_bDebug);
    debugMsg("never %d\n", 1);
    t_core.SetBufferSizesMS(8192, 20);
    EXPECT_EQ(errCheckToStdout(23), kErrCheckCases[1].expected);
    EXPECT_FALSE(exists(dir.path() + "/TKPNdebug.log"));
}

TEST_F(DebugLogTest, FirstMessageTruncatesAnOldLogAndEachIsFlushedAsFormatted) {
    {
        std::ofstream old(logPath());
        old << "a previous run's log\n";
    }
    debugMsg("deck %d at %s", 3, "0:42");
    // Read while the log is still open: flushed at once, with no prefix and no line end added.
    EXPECT_EQ(logText(), "deck 3 at 0:42");
    debugMsg("%s\n", " and on");
    EXPECT_EQ(logText(), "deck 3 at 0:42 and on\n");
}

TEST_F(DebugLogTest, SwitchingOffAndOnKeepsWritingToTheSameOpenFile) {
    debugMsg("one\n");
    CTKCore::g_bDebug = false;
    debugMsg("dropped\n");
    CTKCore::g_bDebug = true;
    debugMsg("two\n");
    EXPECT_EQ(logText(), "one\ntwo\n");
    // Opened once: with the file gone, messages go to the open handle and no new file appears.
    ASSERT_TRUE(coretest::fs::remove(logPath()));
    debugMsg("three\n");
    EXPECT_FALSE(exists(logPath()));
}

TEST_F(DebugLogTest, AnUncreatableLogDropsMessagesAndTheNextOneRetries) {
    // A directory in the log's place makes the open fail, for root as well.
    ASSERT_EQ(mkdir(logPath().c_str(), 0700), 0);
    debugMsg("lost\n");
    EXPECT_EQ(CTKCore::g_fDebugFile, nullptr);
    ASSERT_EQ(rmdir(logPath().c_str()), 0);
    debugMsg("kept\n");
    EXPECT_EQ(logText(), "kept\n");
}

struct BannerCase {
    int (*call)();
    const char* expected;
};

const BannerCase kBannerCases[] = {
    {[] { return t_core.SetBufferSizes(4096, 1024, 4); },
     "\n==========\nSetBufferSizes()\n==========\n"},
    {[] { return t_core.SetBufferSizesMS(8192, 20); },
     "\n==========\nSetBufferSizesMS()\n==========\n"},
};

TEST_F(DebugLogTest, BufferSettersWriteTheirEntryBanners) {
    for (const BannerCase& c : kBannerCases) {
        coretest::forgetDebugLog();  // debugging stays on: the next message starts a new log
        EXPECT_EQ(c.call(), TK_OK);
        EXPECT_EQ(logText(), c.expected);
    }
    // Back to the defaults the other tests expect.
    t_core.SetBufferSizes(8192, 1024, 4);
    t_core.SetBufferSizesMS(8192, 20);
}

TEST_F(DebugLogTest, ScratchQualityLogsItsBannerThenTheCoreLockTraffic) {
    const unsigned int depth = CritSect::m_uiCritSectDepth;
    EXPECT_EQ(t_core.setScratchQuality(2), TK_ERR_NOT_STARTED);
    const std::string text = logText();
    const std::string banner = "\n==========\nsetScratchQuality(2)\n==========\n";
    ASSERT_EQ(text.compare(0, banner.size(), banner), 0) << text;
    const std::string prefix = "CritSect(" + std::to_string(depth) + "): ";
    const std::string suffix = ": Coreglobal at setScratchQuality in ";
    const size_t enterAt = text.find(prefix + "Enter" + suffix);
    const size_t leaveAt = text.find(prefix + "Leave" + suffix);
    ASSERT_NE(enterAt, std::string::npos) << text;
    ASSERT_NE(leaveAt, std::string::npos) << text;
    EXPECT_LT(enterAt, leaveAt);
}

}  // namespace
