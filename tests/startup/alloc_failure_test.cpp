// Memory running out during start-up and while the deck registry grows: every allocation of the
// calling thread is made to fail in turn (this executable replaces operator new). Nothing may leave
// the engine as an exception; start-up either succeeds or answers -13 and leaves nothing behind
// (the AddressSanitizer build reports any leak), and the engine works normally afterwards.
#include <gtest/gtest.h>

#include <algorithm>
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

TEST_F(AllocationFailures, StartUpAnswersOrSucceedsAtEveryFailedAllocation) {
    CTKCore::g_bDebug = false;
    long total = 0;
    {
        const Armed counting;
        ASSERT_EQ(t_core.InitPlayer(0, 1, 44100), 1);
        total = counting.count();
    }
    const int systems = CTKCore::g_soundcardcount;
    const int recorders = CTKCore::g_recordercount;
    t_core.CleanUp();
    ASSERT_GT(total, 0);
    for (long n = 0; n < total; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n) + " of " + std::to_string(total));
        int result = 0;
        {
            const Armed failing(n);
            EXPECT_NO_THROW(result = t_core.InitPlayer(0, 1, 44100));
        }
        if (result == 1) {
            // No card, slot or recorder quietly missing.
            EXPECT_TRUE(CPlayerList::initialized.load());
            EXPECT_EQ(CTKCore::g_soundcardcount, systems);
            EXPECT_EQ(CTKCore::g_recordercount, recorders);
        } else {
            EXPECT_EQ(result, TK_ERR_NO_MEMORY);
            EXPECT_FALSE(CPlayerList::initialized.load());
        }
        t_core.CleanUp();
        // Whatever failed before, the next start-up is complete.
        ASSERT_EQ(t_core.InitPlayer(0, 1, 44100), 1);
        EXPECT_EQ(CTKCore::g_soundcardcount, systems);
        t_core.CleanUp();
    }
}

FMOD_RESULT silence(FMOD_DSP_STATE*, float*, float* out, unsigned int frames, int, int channels) {
    std::fill_n(out, static_cast<size_t>(frames) * channels, 0.0f);
    return FMOD_OK;
}

// A card's graph built and taken apart again with the layer's own calls: units on the master group
// and on a playing channel, a unit taken out, released, the channel stopped, the system released.
// Every result goes to `results` (no allocation of its own: it runs armed).
void graphRoundTrip(FMOD_RESULT (&results)[16], int& count) {
    auto note = [&](FMOD_RESULT r) { results[count++] = r; };
    FMOD::System* system = nullptr;
    note(FMOD_System_Create(&system));
    if (!system) return;
    const FMOD_RESULT initialised = system->init(8, FMOD_INIT_NORMAL, nullptr);
    note(initialised);
    FMOD::DSP* echo = nullptr;
    FMOD::DSP* lowpass = nullptr;
    FMOD::DSP* tone = nullptr;
    FMOD_DSP_DESCRIPTION generator{};
    generator.channels = 2;
    generator.read = silence;
    note(system->createDSPByType(FMOD_DSP_TYPE_ECHO, &echo));
    note(system->createDSPByType(FMOD_DSP_TYPE_LOWPASS, &lowpass));
    note(system->createDSP(&generator, &tone));
    FMOD::ChannelGroup* master = nullptr;
    system->getMasterChannelGroup(&master);
    if (echo) note(master->addDSP(echo, nullptr));
    FMOD::Channel* channel = nullptr;
    if (tone && initialised == FMOD_OK) note(system->playDSP(FMOD_CHANNEL_FREE, tone, false, &channel));
    if (channel && lowpass) note(channel->addDSP(lowpass, nullptr));
    if (lowpass) note(lowpass->remove());
    if (echo) note(echo->release());
    if (channel) note(channel->stop());
    note(system->close());
    note(system->release());
}

TEST_F(AllocationFailures, LayerGraphAnswersMemoryAndReleasesEverything) {
    const int systems = live(hooks::Kind::System);
    const int units = live(hooks::Kind::DSP);
    const int channels = live(hooks::Kind::Channel);
    FMOD_RESULT results[16];
    int count = 0;
    graphRoundTrip(results, count);  // the layer's one-time set-up is not counted below
    for (int i = 0; i < count; ++i) ASSERT_EQ(results[i], FMOD_OK) << i;
    long total = 0;
    {
        const Armed counting;
        count = 0;
        graphRoundTrip(results, count);
        total = counting.count();
    }
    for (long n = 0; n < total; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n) + " of " + std::to_string(total));
        count = 0;
        {
            const Armed failing(n);
            EXPECT_NO_THROW(graphRoundTrip(results, count));
        }
        for (int i = 0; i < count; ++i)
            EXPECT_TRUE(results[i] == FMOD_OK || results[i] == FMOD_ERR_MEMORY) << i << ": " << results[i];
        // Whatever failed, releasing the system released every object once.
        EXPECT_EQ(live(hooks::Kind::System), systems);
        EXPECT_EQ(live(hooks::Kind::DSP), units);
        EXPECT_EQ(live(hooks::Kind::Channel), channels);
    }
}

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
