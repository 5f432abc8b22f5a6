// The master bus as start-up and deck loading use it: the "MasterGain" unit's read callback, the
// master equaliser bands' gains and switches, and the refresh that bypasses the bus of an idle
// card and switches its bands.
#include "DebugLog.h"
#include "FMODSystem.h"
#include "TKCore.h"

std::atomic<bool> m_bEnableNormalizer{false};
std::atomic<float> m_fNormalizerGain{1.0f};

bool CTKCore::g_masterEQSupposedToEnable[kTKMasterEqBands] = {};
int CTKCore::g_masterEQSupposedToEnableDb[kTKMasterEqBands] = {};

// Mixer thread: takes no lock and never blocks.
FMOD_RESULT MasterGainFactor(FMOD_DSP_STATE* state, float* in, float* out, unsigned int length, int inChannels,
                             int /*outChannels*/) {
    if (!state || !state->instance || length == 0 || inChannels == 0) return FMOD_ERR_MEMORY;
    void* userData = nullptr;
    ERRCHECK("MasterGainFactor", __FILE__, __LINE__, state->instance->getUserData(&userData));
    if (!userData) {
        debugMsg("NO fGain!\n");
        return FMOD_OK;
    }
    if (!in || !out) {
        debugMsg("gain buffer is not valid! Aborting!\n");
        return FMOD_OK;
    }
    // The user data is the address of CTKCore::g_fMasterGain (or of another float gain).
    const float gain = static_cast<std::atomic<float>*>(userData)->load(std::memory_order_relaxed);
    const float factor = m_bEnableNormalizer.load(std::memory_order_relaxed)
                             ? gain * m_fNormalizerGain.load(std::memory_order_relaxed)
                             : gain;
    const unsigned long samples = static_cast<unsigned long>(length) * static_cast<unsigned long>(inChannels);
    for (unsigned long i = 0; i < samples; ++i) out[i] = factor * in[i];
    return FMOD_OK;
}

int CTKCore::SetMasterEq(int band, int value, bool on) {
    debugMsg("\n==========\nSetMasterEq()\n==========\n");
    const int bands = g_masterEQValues ? static_cast<int>(g_masterEQValues->size()) : 0;
    if (band < 0 || band >= bands || band >= kTKMasterEqBands) return -12;
    float gain = static_cast<float>(value) / 5000.0f;
    if (gain == 0.0f) gain = 0.05f;
    (*g_masterEQValues)[band] = gain;
    g_masterEQSupposedToEnable[band] = on;
    g_masterEQSupposedToEnableDb[band] = value;
    RefreshMasterEffects();
    return TK_OK;
}

int CTKCore::RefreshMasterEffects() {
    int first = 0;
    while (first < g_soundcardcount) {
        // A card run: consecutive slots over one system; a null slot is a run of its own.
        int last = first;
        FMOD::System* system = g_Systems[first] ? g_Systems[first]->getFMODSystem() : nullptr;
        while (system && last + 1 < g_soundcardcount && g_Systems[last + 1] &&
               g_Systems[last + 1]->getFMODSystem() == system)
            ++last;
        bool idle = true;
        for (int i = first; i <= last; ++i) idle = idle && g_SystemsUseCount[i] == 0;
        debugMsg("Is soundcard %d unused:%s\n", last, idle ? "true" : "false");

        if (g_masterEQList && g_masterEQValues) {
            std::vector<FMOD::DSP*>& bands = g_masterEQList[last];
            for (size_t b = 0; b < bands.size() && b < g_masterEQValues->size(); ++b) {
                FMOD::DSP* dsp = bands[b];
                const float gain = (*g_masterEQValues)[b];
                const bool enabled = b < static_cast<size_t>(kTKMasterEqBands) && g_masterEQSupposedToEnable[b];
                const bool wantBypass = (gain == 1.0f || !enabled) ? true : idle;
                bool bypassed = false;
                if (dsp->getBypass(&bypassed) != FMOD_OK) bypassed = false;
                if (bypassed != wantBypass) {
                    bool& connected = g_masterEQAddedDSP[last][b];
                    if (wantBypass) {
                        ERRCHECK("RefreshMasterEffects", __FILE__, __LINE__, dsp->setBypass(true));
                        ERRCHECK("RefreshMasterEffects", __FILE__, __LINE__, dsp->remove());
                        connected = false;
                    } else {
                        if (!connected) {
                            ERRCHECK("RefreshMasterEffects", __FILE__, __LINE__, dsp->remove());
                            if (g_Systems[last])
                                ERRCHECK("RefreshMasterEffects", __FILE__, __LINE__, g_Systems[last]->addDSP(dsp, nullptr));
                            connected = true;
                        }
                        ERRCHECK("RefreshMasterEffects", __FILE__, __LINE__, dsp->setBypass(false));
                    }
                }
                ERRCHECK("RefreshMasterEffects", __FILE__, __LINE__, dsp->setParameter(2, gain));
            }
        }
        if (g_masterGainList && !g_masterGainList[last].empty())
            ERRCHECK("RefreshMasterEffects", __FILE__, __LINE__, g_masterGainList[last].front()->setBypass(idle));
        first = last + 1;
    }
    return TK_OK;
}
