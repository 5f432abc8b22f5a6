// Per-deck entry points of the engine object: loading, transport, position and loops. Each one
// checks the started flag, takes its engine lock, writes its banner, looks the deck up (creating it
// on first use) and hands the call to the deck; the common steps live in TKCoreDeckCall.h.
//
// Thread safety: Java threads call these concurrently. Load holds the load lock for its whole run
// (serialising it with start-up and shutdown) and "Coreglobal" for the lookup inside it. Every
// entry point holds its deck's gate (TKCoreDeckCall.h), so no other one is inside that deck
// meanwhile. The loop group (Play, SetLoop, SetLoopPoints, IsLooping, the frame-search steps)
// holds "LoopLock" around the deck call, after "Coreglobal" has been left.
#include <cstdio>

#include "Monitor.h"
#include "TKCore.h"
#include "TKCoreDeckCall.h"
#include "tk_string.h"

using tk_deck::Hold;
using tk_deck::Idle;
using tk_deck::Rule;

namespace {

// Load formats its debug lines into buffers of this size first.
constexpr int kLogLineBytes = 255;
// The narrow copy of a loaded path in the banner: at most 255 characters.
constexpr int kBannerPathBytes = 256;

constexpr Rule<bool> kIsPlaying{Hold::Lookup, Idle::LogAround, false, false};
constexpr Rule<int> kLoopOnceZero{Hold::LoopAfter, Idle::LogOnce, 0, TK_ERR_NO_DECK};
constexpr Rule<bool> kIsLooping{Hold::LoopAfter, Idle::Silent, false, false};
constexpr Rule<int> kPlay{Hold::LoopAfter, Idle::LogAround, TK_ERR_NO_DECK, TK_ERR_NO_DECK};

}  // namespace

std::mutex tk_deck::g_deckGates[CPlayerList::kMaxDeckIndex + 1];
std::shared_mutex tk_deck::g_everyDeckGate;

int CTKCore::Load(int deck, char* path, int mainSlot, int cueSlot, bool unicode) {
    const tk_engine::EngineCall engineCall;
    CRITSECT_ENTER(m_csLoad);
    if (!engineCall.admitted() || !CPlayerList::initialized.load(std::memory_order_acquire)) {
        debugMsg("Init the library first!");
        CRITSECT_LEAVE(m_csLoad);
        return TK_ERR_NOT_STARTED;
    }
    int result = IsValidFileType(path, unicode);
    if (result != TK_OK) {
        debugMsg("no valid file type!\n");
        CRITSECT_LEAVE(m_csLoad);
        return result;
    }
    result = IsFileAvailable(path, unicode);
    if (result != TK_OK) {
        CRITSECT_LEAVE(m_csLoad);
        return result;
    }
    char narrow[kBannerPathBytes] = {};
    tk_convUnicodeToChar(narrow, kBannerPathBytes - 1, path, unicode);
    debugMsg(TK_DECK_BANNER("file loaded(%d, %s)"), deck, narrow);

    // No other entry point works on this deck while its source is replaced.
    const tk_deck::GateHold gate(deck);
    CRITSECT_ENTER(m_csCoreGlobal);
    // A negative index never reaches the registry.
    CPlayerList* registry = deck < 0 ? nullptr : CPlayerList::getInstance();
    CPlayer* player = registry ? registry->getChannelObject(deck) : nullptr;
    CRITSECT_LEAVE(m_csCoreGlobal);

    if (g_bDebug.load(std::memory_order_relaxed)) {
        // The path as Java gave it: a UTF-16 name shows only up to its first zero byte here.
        char line[kLogLineBytes];
        std::snprintf(line, sizeof line, "play soundfile: %s\n", path);
        debugMsg("%s", line);
        std::snprintf(line, sizeof line, "Channel ID: %d\n", deck);
        debugMsg("%s", line);
    }
    if (!player) {
        debugMsg("failed to getObject() from channel list.");
        CRITSECT_LEAVE(m_csLoad);
        return TK_ERR_NO_DECK;
    }
    debugMsg("\n============\nChannel List is :%d values long\n", registry->count());
    result = player->Load(path, mainSlot, cueSlot, unicode);
    CRITSECT_LEAVE(m_csLoad);
    return result;
}

int CTKCore::Unload(int deck) {
    // The slots' use counts are shared by all decks and Load changes them under the load lock, so
    // Unload, which lowers them, holds it too (it is unnamed: the lock trace stays as it was).
    CRITSECT_SCOPE(m_csLoad);
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActAround,
                        [&] { debugMsg(TK_DECK_BANNER("Unload(%d)"), deck); },
                        [](CPlayer& p) { return p.Unload(); });
}

int CTKCore::Play(int deck, bool play) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, kPlay,
                        [&] { debugMsg(TK_DECK_BANNER("Play(%d,%s)"), deck, play ? "true" : "false"); },
                        [&](CPlayer& p) { return p.Play(play, false); });
}

int CTKCore::Stop(int deck) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActAround,
                        [&] { debugMsg(TK_DECK_BANNER("stop(%d)"), deck); },
                        [](CPlayer& p) { return p.Stop(); });
}

bool CTKCore::IsPlaying(int deck) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, kIsPlaying,
                        [] { debugMsg(TK_DECK_BANNER("IsPlaying()")); },
                        [](CPlayer& p) { return p.IsPlaying(); });
}

int CTKCore::GetPosition(int deck) {
    // The banner carries the result, so it is written after the deck call.
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActSilent, [] {}, [&](CPlayer& p) {
        const int position = p.GetPosition();
        debugMsg(TK_DECK_BANNER("GetPosition(%d)=%d"), deck, position);
        return position;
    });
}

int CTKCore::SetPosition(int deck, int ms) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActOnce,
                        [&] { debugMsg(TK_DECK_BANNER("SetPosition(%d,%d)"), deck, ms); },
                        [&](CPlayer& p) { return p.SetPosition(ms, true); });
}

int CTKCore::GetLength(int deck) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kQueryOnceZero,
                        [] { debugMsg(TK_DECK_BANNER("GetLength()")); },
                        [](CPlayer& p) { return p.GetLength(); });
}

int CTKCore::CalcSongLengthRaw(int deck, unsigned int* out) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActSilent,
                        [&] { debugMsg(TK_DECK_BANNER("CalcSongLengthRaw(%d)"), deck); },
                        [&](CPlayer& p) { return p.CalcSongLengthRaw(out); });
}

int CTKCore::GetWaveForm(int deck, unsigned char* buffer, unsigned int size) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActSilent,
                        [&] { debugMsg(TK_DECK_BANNER("GetWaveForm(%d)"), deck); },
                        [&](CPlayer& p) { return p.GetWaveForm(buffer, size); });
}

int CTKCore::SetIsReverse(int deck, bool reverse) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActOnce,
                        [] { debugMsg(TK_DECK_BANNER("Reverse()")); },
                        [&](CPlayer& p) { return p.SetIsReverse(reverse); });
}

int CTKCore::SetLoop(int deck, bool on, bool flag) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kLoopSilent,
                        [&] { debugMsg(TK_DECK_BANNER("SetLoop(%d)"), deck); },
                        [&](CPlayer& p) { return p.SetLoop(on, flag, true); });
}

int CTKCore::SetLoopPoints(int deck, int start, int end) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kLoopSilent,
                        [&] { debugMsg(TK_DECK_BANNER("SetLoopPoints(%d)"), deck); },
                        [&](CPlayer& p) { return p.SetLoopPoints(start, end, true); });
}

bool CTKCore::IsLooping(int deck) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, kIsLooping,
                        [&] { debugMsg(TK_DECK_BANNER("IsLooping(%d)"), deck); },
                        [](CPlayer& p) { return p.IsLooping(); });
}

int CTKCore::AddPlaybackSnippet(int deck, unsigned int start, unsigned int end) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActSilent,
                        [&] {
                            debugMsg(TK_DECK_BANNER("AddPlaybackSnippet(%d,%d,%d)"), deck, static_cast<int>(start),
                                     static_cast<int>(end));
                        },
                        [&](CPlayer& p) { return p.AddPlaybackSnippet(start, end); });
}

// The deck takes the step unsigned; Java's int goes through as its bits.
int CTKCore::FrameSearchForward(int deck, int step) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, kLoopOnceZero,
                        [&] { debugMsg(TK_DECK_BANNER("FrameSearchForward(%d)"), deck); },
                        [&](CPlayer& p) { return p.FrameSearchForward(static_cast<unsigned int>(step)); });
}

int CTKCore::FrameSearchBackward(int deck, int step) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, kLoopOnceZero,
                        [&] { debugMsg(TK_DECK_BANNER("FrameSearchBackward(%d)"), deck); },
                        [&](CPlayer& p) { return p.FrameSearchBackward(static_cast<unsigned int>(step)); });
}

int CTKCore::SetFrameSearchLength(int deck, unsigned int ms) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActOnceZero,
                        [&] { debugMsg(TK_DECK_BANNER("SetFrameSearchLength(%d)"), deck); },
                        [&](CPlayer& p) { return p.SetFrameSearchLength(ms); });
}

int CTKCore::SetBufferSize(int deck, int size) {
    constexpr Rule<int> rule{Hold::Lookup, Idle::Silent, TK_ERR_NOT_STARTED, TK_OK};
    return tk_deck::run(*this, TK_DECK_SITE, deck, rule,
                        [&] { debugMsg(TK_DECK_BANNER("SetBufferSize(%d)"), deck); },
                        [&](CPlayer& p) { return p.SetBufferSize(size); });
}

int64_t CTKCore::GetChannelHandle(int deck) {
    constexpr Rule<int64_t> rule{Hold::Through, Idle::Silent, -1, 0};
    // The banner carries the handle, so it is written after the lookup.
    return tk_deck::run(*this, TK_DECK_SITE, deck, rule, [] {}, [&](CPlayer& p) {
        const DeckConfig* config = p.GetConfig();
        CMonitor* main = config ? config->m_pMainOutput : nullptr;
        // The address zero-extended, so that a 32-bit address is never negative (nor -1).
        const int64_t handle = main ? static_cast<int64_t>(reinterpret_cast<uintptr_t>(main->GetChannelObject())) : 0;
        debugMsg(TK_DECK_BANNER("GetChannelHandle(%d)=%d"), deck, static_cast<int>(handle));
        return handle;
    });
}
