// The steps every per-deck entry point of CTKCore shares, in one place: the started test, the
// engine lock around the registry lookup (and, depending on the entry point, around the deck call),
// the banner, and the answers for an engine that is not started and for a missing deck. Each entry
// point (TKCoreDeck*.cpp) states only its rule, its banner and the deck member it calls.
//
// Thread safety
// - Java threads call the entry points concurrently. "Coreglobal" is held while the started flag is
//   read and the deck is looked up; a deck pointer obtained under it stays valid until shutdown.
// - "LoopLock" is only ever taken after "Coreglobal" has been left (never both at once), so the
//   loop group cannot deadlock against the registry lookups of other threads.
// - A deck call made without an engine lock relies on the deck's own locks and on the deck's gate
//   (below), which keeps two entry points out of one deck at the same time.
// - Lock order: the load lock, the every-deck gate, a deck's gate, "Coreglobal", "LoopLock", then
//   the deck's locks.
// - Every entry point passes the engine gate (EngineCalls.h) first: while shutdown runs, a call is
//   refused and answers as before start-up; a call admitted earlier is waited for by shutdown.
#pragma once

#include <atomic>
#include <mutex>
#include <shared_mutex>

#include "CritSect.h"
#include "DebugLog.h"
#include "EngineCalls.h"
#include "Player.h"
#include "PlayerList.h"
#include "TKCore.h"

// A banner: a newline, ten "=", a newline, the text, a newline, ten "=", a newline. The text is a
// literal so that debugMsg still checks the format against the arguments.
#define TK_DECK_BANNER(text) "\n==========\n" text "\n==========\n"

// The call site handed to CritSect::Enter/Leave, so the lock trace names the entry point.
#define TK_DECK_SITE \
    tk_deck::Site { __func__, __FILE__, __LINE__ }

namespace tk_deck {

// Which engine locks are held around the deck call.
enum class Hold {
    Lookup,     // "Coreglobal" for the lookup only, left before the deck is called
    Through,    // "Coreglobal" through the deck call as well
    LoopAfter,  // "Coreglobal" for the lookup, left; then "LoopLock" around the deck call
};

// What an entry point does when the engine is not started.
enum class Idle {
    LogAround,  // "Init the library first!" before the banner and "Init the library first! \n" after
                // it, then the lookup, which finds no deck: the no-deck result
    LogOnce,    // "Init the library first!" and the not-started result at once
    Silent,     // the not-started result at once, nothing logged
};

template <class R>
struct Rule {
    Hold hold;
    Idle idle;
    R notStarted;
    R noDeck;  // a negative index, an index the registry refuses, or no registry
};

// The deck gates. Several Java threads may drive one deck, and most deck operations take no deck
// lock: they write the settings block's plain fields and forward to the outputs and effect units,
// which Load and Unload replace and release. So every entry point holds its deck's gate around its
// whole run: calls on one deck follow one another, calls on different decks run side by side.
// Unnamed and never logged (TKCoreDecks.cpp). Trap: a deck call that waits for another thread
// (stopping the beat tracker joins its worker) holds the gate meanwhile, so that thread must not
// call into the same deck's entry points; the beat worker never calls Java (its lists go through
// the courier's thread, BeatReportCourier.h), so a Java handler may.
extern std::mutex g_deckGates[CPlayerList::kMaxDeckIndex + 1];

// The rows over all decks (the normaliser settings) hold this alone; every per-deck entry point
// shares it. So those rows never meet a deck call, without holding 65 gates at once.
extern std::shared_mutex g_everyDeckGate;

// Holds a deck's gate (and a share of the every-deck gate) for a scope; nothing for an index that
// names no deck.
class GateHold {
public:
    explicit GateHold(int deck)
        : m_gate(deck >= 0 && deck <= CPlayerList::kMaxDeckIndex ? &g_deckGates[deck] : nullptr) {
        if (!m_gate) return;
        g_everyDeckGate.lock_shared();
        m_gate->lock();
    }
    ~GateHold() {
        if (!m_gate) return;
        m_gate->unlock();
        g_everyDeckGate.unlock_shared();
    }
    GateHold(const GateHold&) = delete;
    GateHold& operator=(const GateHold&) = delete;

private:
    std::mutex* m_gate;
};

struct Site {
    const char* function;
    const char* file;
    int line;
};

// Runs one entry point: banner() writes the banner, call(CPlayer&) does the deck's work and returns
// the result. Both run at the place the common steps give them; a banner that the entry point writes
// later (after the lookup or the call) belongs in call() and banner is then a no-op.
template <class R, class Banner, class Call>
R run(CTKCore& core, const Site& site, int deck, const Rule<R>& rule, Banner&& banner, Call&& call) {
    const tk_engine::EngineCall engineCall;
    const GateHold gate(deck);
    CritSect& global = core.m_csCoreGlobal;
    global.Enter(site.function, site.file, site.line);
    const bool started = engineCall.admitted() && CPlayerList::initialized.load(std::memory_order_acquire);
    if (!started) {
        if (rule.idle != Idle::LogAround) {
            if (rule.idle == Idle::LogOnce) debugMsg("Init the library first!");
            global.Leave(site.function, site.file, site.line);
            return rule.notStarted;
        }
        debugMsg("Init the library first!");
    }
    banner();
    if (!started) debugMsg("Init the library first! \n");

    // A negative index never reaches the registry. Before start-up getInstance answers nothing, so
    // the LogAround kind ends here with the no-deck result.
    CPlayerList* registry = deck < 0 || !started ? nullptr : CPlayerList::getInstance();
    CPlayer* player = registry ? registry->getChannelObject(deck) : nullptr;
    if (rule.hold != Hold::Through || !player) global.Leave(site.function, site.file, site.line);
    if (!player) return rule.noDeck;

    R result{};
    if (rule.hold == Hold::LoopAfter) {
        CritSect& loop = core.m_csLoop;
        loop.Enter(site.function, site.file, site.line);
        result = static_cast<R>(call(*player));
        loop.Leave(site.function, site.file, site.line);
    } else {
        result = static_cast<R>(call(*player));
    }
    if (rule.hold == Hold::Through) global.Leave(site.function, site.file, site.line);
    return result;
}

// The rules shared by many rows. Where the answer for a missing deck is not fixed, a negative
// index is refused before the registry with -2 for entry points whose result is a status
// (GetPosition too: before start-up it answers the status -1), and with 0 or false for the value
// queries (GetLength, the EQ getters, IsLooping).
constexpr Rule<int> kActAround{Hold::Lookup, Idle::LogAround, TK_ERR_NO_DECK, TK_ERR_NO_DECK};
constexpr Rule<int> kActOnce{Hold::Lookup, Idle::LogOnce, TK_ERR_NOT_STARTED, TK_ERR_NO_DECK};
constexpr Rule<int> kActSilent{Hold::Lookup, Idle::Silent, TK_ERR_NOT_STARTED, TK_ERR_NO_DECK};
// Rows that answer 0 before start-up although they act (frame search, time stretcher, ...).
constexpr Rule<int> kActOnceZero{Hold::Lookup, Idle::LogOnce, 0, TK_ERR_NO_DECK};
constexpr Rule<int> kLoopSilent{Hold::LoopAfter, Idle::Silent, TK_ERR_NOT_STARTED, TK_ERR_NO_DECK};
constexpr Rule<int> kQueryOnceZero{Hold::Lookup, Idle::LogOnce, 0, 0};
// The vinyl rows answer 1 for a missing deck.
constexpr Rule<int> kVinylSilent{Hold::Lookup, Idle::Silent, TK_ERR_NOT_STARTED, TK_OK};

}  // namespace tk_deck
