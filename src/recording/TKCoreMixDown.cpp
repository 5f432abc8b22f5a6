// The master recording: the engine's one CMixDown, recording the mix of the output slots on which
// two chosen decks play. setup makes the capture units and attaches each at system level, after
// the slot's whole mix; the other operations drive the recorder.
//
// Thread safety
// - Every operation that acts holds "MasterRecorder" across its recorder call, which keeps the
//   recorder's control operations from overlapping. "Coreglobal" is held only for the started
//   test, the recorder pointer and (setup) the deck lookup, never across the recorder call:
//   close, setup and openFile wait for the writer to write what is queued, seconds on a slow
//   disk, and meanwhile every deck entry point must keep answering.
// - Lock order: the engine gate, "MasterRecorder", "Coreglobal".
// - The recorder outlives every call that found it: shutdown deletes it only after the engine
//   gate has let the admitted calls finish.
// - The queries take no lock: the texts are fixed at construction and live as long as the
//   recorder, which only shutdown deletes.
#include "CritSect.h"
#include "DebugLog.h"
#include "EngineCalls.h"
#include "FMODSystem.h"
#include "MixDown.h"
#include "Player.h"
#include "PlayerList.h"
#include "TKCore.h"

namespace {

// Serialises the master recorder's control operations (see above).
CritSect g_csMasterRecorder("MasterRecorder");

bool engineStarted() { return CPlayerList::initialized.load(std::memory_order_acquire); }

// The system and role code of a deck's main output slot; false for a slot the engine does not have.
bool mainSlotOf(CPlayer* deck, FMODSystem** system, int* role) {
    const DeckConfig* config = deck->GetConfig();
    const int slot = config ? config->m_iMainOutput : 0;
    if (slot < 0 || slot >= kTKSlotCount || slot > CTKCore::g_soundcardcount) return false;
    *system = CTKCore::g_Systems[slot];
    *role = CTKCore::g_outputstate[slot];
    return true;
}

}  // namespace

int CTKCore::MixDown_setup(int deckA, int deckB) {
    const tk_engine::EngineCall engineCall;
    if (!engineCall.admitted() || !engineStarted()) {
        debugMsg("Init the library first!");
        return TK_ERR_NOT_STARTED;
    }
    CRITSECT_SCOPE(g_csMasterRecorder);
    FMODSystem* systemA = nullptr;
    FMODSystem* systemB = nullptr;
    int roleA = 0;
    int roleB = 0;
    CMixDown* recorder = nullptr;
    {
        CRITSECT_SCOPE(m_csCoreGlobal);
        CPlayerList* registry = CPlayerList::getInstance();
        CPlayer* a = registry ? registry->getChannelObject(deckA) : nullptr;
        CPlayer* b = registry ? registry->getChannelObject(deckB) : nullptr;
        if (!a || !b) return kMixDownErrNoSource;
        if (!mainSlotOf(a, &systemA, &roleA) || !mainSlotOf(b, &systemB, &roleB)) return TK_ERR_NO_SYSTEM;
        recorder = m_pMixDown;
    }
    if (!recorder) return kMixDownErrNoSource;

    FMOD::DSP* unitA = nullptr;
    FMOD::DSP* unitB = nullptr;
    const int result = recorder->setup(systemA, roleA, &unitA, systemB, roleB, &unitB);
    // Each unit sees its system's whole output mix.
    if (systemA && unitA) ERRCHECK("MixDown_setup", __FILE__, __LINE__, systemA->addDSP(unitA, nullptr));
    if (systemB && unitB) ERRCHECK("MixDown_setup", __FILE__, __LINE__, systemB->addDSP(unitB, nullptr));
    return result;
}

template <typename Call>
int CTKCore::withMixDown(Call call) {
    const tk_engine::EngineCall engineCall;
    if (!engineCall.admitted()) {
        debugMsg("Init the library first!");
        return TK_ERR_NOT_STARTED;
    }
    CRITSECT_SCOPE(g_csMasterRecorder);
    CMixDown* recorder = nullptr;
    {
        CRITSECT_SCOPE(m_csCoreGlobal);
        if (!engineStarted()) {
            debugMsg("Init the library first!");
            return TK_ERR_NOT_STARTED;
        }
        recorder = m_pMixDown;
    }
    if (!recorder) return kMixDownErrNoSource;
    return call(*recorder);
}

int CTKCore::MixDown_openFile(char* path, int format, int bitrate, int extra, char* text1, char* text2) {
    return withMixDown([&](CMixDown& r) {
        return r.openFile(path, static_cast<unsigned int>(format), static_cast<unsigned int>(bitrate), false, -1,
                          -1, -1.0f, extra, text1, text2);
    });
}

int CTKCore::MixDown_start() {
    return withMixDown([](CMixDown& r) { return r.start(); });
}

int CTKCore::MixDown_pause() {
    return withMixDown([](CMixDown& r) { return r.pause(); });
}

int CTKCore::MixDown_close() {
    return withMixDown([](CMixDown& r) { return r.close(); });
}

int CTKCore::MixDown_setGain(float gain1, float gain2) {
    return withMixDown([&](CMixDown& r) { return r.setGain(gain1, gain2); });
}

const char* CTKCore::MixDown_queryFormats() {
    if (!engineStarted()) debugMsg("Init the library first!");
    return m_pMixDown ? m_pMixDown->queryFormats() : nullptr;
}

const char* CTKCore::MixDown_queryBitrates() {
    if (!engineStarted()) debugMsg("Init the library first!");
    return m_pMixDown ? m_pMixDown->queryBitrates() : nullptr;
}

const char* CTKCore::MixDown_queryXMLDescription() {
    if (!engineStarted()) debugMsg("Init the library first!");
    return m_pMixDown ? m_pMixDown->queryXMLDescription() : nullptr;
}
