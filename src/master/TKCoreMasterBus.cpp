// The master bus's Java-facing settings: adding master equaliser bands, the master gain, the
// normaliser factor and the master volume of every output slot.
//
// Thread safety: each runs on a Java thread under "Coreglobal"; AddMasterEq and SetMasterGain
// also take the master bus's leaf lock, since deck loads refresh the bus without the engine lock.
// The gain and the normaliser factor are atomics that the MasterGain units read on the mixer
// threads from their next block on.
#include <algorithm>
#include <vector>

#include "DebugLog.h"
#include "FMODSystem.h"
#include "PlayerList.h"
#include "TKCore.h"

namespace {

constexpr int kSliderMax = 10000;
constexpr float kUnityGainSlider = 5000.0f;
constexpr int kBandParamCentre = 0;
constexpr int kBandParamBandwidth = 1;
constexpr int kBandParamGain = 2;

bool started() { return CPlayerList::initialized.load(std::memory_order_acquire); }

// One band unit on a card run's last slot: active, bypassed, at unity gain. Null when the slot has
// no system or the audio library makes no unit.
FMOD::DSP* makeBand(int slot, float centreHz, float bandwidth) {
    FMODSystem* system = CTKCore::g_Systems[slot];
    if (!system) return nullptr;
    FMOD::DSP* dsp = nullptr;
    ERRCHECK("AddMasterEq", __FILE__, __LINE__, system->createDSPByType(FMOD_DSP_TYPE_PARAMEQ, &dsp));
    if (!dsp) return nullptr;
    ERRCHECK("AddMasterEq", __FILE__, __LINE__, dsp->setActive(true));
    ERRCHECK("AddMasterEq", __FILE__, __LINE__, dsp->setBypass(true));
    ERRCHECK("AddMasterEq", __FILE__, __LINE__, dsp->setParameter(kBandParamCentre, centreHz));
    ERRCHECK("AddMasterEq", __FILE__, __LINE__, dsp->setParameter(kBandParamBandwidth, bandwidth));
    ERRCHECK("AddMasterEq", __FILE__, __LINE__, dsp->setParameter(kBandParamGain, 1.0f));
    return dsp;
}

}  // namespace

int CTKCore::AddMasterEq(float centreHz, float bandwidth) {
    CRITSECT_SCOPE(m_csCoreGlobal);
    if (!started()) return TK_ERR_NOT_STARTED;
    debugMsg("\n==========\nAddMasterEq()\n==========\n");
    CRITSECT_SCOPE(g_csMasterBus);
    // The flag tables hold 32 bands: a 33rd could never be set, so it is refused outright.
    if (g_masterEQValues->size() >= static_cast<size_t>(kTKMasterEqBands)) return TK_ERR_NO_MEMORY;

    // Band b must mean the same band on every card: the units are kept only when every run got one.
    std::vector<std::pair<int, FMOD::DSP*>> made;
    for (int first = 0; first < g_soundcardcount;) {
        const int last = masterCardRunLast(first);
        FMOD::DSP* dsp = makeBand(last, centreHz, bandwidth);
        if (!dsp) {
            for (auto& [slot, unit] : made) ERRCHECK("AddMasterEq", __FILE__, __LINE__, unit->release());
            return TK_ERR_NO_MEMORY;
        }
        made.emplace_back(last, dsp);
        first = last + 1;
    }
    for (auto& [slot, unit] : made) g_masterEQList[slot].push_back(unit);
    g_masterEQValues->push_back(1.0f);
    return TK_OK;
}

int CTKCore::SetMasterGain(int value) {
    CRITSECT_SCOPE(m_csCoreGlobal);
    if (!started()) return TK_ERR_NOT_STARTED;
    debugMsg("\n==========\nSetMasterGain()\n==========\n");
    value = std::clamp(value, 0, kSliderMax);
    debugMsg("SetMasterGain: %f\n", static_cast<double>(value));
    const float gain = static_cast<float>(value) / kUnityGainSlider;
    g_fMasterGain.store(gain, std::memory_order_relaxed);
    // Unlike the refresh (which switches a card run's last unit by use alone), every slot's unit
    // follows both its use and unity gain here.
    CRITSECT_SCOPE(g_csMasterBus);
    for (int slot = 0; slot < g_soundcardcount; ++slot) {
        if (g_masterGainList[slot].empty()) continue;
        const bool bypass = g_SystemsUseCount[slot] == 0 || gain == 1.0f;
        ERRCHECK("SetMasterGain", __FILE__, __LINE__, g_masterGainList[slot].front()->setBypass(bypass));
    }
    return TK_OK;
}

int CTKCore::SetNormalizerGain(float factor) {
    CRITSECT_SCOPE(m_csCoreGlobal);
    if (!started()) return TK_ERR_NOT_STARTED;
    debugMsg("\n==========\nSetNormalizerGain(%f)\n==========\n", static_cast<double>(factor));
    m_fNormalizerGain.store(factor, std::memory_order_relaxed);
    return TK_OK;
}

int CTKCore::SetMasterVolume(int value) {
    CRITSECT_SCOPE(m_csCoreGlobal);
    if (!started()) return TK_ERR_NOT_STARTED;
    debugMsg("\n==========\nSetMasterVolume()\n==========\n");
    if (g_soundcardcount == 0) return TK_OK;
    const float volume = static_cast<float>(std::clamp(value, 0, kSliderMax)) / static_cast<float>(kSliderMax);
    // Slots of one card share one master group: it is set once per slot.
    for (int slot = 0; slot < g_soundcardcount; ++slot) {
        FMOD::ChannelGroup* group = nullptr;
        const FMOD_RESULT found = g_Systems[slot] ? g_Systems[slot]->getMasterChannelGroup(&group) : FMOD_ERR_MEMORY;
        if (found != FMOD_OK || !group) {
            ERRCHECK("SetMasterVolume", __FILE__, __LINE__, found != FMOD_OK ? found : FMOD_ERR_MEMORY);
            continue;
        }
        float current = 0.0f;
        if (group->getVolume(&current) != FMOD_OK) current = 0.0f;
        debugMsg("cur Vol: %f setVol:%f\n", static_cast<double>(current), static_cast<double>(volume));
        const FMOD_RESULT set = group->setVolume(volume);
        if (set != FMOD_OK) {
            ERRCHECK("SetMasterVolume", __FILE__, __LINE__, set);
            debugMsg("FMOD error occured: %d\n", static_cast<int>(set));
            return TK_ERR_FAILED;
        }
    }
    return TK_OK;
}
