// The named lock under contention: mutual exclusion and a balanced depth counter.
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "CritSect.h"
#include "MixerThread.h"
#include "test_support.h"

namespace {

class CritSectContentionTest : public ::testing::TestWithParam<const char*> {};

TEST_P(CritSectContentionTest, OneThreadAtATime) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 20000;
    CritSect lock(GetParam());
    const unsigned int depth = CritSect::m_uiCritSectDepth;
    long shared = 0;  // plain on purpose: only the lock protects it
    int inside = 0;
    int overlaps = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                lock.Enter(__func__, __FILE__, __LINE__);
                if (++inside != 1) ++overlaps;
                ++shared;
                --inside;
                lock.Leave(__func__, __FILE__, __LINE__);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(shared, static_cast<long>(kThreads) * kRounds);
    EXPECT_EQ(overlaps, 0);
    EXPECT_EQ(CritSect::m_uiCritSectDepth, depth);
}

INSTANTIATE_TEST_SUITE_P(NamedAndUnnamed, CritSectContentionTest,
                         ::testing::Values("SampleQueue", nullptr));

}  // namespace

namespace {

// An Enter on the mixer thread that finds the lock held is counted as a wait (what the test
// builds assert never happens); one that finds it free is not.
TEST(CritSectMixerThread, AnEnterThatHadToWaitIsCounted) {
    CritSect lock(nullptr);
    const uint64_t before = pw::rt::mixerLockWaits();
    std::thread free([&] {
        pw::rt::MixerThreadScope mixer;
        CRITSECT_ENTER(lock);
        CRITSECT_LEAVE(lock);
    });
    free.join();
    EXPECT_EQ(pw::rt::mixerLockWaits(), before);

    CRITSECT_ENTER(lock);
    std::atomic<bool> entered{false};
    std::thread blocked([&] {
        pw::rt::MixerThreadScope mixer;
        CRITSECT_ENTER(lock);
        entered.store(true, std::memory_order_release);
        CRITSECT_LEAVE(lock);
    });
    // The mixer-side Enter counts before it waits: the count shows it is waiting.
    while (pw::rt::mixerLockWaits() == before) std::this_thread::yield();
    EXPECT_FALSE(entered.load(std::memory_order_acquire));
    CRITSECT_LEAVE(lock);
    blocked.join();
    EXPECT_TRUE(entered.load());
    EXPECT_EQ(pw::rt::mixerLockWaits(), before + 1);
}

}  // namespace
