// Channel handles over long sessions: bodies are reused, a stale handle is refused and never
// reaches the playback that took its body, and many plays cost no memory of their own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <deque>
#include <vector>

#include "mixer_drive.hpp"
#include "mixer_test_util.hpp"

using namespace pw::mixtest;

namespace {

long residentKilobytes() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

struct ChannelHandles : ::testing::Test {
    void SetUp() override {
        system = makeOfflineSystem(256);
        ASSERT_NE(system, nullptr);
    }
    void TearDown() override {
        if (system) {
            EXPECT_EQ(system->release(), FMOD_OK);
        }
    }
    FMOD::DSP* unit(GenState* g) {
        FMOD_DSP_DESCRIPTION d = describe("Const", 2, constantRead, g);
        FMOD::DSP* dsp = nullptr;
        EXPECT_EQ(system->createDSP(&d, &dsp), FMOD_OK);
        return dsp;
    }
    FMOD::System* system = nullptr;
    std::deque<GenState> gens;  // outlive the system's units
};

// Handles of stopped channels, whose bodies now carry other playbacks, change nothing: each
// live channel keeps the volume set through its own handle.
TEST_F(ChannelHandles, StaleHandlesNeverReachALaterPlayback) {
    GenState a;
    a.constant[0] = a.constant[1] = 0.25f;
    FMOD::DSP* head = unit(&a);
    std::vector<FMOD::Channel*> stale;
    for (int i = 0; i < 500; ++i) {
        FMOD::Channel* c = nullptr;
        ASSERT_EQ(system->playDSP(FMOD_CHANNEL_FREE, head, true, &c), FMOD_OK);
        ASSERT_EQ(c->stop(), FMOD_OK);
        stale.push_back(c);
    }
    // Enough plays that every body above has served again.
    std::vector<FMOD::Channel*> live;
    for (int i = 0; i < 8; ++i) {
        GenState* g = &gens.emplace_back();
        g->constant[0] = g->constant[1] = 0.25f;
        FMOD::Channel* c = nullptr;
        ASSERT_EQ(system->playDSP(FMOD_CHANNEL_FREE, unit(g), false, &c), FMOD_OK);
        ASSERT_EQ(c->setVolume(0.5f), FMOD_OK);
        live.push_back(c);
    }
    for (FMOD::Channel* c : stale) {
        bool playing = true;
        EXPECT_EQ(c->isPlaying(&playing), FMOD_OK);
        EXPECT_FALSE(playing);
        EXPECT_EQ(c->setVolume(0.0f), FMOD_ERR_INVALID_HANDLE);
        EXPECT_EQ(c->setPaused(true), FMOD_ERR_INVALID_HANDLE);
        float volume = 0;
        EXPECT_EQ(c->getVolume(&volume), FMOD_ERR_INVALID_HANDLE);
        EXPECT_EQ(c->stop(), FMOD_OK);
    }
    for (FMOD::Channel* c : live) {
        float volume = 0;
        bool playing = false;
        EXPECT_EQ(c->getVolume(&volume), FMOD_OK);
        EXPECT_EQ(volume, 0.5f);
        EXPECT_EQ(c->isPlaying(&playing), FMOD_OK);
        EXPECT_TRUE(playing);
    }
    // Eight channels of 0.25 at half volume: 1.0 on each side.
    std::vector<float> out;
    ASSERT_EQ(pw::mix::renderBlocks(system, 2, &out), FMOD_OK);
    EXPECT_FLOAT_EQ(out.back(), 1.0f);
}

// Plays and stops by the tens of thousands leave memory where a few hundred left it.
TEST_F(ChannelHandles, ManyPlaysCostNoMemoryOfTheirOwn) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer keeps freed memory in quarantine: resident size says nothing here";
#endif
    GenState a;
    FMOD::DSP* head = unit(&a);
    auto playAndStop = [&](int n) {
        for (int i = 0; i < n; ++i) {
            FMOD::Channel* c = nullptr;
            ASSERT_EQ(system->playDSP(FMOD_CHANNEL_FREE, head, false, &c), FMOD_OK);
            ASSERT_EQ(c->stop(), FMOD_OK);
        }
    };
    playAndStop(500);
    const long before = residentKilobytes();
    playAndStop(30000);
    const long grown = residentKilobytes() - before;
    EXPECT_LT(grown, 4 * 1024) << "kB kept by 30000 finished plays";
}

}  // namespace
