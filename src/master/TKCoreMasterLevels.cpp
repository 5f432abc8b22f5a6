// The master level meter: the output spectra of the slots that decks 1 to 3 play on, summed and
// bent into the meter's scale, for Java and for the master recorder's level report.
//
// Thread safety: GetMasterLevels takes no engine lock (the deck registry guards its own list, and
// each spectrum read takes its slot wrapper's lock); it runs on Java threads.
#include <cmath>

#include "DebugLog.h"
#include "EngineCalls.h"
#include "FMODSystem.h"
#include "MixDown.h"
#include "Player.h"
#include "PlayerList.h"
#include "TKCore.h"

namespace {

constexpr int kSpectrumValues = 64;
constexpr int kSummedBins = 63;  // the top bin is left out
constexpr float kMeterExponent = 0.45f;
constexpr int kMeteredDecks[] = {1, 2, 3};

// The main output slot of a deck; 0 for a deck that never loaded (or none at all).
int mainSlotOf(CPlayer* deck) {
    DeckConfig* config = deck ? deck->GetConfig() : nullptr;
    return config ? config->m_iMainOutput : 0;
}

// Adds |bin| / 64 of bins 0..62 of one slot's left and right output spectra.
void addSlotSpectrum(int slot, float& left, float& right) {
    if (slot < 0 || slot >= kTKSlotCount || !CTKCore::g_Systems[slot]) return;
    float spectrum[kSpectrumValues];
    for (int side = 0; side < 2; ++side) {
        for (float& v : spectrum) v = 0.0f;
        ERRCHECK("GetMasterLevels", __FILE__, __LINE__,
                 CTKCore::g_Systems[slot]->getSpectrum(spectrum, kSpectrumValues, side, FMOD_DSP_FFT_WINDOW_RECT));
        float& sum = side == 0 ? left : right;
        for (int bin = 0; bin < kSummedBins; ++bin) sum += std::fabs(spectrum[bin]) / kSpectrumValues;
    }
}

}  // namespace

unsigned int CTKCore::MasterLevelOfSum(float sum, float factor) {
    if (!(sum > 0.0f)) return 0;
    const double exponent = kMeterExponent;  // the single-precision 0.45 (0.449999988)
    const double level = static_cast<double>(sum) * std::pow(static_cast<double>(kSpectrumValues), exponent) /
                         std::pow(static_cast<double>(sum), exponent) * static_cast<double>(factor);
    const float rounded = static_cast<float>(level);
    return static_cast<unsigned int>(static_cast<double>(rounded) * 10000.0);
}

int CTKCore::GetMasterLevels(unsigned int* levels, float factor) {
    // A UI timer polls this: shutdown waits for it rather than free the decks it reads.
    const tk_engine::EngineCall engineCall;
    if (!engineCall.admitted()) return TK_OK;
    CPlayer* decks[3] = {};
    for (int i = 0; i < 3; ++i) decks[i] = getPlayerObject(kMeteredDecks[i]);
    if (!decks[0] && !decks[1] && !decks[2]) return TK_OK;  // not started: nothing written
    int slots[3];
    {
        CRITSECT_SCOPE(g_csMasterBus);  // a deck load writes its main slot under it
        for (int i = 0; i < 3; ++i) slots[i] = mainSlotOf(decks[i]);
    }

    float left = 0.0f;
    float right = 0.0f;
    for (int i = 0; i < 3; ++i) {
        bool measured = false;
        for (int j = 0; j < i; ++j) measured = measured || slots[j] == slots[i];
        if (!measured) addSlotSpectrum(slots[i], left, right);
    }
    if (levels) {
        levels[0] = MasterLevelOfSum(left, factor);
        levels[1] = MasterLevelOfSum(right, factor);
    }
    return TK_OK;
}

int CTKCore::MixDown_getLevels(unsigned int* levels) {
    float gain = 0.0f;
    {
        CRITSECT_SCOPE(m_csCoreGlobal);
        if (!CPlayerList::initialized.load(std::memory_order_acquire)) {
            debugMsg("Init the library first!");
            return TK_ERR_NOT_STARTED;
        }
        debugMsg("\n==========\nMixDown_getLevels()\n==========\n");
        if (!m_pMixDown) return kMixDownErrNoSource;
        gain = m_pMixDown->getGain1();
    }
    GetMasterLevels(levels, gain);
    return TK_OK;
}
