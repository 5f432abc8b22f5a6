// Memory running out while the deck registry grows: every allocation of the calling thread is made
// to fail in turn (this executable replaces operator new). Nothing may leave the engine as an
// exception; the call answers as for no deck and leaves nothing behind (the AddressSanitizer build
// reports any leak), and the engine stays started: the next call makes the missing decks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>

#include "device_table_file.hpp"
#include "startup_test_support.h"

namespace {

// The calling thread's allocations are counted while armed; the one numbered t_failAt throws.
thread_local bool t_armed = false;
thread_local long t_failAt = -1;
thread_local long t_count = 0;

// The block, or null for the failing allocation (and when malloc fails).
void* allocateOrNull(std::size_t size) noexcept {
    if (t_armed && t_count++ == t_failAt) return nullptr;
    return std::malloc(size ? size : 1);
}

void* allocate(std::size_t size) {
    void* block = allocateOrNull(size);
    if (!block) throw std::bad_alloc();
    return block;
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocateOrNull(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocateOrNull(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

namespace {

using namespace startuptest;

// Counts this thread's allocations for its life, failing none unless told which.
class Armed {
public:
    explicit Armed(long failAt = -1) {
        t_count = 0;
        t_failAt = failAt;
        t_armed = true;
    }
    ~Armed() { t_armed = false; }
    long count() const { return t_count; }
};

class AllocationFailures : public EngineTest {
protected:
    pw::test::DeviceTableFile table_{
        "output name=\"Stereo\"\n"
        "output name=\"Eight\" channels=8\n"
        "record name=\"Line In\"\n"};
};

TEST_F(AllocationFailures, DeckRegistryAnswersNoDeckAtEveryFailedAllocation) {
    CTKCore::g_bDebug = false;
    ASSERT_EQ(t_core.InitPlayer(0, 1, 44100), 1);
    long total = 0;
    {
        // Decks 0..2 are created by their first call.
        const Armed counting;
        ASSERT_EQ(t_core.SetVolume(2, 5000), TK_OK);
        total = counting.count();
    }
    ASSERT_GT(total, 0);
    for (long n = 0; n < total; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n) + " of " + std::to_string(total));
        t_core.CleanUp();
        ASSERT_EQ(t_core.InitPlayer(0, 1, 44100), 1);
        int result = 0;
        {
            const Armed failing(n);
            EXPECT_NO_THROW(result = t_core.SetVolume(2, 5000));
        }
        EXPECT_TRUE(result == TK_OK || result == TK_ERR_NO_DECK) << result;
        // The decks that could not be made are made by the next call.
        EXPECT_EQ(t_core.SetVolume(2, 5000), TK_OK);
        EXPECT_NE(t_core.getPlayerObject(1), nullptr);
    }
    t_core.CleanUp();
}

}  // namespace
