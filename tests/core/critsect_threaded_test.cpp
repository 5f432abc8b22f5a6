// The named lock under contention: mutual exclusion and a balanced depth counter.
#include <thread>
#include <vector>

#include "CritSect.h"
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
