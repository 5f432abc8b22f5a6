// Start-up and shutdown of the engine: the silent decoding system, the AAC plug-in, the version
// check, the output slots with their MasterGain units, and the master recorder; and everything
// released again, in an order that stops the threads feeding the mixers before any unit or
// system goes away.
#include <cstring>
#include <new>
#include <set>

#include "DebugLog.h"
#include "FMODSystem.h"
#include "MixDown.h"
#include "Player.h"
#include "PlayerList.h"
#include "TKCore.h"

namespace {

constexpr unsigned int kRequiredFMODVersion = 0x43202;
constexpr int kNameSize = 255;

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

void freeMasterLists() {
    delete[] g_masterEQList;
    g_masterEQList = nullptr;
    delete g_masterEQValues;
    g_masterEQValues = nullptr;
    delete[] g_masterGainList;
    g_masterGainList = nullptr;
}

}  // namespace

int CTKCore::InitPlayer(unsigned int mode, unsigned int resampler, unsigned int rate) {
    CRITSECT_ENTER(m_csLoad);
    debugMsg("\n==========\ninitPlayer()\n==========\n");
    if (CPlayerList::initialized) {
        debugMsg("You don't need to call initPlayer() again, because it's already initialized!");
        CRITSECT_LEAVE(m_csLoad);
        debugMsg("InitPlayer done!\n");
        return TK_OK;
    }

    g_masterEQList = new std::vector<FMOD::DSP*>[kTKSlotCount];
    g_masterGainList = new std::vector<FMOD::DSP*>[kTKSlotCount];
    g_masterEQValues = new std::vector<float>();
    // No band unit exists yet: a connected flag left over from the previous run would make the
    // first refresh believe a new band is already in the card's chain and never add it.
    std::memset(g_masterEQAddedDSP, 0, sizeof g_masterEQAddedDSP);

    CRITSECT_ENTER(m_csCoreGlobal);
    for (int i = 0; i < kTKSlotCount; ++i) g_Systems[i] = nullptr;

    FMOD::System* silent = nullptr;
    ERRCHECK("InitPlayer", __FILE__, __LINE__, FMOD_System_Create(&silent));
    g_SilentSystem = new FMODSystem(silent);
    ERRCHECK("InitPlayer", __FILE__, __LINE__, g_SilentSystem->setPluginPath("./plugins"));
    unsigned int plugin = 0;
    if (g_SilentSystem->loadPlugin("Trellisco.dylib", &plugin, 0) == FMOD_OK) {
        unsigned int version = 0;
        g_SilentSystem->getPluginInfo(plugin, nullptr, nullptr, 0, &version);
        if (version < 0x10003) g_SilentSystem->unloadPlugin(plugin);
    }
    ERRCHECK("InitPlayer", __FILE__, __LINE__, g_SilentSystem->setOutput(FMOD_OUTPUTTYPE_NOSOUND_NRT));
    ERRCHECK("InitPlayer", __FILE__, __LINE__, g_SilentSystem->init(16, FMOD_INIT_NORMAL, nullptr));
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
    if (result != TK_OK) {
        // A failed start-up leaves nothing behind for the next one to replace.
        delete g_SilentSystem;
        g_SilentSystem = nullptr;
        freeNameTable(g_soundcards);
        freeNameTable(g_recorderdevices);
        freeMasterLists();
        CRITSECT_LEAVE(m_csCoreGlobal);
        CRITSECT_LEAVE(m_csLoad);
        return result;
    }
    g_soundcardcount = 0;
    g_recordercount = 0;

    if (mode == 0 || mode == 1) {
        char typeName[] = "CoreAudio";
        result = EnumerateSoundcards(FMOD_OUTPUTTYPE_AUTODETECT, typeName, resampler, rate);
    }
    debugMsg("EnumerateSoundcards done\n");

    FMOD_DSP_DESCRIPTION masterGain;
    memset(&masterGain, 0, sizeof masterGain);
    strcpy(masterGain.name, "MasterGain");
    masterGain.version = 1;
    masterGain.channels = 0;
    masterGain.read = MasterGainFactor;
    masterGain.userdata = &g_fMasterGain;
    for (int i = 0; i < g_soundcardcount; ++i) {
        if (!g_Systems[i]) continue;
        FMOD::DSP* dsp = nullptr;
        ERRCHECK("InitPlayer", __FILE__, __LINE__, g_Systems[i]->createDSP(&masterGain, &dsp));
        FMOD::ChannelGroup* group = nullptr;
        ERRCHECK("InitPlayer", __FILE__, __LINE__, g_Systems[i]->getMasterChannelGroup(&group));
        if (group && dsp) ERRCHECK("InitPlayer", __FILE__, __LINE__, group->addDSP(dsp, nullptr));
        if (dsp) {
            ERRCHECK("InitPlayer", __FILE__, __LINE__, dsp->setActive(true));
            ERRCHECK("InitPlayer", __FILE__, __LINE__, dsp->setBypass(false));
            g_masterGainList[i].push_back(dsp);
        }
    }
    debugMsg("MasterGain created!\n");
    m_pMixDown = new CMixDown();
    debugMsg("MixDown created!\n");

    CPlayerList::setInitialized(true);
    CRITSECT_LEAVE(m_csCoreGlobal);
    CRITSECT_LEAVE(m_csLoad);
    debugMsg("InitPlayer done!\n");
    return result;
}

void CTKCore::CleanUp() {
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

    for (int i = 0; i < g_soundcardcount && g_masterGainList; ++i) {
        for (FMOD::DSP* dsp : g_masterGainList[i]) dsp->release();
        g_masterGainList[i].clear();
    }
    // Sounds Java left open go before the system they live on: their records and handles too.
    _closeAllFmodSounds();
    delete g_SilentSystem;
    g_SilentSystem = nullptr;
    freeNameTable(g_soundcards);
    freeNameTable(g_asiodevices);
    freeNameTable(g_recorderdevices);
    debugMsg("\n==========\ncleanUp done!\n==========\n");

    // Each card's system is closed and released by the first slot that wraps it; the card's further
    // slots let go of it first.
    std::set<FMOD::System*> closed;
    for (int i = 0; i < g_soundcardcount && i < kTKSlotCount; ++i) {
        FMODSystem* slot = g_Systems[i];
        if (!slot) continue;
        FMOD::System* system = slot->getFMODSystem();
        if (system && !closed.insert(system).second) slot->detach();
        delete slot;
        g_Systems[i] = nullptr;
    }
    if (g_SilentSystem) {
        delete g_SilentSystem;
        g_SilentSystem = nullptr;
    }
    freeMasterLists();
    CRITSECT_LEAVE(m_csCoreGlobal);
    CRITSECT_LEAVE(m_csLoad);
}

CTKCore::~CTKCore() { CleanUp(); }
