// Handles used from several threads at once: lengths read while another thread closes the same
// handle, and opens and closes racing each other. Every answer is a status, never a crash or a
// use after free (the sanitizer builds run this).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "SoundHandles.h"
#include "TKCore.h"
#include "fmod_testhooks.hpp"
#include "soundopen_support.h"

namespace {

class HandlesThreaded : public soundopen::EngineFixture {
protected:
    void SetUp() override {
        EngineFixture::SetUp();
        ASSERT_EQ(initResult_, 1);
        wav_ = file("tone.wav");
        ASSERT_TRUE(soundopen::makeWav(wav_, 4410, 44100, 2));
    }
    std::string wav_;
};

TEST_F(HandlesThreaded, LengthWhileClosing) {
    for (int round = 0; round < 40; ++round) {
        int64_t handle = 0;
        ASSERT_EQ(t_core.OpenFile(&wav_[0], false, &handle), 1);
        std::atomic<bool> go{false};
        std::atomic<int> bad{0};
        std::vector<std::thread> readers;
        for (int r = 0; r < 3; ++r) {
            readers.emplace_back([&] {
                while (!go.load(std::memory_order_acquire)) std::this_thread::yield();
                for (int i = 0; i < 50; ++i) {
                    unsigned int ms = 0;
                    const int result = t_core.GetSongLength(static_cast<uint64_t>(handle), &ms);
                    if (!(result == 1 && ms == 100) && result != -3) bad.fetch_add(1);
                }
            });
        }
        std::atomic<int> closed{0};
        std::thread closer([&] {
            while (!go.load(std::memory_order_acquire)) std::this_thread::yield();
            for (int i = 0; i < 3; ++i)
                if (t_core.CloseFile(handle) == 1) closed.fetch_add(1);
        });
        go.store(true, std::memory_order_release);
        for (auto& t : readers) t.join();
        closer.join();
        EXPECT_EQ(bad.load(), 0);
        EXPECT_EQ(closed.load(), 1) << "exactly one close succeeds";
    }
}

TEST_F(HandlesThreaded, ConcurrentOpenAndClose) {
    const int soundsBefore = pw::testhooks::liveCount(pw::testhooks::Kind::Sound);
    std::atomic<int> failures{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w) {
        workers.emplace_back([&] {
            for (int i = 0; i < 25; ++i) {
                int64_t handle = 0;
                unsigned int ms = 0;
                if (t_core.OpenFile(&wav_[0], false, &handle) != 1) failures.fetch_add(1);
                if (t_core.GetSongLength(static_cast<uint64_t>(handle), &ms) != 1 || ms != 100)
                    failures.fetch_add(1);
                if (t_core.CloseFile(handle) != 1) failures.fetch_add(1);
                if (t_core.CalcSongLength(&wav_[0], &ms, false) != 1) failures.fetch_add(1);
            }
        });
    }
    for (auto& t : workers) t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(SoundHandles::count(), 0u);
    EXPECT_EQ(pw::testhooks::liveCount(pw::testhooks::Kind::Sound), soundsBefore);
}

TEST(HandleRegistryThreaded, TakeWaitsForPins) {
    SoundHandles::clear();
    FMOD::Sound* fake = reinterpret_cast<FMOD::Sound*>(uintptr_t{0xA000});
    SoundHandles::add(fake, nullptr);
    FMOD::Sound* pinned = SoundHandles::acquire(0xA000);
    ASSERT_EQ(pinned, fake);
    std::atomic<bool> taken{false};
    std::thread closer([&] { taken.store(SoundHandles::take(0xA000, nullptr), std::memory_order_release); });
    // Once the closer has marked the handle, no new pin succeeds.
    while (SoundHandles::contains(0xA000)) std::this_thread::yield();
    EXPECT_EQ(SoundHandles::acquire(0xA000), nullptr);
    EXPECT_FALSE(taken.load(std::memory_order_acquire)) << "take() returned while a pin was held";
    SoundHandles::unpin(pinned);
    closer.join();
    EXPECT_TRUE(taken.load());
    EXPECT_EQ(SoundHandles::count(), 0u);
}

// One reader at a time: a second reader waits for the first (a plain pin does not), and a reader
// still waiting when the handle starts closing gives up instead of holding the close up.
TEST(HandleRegistryThreaded, ReadersTakeTurnsAndGiveUpWhenClosed) {
    SoundHandles::clear();
    FMOD::Sound* fake = reinterpret_cast<FMOD::Sound*>(uintptr_t{0xB000});
    SoundHandles::add(fake, nullptr);
    ASSERT_EQ(SoundHandles::acquireReader(0xB000), fake);
    FMOD::Sound* plain = SoundHandles::acquire(0xB000);
    EXPECT_EQ(plain, fake) << "a length query still gets in";
    SoundHandles::unpin(plain);

    std::atomic<int> stage{0};
    std::thread second([&] {
        FMOD::Sound* s = SoundHandles::acquireReader(0xB000);
        stage.store(s == fake ? 1 : -1, std::memory_order_release);
        if (s) SoundHandles::releaseReader(s);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(stage.load(std::memory_order_acquire), 0) << "the second reader ran beside the first";
    SoundHandles::releaseReader(fake);
    second.join();
    EXPECT_EQ(stage.load(), 1);

    ASSERT_EQ(SoundHandles::acquireReader(0xB000), fake);
    std::atomic<bool> gaveUp{false};
    std::thread waiting([&] { gaveUp.store(SoundHandles::acquireReader(0xB000) == nullptr, std::memory_order_release); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let it reach the wait
    std::thread closer([] { SoundHandles::take(0xB000, nullptr); });
    while (SoundHandles::contains(0xB000)) std::this_thread::yield();
    waiting.join();
    EXPECT_TRUE(gaveUp.load(std::memory_order_acquire));
    SoundHandles::releaseReader(fake);
    closer.join();
    EXPECT_EQ(SoundHandles::count(), 0u);
}

}  // namespace
