// The opener's statuses, and open / length / close through handles, on a started engine: every
// refused name and handle gets its status, never a crash, and nothing stays open.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PlayerList.h"
#include "SoundHandles.h"
#include "SoundUserData.h"
#include "TKCore.h"
#include "fmod_testhooks.hpp"
#include "soundopen_support.h"

namespace {

using pw::testhooks::Kind;
using pw::testhooks::liveCount;

class OpenClose : public soundopen::EngineFixture {
protected:
    void SetUp() override {
        EngineFixture::SetUp();
        ASSERT_EQ(initResult_, 1);
        wav_ = file("tone.wav");
        ASSERT_TRUE(soundopen::makeWav(wav_, 44100, 44100, 2));
        ASSERT_TRUE(soundopen::writeBytes(file("small.wav"), 128));
        ASSERT_TRUE(soundopen::writeBytes(file("junk.wav"), 4000, 'j'));
        ASSERT_TRUE(soundopen::writeBytes(file("notes.txt"), 4000));
    }
    std::string wav_;
};

TEST_F(OpenClose, OpenerStatuses) {
    struct Case {
        std::string name;
        int expected;
    } cases[] = {
        {file("notes.txt"), -16},      // type not supported
        {file("missing.mp3"), -3},     // no such file
        {"", -16},                     // empty: no extension at all
        {file("small.wav"), -16},      // 128 bytes
        {file("junk.wav"), -16},       // the decoder knows no such format
        {"record://0", -3},            // passes the name checks, no such file
        {wav_, 1},
    };
    const int soundsBefore = liveCount(Kind::Sound);
    for (const Case& c : cases) {
        for (bool record : {false, true}) {
            SCOPED_TRACE(c.name + (record ? " with record" : ""));
            FMOD::Sound* sound = nullptr;
            std::string name = c.name;
            EXPECT_EQ(CTKCore::_openFmodSound(&name[0], &sound, false, true, record), c.expected);
            if (c.expected != 1) {
                EXPECT_EQ(sound, nullptr);
                continue;
            }
            ASSERT_NE(sound, nullptr);
            void* data = reinterpret_cast<void*>(0x1);
            sound->getUserData(&data);
            if (record) {
                ASSERT_NE(data, nullptr);
                EXPECT_EQ(static_cast<SoundUserData*>(data)->sound, sound);
                EXPECT_EQ(static_cast<SoundUserData*>(data)->state, -1);
            } else {
                EXPECT_EQ(data, nullptr) << "the name lent at creation must not stay as user data";
            }
            EXPECT_EQ(CTKCore::_closeFmodSound(sound), 1);
        }
    }
    EXPECT_EQ(liveCount(Kind::Sound), soundsBefore);
    EXPECT_EQ(SoundHandles::count(), 0u);
}

TEST_F(OpenClose, NullArgumentsAreRefused) {
    FMOD::Sound* sound = nullptr;
    EXPECT_EQ(CTKCore::_openFmodSound(nullptr, &sound, false, true, true), -16);
    EXPECT_EQ(CTKCore::_openFmodSound(&wav_[0], nullptr, false, true, true), -5);
    EXPECT_EQ(CTKCore::_closeFmodSound(nullptr), -3);
    int64_t handle = 77;
    EXPECT_EQ(t_core.OpenFile(nullptr, false, &handle), -16);
    EXPECT_EQ(handle, 0);
    EXPECT_EQ(t_core.CalcSongLength(nullptr, nullptr, false), -16);
    EXPECT_EQ(SoundHandles::count(), 0u);
}

TEST_F(OpenClose, Utf16NameOpensTheSameFile) {
    const std::string leaf = file("\xc4\x80\xe6\x97\xa5 t\xc3\xb6n.wav");  // U+0100: zero low byte
    ASSERT_TRUE(soundopen::makeWav(leaf, 22050, 44100, 1));
    std::vector<char> wide = soundopen::utf16(leaf);
    int64_t handle = 0;
    ASSERT_EQ(t_core.OpenFile(wide.data(), true, &handle), 1);
    unsigned int ms = 0;
    EXPECT_EQ(t_core.GetSongLength(static_cast<uint64_t>(handle), &ms), 1);
    EXPECT_EQ(ms, 500u);
    EXPECT_EQ(t_core.CloseFile(handle), 1);
    ms = 0;
    EXPECT_EQ(t_core.CalcSongLength(wide.data(), &ms, true), 1);
    EXPECT_EQ(ms, 500u);
}

TEST_F(OpenClose, HandlesAreCheckedBeforeUse) {
    const int soundsBefore = liveCount(Kind::Sound);
    int64_t handle = 0;
    ASSERT_EQ(t_core.OpenFile(&wav_[0], false, &handle), 1);
    ASSERT_NE(handle, 0);
    unsigned int ms = 0;
    EXPECT_EQ(t_core.GetSongLength(static_cast<uint64_t>(handle), &ms), 1);
    EXPECT_EQ(ms, 1000u);

    // handle, what GetSongLength and CloseFile answer
    struct Case {
        const char* what;
        int64_t handle;
        int length, close;
    } refused[] = {
        {"zero", 0, -3, -3},
        {"made up", 0x12345678, -3, -3},
        {"inside the sound", handle + 8, -3, -3},
        {"negative", -1, -3, -3},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.what);
        ms = 4242;
        EXPECT_EQ(t_core.GetSongLength(static_cast<uint64_t>(c.handle), &ms), c.length);
        EXPECT_EQ(ms, 4242u);
        EXPECT_EQ(t_core.CloseFile(c.handle), c.close);
    }
    EXPECT_EQ(t_core.CloseFile(handle), 1);
    EXPECT_EQ(t_core.CloseFile(handle), -3) << "closed twice";
    EXPECT_EQ(t_core.GetSongLength(static_cast<uint64_t>(handle), &ms), -3) << "closed handle";
    EXPECT_EQ(liveCount(Kind::Sound), soundsBefore);
}

TEST_F(OpenClose, FailedOpenStoresAZeroHandle) {
    std::string missing = file("gone.flac");
    int64_t handle = 99;
    EXPECT_EQ(t_core.OpenFile(&missing[0], false, &handle), -3);
    EXPECT_EQ(handle, 0);
    FMOD::Sound* sound = nullptr;
    EXPECT_EQ(CTKCore::_openFmodSound(&wav_[0], &sound, false, true, true), 1);
    EXPECT_EQ(SoundHandles::count(), 1u);
    EXPECT_EQ(t_core.CloseFile(static_cast<int64_t>(reinterpret_cast<uintptr_t>(sound))), 1);
}

TEST_F(OpenClose, NotStartedStatuses) {
    int64_t handle = 0;
    ASSERT_EQ(t_core.OpenFile(&wav_[0], false, &handle), 1);
    t_core.CleanUp();
    ASSERT_FALSE(CPlayerList::initialized);
    // Shutdown closes what Java left open (record freed, handle forgotten).
    // Without that, the handle below would point at a sound the system already freed.
    if (SoundHandles::count() != 0) {
        SoundHandles::clear();  // keeps the freed sound away from the tests that follow
        FAIL() << "CleanUp must call CTKCore::_closeAllFmodSounds";
    }

    int64_t fresh = 5;
    unsigned int ms = 7;
    EXPECT_EQ(t_core.OpenFile(&wav_[0], false, &fresh), -1);
    EXPECT_EQ(fresh, 5) << "untouched before start-up";
    EXPECT_EQ(t_core.CloseFile(handle), -1);
    EXPECT_EQ(t_core.CloseFile(0), -1);
    EXPECT_EQ(CTKCore::_closeFmodSound(reinterpret_cast<FMOD::Sound*>(handle)), -1);
    EXPECT_EQ(t_core.GetSongLength(static_cast<uint64_t>(handle), &ms), -3) << "freed by shutdown";
    EXPECT_EQ(t_core.CalcSongLength(&wav_[0], &ms, false), -1);
    EXPECT_EQ(ms, 7u);

    // After a new start-up the old handle is still a closed one.
    ASSERT_EQ(t_core.InitPlayer(0, 1, 44100), 1);
    EXPECT_EQ(t_core.GetSongLength(static_cast<uint64_t>(handle), &ms), -3);
    EXPECT_EQ(t_core.CloseFile(handle), -3);
}

}  // namespace
