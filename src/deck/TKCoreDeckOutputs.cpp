// Per-deck entry points of the engine object: the two outputs' volume, mute, pan and gain, the
// level meter and the tone finder. The common steps (started test, lock, banner, lookup) live in
// TKCoreDeckCall.h.
//
// Thread safety: Java threads call these concurrently. "Coreglobal" is held for the lookup only,
// except in GetVolumeMonitor, which holds it through the deck call.
#include "TKCore.h"
#include "TKCoreDeckCall.h"

using tk_deck::Hold;
using tk_deck::Idle;
using tk_deck::Rule;

namespace {

constexpr Rule<int> kVolumeQuery{Hold::Lookup, Idle::LogAround, 0, 0};
constexpr Rule<int> kMonitorVolumeQuery{Hold::Through, Idle::LogAround, 0, 0};

}  // namespace

int CTKCore::SetMute(int deck, bool mute) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActAround,
                        [] { debugMsg(TK_DECK_BANNER("setMute()")); },
                        [&](CPlayer& p) { return p.SetMute(mute); });
}

int CTKCore::SetMuteMonitor(int deck, bool mute) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActAround,
                        [] { debugMsg(TK_DECK_BANNER("SetMuteMonitor()")); },
                        [&](CPlayer& p) { return p.SetMuteMonitor(mute); });
}

int CTKCore::SetVolume(int deck, int value) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActAround,
                        [] { debugMsg(TK_DECK_BANNER("setVolume()")); }, [&](CPlayer& p) {
                            debugMsg("Player: %d Volume:%d\n", deck, value);
                            return p.SetVolume(value);
                        });
}

int CTKCore::SetVolumeMonitor(int deck, int value) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActAround,
                        [] { debugMsg(TK_DECK_BANNER("SetVolumeMonitor()")); },
                        [&](CPlayer& p) { return p.SetVolumeMonitor(value); });
}

int CTKCore::GetVolume(int deck) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, kVolumeQuery,
                        [] { debugMsg(TK_DECK_BANNER("getVolume()")); },
                        [](CPlayer& p) { return static_cast<int>(p.GetVolume()); });
}

int CTKCore::GetVolumeMonitor(int deck) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, kMonitorVolumeQuery,
                        [] { debugMsg(TK_DECK_BANNER("GetVolumeMonitor()")); },
                        [](CPlayer& p) { return static_cast<int>(p.GetVolumeMonitor()); });
}

int CTKCore::SetPan(int deck, int value) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActSilent,
                        [] { debugMsg(TK_DECK_BANNER("SetPan()")); },
                        [&](CPlayer& p) { return p.SetPan(value); });
}

int CTKCore::SetGain(int deck, int value) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActSilent,
                        [&] { debugMsg(TK_DECK_BANNER("SetGain(%d)"), deck); },
                        [&](CPlayer& p) { return p.SetGain(value); });
}

int CTKCore::GetLevels(int deck, unsigned int* out) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActOnce,
                        [&] { debugMsg(TK_DECK_BANNER("GetLevel(%d)"), deck); },
                        [&](CPlayer& p) { return p.GetLevels(out); });
}

int CTKCore::GetTone(int deck, char* out) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActSilent,
                        [&] { debugMsg(TK_DECK_BANNER("GetTone(%d)"), deck); },
                        [&](CPlayer& p) { return p.GetTone(out); });
}
