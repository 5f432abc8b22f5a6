// Per-deck entry points of the engine object: equaliser, filters, echo, flanger, and the
// normaliser settings that act on every deck at once. The per-deck common steps (started test,
// lock, banner, lookup) live in TKCoreDeckCall.h.
//
// Thread safety: Java threads call these concurrently. The per-deck rows hold "Coreglobal" for the
// lookup only; the normaliser rows hold it for their whole run, so no deck is created meanwhile.
#include "TKCore.h"
#include "TKCoreDeckCall.h"

using tk_deck::Hold;
using tk_deck::Idle;
using tk_deck::Rule;

namespace {

constexpr Rule<int> kEqQuery{Hold::Lookup, Idle::LogOnce, 0, 0};

// The normaliser rows: under "Coreglobal" throughout, the deck call made on every deck in turn
// until one answers something other than 1. before() runs before the decks and after() after
// them, both under the lock (EnableNormalizer keeps its global flag there). Returns the last
// deck's result, 1 without decks, -1 before start-up (nothing logged).
template <class Banner, class Call, class After>
int onEveryDeck(CTKCore& core, const char* function, Banner&& banner, Call&& call, After&& after) {
    const tk_engine::EngineCall engineCall;
    if (!engineCall.admitted()) return TK_ERR_NOT_STARTED;
    // No other entry point is inside any deck while the decks are walked.
    const std::unique_lock<std::shared_mutex> gate(tk_deck::g_everyDeckGate);
    CritSectScope scope(core.m_csCoreGlobal, function, __FILE__, __LINE__);
    if (!CPlayerList::initialized.load(std::memory_order_acquire)) return TK_ERR_NOT_STARTED;
    banner();
    CPlayerList* registry = CPlayerList::getInstance();
    int result = TK_OK;
    // The count is read again after every deck, as the call could in principle add one.
    for (int position = 0; registry && position < registry->count(); ++position) {
        CPlayer* player = registry->getChannelObject(position);
        if (!player) break;
        result = call(*player);
        if (result != TK_OK) break;
    }
    after();
    return result;
}

}  // namespace

int CTKCore::SetEqLow(int deck, int value) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActAround,
                        [] { debugMsg(TK_DECK_BANNER("setEqLow()")); },
                        [&](CPlayer& p) { return p.SetEqLow(value); });
}

int CTKCore::SetEqMid(int deck, int value) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActAround,
                        [] { debugMsg(TK_DECK_BANNER("setEqMid()")); },
                        [&](CPlayer& p) { return p.SetEqMid(value); });
}

int CTKCore::SetEqHigh(int deck, int value) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActAround,
                        [] { debugMsg(TK_DECK_BANNER("setEqHigh()")); },
                        [&](CPlayer& p) { return p.SetEqHigh(value); });
}

int CTKCore::GetEqLow(int deck) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, kEqQuery,
                        [&] { debugMsg(TK_DECK_BANNER("GetEqLow(%d)"), deck); },
                        [](CPlayer& p) { return static_cast<int>(p.GetEqLow()); });
}

int CTKCore::GetEqMid(int deck) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, kEqQuery,
                        [&] { debugMsg(TK_DECK_BANNER("GetEqMid(%d)"), deck); },
                        [](CPlayer& p) { return static_cast<int>(p.GetEqMid()); });
}

int CTKCore::GetEqHigh(int deck) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, kEqQuery,
                        [&] { debugMsg(TK_DECK_BANNER("GetEqHigh(%d)"), deck); },
                        [](CPlayer& p) { return static_cast<int>(p.GetEqHigh()); });
}

int CTKCore::SetEqBandWidth(int deck, float width) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActAround,
                        [] { debugMsg(TK_DECK_BANNER("SetEqBandWidth()")); },
                        [&](CPlayer& p) { return p.SetEqBandWidth(width); });
}

int CTKCore::SetCutOff(int deck, int value) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActSilent,
                        [&] { debugMsg(TK_DECK_BANNER("SetCutOff(%d,%d)"), deck, value); },
                        [&](CPlayer& p) { return p.SetCutOff(value); });
}

int CTKCore::SetResonance(int deck, int value) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActSilent,
                        [&] { debugMsg(TK_DECK_BANNER("SetResonance(%d,%d)"), deck, value); },
                        [&](CPlayer& p) { return p.SetResonance(value); });
}

int CTKCore::SetHighPassCutOff(int deck, int value) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActSilent,
                        [&] { debugMsg(TK_DECK_BANNER("SetHighPassCutOff(%d,%d)"), deck, value); },
                        [&](CPlayer& p) { return p.SetHighPassCutOff(value); });
}

int CTKCore::SetHighPassResonance(int deck, int value) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActSilent,
                        [&] { debugMsg(TK_DECK_BANNER("SetHighPassResonance(%d,%d)"), deck, value); },
                        [&](CPlayer& p) { return p.SetHighPassResonance(value); });
}

int CTKCore::EnableLowPass(int deck, bool on) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActSilent,
                        [&] { debugMsg(TK_DECK_BANNER("EnableLowPass(%d,%d)"), deck, on); },
                        [&](CPlayer& p) { return p.EnableLowPass(on); });
}

int CTKCore::EnableHighPass(int deck, bool on) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActSilent,
                        [&] { debugMsg(TK_DECK_BANNER("EnableHighPass(%d,%d)"), deck, on); },
                        [&](CPlayer& p) { return p.EnableHighPass(on); });
}

int CTKCore::SetEcho(int deck, bool on, double delay, double decay, double dryMix, double wetMix) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActOnce,
                        [&] { debugMsg(TK_DECK_BANNER("SetEcho(%d)"), deck); },
                        [&](CPlayer& p) { return p.SetEcho(on, delay, decay, dryMix, wetMix); });
}

int CTKCore::SetFlanger(int deck, bool on, double dryMix, double wetMix, double depth, double rate) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActOnceZero,
                        [&] { debugMsg(TK_DECK_BANNER("SetFlanger(%d)"), deck); },
                        [&](CPlayer& p) { return p.SetFlanger(on, dryMix, wetMix, depth, rate); });
}

int CTKCore::SetNormalizerCompressor(float attack, float release, float threshold, float gainMakeup) {
    return onEveryDeck(
        *this, __func__,
        [&] {
            debugMsg(TK_DECK_BANNER("SetNormalizerCompressor(%f,%f,%f,%f)"), static_cast<double>(attack),
                     static_cast<double>(release), static_cast<double>(threshold), static_cast<double>(gainMakeup));
        },
        [&](CPlayer& p) { return p.SetNormalizerCompressor(attack, release, threshold, gainMakeup); }, [] {});
}

int CTKCore::SetNormalizer(float fadeTime, float threshold, float maxAmp) {
    return onEveryDeck(
        *this, __func__,
        [&] {
            debugMsg(TK_DECK_BANNER("SetNormalizer(%f,%f,%f)"), static_cast<double>(fadeTime),
                     static_cast<double>(threshold), static_cast<double>(maxAmp));
        },
        [&](CPlayer& p) { return p.SetNormalizer(fadeTime, threshold, maxAmp); }, [] {});
}

int CTKCore::EnableNormalizer(bool on) {
    // The master bus reads the flag on its mixer thread; it is kept even when a deck refused.
    return onEveryDeck(
        *this, __func__, [&] { debugMsg(TK_DECK_BANNER("EnableNormalizer(%d)"), on); },
        [&](CPlayer& p) { return p.EnableNormalizer(on); },
        [&] { m_bEnableNormalizer.store(on, std::memory_order_relaxed); });
}
