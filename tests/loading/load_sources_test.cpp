// Source names: CD tracks by ".cda" file and by "cd://device/discid/track" on the generated disc,
// line-in recorders by "record://N", and file names in UTF-16 or longer than the stored name.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "FMODSystem.h"
#include "Player.h"
#include "TKCore.h"
#include "fmod_testhooks.hpp"
#include "loading_support.h"

namespace {

namespace fs = std::filesystem;
namespace hooks = pw::testhooks;
using loading_test::load;

class LoadingSources : public loading_test::LoadingEngine {
protected:
    // ".cda" names are files of their own that must exist; the drive is their first three
    // characters ("E:/", a drive of the table), the track the two digits at 8 and 9.
    void cdaFile(const std::string& name) {
        fs::create_directories("E:");
        std::ofstream(name, std::ios::binary) << std::string(200, 'c');
    }
};

TEST_F(LoadingSources, CdNamesPickTheirTrack) {
    struct Case {
        std::string name;
        int result;
        int subSound;  // for result 1
    };
    const Case cases[] = {
        {"cd://dev/disc/3", 1, 2},
        {"cd:///dev/disk1/1234abcd/5", 1, 4},
        {"CD://dev/anything/1", 1, 0},
        {"E:/Track03.cda", 1, 2},
        {"E:/Track05.CDA", 1, 4},
        {"E:/Track01.cda", 1, 0},
        {"cd://dev/disc/6", -3, 0},     // one past the last track
        {"cd://dev/disc/0", -3, 0},
        {"cd://dev/disc/x", -5, 0},     // no track number
        {"cd://dev", -5, 0},            // no "/" at all
        {"cd://nodrive/disc/1", -3, 0}, // no such drive: no stream, no track
        {"E:/Track06.cda", -3, 0},
        {"E:/Track00.cda", -3, 0},      // track 0 names no track
        {"E:/Trackxx.cda", -3, 0},
    };
    const int sounds = hooks::liveCount(hooks::Kind::Sound);
    CPlayer deck(0);
    DeckConfig* c = deck.GetConfig();
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        if (k.name.find(".cda") != std::string::npos || k.name.find(".CDA") != std::string::npos) cdaFile(k.name);
        ASSERT_EQ(load(deck, k.name, card1_, card1_), k.result);
        if (k.result != 1) {
            EXPECT_EQ(c->m_pSound, nullptr);
            EXPECT_EQ(c->m_pCDStream, nullptr);
            EXPECT_EQ(CTKCore::g_SystemsUseCount[card1_], 0);
            EXPECT_EQ(hooks::liveCount(hooks::Kind::Sound), sounds);
            continue;
        }
        ASSERT_NE(c->m_pCDStream, nullptr);
        int count = 0;
        EXPECT_EQ(c->m_pCDStream->getNumSubSounds(&count), FMOD_OK);
        EXPECT_EQ(count, loading_test::kTracks);
        FMOD::Sound* expected = nullptr;
        EXPECT_EQ(c->m_pCDStream->getSubSound(k.subSound, &expected), FMOD_OK);
        EXPECT_EQ(c->m_pSound, expected);
        EXPECT_EQ(c->m_uiLength, loading_test::trackMs(k.subSound));
        EXPECT_EQ(CTKCore::g_SystemsUseCount[card1_], 1);
        EXPECT_EQ(std::string(c->m_szFileName), k.name);
    }
    EXPECT_EQ(deck.Unload(), 1);
    EXPECT_EQ(hooks::liveCount(hooks::Kind::Sound), sounds);
}

TEST_F(LoadingSources, LineInNamesPickTheirRecorder) {
    ASSERT_EQ(CTKCore::g_recordercount, 2);
    struct Case {
        std::string name;
        int result;
        int recorder;  // for result 1
    };
    const Case cases[] = {
        {"record://", -3, 0},
        {"record://x", -5, 0},
        {"record://3", -3, 0},   // above the count
        {"record://2", -3, 0},   // the count itself names no recorder
        {"record://-1", -3, 0},
        {"record://1", 1, 1},
        {"RECORD://0", 1, 0},
        {"record://0000000000000000000000001", 1, 0},  // only 20 characters are read
    };
    CPlayer deck(0);
    DeckConfig* c = deck.GetConfig();
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        ASSERT_EQ(load(deck, k.name, card1_, card1_), k.result);
        if (k.result != 1) {
            EXPECT_EQ(c->m_pSound, nullptr);
            EXPECT_FALSE(c->m_bRecording);
            EXPECT_EQ(CTKCore::g_SystemsUseCount[card1_], 0);
            continue;
        }
        EXPECT_TRUE(c->m_bRecording);
        EXPECT_EQ(c->m_iRecorder, k.recorder);
        ASSERT_NE(c->m_pSound, nullptr);
        EXPECT_EQ(c->m_uiLength, 200u);  // 200 ms of mono 16-bit audio
        int channels = 0;
        EXPECT_EQ(c->m_pSound->getFormat(nullptr, nullptr, &channels, nullptr), FMOD_OK);
        EXPECT_EQ(channels, 1);
        bool recording = false;
        FMOD::System* system = nullptr;
        EXPECT_EQ(c->m_pSound->getSystemObject(&system), FMOD_OK);
        ASSERT_NE(system, nullptr);
        EXPECT_EQ(system, CTKCore::g_Systems[card1_]->getFMODSystem());  // on the card, not the silent system
        EXPECT_EQ(system->isRecording(k.recorder, &recording), FMOD_OK);
        EXPECT_TRUE(recording);
    }
    EXPECT_EQ(deck.Unload(), 1);
    bool recording = true;
    EXPECT_EQ(CTKCore::g_Systems[card1_]->getFMODSystem()->isRecording(0, &recording), FMOD_OK);
    EXPECT_FALSE(recording);
}

TEST_F(LoadingSources, Utf16NamesLoadAndOverlongNamesAreCutNotOverrun) {
    CPlayer deck(0);
    DeckConfig* c = deck.GetConfig();

    // A UTF-16 name with letters outside ASCII (the folder's path is ASCII), stored as given.
    fs::copy_file(sineWav("plain.wav", 441.0, 1.5), file("t\xC3\xB6n \xE2\x9C\x93.wav"));
    const std::string folder = files_.path() + "/";
    const std::u16string wide = std::u16string(folder.begin(), folder.end()) + u"t\u00F6n \u2713.wav";
    std::vector<char> bytes(reinterpret_cast<const char*>(wide.c_str()),
                            reinterpret_cast<const char*>(wide.c_str()) + (wide.size() + 1) * 2);
    ASSERT_EQ(loading_test::loadBytes(deck, bytes, card1_, card1_, true), 1);
    EXPECT_EQ(c->m_uiLength, 1500u);
    EXPECT_EQ(std::memcmp(c->m_szFileName, bytes.data(), bytes.size()), 0);

    // A path past the old 1024- and 2048-byte bounds is an ordinary path on this platform.
    std::string deep = files_.path();
    while (deep.size() < 2200) deep += "/" + std::string(200, 'd');
    fs::create_directories(deep);
    const std::string longPath = deep + "/long.wav";
    fs::copy_file(file("plain.wav"), longPath);
    EXPECT_EQ(load(deck, longPath, card1_, card1_), 1);
    EXPECT_EQ(c->m_uiLength, 1500u);
    EXPECT_EQ(deck.Unload(), 1);

    // A name longer than the stored name (no path can be that long, but a "://" name skips the
    // file check): the stored copy is cut to its size less one and opens nothing.
    const std::string overlong = "x://" + std::string(sizeof c->m_szFileName, 'x') + ".wav";
    EXPECT_EQ(load(deck, overlong, card1_, card1_), -16);
    EXPECT_EQ(std::strlen(c->m_szFileName), sizeof c->m_szFileName - 1);
    EXPECT_EQ(c->m_pSound, nullptr);
    EXPECT_EQ(CTKCore::g_SystemsUseCount[card1_], 0);
}

}  // namespace
