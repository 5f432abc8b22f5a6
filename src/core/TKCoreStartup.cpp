// Start-up and shutdown of the engine: the silent decoding system, the AAC plug-in, the version
// check, the output slots with their MasterGain units, and the master recorder; and everything
// released again, in an order that stops the threads feeding the mixers before any unit or
// system goes away.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

#include "DebugLog.h"
#include "EngineCalls.h"
#include "FMODSystem.h"
#include "MixDown.h"
#include "Player.h"
#include "PlayerList.h"
#include "TKCore.h"

namespace {

constexpr unsigned int kRequiredFMODVersion = 0x43202;
constexpr int kNameSize = 255;
// How long teardown at process exit waits for calls still running on other threads.
constexpr std::chrono::milliseconds kExitCallWait{1000};

// A table of 65 zeroed 255-byte buffers, or null when any allocation fails.
char** allocateNameTable() {
    char** table = new (std::nothrow) char*[kTKSlotCount]();
    if (!table) return nullptr;
    for (int i = 0; i < kTKSlotCount; ++i) {
        table[i] = new (std::nothrow) char[kNameSize]();
        if (!table[i]) {
            for (int j = 0; j < i; ++j) delete[] table[j];
            delete[] table;
            return nullptr;
        }
    }
    return table;
}

void freeNameTable(char**& table) {
    if (!table) return;
    for (int i = 0; i < kTKSlotCount; ++i) delete[] table[i];
    delete[] table;
    table = nullptr;
}

// Appends a unit to a master list; false when memory runs out (the caller releases the unit).
bool keepUnit(std::vector<FMOD::DSP*>& list, FMOD::DSP* unit) noexcept {
    try {
        list.push_back(unit);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void freeMasterLists() {
    CRITSECT_SCOPE(g_csMasterBus);
    delete[] g_masterEQList;
    g_masterEQList = nullptr;
    delete g_masterEQValues;
    g_masterEQValues = nullptr;
    delete[] g_masterGainList;
    g_masterGainList = nullptr;
}

// Closes and releases each output slot's card once; a card's further slots let go of it first.
// Its units (the MasterGain units among them) go with it.
void releaseOutputSlots() {
    FMOD::System* closed[kTKSlotCount] = {};
    int closedCount = 0;
    for (int i = 0; i < CTKCore::g_soundcardcount && i < kTKSlotCount; ++i) {
        FMODSystem* slot = CTKCore::g_Systems[i];
        if (!slot) continue;
        FMOD::System* system = slot->getFMODSystem();
        if (system && std::find(closed, closed + closedCount, system) != closed + closedCount) {
            slot->detach();
        } else if (system) {
            closed[closedCount++] = system;
        }
        delete slot;
        CTKCore::g_Systems[i] = nullptr;
    }
}

}  // namespace

int CTKCore::InitPlayer(unsigned int mode, unsigned int resampler, unsigned int rate) {
    // A failed start-up leaves nothing behind for the next one to replace. Called with both locks
    // held; leaves them.
    auto failStartUp = [this](int result) {
        releaseOutputSlots();
        g_soundcardcount = 0;
        g_recordercount = 0;
        delete g_SilentSystem;
        g_SilentSystem = nullptr;
        freeNameTable(g_soundcards);
        freeNameTable(g_recorderdevices);
        freeMasterLists();
        m_csCoreGlobal.Leave("InitPlayer", __FILE__, __LINE__);
        m_csLoad.Leave("InitPlayer", __FILE__, __LINE__);
        return result;
    };
    CRITSECT_ENTER(m_csLoad);
    debugMsg("\n==========\ninitPlayer()\n==========\n");
    if (CPlayerList::initialized) {
        debugMsg("You don't need to call initPlayer() again, because it's already initialized!");
        CRITSECT_LEAVE(m_csLoad);
        debugMsg("InitPlayer done!\n");
        return TK_OK;
    }

    {
        CRITSECT_SCOPE(g_csMasterBus);
        g_masterEQList = new (std::nothrow) std::vector<FMOD::DSP*>[kTKSlotCount];
        g_masterGainList = new (std::nothrow) std::vector<FMOD::DSP*>[kTKSlotCount];
        g_masterEQValues = new (std::nothrow) std::vector<float>();
        // No band unit exists yet: a connected flag left over from the previous run would make the
        // first refresh believe a new band is already in the card's chain and never add it.
        std::memset(g_masterEQAddedDSP, 0, sizeof g_masterEQAddedDSP);
    }

    CRITSECT_ENTER(m_csCoreGlobal);
    for (int i = 0; i < kTKSlotCount; ++i) g_Systems[i] = nullptr;

    FMOD::System* silent = nullptr;
    const FMOD_RESULT created = FMOD_System_Create(&silent);
    ERRCHECK("InitPlayer", __FILE__, __LINE__, created);
    if (created == FMOD_ERR_MEMORY || !silent) return failStartUp(TK_ERR_NO_MEMORY);
    g_SilentSystem = new (std::nothrow) FMODSystem(silent);
    if (!g_SilentSystem || !g_masterEQList || !g_masterGainList || !g_masterEQValues) {
        if (!g_SilentSystem) silent->release();
        return failStartUp(TK_ERR_NO_MEMORY);
    }
    const FMOD_RESULT pluginPath = g_SilentSystem->setPluginPath("./plugins");
    ERRCHECK("InitPlayer", __FILE__, __LINE__, pluginPath);
    unsigned int plugin = 0;
    const FMOD_RESULT loaded = g_SilentSystem->loadPlugin("Trellisco.dylib", &plugin, 0);
    if (pluginPath == FMOD_ERR_MEMORY || loaded == FMOD_ERR_MEMORY) return failStartUp(TK_ERR_NO_MEMORY);
    if (loaded == FMOD_OK) {
        unsigned int version = 0;
        g_SilentSystem->getPluginInfo(plugin, nullptr, nullptr, 0, &version);
        if (version < 0x10003) g_SilentSystem->unloadPlugin(plugin);
    }
    ERRCHECK("InitPlayer", __FILE__, __LINE__, g_SilentSystem->setOutput(FMOD_OUTPUTTYPE_NOSOUND_NRT));
    const FMOD_RESULT initialised = g_SilentSystem->init(16, FMOD_INIT_NORMAL, nullptr);
    ERRCHECK("InitPlayer", __FILE__, __LINE__, initialised);
    if (initialised == FMOD_ERR_MEMORY) return failStartUp(TK_ERR_NO_MEMORY);
    ERRCHECK("InitPlayer", __FILE__, __LINE__, g_SilentSystem->setStreamBufferSize(8192, FMOD_TIMEUNIT_RAWBYTES));

    unsigned int version = 0;
    ERRCHECK("InitPlayer", __FILE__, __LINE__, g_SilentSystem->getVersion(&version));
    int result = TK_OK;
    if (version != kRequiredFMODVersion) {
        debugMsg("FMOD version is incorrect!!!\nYou have got to use version %X\n", kRequiredFMODVersion);
        result = TK_ERR_FMOD_VERSION;
    } else if (!(g_soundcards = allocateNameTable()) || !(g_recorderdevices = allocateNameTable())) {
        result = TK_ERR_NO_MEMORY;
    }
    if (result != TK_OK) return failStartUp(result);
    g_soundcardcount = 0;
    g_recordercount = 0;

    if (mode == 0 || mode == 1) {
        char typeName[] = "CoreAudio";
        result = EnumerateSoundcards(FMOD_OUTPUTTYPE_AUTODETECT, typeName, resampler, rate);
    }
    debugMsg("EnumerateSoundcards done\n");
    if (result == TK_ERR_NO_MEMORY) return failStartUp(result);

    FMOD_DSP_DESCRIPTION masterGain;
    memset(&masterGain, 0, sizeof masterGain);
    strcpy(masterGain.name, "MasterGain");
    masterGain.version = 1;
    masterGain.channels = 0;
    masterGain.read = MasterGainFactor;
    masterGain.userdata = &g_fMasterGain;
    // A card without its MasterGain unit would ignore the master volume: memory running out here
    // fails the start-up instead (the units made so far go with their cards).
    bool noMemory = false;
    CRITSECT_ENTER(g_csMasterBus);
    for (int i = 0; i < g_soundcardcount && !noMemory; ++i) {
        if (!g_Systems[i]) continue;
        FMOD::DSP* dsp = nullptr;
        const FMOD_RESULT made = g_Systems[i]->createDSP(&masterGain, &dsp);
        ERRCHECK("InitPlayer", __FILE__, __LINE__, made);
        noMemory = made == FMOD_ERR_MEMORY;
        FMOD::ChannelGroup* group = nullptr;
        ERRCHECK("InitPlayer", __FILE__, __LINE__, g_Systems[i]->getMasterChannelGroup(&group));
        if (group && dsp) {
            const FMOD_RESULT added = group->addDSP(dsp, nullptr);
            ERRCHECK("InitPlayer", __FILE__, __LINE__, added);
            noMemory = added == FMOD_ERR_MEMORY;
        }
        if (dsp) {
            ERRCHECK("InitPlayer", __FILE__, __LINE__, dsp->setActive(true));
            ERRCHECK("InitPlayer", __FILE__, __LINE__, dsp->setBypass(false));
            noMemory = noMemory || !keepUnit(g_masterGainList[i], dsp);
        }
    }
    CRITSECT_LEAVE(g_csMasterBus);
    if (noMemory) return failStartUp(TK_ERR_NO_MEMORY);
    debugMsg("MasterGain created!\n");
    // Without memory for it the engine runs without master recorder (its calls answer -28).
    m_pMixDown = new (std::nothrow) CMixDown();
    debugMsg("MixDown created!\n");

    CPlayerList::setInitialized(true);
    CRITSECT_LEAVE(m_csCoreGlobal);
    CRITSECT_LEAVE(m_csLoad);
    debugMsg("InitPlayer done!\n");
    return result;
}

void CTKCore::CleanUp() {
    // Calls running on other threads finish first; new ones are refused until everything is freed.
    if (!tk_engine::closeEngineGate()) {
        debugMsg("cleanUp() refused: called from inside another engine call\n");
        return;
    }
    tearDown();
}

void CTKCore::tearDown() {
    CRITSECT_ENTER(m_csLoad);
    CRITSECT_ENTER(m_csCoreGlobal);
    if (m_pMixDown) {
        m_pMixDown->close();
        delete m_pMixDown;
        m_pMixDown = nullptr;
    }
    if (!CPlayerList::initialized) {
        CRITSECT_LEAVE(m_csCoreGlobal);
        CRITSECT_LEAVE(m_csLoad);
        tk_engine::openEngineGate();
        return;
    }
    debugMsg("\n==========\ncleanUp()\n==========\n");
    // Decks, from the head: each is unloaded (its workers joined, its units released) before any
    // master DSP or system goes, then destroyed; then the registry itself.
    if (CPlayerList* registry = CPlayerList::getInstance()) {
        const int decks = registry->count();
        for (int i = 0; i < decks; ++i) {
            if (CPlayer* deck = registry->getChannelObject(0)) deck->Unload();
            registry->deletePos(0);
        }
        CPlayerList::deleteInstance();
    }
    CPlayerList::setInitialized(false);

    {
        CRITSECT_SCOPE(g_csMasterBus);
        for (int i = 0; i < g_soundcardcount && g_masterGainList; ++i) {
            for (FMOD::DSP* dsp : g_masterGainList[i]) dsp->release();
            g_masterGainList[i].clear();
        }
    }
    // The sampler's sounds and channels die with the output systems below; its tables forget them
    // first, so that no later sampler call stops or releases them again.
    forgetSamplerSlots();
    // Sounds Java left open go before the system they live on: their records and handles too.
    _closeAllFmodSounds();
    delete g_SilentSystem;
    g_SilentSystem = nullptr;
    freeNameTable(g_soundcards);
    freeNameTable(g_asiodevices);
    freeNameTable(g_recorderdevices);
    debugMsg("\n==========\ncleanUp done!\n==========\n");

    releaseOutputSlots();
    if (g_SilentSystem) {
        delete g_SilentSystem;
        g_SilentSystem = nullptr;
    }
    freeMasterLists();
    CRITSECT_LEAVE(m_csCoreGlobal);
    CRITSECT_LEAVE(m_csLoad);
    tk_engine::openEngineGate();
}

CTKCore::~CTKCore() {
    // Process exit: a call still running may be on a thread that entered Java (a progress or beat
    // listener) and never comes back now that the VM is gone. Waiting for it would hold the exit
    // forever, and freeing under it is not safe: then everything is left to the process's end.
    if (tk_engine::closeEngineGateWithin(kExitCallWait)) {
        tearDown();
    } else {
        debugMsg("Exit: engine calls still running, the engine is left as it stands\n");
    }
}
