// The sampler's slots: their state, loading and unloading, and what shutdown leaves of them.
//
// Thread safety: every sampler operation is an engine call (shutdown waits for it). LoadSample
// holds "Coreglobal" around its unload and create; every other sampler operation runs unlocked
// on the calling Java thread and reads the slot tables directly, so calls
// for one slot must come from one thread at a time. The mixer threads never touch these tables.
#include <cstring>

#include "DebugLog.h"
#include "EngineCalls.h"
#include "FMODSystem.h"
#include "PlayerList.h"
#include "SamplerSlot.h"
#include "TKCore.h"

float g_fSamplerVolumes[kTKSlotCount] = {};
float g_fSamplerFrequencyPitches[kTKSlotCount] = {};
char g_sSamplerFileNames[kTKSlotCount][kTKSamplerPathBytes] = {};
bool g_bSamplerFileNameUnicode[kTKSlotCount] = {};
int g_iSamplerSoundcard = 0;

namespace {

constexpr FMOD_MODE kSampleMode = FMOD_CREATECOMPRESSEDSAMPLE | FMOD_SOFTWARE | FMOD_2D | FMOD_LOOP_OFF;  // 0x249
constexpr FMOD_MODE kStreamMode = FMOD_CREATESTREAM | FMOD_SOFTWARE | FMOD_2D | FMOD_LOOP_OFF;            // 0xC9
// UTF-16 paths are kept with their terminator in the 256-byte buffer: at most 127 units.
constexpr size_t kMaxStoredUnits = kTKSamplerPathBytes / 2 - 1;

// Copies the path into `stored` (zeroed, 256 bytes), or leaves it empty when the path does not
// fit: a shortened path would name another file.
void keepPath(char* stored, const char* path, bool unicode) {
    if (!path) return;
    if (unicode) {
        // Units are read bytewise: the caller's buffer need not be aligned for char16_t.
        size_t units = 0;
        while (units <= kMaxStoredUnits && (path[2 * units] != 0 || path[2 * units + 1] != 0)) ++units;
        if (units > kMaxStoredUnits) {
            debugMsg("LoadSample: path of more than %d units not kept\n", static_cast<int>(kMaxStoredUnits));
            return;
        }
        std::memcpy(stored, path, 2 * units + 2);
    } else {
        const size_t bytes = strnlen(path, kTKSamplerPathBytes);
        if (bytes >= kTKSamplerPathBytes) {
            debugMsg("LoadSample: path of more than %d bytes not kept\n", kTKSamplerPathBytes - 1);
            return;
        }
        std::memcpy(stored, path, bytes + 1);
    }
}

// Keeps the path for a later reload on another output, or leaves the slot without one.
void storePath(int slot, const char* path, bool unicode) {
    // Built apart first: the path may be the slot's own stored path (a reload).
    char stored[kTKSamplerPathBytes] = {};
    keepPath(stored, path, unicode);
    std::memcpy(g_sSamplerFileNames[slot], stored, kTKSamplerPathBytes);
    g_bSamplerFileNameUnicode[slot] = unicode;
}

}  // namespace

bool samplerSlotValid(int slot) { return slot >= 0 && slot < kTKSlotCount; }

FMODSystem* samplerSystem() {
    // Start-up writes the output slots before it marks the engine started; until then there is none.
    if (!CPlayerList::initialized.load(std::memory_order_acquire)) return nullptr;
    if (g_iSamplerSoundcard < 0 || g_iSamplerSoundcard >= kTKSlotCount) return nullptr;
    return CTKCore::g_Systems[g_iSamplerSoundcard];
}

void forgetSamplerSlots() {
    for (int slot = 0; slot < kTKSlotCount; ++slot) {
        g_samplerSounds[slot] = nullptr;
        g_samplerChannels[slot] = nullptr;
    }
}

int CTKCore::LoadSample(int slot, char* path, bool unicode, bool stream) {
    if (!samplerSlotValid(slot)) return kSamplerBadSlot;
    debugMsg("\n==========\nLoadSample()\n==========\n");
    const tk_engine::EngineCall engineCall;  // outside "Coreglobal": the gate comes first
    if (!engineCall.admitted()) return TK_ERR_NOT_STARTED;
    CRITSECT_SCOPE(m_csCoreGlobal);
    if (!CPlayerList::initialized.load(std::memory_order_acquire)) return TK_ERR_NOT_STARTED;
    UnloadSample(slot);
    FMODSystem* system = samplerSystem();
    if (!system) return TK_ERR_NO_SYSTEM;

    FMOD_MODE mode = stream ? kStreamMode : kSampleMode;
    if (unicode) mode |= FMOD_UNICODE;
    FMOD::Sound* sound = nullptr;
    const FMOD_RESULT result = system->createSound(path ? path : "", mode, nullptr, &sound);
    ERRCHECK("LoadSample", __FILE__, __LINE__, result);
    g_samplerSounds[slot] = sound;
    if (result == FMOD_ERR_FILE_NOTFOUND || result == FMOD_ERR_FORMAT || !sound) {
        if (sound) ERRCHECK("LoadSample", __FILE__, __LINE__, sound->release());
        g_samplerSounds[slot] = nullptr;
        storePath(slot, nullptr, unicode);  // SetupSampler must not reload an older file
        return TK_ERR_UNSUPPORTED;
    }
    if (result == FMOD_ERR_CDDA_NODISC) {
        storePath(slot, nullptr, unicode);
        return TK_ERR_NO_DISC;
    }
    storePath(slot, path, unicode);
    return TK_OK;
}

int CTKCore::UnloadSample(int slot) {
    if (!samplerSlotValid(slot)) return kSamplerBadSlot;
    const tk_engine::EngineCall engineCall;
    if (!engineCall.admitted()) return kSamplerEmptySlot;
    debugMsg("\n==========\nUnloadSample()\n==========\n");
    if (!g_samplerSounds[slot]) return kSamplerEmptySlot;
    if (g_samplerChannels[slot]) {
        ERRCHECK("UnloadSample", __FILE__, __LINE__, g_samplerChannels[slot]->stop());
        g_samplerChannels[slot] = nullptr;
    }
    ERRCHECK("UnloadSample", __FILE__, __LINE__, g_samplerSounds[slot]->release());
    g_samplerSounds[slot] = nullptr;
    return TK_OK;
}
