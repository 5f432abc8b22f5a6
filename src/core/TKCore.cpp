// The engine object's global side: the class statics and file globals with their defaults, the
// constructor, and the settings Java changes around start-up.
#include "TKCore.h"

#include <cstring>

#include "DebugLog.h"
#include "PlayerList.h"

// ---- Class statics, in their load-time defaults ----
FMODSystem* CTKCore::g_Systems[kTKSlotCount] = {};
int CTKCore::g_soundcardcount = 0;
int CTKCore::g_outputstate[kTKSlotCount] = {};
int CTKCore::g_SystemsUseCount[kTKSlotCount] = {};
char** CTKCore::g_soundcards = nullptr;
char** CTKCore::g_recorderdevices = nullptr;
int CTKCore::g_recordercount = 0;
FMODSystem* CTKCore::g_SilentSystem = nullptr;

std::atomic<bool> CTKCore::g_bDebug{false};
FILE* CTKCore::g_fDebugFile = nullptr;
// Defined before t_core in this file so that it is built before and destroyed after the engine
// object, whose shutdown still logs.
CritSect CTKCore::g_cDebugLock(nullptr);

std::atomic<float> CTKCore::g_fMasterGain{1.0f};
unsigned int CTKCore::g_uiTimeStretcherQuality = 1;
unsigned int CTKCore::g_uiScratchQuality = 1;
unsigned int CTKCore::g_stream_buffer_size = 8192;
unsigned int CTKCore::g_usebuffersizesMS = 1;
unsigned int CTKCore::g_dsp_buffer_size = 1024;
unsigned int CTKCore::g_dsp_buffer_count = 4;
unsigned int CTKCore::g_dsp_buffer_sizeMS = 20;

int CTKCore::m_iBPMCalcPrecision = 2;
float CTKCore::m_fBPMCalcMininmalBPM = 80.0f;
float CTKCore::m_fBPMCalcMaximalBPM = 160.0f;

bool CTKCore::g_bHaveAACPlugin = false;
int CTKCore::g_asioSoundcardIndex = -1;
unsigned int CTKCore::g_uiPreferredASIODriver = 0;
char** CTKCore::g_asiodevices = nullptr;
int CTKCore::g_asiodevicecount = 0;

// ---- File globals of the master bus and the sampler ----
std::vector<FMOD::DSP*>* g_masterGainList = nullptr;
std::vector<FMOD::DSP*>* g_masterEQList = nullptr;
std::vector<float>* g_masterEQValues = nullptr;
bool g_masterEQAddedDSP[kTKSlotCount][kTKMasterEqBands] = {};
FMOD::Sound* g_samplerSounds[kTKSlotCount] = {};
FMOD::Channel* g_samplerChannels[kTKSlotCount] = {};

CTKCore t_core;

namespace {

constexpr unsigned int kMinDspBufferSamples = 512;
constexpr unsigned int kMinStreamBufferBytes = 1024;
constexpr unsigned int kMinDspBufferCount = 2;
constexpr float kMinBPM = 20.0f;
constexpr float kMaxBPM = 250.0f;

// Clamps a BPM bound to 20..250; a NaN from Java becomes the lower bound rather than poisoning
// the beat tracker's range.
float clampBPM(float bpm) {
    if (!(bpm >= kMinBPM)) return kMinBPM;
    if (bpm > kMaxBPM) return kMaxBPM;
    return bpm;
}

}  // namespace

CTKCore::CTKCore()
    : m_csCoreGlobal("Coreglobal"), m_csLoad(nullptr), m_csLoop("LoopLock"), m_pMixDown(nullptr) {
    std::memset(g_SystemsUseCount, 0, sizeof g_SystemsUseCount);
    for (FMODSystem*& system : g_Systems) system = nullptr;
    std::memset(g_masterEQAddedDSP, 0, sizeof g_masterEQAddedDSP);
    for (FMOD::Sound*& sound : g_samplerSounds) sound = nullptr;
    for (FMOD::Channel*& channel : g_samplerChannels) channel = nullptr;
}

int CTKCore::SetBufferSizes(unsigned int stream, unsigned int dsp, unsigned int count) {
    int result = TK_OK;
    if (dsp < kMinDspBufferSamples) {
        dsp = kMinDspBufferSamples;
        result = TK_ERR_BUFFER_SIZE;
    } else if (stream < kMinStreamBufferBytes) {
        result = TK_ERR_BUFFER_SIZE;
    }
    debugMsg("\n==========\nSetBufferSizes()\n==========\n");
    // The stream size only decides the result: g_stream_buffer_size keeps its value.
    g_usebuffersizesMS = 0;
    g_dsp_buffer_size = dsp;
    if (count < kMinDspBufferCount) {
        g_dsp_buffer_count = kMinDspBufferCount;
        return TK_ERR_BUFFER_SIZE;
    }
    g_dsp_buffer_count = count;
    return result;
}

int CTKCore::SetBufferSizesMS(unsigned int stream, unsigned int ms) {
    debugMsg("\n==========\nSetBufferSizesMS()\n==========\n");
    g_usebuffersizesMS = 1;
    if (ms == 0) {
        g_dsp_buffer_sizeMS = 1;
        return TK_ERR_BUFFER_SIZE;
    }
    g_dsp_buffer_sizeMS = ms;
    return stream == 0 ? TK_ERR_BUFFER_SIZE : TK_OK;
}

int CTKCore::setScratchQuality(int quality) {
    debugMsg("\n==========\nsetScratchQuality(%d)\n==========\n", quality);
    CRITSECT_SCOPE(m_csCoreGlobal);
    if (!CPlayerList::initialized) return TK_ERR_NOT_STARTED;
    g_uiScratchQuality = static_cast<unsigned int>(quality);
    return TK_OK;
}

int CTKCore::setupBeatOptions(int precision, float minBPM, float maxBPM) {
    debugMsg("\n==========\nsetupBeatOptions(%d,%f,%f)\n==========\n", precision,
             static_cast<double>(minBPM), static_cast<double>(maxBPM));
    // No check that min is below max: the beat tracker takes the range as given.
    m_iBPMCalcPrecision = precision;
    m_fBPMCalcMininmalBPM = clampBPM(minBPM);
    m_fBPMCalcMaximalBPM = clampBPM(maxBPM);
    return TK_OK;
}

int CTKCore::increaseProcessPriority() { return TK_OK; }

bool CTKCore::_hasQuickTime(FMOD::Sound* /*sound*/) { return false; }
