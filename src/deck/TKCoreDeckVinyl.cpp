// Per-deck entry points of the engine object: the virtual vinyl controller, the automatic gain
// control and the deck recorder. The common steps (started test, lock, banner, lookup) live in
// TKCoreDeckCall.h.
//
// Thread safety: Java threads call these concurrently; "Coreglobal" is held for the lookup only.
#include "TKCore.h"
#include "TKCoreDeckCall.h"

using tk_deck::Hold;
using tk_deck::Idle;
using tk_deck::Rule;

namespace {

constexpr Rule<double> kVTModeQuery{Hold::Lookup, Idle::Silent, 0.0, 0.0};
// setAGCAttackDelay answers -28 for a missing deck.
constexpr Rule<int> kAttackDelay{Hold::Lookup, Idle::Silent, TK_ERR_NOT_STARTED, -28};

}  // namespace

double CTKCore::getVirtualVTMode(int deck) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, kVTModeQuery,
                        [&] { debugMsg(TK_DECK_BANNER("getVirtualVTMode(%d)"), deck); },
                        [](CPlayer& p) { return p.getVirtualVTMode(); });
}

int CTKCore::setVirtualVTMode(int deck, double mode) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kVinylSilent,
                        [&] { debugMsg(TK_DECK_BANNER("setVirtualVTMode(%d, %f)"), deck, mode); },
                        [&](CPlayer& p) { return p.setVirtualVTMode(mode); });
}

int CTKCore::setVirtualVelocity(int deck, int64_t position, double time) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kVinylSilent,
                        [&] {
                            debugMsg(TK_DECK_BANNER("setVirtualVelocity(%d, %d)"), deck, static_cast<int>(position));
                        },
                        [&](CPlayer& p) {
                            // Into 0..length. A line-in deck's length is -6, so there every
                            // position becomes -6, as the deck expects.
                            // Clamped in 64 bits, so that a Java long beyond the 32-bit
                            // range reaches the end of the track in the 32-bit library too.
                            int64_t clamped = position < 0 ? 0 : position;
                            const int64_t length = p.GetLength();
                            if (clamped > length) clamped = length;
                            return p.setVirtualVelocity(static_cast<long>(clamped), time);
                        });
}

int CTKCore::enableVirtualVinyl(int deck, bool on) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kVinylSilent,
                        [&] { debugMsg(TK_DECK_BANNER("enableVirtualVinyl(%d, %d)"), deck, on); },
                        [&](CPlayer& p) { return p.enableVirtualVinyl(on); });
}

int CTKCore::setVirtualVTInertia(int deck, double inertia) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kVinylSilent,
                        [&] { debugMsg(TK_DECK_BANNER("setVirtualVTInertia(%d, %f)"), deck, inertia); },
                        [&](CPlayer& p) { return p.setVirtualVTInertia(inertia); });
}

int CTKCore::enableAGC(int deck, bool on) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActSilent,
                        [&] { debugMsg(TK_DECK_BANNER("enableAGC(%d)"), deck); },
                        [&](CPlayer& p) { return static_cast<CAutoGainControl&>(p).enableAGC(on); });
}

int CTKCore::setAGCGainOutputLevel(int deck, float level) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActSilent,
                        [&] { debugMsg(TK_DECK_BANNER("setAGCGainOutputLevel(%d)"), deck); },
                        [&](CPlayer& p) {
                            static_cast<CAutoGainControl&>(p).m_fTargetLevelDb = level;
                            return TK_OK;
                        });
}

int CTKCore::setAGCAttackDelay(int deck, unsigned int attack, unsigned int delay) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, kAttackDelay,
                        [&] { debugMsg(TK_DECK_BANNER("setAGCAttackDelay(%d)"), deck); },
                        [&](CPlayer& p) { return p.setAGCAttackDelay(attack, delay); });
}

int CTKCore::PlayerMixDown_openFile(int deck, char* path, int format, int bitrate) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActSilent,
                        [&] { debugMsg(TK_DECK_BANNER("PlayerMixDown_openFile(%d)"), deck); },
                        [&](CPlayer& p) { return p.PlayerMixDown_openFile(path, format, bitrate); });
}

int CTKCore::PlayerMixDown_start(int deck) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActSilent,
                        [&] { debugMsg(TK_DECK_BANNER("PlayerMixDown_start(%d)"), deck); },
                        [](CPlayer& p) { return p.PlayerMixDown_start(); });
}

int CTKCore::PlayerMixDown_close(int deck) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActSilent,
                        [&] { debugMsg(TK_DECK_BANNER("PlayerMixDown_close(%d)"), deck); },
                        [](CPlayer& p) { return p.PlayerMixDown_close(); });
}
