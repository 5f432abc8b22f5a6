// The rules every per-deck entry point shares, row by row: the answer and the log lines before
// start-up, the answer and banner for an index that names no deck, and which engine locks are held
// around the deck call.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "Player.h"
#include "PlayerList.h"
#include "TKCore.h"
#include "deck_support.h"
#include "deckapi_support.h"

namespace {

using deckapi_test::banner;
using deckapi_test::DebugLogCapture;
using deckapi_test::withDeck;

// What an entry point logs before start-up: both lines around its banner, one line, or nothing.
enum class Idle { Around, Once, Silent };
// "Coreglobal" for the lookup only, through the deck call, or the lookup and then "LoopLock".
enum class Hold { G, Through, Loop };

struct Row {
    const char* function;  // the member's name, as the lock trace names it
    Idle idle;
    double notStarted;     // the answer before start-up
    double noDeck;         // the answer for a negative index or one the registry refuses
    const char* banner;    // with "%d" for the deck; null where the banner follows the deck call
    Hold hold;             // the engine locks around the deck call
    std::function<double(int)> call;
};

unsigned int g_out[2];
char g_text[16];
unsigned char g_wave[16];
char g_recordName[] = "deck-record.wav";

double b(bool v) { return v ? 1.0 : 0.0; }

const std::vector<Row>& rows() {
    static const std::vector<Row> table = {
        {"Unload", Idle::Around, -2, -2, "Unload(%d)", Hold::G, [](int d) { return t_core.Unload(d); }},
        {"Play", Idle::Around, -2, -2, "Play(%d,true)", Hold::Loop, [](int d) { return t_core.Play(d, true); }},
        {"Stop", Idle::Around, -2, -2, "stop(%d)", Hold::G, [](int d) { return t_core.Stop(d); }},
        {"IsPlaying", Idle::Around, 0, 0, "IsPlaying()", Hold::G, [](int d) { return b(t_core.IsPlaying(d)); }},
        {"GetPosition", Idle::Silent, -1, -2, nullptr, Hold::G, [](int d) { return t_core.GetPosition(d); }},
        {"SetPosition", Idle::Once, -1, -2, "SetPosition(%d,1000)", Hold::G,
         [](int d) { return t_core.SetPosition(d, 1000); }},
        {"GetLength", Idle::Once, 0, 0, "GetLength()", Hold::G, [](int d) { return t_core.GetLength(d); }},
        {"CalcSongLengthRaw", Idle::Silent, -1, -2, "CalcSongLengthRaw(%d)", Hold::G,
         [](int d) { return t_core.CalcSongLengthRaw(d, g_out); }},
        {"GetWaveForm", Idle::Silent, -1, -2, "GetWaveForm(%d)", Hold::G,
         [](int d) { return t_core.GetWaveForm(d, g_wave, sizeof g_wave); }},
        {"SetIsReverse", Idle::Once, -1, -2, "Reverse()", Hold::G, [](int d) { return t_core.SetIsReverse(d, false); }},
        {"SetLoop", Idle::Silent, -1, -2, "SetLoop(%d)", Hold::Loop, [](int d) { return t_core.SetLoop(d, false, false); }},
        {"SetLoopPoints", Idle::Silent, -1, -2, "SetLoopPoints(%d)", Hold::Loop,
         [](int d) { return t_core.SetLoopPoints(d, 100, 200); }},
        {"IsLooping", Idle::Silent, 0, 0, "IsLooping(%d)", Hold::Loop, [](int d) { return b(t_core.IsLooping(d)); }},
        {"AddPlaybackSnippet", Idle::Silent, -1, -2, "AddPlaybackSnippet(%d,100,200)", Hold::G,
         [](int d) { return t_core.AddPlaybackSnippet(d, 100, 200); }},
        {"FrameSearchForward", Idle::Once, 0, -2, "FrameSearchForward(%d)", Hold::Loop,
         [](int d) { return t_core.FrameSearchForward(d, 50); }},
        {"FrameSearchBackward", Idle::Once, 0, -2, "FrameSearchBackward(%d)", Hold::Loop,
         [](int d) { return t_core.FrameSearchBackward(d, 50); }},
        {"SetFrameSearchLength", Idle::Once, 0, -2, "SetFrameSearchLength(%d)", Hold::G,
         [](int d) { return t_core.SetFrameSearchLength(d, 80); }},
        {"SetBufferSize", Idle::Silent, -1, 1, "SetBufferSize(%d)", Hold::G,
         [](int d) { return t_core.SetBufferSize(d, 4096); }},
        {"GetChannelHandle", Idle::Silent, -1, 0, nullptr, Hold::Through,
         [](int d) { return static_cast<double>(t_core.GetChannelHandle(d)); }},
        {"SetFrequencyPitch", Idle::Around, -2, -2, "setFrequencyPitch(%d, 5000.000000)", Hold::G,
         [](int d) { return t_core.SetFrequencyPitch(d, 5000.0); }},
        {"SetFrequencyPitchEx", Idle::Around, -2, -2, "setFrequencyPitchEx(%d, 100.000000)", Hold::G,
         [](int d) { return t_core.SetFrequencyPitchEx(d, 100.0); }},
        {"SetTimeStretcher", Idle::Once, 0, -2, "SetTimeStretcher(%d, 5000)", Hold::G,
         [](int d) { return t_core.SetTimeStretcher(d, 5000); }},
        {"SetPitchShifter", Idle::Once, 0, -2, "SetPitchShifter(%d, 0.500000)", Hold::G,
         [](int d) { return t_core.SetPitchShifter(d, 0.5f); }},
        {"startBeatTracking", Idle::Around, -2, -2, "startBeatTracking(%d,0)", Hold::G,
         [](int d) { return t_core.startBeatTracking(d, false); }},
        {"GetBPM", Idle::Once, 0, 0, "GetBPM(%d)", Hold::Through, [](int d) { return t_core.GetBPM(d); }},
        {"DefineBeatCallback", Idle::Silent, -1, -2, "DefineBeatCallback()", Hold::G,
         [](int d) { return t_core.DefineBeatCallback(d, nullptr); }},
        {"SetEqLow", Idle::Around, -2, -2, "setEqLow()", Hold::G, [](int d) { return t_core.SetEqLow(d, 5000); }},
        {"SetEqMid", Idle::Around, -2, -2, "setEqMid()", Hold::G, [](int d) { return t_core.SetEqMid(d, 5000); }},
        {"SetEqHigh", Idle::Around, -2, -2, "setEqHigh()", Hold::G, [](int d) { return t_core.SetEqHigh(d, 5000); }},
        {"GetEqLow", Idle::Once, 0, 0, "GetEqLow(%d)", Hold::G, [](int d) { return t_core.GetEqLow(d); }},
        {"GetEqMid", Idle::Once, 0, 0, "GetEqMid(%d)", Hold::G, [](int d) { return t_core.GetEqMid(d); }},
        {"GetEqHigh", Idle::Once, 0, 0, "GetEqHigh(%d)", Hold::G, [](int d) { return t_core.GetEqHigh(d); }},
        {"SetEqBandWidth", Idle::Around, -2, -2, "SetEqBandWidth()", Hold::G,
         [](int d) { return t_core.SetEqBandWidth(d, 2.0f); }},
        {"SetCutOff", Idle::Silent, -1, -2, "SetCutOff(%d,5000)", Hold::G, [](int d) { return t_core.SetCutOff(d, 5000); }},
        {"SetResonance", Idle::Silent, -1, -2, "SetResonance(%d,5000)", Hold::G,
         [](int d) { return t_core.SetResonance(d, 5000); }},
        {"SetHighPassCutOff", Idle::Silent, -1, -2, "SetHighPassCutOff(%d,5000)", Hold::G,
         [](int d) { return t_core.SetHighPassCutOff(d, 5000); }},
        {"SetHighPassResonance", Idle::Silent, -1, -2, "SetHighPassResonance(%d,5000)", Hold::G,
         [](int d) { return t_core.SetHighPassResonance(d, 5000); }},
        {"EnableLowPass", Idle::Silent, -1, -2, "EnableLowPass(%d,1)", Hold::G,
         [](int d) { return t_core.EnableLowPass(d, true); }},
        {"EnableHighPass", Idle::Silent, -1, -2, "EnableHighPass(%d,0)", Hold::G,
         [](int d) { return t_core.EnableHighPass(d, false); }},
        {"SetEcho", Idle::Once, -1, -2, "SetEcho(%d)", Hold::G,
         [](int d) { return t_core.SetEcho(d, false, 300, 0.5, 1, 0.5); }},
        {"SetFlanger", Idle::Once, 0, -2, "SetFlanger(%d)", Hold::G,
         [](int d) { return t_core.SetFlanger(d, false, 0.45, 0.55, 1, 0.1); }},
        {"SetMute", Idle::Around, -2, -2, "setMute()", Hold::G, [](int d) { return t_core.SetMute(d, false); }},
        {"SetMuteMonitor", Idle::Around, -2, -2, "SetMuteMonitor()", Hold::G,
         [](int d) { return t_core.SetMuteMonitor(d, false); }},
        {"SetVolume", Idle::Around, -2, -2, "setVolume()", Hold::G, [](int d) { return t_core.SetVolume(d, 5000); }},
        {"SetVolumeMonitor", Idle::Around, -2, -2, "SetVolumeMonitor()", Hold::G,
         [](int d) { return t_core.SetVolumeMonitor(d, 5000); }},
        {"GetVolume", Idle::Around, 0, 0, "getVolume()", Hold::G, [](int d) { return t_core.GetVolume(d); }},
        {"GetVolumeMonitor", Idle::Around, 0, 0, "GetVolumeMonitor()", Hold::Through,
         [](int d) { return t_core.GetVolumeMonitor(d); }},
        {"SetPan", Idle::Silent, -1, -2, "SetPan()", Hold::G, [](int d) { return t_core.SetPan(d, 5000); }},
        {"SetGain", Idle::Silent, -1, -2, "SetGain(%d)", Hold::G, [](int d) { return t_core.SetGain(d, 5000); }},
        {"GetLevels", Idle::Once, -1, -2, "GetLevel(%d)", Hold::G, [](int d) { return t_core.GetLevels(d, g_out); }},
        {"GetTone", Idle::Silent, -1, -2, "GetTone(%d)", Hold::G, [](int d) { return t_core.GetTone(d, g_text); }},
        {"getVirtualVTMode", Idle::Silent, 0, 0, "getVirtualVTMode(%d)", Hold::G,
         [](int d) { return t_core.getVirtualVTMode(d); }},
        {"setVirtualVTMode", Idle::Silent, -1, 1, "setVirtualVTMode(%d, 0.000000)", Hold::G,
         [](int d) { return t_core.setVirtualVTMode(d, 0.0); }},
        {"setVirtualVelocity", Idle::Silent, -1, 1, "setVirtualVelocity(%d, 100)", Hold::G,
         [](int d) { return t_core.setVirtualVelocity(d, 100, 0.5); }},
        {"enableVirtualVinyl", Idle::Silent, -1, 1, "enableVirtualVinyl(%d, 0)", Hold::G,
         [](int d) { return t_core.enableVirtualVinyl(d, false); }},
        {"setVirtualVTInertia", Idle::Silent, -1, 1, "setVirtualVTInertia(%d, 1.000000)", Hold::G,
         [](int d) { return t_core.setVirtualVTInertia(d, 1.0); }},
        {"setAGCAttackDelay", Idle::Silent, -1, -28, "setAGCAttackDelay(%d)", Hold::G,
         [](int d) { return t_core.setAGCAttackDelay(d, 10, 20); }},
        {"setAGCGainOutputLevel", Idle::Silent, -1, -2, "setAGCGainOutputLevel(%d)", Hold::G,
         [](int d) { return t_core.setAGCGainOutputLevel(d, -12.0f); }},
        {"enableAGC", Idle::Silent, -1, -2, "enableAGC(%d)", Hold::G, [](int d) { return t_core.enableAGC(d, false); }},
        {"PlayerMixDown_openFile", Idle::Silent, -1, -2, "PlayerMixDown_openFile(%d)", Hold::G,
         [](int d) { return t_core.PlayerMixDown_openFile(d, g_recordName, 0, 0); }},
        {"PlayerMixDown_start", Idle::Silent, -1, -2, "PlayerMixDown_start(%d)", Hold::G,
         [](int d) { return t_core.PlayerMixDown_start(d); }},
        {"PlayerMixDown_close", Idle::Silent, -1, -2, "PlayerMixDown_close(%d)", Hold::G,
         [](int d) { return t_core.PlayerMixDown_close(d); }},
    };
    return table;
}

// The log of a not-started call: the kind's lines around (or instead of) the banner.
std::string notStartedLog(const Row& row) {
    switch (row.idle) {
        case Idle::Around:
            return "Init the library first!" + banner(withDeck(row.banner, 0)) + "Init the library first! \n";
        case Idle::Once:
            return "Init the library first!";
        case Idle::Silent:
            return "";
    }
    return "?";
}

TEST(DeckApiNotStarted, EveryRowAnswersAndLogsByItsKind) {
    pw::test::TempDir dir("pw-deckapi-");
    struct Restore {
        std::filesystem::path previous = std::filesystem::current_path();
        ~Restore() { std::filesystem::current_path(previous); }
    } restore;
    std::filesystem::current_path(dir.path());
    ASSERT_FALSE(CPlayerList::initialized.load());
    {
        DebugLogCapture log;
        for (const Row& row : rows()) {
            SCOPED_TRACE(row.function);
            log.restart();
            EXPECT_EQ(row.call(0), row.notStarted);
            EXPECT_EQ(log.withoutLockTrace(), notStartedLog(row));
        }
        // The rows over all decks answer -1 and write nothing.
        log.restart();
        EXPECT_EQ(t_core.EnableNormalizer(true), -1);
        EXPECT_EQ(t_core.SetNormalizer(1, 2, 3), -1);
        EXPECT_EQ(t_core.SetNormalizerCompressor(1, 2, 3, 4), -1);
        EXPECT_EQ(log.withoutLockTrace(), "");
        EXPECT_FALSE(m_bEnableNormalizer.load());

        log.restart();
        char path[] = "song.wav";
        EXPECT_EQ(t_core.Load(0, path, 0, 0, false), -1);
        EXPECT_EQ(log.withoutLockTrace(), "Init the library first!");
        // Nothing came into being.
        EXPECT_EQ(CPlayerList::ref, nullptr);
    }
}

class DeckApiStarted : public deck_test::EngineOnTable {};

// A negative index never reaches the registry, and an index above 64 is refused by it: both get the
// no-deck answer after the banner, and no deck is created.
TEST_F(DeckApiStarted, AnIndexThatNamesNoDeckGetsTheNoDeckAnswerAfterTheBanner) {
    ASSERT_NE(CPlayerList::getInstance(), nullptr);
    const int decks = CPlayerList::getInstance()->count();
    DebugLogCapture log;
    for (const Row& row : rows()) {
        for (int deck : {-1, -1000, CPlayerList::kMaxDeckIndex + 1}) {
            SCOPED_TRACE(std::string(row.function) + " deck " + std::to_string(deck));
            log.restart();
            EXPECT_EQ(row.call(deck), row.noDeck);
            EXPECT_EQ(log.withoutLockTrace(), row.banner ? banner(withDeck(row.banner, deck)) : "");
        }
    }
    EXPECT_EQ(CPlayerList::getInstance()->count(), decks);
}

// The lock trace shows which engine locks surround the deck's own: "Coreglobal" is left before the
// deck is called (the deck's locks follow it), except where it is held through the call; the loop
// group then takes "LoopLock" around the call.
TEST_F(DeckApiStarted, EngineLocksSurroundTheDeckCallByTheRowsKind) {
    DebugLogCapture log;
    for (const Row& row : rows()) {
        SCOPED_TRACE(row.function);
        log.restart();
        row.call(0);
        if (row.banner) {
            EXPECT_NE(log.text().find(banner(withDeck(row.banner, 0))), std::string::npos);
        }
        const std::vector<std::string> own = log.lockTrace(row.function);
        ASSERT_GE(own.size(), 2u);
        EXPECT_EQ(own[0], "Enter Coreglobal");
        const std::vector<std::string> all = log.lockTrace();
        ASSERT_GE(all.size(), 2u);
        EXPECT_EQ(all.front(), "Enter Coreglobal");
        EXPECT_EQ(std::count(all.begin(), all.end(), "Leave Coreglobal"), 1);
        const bool looped = std::find(all.begin(), all.end(), "Enter LoopLock") != all.end();
        EXPECT_EQ(looped, row.hold == Hold::Loop);
        switch (row.hold) {
            case Hold::G:
                EXPECT_EQ(all[1], "Leave Coreglobal");
                break;
            case Hold::Through:
                EXPECT_EQ(all.back(), "Leave Coreglobal");
                break;
            case Hold::Loop:
                ASSERT_GE(all.size(), 4u);
                EXPECT_EQ(all[1], "Leave Coreglobal");
                EXPECT_EQ(all[2], "Enter LoopLock");
                EXPECT_EQ(all.back(), "Leave LoopLock");
                break;
        }
    }
    EXPECT_EQ(t_core.Unload(0), 1);
}

// Any valid index creates the missing decks up to it, whatever the entry point.
TEST_F(DeckApiStarted, GetBPMOfAnUnusedIndexCreatesThatDeck) {
    ASSERT_EQ(CPlayerList::getInstance()->count(), 1);
    DebugLogCapture log;
    EXPECT_EQ(t_core.GetBPM(7), 0.0f);
    EXPECT_EQ(CPlayerList::getInstance()->count(), 8);
    EXPECT_EQ(CPlayerList::getInstance()->getChannelObject(7)->getIndex(), 7);
    EXPECT_EQ(log.withoutLockTrace(), banner("GetBPM(7)"));
}

TEST_F(DeckApiStarted, FrequencyPitchIsClampedToTheSliderRange) {
    struct Case {
        double given, slider, speed;
    };
    const Case cases[] = {{12000.0, 10000.0, 2.0}, {-3.0, 0.0, 0.0}, {2500.0, 2500.0, 0.5}, {NAN, 0.0, 0.0}};
    DeckConfig* config = t_core.getPlayerObject(0)->GetConfig();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.given);
        EXPECT_EQ(t_core.SetFrequencyPitch(0, c.given), 1);
        EXPECT_EQ(config->m_dPitchSlider, c.slider);
        EXPECT_EQ(config->m_dSpeed, c.speed);
    }
}

TEST_F(DeckApiStarted, AgcLevelAndSwitchReachTheDecksGainControl) {
    CPlayer* deck = t_core.getPlayerObject(2);
    ASSERT_NE(deck, nullptr);
    EXPECT_EQ(t_core.setAGCGainOutputLevel(2, -9.5f), 1);
    EXPECT_EQ(deck->m_fTargetLevelDb, -9.5f);
    EXPECT_EQ(t_core.enableAGC(2, true), 1);
    EXPECT_TRUE(deck->m_bEnabled);
    EXPECT_EQ(t_core.enableAGC(2, false), 1);
    EXPECT_FALSE(deck->m_bEnabled);
    EXPECT_EQ(t_core.getPlayerObject(0)->m_fTargetLevelDb, CAutoGainControl().m_fTargetLevelDb);
}

class DeckApiLoad : public deck_test::EngineOnTable {
protected:
    void SetUp() override {
        EngineOnTable::SetUp();
        song_ = file("song.wav");
        ASSERT_TRUE(deck_test::writeWav(song_, 44100, 2, 16, 44100, [](long f, int) {
            return static_cast<float>(0.3 * std::sin(2 * M_PI * 440.0 * f / 44100.0));
        }));
        slot_ = deck_test::findSlot("Card1", 0);
        ASSERT_GE(slot_, 0);
    }
    std::string song_;
    int slot_ = -1;
};

TEST_F(DeckApiLoad, ChecksComeFirstThenTheBannerAndTheLookup) {
    const std::string text = file("notes.txt");
    {
        std::ofstream out(text);
        out << std::string(1000, 'x');
    }
    struct Case {
        const char* label;
        int deck;
        std::string path;
        int result;
        std::string log;
    };
    const Case cases[] = {
        {"unsupported type", 0, text, -16, "no valid file type!\n"},
        {"missing file", 0, file("gone.wav"), -3, ""},
        {"negative index", -1, song_, -2,
         banner("file loaded(-1, " + song_ + ")") + "play soundfile: " + song_ + "\nChannel ID: -1\n" +
             "failed to getObject() from channel list."},
    };
    DebugLogCapture log;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        log.restart();
        std::string path = c.path;
        EXPECT_EQ(t_core.Load(c.deck, path.data(), slot_, slot_, false), c.result);
        // The entry point's own lines end the log (the file checks write theirs before).
        const std::string got = log.withoutLockTrace();
        EXPECT_EQ(got.substr(got.size() - std::min(got.size(), c.log.size())), c.log);
        EXPECT_EQ(got.find("no valid file type!"), c.result == -16 ? got.size() - c.log.size() : std::string::npos);
        EXPECT_EQ(t_core.getPlayerObject(0)->GetConfig()->m_pSound, nullptr);
    }

    log.restart();
    EXPECT_EQ(t_core.Load(0, song_.data(), slot_, slot_, false), 1);
    const std::string got = log.withoutLockTrace();
    const std::string head = banner("file loaded(0, " + song_ + ")") + "play soundfile: " + song_ +
                             "\nChannel ID: 0\n\n============\nChannel List is :1 values long\n";
    EXPECT_NE(got.find(head), std::string::npos) << got;
    EXPECT_NE(t_core.getPlayerObject(0)->GetConfig()->m_pSound, nullptr);
    // The load lock is unnamed and never logs; "Coreglobal" is held for the lookup only, before the
    // deck's own locks.
    const std::vector<std::string> locks = log.lockTrace();
    ASSERT_GE(locks.size(), 3u);
    EXPECT_EQ(locks[0], "Enter Coreglobal");
    EXPECT_EQ(locks[1], "Leave Coreglobal");
    EXPECT_EQ(std::count(locks.begin(), locks.end(), "Enter Coreglobal"), 1);
}

// A UTF-16 name loads, and the banner shows it as UTF-8; the queries whose banner carries their
// answer write it after the deck call. The main output plays through the time-stretched channel
// and holds no FMOD channel of its own, so the channel handle is 0.
TEST_F(DeckApiLoad, WideNamesAndAnswersInTheBanner) {
    const std::string utf8 = file("s\xC3\xB3ng.wav");  // "sóng.wav"
    std::filesystem::copy_file(song_, utf8);
    std::vector<char> wide;
    // UTF-16 units in machine order, from the UTF-8 path (ASCII apart from the one "ó").
    for (size_t i = 0; i < utf8.size(); ++i) {
        char16_t unit = static_cast<unsigned char>(utf8[i]);
        if (utf8[i] == '\xC3' && i + 1 < utf8.size()) unit = static_cast<char16_t>(0xC0 | (utf8[++i] & 0x3F));
        const char* bytes = reinterpret_cast<const char*>(&unit);
        wide.push_back(bytes[0]);
        wide.push_back(bytes[1]);
    }
    wide.push_back('\0');
    wide.push_back('\0');
    DebugLogCapture log;
    EXPECT_EQ(t_core.Load(0, wide.data(), slot_, slot_, true), 1);
    EXPECT_NE(log.withoutLockTrace().find(banner("file loaded(0, " + utf8 + ")")), std::string::npos);
    EXPECT_EQ(t_core.GetLength(0), 1000);

    log.restart();
    EXPECT_EQ(t_core.GetChannelHandle(0), 0);
    EXPECT_EQ(t_core.GetPosition(0), 0);
    const std::string got = log.withoutLockTrace();
    EXPECT_NE(got.find(banner("GetChannelHandle(0)=0")), std::string::npos) << got;
    EXPECT_NE(got.find(banner("GetPosition(0)=0")), std::string::npos) << got;
    EXPECT_EQ(t_core.Unload(0), 1);
}

// The normaliser rows act on every deck in the registry; a deck without units keeps nothing but
// the switch, and the switch also goes to the master bus.
TEST_F(DeckApiLoad, NormaliserRowsReachEveryDeck) {
    DebugLogCapture log;
    // Three empty decks: the settings are not kept, the answer is still 1.
    for (int d = 0; d < 3; ++d) ASSERT_NE(t_core.getPlayerObject(d), nullptr);
    const float fadeBefore = t_core.getPlayerObject(1)->GetConfig()->m_fNormalizerFadeTime;
    log.restart();
    EXPECT_EQ(t_core.SetNormalizer(1234.0f, 0.25f, 8.0f), 1);
    EXPECT_EQ(log.withoutLockTrace(), banner("SetNormalizer(1234.000000,0.250000,8.000000)"));
    for (int d = 0; d < 3; ++d) EXPECT_EQ(t_core.getPlayerObject(d)->GetConfig()->m_fNormalizerFadeTime, fadeBefore);

    for (int d = 0; d < 3; ++d) ASSERT_EQ(t_core.Load(d, song_.data(), slot_, slot_, false), 1) << d;
    log.restart();
    EXPECT_EQ(t_core.EnableNormalizer(true), 1);
    EXPECT_EQ(log.withoutLockTrace(), banner("EnableNormalizer(1)"));
    EXPECT_TRUE(m_bEnableNormalizer.load());
    EXPECT_EQ(t_core.SetNormalizer(1234.0f, 0.25f, 8.0f), 1);
    EXPECT_EQ(t_core.SetNormalizerCompressor(5.0f, 2000.0f, -80.0f, 40.0f), 1);
    for (int d = 0; d < 3; ++d) {
        SCOPED_TRACE(d);
        DeckConfig* c = t_core.getPlayerObject(d)->GetConfig();
        EXPECT_TRUE(c->m_bNormalizerOn);
        EXPECT_EQ(c->m_fNormalizerFadeTime, 1234.0f);
        EXPECT_EQ(c->m_fCompressorRelease, 2000.0f);
        for (FMOD::DSP* unit : {c->m_pNormalizer, c->m_pCompressor}) {
            ASSERT_NE(unit, nullptr);
            bool bypass = true;
            ASSERT_EQ(unit->getBypass(&bypass), FMOD_OK);
            EXPECT_FALSE(bypass);
        }
        float release = 0.0f;
        ASSERT_EQ(c->m_pCompressor->getParameter(2, &release, nullptr, 0), FMOD_OK);
        EXPECT_EQ(release, 1000.0f);
    }
    EXPECT_EQ(t_core.EnableNormalizer(false), 1);
    EXPECT_FALSE(m_bEnableNormalizer.load());
    EXPECT_FALSE(t_core.getPlayerObject(2)->GetConfig()->m_bNormalizerOn);
}

}  // namespace
