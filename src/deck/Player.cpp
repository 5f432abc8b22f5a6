#include "Player.h"

#include <cstring>
#include <new>

#include "DebugLog.h"
#include "FMODSystem.h"
#include "Monitor.h"
#include "TKCore.h"

DeckConfig::DeckConfig()
    : m_szFileName{},
      m_bRecording(false),
      m_bPlaying(false),
      m_uiSavedLoopStart(0),
      m_uiSavedLoopEnd(0),
      m_bSavedLoopOn(false),
      m_uiLoopStart(0),
      m_uiLoopEnd(0),
      m_bLoopOn(false),
      m_dSpeed(1.0),
      m_dPitchSlider(5000.0),
      m_iTempoSlider(5000),
      m_dPan(0.0),
      m_iPanSlider(5000),
      m_fVolume(1.0f),
      m_uiFrameSearchLength(100),
      m_uiFrameSearchPosition(0),
      m_bFrameSearching(false),
      m_iMainOutput(0),
      m_iCueOutput(0),
      m_iRecorder(0),
      m_pSound(nullptr),
      m_pCDStream(nullptr),
      m_pEcho(nullptr),
      m_pFlanger(nullptr),
      m_bFlangerOn(false),
      m_dFlangerDryMix(0.0),
      m_dFlangerWetMix(0.0),
      m_dFlangerDepth(0.0),
      m_dFlangerRate(0.0),
      m_pLowPass(nullptr),
      m_bLowPassOn(false),
      m_iLowPassResonance(0),
      m_iLowPassCutoff(10000),
      m_pHighPass(nullptr),
      m_bHighPassOn(false),
      m_iHighPassResonance(0),
      m_iHighPassCutoff(0),
      m_pNormalizer(nullptr),
      m_bNormalizerOn(false),
      m_fNormalizerFadeTime(10000.0f),
      m_fNormalizerThreshold(0.01f),
      m_fNormalizerMaxAmp(30.0f),
      m_pCompressor(nullptr),
      m_fCompressorThreshold(-12.0f),
      m_fCompressorAttack(10.0f),
      m_fCompressorRelease(100.0f),
      m_fCompressorGainMakeup(11.0f),
      m_pCueOutput(nullptr),
      m_pMainOutput(nullptr),
      m_fGain(1.0f),
      m_iGainSlider(5000),
      m_pEqHigh(nullptr),
      m_pEqMid(nullptr),
      m_pEqLow(nullptr),
      m_fEqBandWidth(1.0f),
      m_iEqHigh(5000),
      m_iEqMid(5000),
      m_iEqLow(5000),
      m_uiLength(0),
      m_fTempoFactor(1.0f),
      m_iLastPosition(0) {
    std::strncpy(m_szFileName, "__unnamed__file__", sizeof m_szFileName - 1);
}

CPlayer::CPlayer(int index)
    : CAutoGainControl(),
      m_csPosition("position"),
      m_csBpm("bpm"),
      m_csPrebuffer("prebuffer"),
      m_csPrebufferStartStop("prebufferstartstop"),
      m_csOrigStream("origstream"),
      m_csLoad("CPlayer::load"),
      m_beatTracker(),
      m_csUnnamed(),
      m_bUnicodeName(false),
      m_pConfig(new DeckConfig()),
      m_uiLevelHoldLeft(0),
      m_uiLevelHoldRight(0),
      m_iIndex(index) {
    // The cue borrows the main output's tap, so the main output comes first. Without memory for
    // both, nothing made here stays behind (the registry turns the failure into no deck).
    CMonitor* main = new (std::nothrow) CMonitor(this, nullptr);
    CMonitor* cue = main ? new (std::nothrow) CMonitor(this, main) : nullptr;
    if (!cue) {
        delete main;
        delete m_pConfig;
        m_pConfig = nullptr;
        throw std::bad_alloc();
    }
    m_pConfig->m_pMainOutput = main;
    m_pConfig->m_pCueOutput = cue;
}

CPlayer::~CPlayer() {
    Unload();
    if (m_pConfig->m_pMainOutput && m_pConfig->m_pCueOutput) {
        delete m_pConfig->m_pMainOutput;
        delete m_pConfig->m_pCueOutput;
        m_pConfig->m_pMainOutput = nullptr;
        m_pConfig->m_pCueOutput = nullptr;
    }
    delete m_pConfig;
    m_pConfig = nullptr;
    // Stop the tracker before the members it might still be reading go.
    m_beatTracker.stopTracking();
}

namespace {

FMODSystem* slotSystem(int slot) { return (slot >= 0 && slot < kTKSlotCount) ? CTKCore::g_Systems[slot] : nullptr; }

// Bypass, disconnect, release and forget one effect unit of the chain.
void releaseEffect(FMOD::DSP*& unit) {
    if (!unit) return;
    ERRCHECK("CPlayer::Unload", __FILE__, __LINE__, unit->setBypass(true));
    ERRCHECK("CPlayer::Unload", __FILE__, __LINE__, unit->disconnectAll(true, true));
    ERRCHECK("CPlayer::Unload", __FILE__, __LINE__, unit->release());
    unit = nullptr;
}

// The EQ bands: their results are not reported.
void releaseEqBand(FMOD::DSP*& unit) {
    if (!unit) return;
    unit->disconnectAll(true, true);
    unit->release();
    unit = nullptr;
}

}  // namespace

int CPlayer::Unload() {
    CRITSECT_SCOPE(m_csLoad);
    DeckConfig* config = m_pConfig;
    if (config->m_bRecording) {
        if (FMODSystem* system = slotSystem(config->m_iMainOutput))
            ERRCHECK("CPlayer::Unload", __FILE__, __LINE__, system->recordStop(config->m_iRecorder));
    }
    if (config->m_pMainOutput) config->m_pMainOutput->enableVirtualVinyl(false);
    if (!config->m_pMainOutput || !config->m_pCueOutput) {
        debugMsg("CPlayer::Unload(): internal error received!\n");
        return -5;
    }
    m_beatTracker.stopTracking();
    config->m_pMainOutput->DeActivateMonitoring();

    releaseEffect(config->m_pEcho);
    releaseEffect(config->m_pFlanger);
    releaseEffect(config->m_pLowPass);
    releaseEffect(config->m_pHighPass);
    releaseEffect(config->m_pCompressor);
    releaseEffect(config->m_pNormalizer);
    releaseEqBand(config->m_pEqHigh);
    releaseEqBand(config->m_pEqMid);
    releaseEqBand(config->m_pEqLow);

    {
        CRITSECT_SCOPE(m_csOrigStream);
        config->m_pMainOutput->Stop();
        config->m_pCueOutput->Stop();
        if (config->m_pSound) {
            const int slot = config->m_iMainOutput;
            {
                CRITSECT_SCOPE(g_csMasterBus);  // the use counts are the master bus's state
                if (slot >= 0 && slot < kTKSlotCount && CTKCore::g_SystemsUseCount[slot] > 0)
                    --CTKCore::g_SystemsUseCount[slot];
            }
            ERRCHECK("CPlayer::Unload", __FILE__, __LINE__, config->m_pSound->release());
            config->m_pSound = nullptr;
        }
    }
    if (config->m_pCDStream) {
        ERRCHECK("CPlayer::Unload", __FILE__, __LINE__, config->m_pCDStream->release());
        config->m_pCDStream = nullptr;
    }
    return 1;
}
