// Per-deck entry points of the engine object: tempo, pitch and beats. The common steps (started
// test, lock, banner, lookup) live in TKCoreDeckCall.h.
//
// Thread safety: Java threads call these concurrently. "Coreglobal" is held for the lookup only,
// except in GetBPM, which holds it through the deck call.
#include "TKCore.h"
#include "TKCoreDeckCall.h"

using tk_deck::Hold;
using tk_deck::Idle;
using tk_deck::Rule;

namespace {

constexpr double kMinPitchSlider = 0.0;
constexpr double kMaxPitchSlider = 10000.0;

// The pitch slider the deck gets: 0..10000. A NaN from Java becomes 0 rather than reaching the
// stretcher.
double clampPitchSlider(double value) {
    if (!(value >= kMinPitchSlider)) return kMinPitchSlider;
    return value > kMaxPitchSlider ? kMaxPitchSlider : value;
}

}  // namespace

int CTKCore::SetFrequencyPitch(int deck, double value) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActAround,
                        [&] { debugMsg(TK_DECK_BANNER("setFrequencyPitch(%d, %f)"), deck, value); },
                        [&](CPlayer& p) { return p.SetFrequencyPitch(clampPitchSlider(value)); });
}

int CTKCore::SetFrequencyPitchEx(int deck, double value) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActAround,
                        [&] { debugMsg(TK_DECK_BANNER("setFrequencyPitchEx(%d, %f)"), deck, value); },
                        [&](CPlayer& p) { return p.SetFrequencyPitchEx(value); });
}

int CTKCore::SetTimeStretcher(int deck, int value) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActOnceZero,
                        [&] { debugMsg(TK_DECK_BANNER("SetTimeStretcher(%d, %d)"), deck, value); },
                        [&](CPlayer& p) { return p.SetTimeStretcher(value); });
}

int CTKCore::SetPitchShifter(int deck, float value) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActOnceZero,
                        [&] { debugMsg(TK_DECK_BANNER("SetPitchShifter(%d, %f)"), deck, static_cast<double>(value)); },
                        [&](CPlayer& p) { return p.SetPitchShifter(value); });
}

int CTKCore::startBeatTracking(int deck, bool on) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActAround,
                        [&] { debugMsg(TK_DECK_BANNER("startBeatTracking(%d,%d)"), deck, on); },
                        [&](CPlayer& p) {
                            return p.startBeatTracking(deck, on, m_fBPMCalcMininmalBPM, m_fBPMCalcMaximalBPM,
                                                       m_iBPMCalcPrecision);
                        });
}

float CTKCore::GetBPM(int deck) {
    constexpr Rule<float> rule{Hold::Through, Idle::LogOnce, 0.0f, 0.0f};
    return tk_deck::run(*this, TK_DECK_SITE, deck, rule,
                        [&] { debugMsg(TK_DECK_BANNER("GetBPM(%d)"), deck); },
                        [](CPlayer& p) { return p.GetBPM(); });
}

int CTKCore::DefineBeatCallback(int deck, void* callback) {
    return tk_deck::run(*this, TK_DECK_SITE, deck, tk_deck::kActSilent,
                        [] { debugMsg(TK_DECK_BANNER("DefineBeatCallback()")); },
                        [&](CPlayer& p) { return p.DefineBeatCallback(callback, deck); });
}
