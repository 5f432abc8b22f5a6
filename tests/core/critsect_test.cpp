// The named lock: its log lines, the shared depth counter and its name handling.
#include <string>
#include <thread>

#include "CritSect.h"
#include "MixerThread.h"
#include "test_support.h"

namespace {

using coretest::DebugLogTest;

std::string lockLine(const char* what, unsigned int depth, const char* name, int line) {
    return "CritSect(" + std::to_string(depth) + "): " + what + ": " + name +
           " at Load in src/Deck.cpp at line:" + std::to_string(line) + "\n";
}

TEST_F(DebugLogTest, NestedNamedLocksLogTheirDepthsAndUnnamedOnesStaySilent) {
    const unsigned int d = CritSect::m_uiCritSectDepth;
    CritSect load("CPlayer::load");
    CritSect origin("origstream");
    CritSect silent(nullptr);
    load.Enter("Load", "src/Deck.cpp", 10);
    origin.Enter("Load", "src/Deck.cpp", 11);
    silent.Enter("Load", "src/Deck.cpp", 12);
    EXPECT_EQ(CritSect::m_uiCritSectDepth, d + 2);
    silent.Leave("Load", "src/Deck.cpp", 13);
    origin.Leave("Load", "src/Deck.cpp", 14);
    load.Leave("Load", "src/Deck.cpp", 15);
    EXPECT_EQ(CritSect::m_uiCritSectDepth, d);
    EXPECT_EQ(logText(), lockLine("Enter", d, "CPlayer::load", 10) +
                             lockLine("Enter", d + 1, "origstream", 11) +
                             lockLine("Leave", d + 1, "origstream", 14) +
                             lockLine("Leave", d, "CPlayer::load", 15));
}

TEST_F(DebugLogTest, SetNameSwitchesLoggingOffAndOnAgain) {
    const unsigned int d = CritSect::m_uiCritSectDepth;
    CritSect lock("first");
    lock.setName(nullptr);
    EXPECT_STREQ(lock.getName(), "");
    lock.Enter("Load", "src/Deck.cpp", 30);
    lock.Leave("Load", "src/Deck.cpp", 31);
    EXPECT_EQ(CritSect::m_uiCritSectDepth, d);
    lock.setName("MonitorStream");
    lock.Enter("Load", "src/Deck.cpp", 32);
    lock.Leave("Load", "src/Deck.cpp", 33);
    EXPECT_EQ(logText(), lockLine("Enter", d, "MonitorStream", 32) +
                             lockLine("Leave", d, "MonitorStream", 33));
}

TEST(CritSectDepth, CountsWhetherOrNotDebuggingIsOn) {
    ASSERT_FALSE(CTKCore::g_bDebug);
    const unsigned int d = CritSect::m_uiCritSectDepth;
    CritSect lock("FMODSystem");
    CRITSECT_ENTER(lock);
    EXPECT_EQ(CritSect::m_uiCritSectDepth, d + 1);
    CRITSECT_LEAVE(lock);
    EXPECT_EQ(CritSect::m_uiCritSectDepth, d);
}

class CritSectNameTest : public ::testing::TestWithParam<size_t> {};

TEST_P(CritSectNameTest, NamesAreCutTo255Characters) {
    std::string name;
    for (size_t i = 0; i < GetParam(); ++i) name += static_cast<char>('a' + i % 26);
    const std::string expected = name.substr(0, 255);
    CritSect built(name.c_str());
    EXPECT_EQ(std::string(built.getName()), expected);
    CritSect renamed(nullptr);
    renamed.setName(name.c_str());
    EXPECT_EQ(std::string(renamed.getName()), expected);
}

INSTANTIATE_TEST_SUITE_P(Lengths, CritSectNameTest, ::testing::Values(0, 254, 255, 256, 300, 4000));

}  // namespace

namespace {

// On a thread marked as the mixer's a named lock writes no line and leaves the depth alone; the
// same lock off the mark logs as before. TryEnter refuses a held lock at once and takes a free one.
TEST_F(DebugLogTest, OnTheMixerThreadNamedLocksDoNotLogAndTryEnterNeverWaits) {
    const unsigned int d = CritSect::m_uiCritSectDepth;
    CritSect vinyl("VTRunner");
    {
        pw::rt::MixerThreadScope mixer;
        ASSERT_TRUE(pw::rt::onMixerThread());
        vinyl.Enter("Step", "src/Deck.cpp", 40);
        EXPECT_EQ(CritSect::m_uiCritSectDepth, d);
        vinyl.Leave("Step", "src/Deck.cpp", 41);
        ASSERT_TRUE(vinyl.TryEnter("Step", "src/Deck.cpp", 42));
        vinyl.Leave("Step", "src/Deck.cpp", 43);
    }
    EXPECT_FALSE(pw::rt::onMixerThread());
    EXPECT_EQ(logText(), "");
    ASSERT_TRUE(vinyl.TryEnter("Load", "src/Deck.cpp", 44));
    // Held (by this thread here, by a Java thread in the engine): another try fails at once.
    std::thread other([&] { EXPECT_FALSE(vinyl.TryEnter("Step", "src/Deck.cpp", 45)); });
    other.join();
    vinyl.Leave("Load", "src/Deck.cpp", 46);
    EXPECT_EQ(logText(), lockLine("Enter", d, "VTRunner", 44) + lockLine("Leave", d, "VTRunner", 46));
}

}  // namespace
