// CPlayer::Load: puts one source on the deck. It unloads the previous one, checks the name, raises
// the main slot's use count (switching the card's master bus on for its first deck), opens the
// source (LoadFile), sets up the main and cue outputs, builds the nine-unit effect chain on the
// main output and applies every stored setting again, so control values outlive the source.
//
// The chain, in the order the signal passes it: EQ high, EQ mid, EQ low, echo, flanger, low-pass,
// high-pass, compressor, normaliser; the cue tap is added after them, so the cue hears the
// effects. The echo is never re-applied: it starts bypassed after every load, by design, until
// the host sets it again.
//
// A load that fails once the use count is raised gives it back (and closes a CD stream it
// opened), so a refused source leaves the deck empty and the card's count as it was.
//
// Thread safety
// - Java thread only; CTKCore::Load calls it under the engine's load lock, which serialises the
//   use counts and the master bus between decks. Lock order: "CPlayer::load", then "origstream";
//   the outputs' and the channel's locks inside these. "CPlayer::load" is left before the final
//   SetPosition, which takes it itself.
#include "DebugLog.h"
#include "FMODSystem.h"
#include "Monitor.h"
#include "Player.h"
#include "StatusCodes.h"
#include "TKCore.h"

namespace {

// Bands the first deck on a slot re-applies (of the kTKMasterEqBands the tables hold).
constexpr int kReappliedMasterBands = 31;

FMODSystem* slotSystem(int slot) { return (slot >= 0 && slot < kTKSlotCount) ? CTKCore::g_Systems[slot] : nullptr; }

// One unit of the chain: its type, where the deck keeps it, and whether it starts bypassed.
struct ChainUnit {
    FMOD_DSP_TYPE type;
    FMOD::DSP* DeckConfig::*field;
    bool startsBypassed;
};

constexpr ChainUnit kChain[] = {
    {FMOD_DSP_TYPE_PARAMEQ, &DeckConfig::m_pEqHigh, false},
    {FMOD_DSP_TYPE_PARAMEQ, &DeckConfig::m_pEqMid, false},
    {FMOD_DSP_TYPE_PARAMEQ, &DeckConfig::m_pEqLow, false},
    {FMOD_DSP_TYPE_ECHO, &DeckConfig::m_pEcho, true},
    {FMOD_DSP_TYPE_FLANGE, &DeckConfig::m_pFlanger, true},
    {FMOD_DSP_TYPE_LOWPASS, &DeckConfig::m_pLowPass, true},
    {FMOD_DSP_TYPE_HIGHPASS, &DeckConfig::m_pHighPass, true},
    {FMOD_DSP_TYPE_COMPRESSOR, &DeckConfig::m_pCompressor, true},
    {FMOD_DSP_TYPE_NORMALIZE, &DeckConfig::m_pNormalizer, true},
};

// Creates one unit on the slot's system and attaches it to the main output. A unit the system
// does not create stays null; its setters then do nothing. The handle is published in the
// settings block only once the unit is in place: the setters read it without a deck lock.
void attachUnit(DeckConfig* config, FMODSystem* system, const ChainUnit& unit) {
    FMOD::DSP* dsp = nullptr;
    if (system) ERRCHECK("CPlayer::Load", __FILE__, __LINE__, system->createDSPByType(unit.type, &dsp));
    if (dsp) {
        ERRCHECK("CPlayer::Load", __FILE__, __LINE__,
                 static_cast<FMOD_RESULT>(config->m_pMainOutput->addDSP(dsp, nullptr)));
        ERRCHECK("CPlayer::Load", __FILE__, __LINE__, dsp->setActive(true));
        if (unit.startsBypassed) ERRCHECK("CPlayer::Load", __FILE__, __LINE__, dsp->setBypass(true));
    }
    config->*unit.field = dsp;
}

// The stored settings of a unit, through the setters, which clamp and store them again. The
// arguments are read before each call: a setter may rewrite the field it is given.
void applyStoredSettings(CPlayer& deck, const ChainUnit& unit) {
    DeckConfig* c = deck.GetConfig();
    if (unit.field == &DeckConfig::m_pEqHigh) {
        deck.SetEqHigh(c->m_iEqHigh);
    } else if (unit.field == &DeckConfig::m_pEqMid) {
        deck.SetEqMid(c->m_iEqMid);
    } else if (unit.field == &DeckConfig::m_pEqLow) {
        deck.SetEqLow(c->m_iEqLow);
    } else if (unit.field == &DeckConfig::m_pFlanger) {
        deck.SetFlanger(c->m_bFlangerOn, c->m_dFlangerDryMix, c->m_dFlangerWetMix, c->m_dFlangerDepth,
                        c->m_dFlangerRate);
    } else if (unit.field == &DeckConfig::m_pLowPass) {
        deck.SetResonance(c->m_iLowPassResonance);
        deck.SetCutOff(c->m_iLowPassCutoff);
        deck.EnableLowPass(c->m_bLowPassOn);
    } else if (unit.field == &DeckConfig::m_pHighPass) {
        deck.SetHighPassResonance(c->m_iHighPassResonance);
        deck.SetHighPassCutOff(c->m_iHighPassCutoff);
        deck.EnableHighPass(c->m_bHighPassOn);
    } else if (unit.field == &DeckConfig::m_pNormalizer) {
        // The compressor (made just before) and the normaliser are set and switched together.
        deck.SetNormalizer(c->m_fNormalizerFadeTime, c->m_fNormalizerThreshold, c->m_fNormalizerMaxAmp);
        deck.SetNormalizerCompressor(c->m_fCompressorAttack, c->m_fCompressorRelease, c->m_fCompressorThreshold,
                                     c->m_fCompressorGainMakeup);
        deck.EnableNormalizer(c->m_bNormalizerOn);
    }
    // Echo: nothing (it stays bypassed); compressor: with the normaliser.
}

// One more deck on the slot; its first deck switches the card's master bus on and re-applies the
// stored master equaliser bands.
// The use counts are the master bus's state: they change under its lock.
void raiseUseCount(int slot) {
    bool first = false;
    {
        CRITSECT_SCOPE(g_csMasterBus);
        first = CTKCore::g_SystemsUseCount[slot] == 0;
        if (first)
            CTKCore::g_SystemsUseCount[slot] = 1;
        else
            ++CTKCore::g_SystemsUseCount[slot];
    }
    if (!first) {
        CTKCore::RefreshMasterEffects();
    } else {
        CTKCore::RefreshMasterEffects();
        // The settings are read under the bus lock: Java may be setting a band meanwhile.
        int values[kReappliedMasterBands];
        bool enabled[kReappliedMasterBands];
        {
            CRITSECT_SCOPE(g_csMasterBus);
            for (int band = 0; band < kReappliedMasterBands; ++band) {
                values[band] = CTKCore::g_masterEQSupposedToEnableDb[band];
                enabled[band] = CTKCore::g_masterEQSupposedToEnable[band];
            }
        }
        for (int band = 0; band < kReappliedMasterBands; ++band) CTKCore::SetMasterEq(band, values[band], enabled[band]);
    }
    CTKCore::RefreshMasterEffects();
}

// Undoes what a failed LoadFile left behind after the use count went up: the CD stream, a
// recording, and the count itself (the card's master bus goes idle again with its last deck).
void undoFailedLoad(CPlayer& deck, int slot) {
    DeckConfig* config = deck.GetConfig();
    {
        CRITSECT_SCOPE(deck.m_csOrigStream);
        if (config->m_pSound) {
            ERRCHECK("CPlayer::Load", __FILE__, __LINE__, config->m_pSound->release());
            config->m_pSound = nullptr;
        }
        if (config->m_pCDStream) {
            ERRCHECK("CPlayer::Load", __FILE__, __LINE__, config->m_pCDStream->release());
            config->m_pCDStream = nullptr;
        }
    }
    if (config->m_bRecording) {
        if (FMODSystem* system = slotSystem(slot))
            ERRCHECK("CPlayer::Load", __FILE__, __LINE__, system->recordStop(config->m_iRecorder));
        config->m_bRecording = false;
    }
    {
        CRITSECT_SCOPE(g_csMasterBus);
        if (CTKCore::g_SystemsUseCount[slot] > 0) --CTKCore::g_SystemsUseCount[slot];
    }
    CTKCore::RefreshMasterEffects();
}

// Steps 2 to 16 of a load, under "CPlayer::load". 1, or the code Load returns.
int loadLocked(CPlayer& deck, char* path, int mainSlot, int cueSlot, bool unicode) {
    DeckConfig* c = deck.GetConfig();
    const int available = CTKCore::IsFileAvailable(path, unicode);
    if (available != TK_OK) return available;
    // The slot indexes the engine's slot tables: only a slot in use is taken.
    if (mainSlot < 0 || mainSlot >= CTKCore::g_soundcardcount) return TK_ERR_FAILED;
    CMonitor* main = c->m_pMainOutput;
    CMonitor* cue = c->m_pCueOutput;
    if (!main || !cue) return TK_ERR_FAILED;

    {
        // The master level meter reads the main slot from other threads, under the bus's lock.
        CRITSECT_SCOPE(g_csMasterBus);
        c->m_iMainOutput = mainSlot;
    }
    c->m_iCueOutput = cueSlot;
    c->m_bRecording = false;
    c->m_bPlaying = false;
    c->m_bFrameSearching = false;
    c->m_bSavedLoopOn = false;

    raiseUseCount(mainSlot);

    const int opened = deck.LoadFile(path, unicode);
    if (opened != TK_OK || !c->m_pSound) {
        undoFailedLoad(deck, mainSlot);
        return opened != TK_OK ? opened : TK_ERR_FAILED;
    }

    {
        CRITSECT_SCOPE(deck.m_csOrigStream);
        // A line-in source plays its sound directly, without the looping source.
        main->Init(mainSlot, 0, c->m_pSound, !c->m_bRecording);
        cue->Init(cueSlot, 1, nullptr, false);
    }

    FMODSystem* system = slotSystem(mainSlot);
    for (const ChainUnit& unit : kChain) {
        attachUnit(c, system, unit);
        applyStoredSettings(deck, unit);
    }

    if (c->m_iGainSlider <= 10000) {
        c->m_fGain = static_cast<float>(c->m_iGainSlider / 10000.0 * 2.0);
        main->SetGain(c->m_fGain);
    }

    {
        CRITSECT_SCOPE(deck.m_csOrigStream);
        unsigned int length = 0;
        ERRCHECK("CPlayer::Load", __FILE__, __LINE__, c->m_pSound->getLength(&length, FMOD_TIMEUNIT_MS));
        c->m_uiLength = length;
    }
    c->m_uiLoopStart = 0;
    c->m_uiLoopEnd = c->m_uiLength;
    c->m_bLoopOn = false;

    main->ActivateMonitoring();

    if (c->m_iPanSlider >= 0 && c->m_iPanSlider <= 10000) {
        c->m_dPan = (c->m_iPanSlider - 5000) / 5000.0;
        main->SetPan(static_cast<float>(c->m_dPan));
    }

    // Speed: the rule of SetFrequencyPitch.
    if (c->m_dPitchSlider < 0.0) {
        c->m_dPitchSlider = 0.0;
        c->m_dSpeed = 0.0;
    } else if (c->m_dPitchSlider > 10000.0) {
        c->m_dPitchSlider = 10000.0;
        c->m_dSpeed = 2.0;
    } else {
        c->m_dSpeed = c->m_dPitchSlider / 5000.0;
    }
    ERRCHECK("CPlayer::Load", __FILE__, __LINE__,
             static_cast<FMOD_RESULT>(main->setPitch(static_cast<float>(c->m_dSpeed))));

    // Tempo: the rule of SetTimeStretcher, keeping the position while the cue is silent.
    if (c->m_iTempoSlider >= 0 && c->m_iTempoSlider <= 10000) {
        int slider = c->m_iTempoSlider;
        double x;
        if (slider > 9900) {
            slider = 9900;
            x = 0.02;
        } else {
            x = (10000 - slider) / 5000.0;
        }
        c->m_fTempoFactor = x >= 0.05 ? static_cast<float>(1.0 / x) : 20.0f;
        c->m_iTempoSlider = slider;
        float cueVolume = 0.0f;
        cue->getVolume(&cueVolume);
        const bool keepPosition = static_cast<int>(cueVolume * 10000.0f) == 0;
        main->SetTimeStretch(c->m_fTempoFactor, keepPosition);
    }
    return TK_OK;
}

}  // namespace

int CPlayer::Load(char* path, int mainSlot, int cueSlot, bool unicode) {
    Unload();
    int result;
    {
        CRITSECT_SCOPE(m_csLoad);
        result = loadLocked(*this, path, mainSlot, cueSlot, unicode);
    }
    if (result != TK_OK) return result;
    SetPosition(0, true);
    return TK_OK;
}
