// The deck's effect units: the three EQ bands, echo, flanger, low-pass and high-pass filters, and
// the compressor and normaliser that are switched together.
//
// The setters keep in the settings block what the next load applies again to the new units (the EQ
// sliders even before any unit exists); the units themselves are created and released by the load
// and the unload. The echo keeps nothing: every load leaves it bypassed.
//
// Thread safety
// - Java threads, without a deck lock: parameter and bypass changes are safe against the mixer
//   thread in the audio layer and never wait for a mix. The load calls these setters itself while
//   it holds "CPlayer::load", so they must never take that lock.
// - Trap: the unit handles are read without a lock. A setter that runs while an unload of the same
//   deck releases the units may touch a released unit; callers must not overlap the two.
// - The audio layer clamps every parameter to the unit's own range, so out-of-range sliders reach
//   the unit as its nearest legal value without an error.
#include <algorithm>

#include "DebugLog.h"
#include "Player.h"
#include "StatusCodes.h"

// A unit's call, reported under the operation's name.
#define PLAYER_FX_CHECK(operation, call) ERRCHECK((operation), __FILE__, __LINE__, (call))

namespace {

// Filter sliders are clamped before they are stored or used.
int clampSlider(int slider) { return std::clamp(slider, 0, 10000); }

// EQ band gain: 5000 is unity and 10000 doubles. A slider of 0 gives 0.05 instead of silence,
// so a band cut all the way still lets a twentieth through. The slider is not clamped here: a
// value outside 0..10000 reaches the unit, which clamps it to its own gain range.
float eqGain(int slider) { return slider == 0 ? 0.05f : static_cast<float>(slider) / 5000.0f; }

// Writes one band: width, centre, gain, in that order. -5 without the unit.
int writeEqBand(const char* operation, FMOD::DSP* unit, float octaves, float centre, float gain) {
    if (!unit) return TK_ERR_FAILED;
    PLAYER_FX_CHECK(operation, unit->setParameter(1, octaves));
    PLAYER_FX_CHECK(operation, unit->setParameter(0, centre));
    PLAYER_FX_CHECK(operation, unit->setParameter(2, gain));
    return 1;
}

// A band's gain read back, x 5000 and truncated; 0 without the unit.
unsigned int readEqBand(const char* operation, FMOD::DSP* unit) {
    if (!unit) return 0;
    float gain = 0.0f;
    PLAYER_FX_CHECK(operation, unit->getParameter(2, &gain, nullptr, 0));
    const float scaled = gain * 5000.0f;
    // The unit keeps its gain within 0.05..3.0, so this never leaves the unsigned range; the guard
    // only keeps a broken unit from producing an undefined conversion.
    if (!(scaled > 0.0f)) return 0;
    return static_cast<unsigned int>(std::min(scaled, 4.0e9f));
}

}  // namespace

// ---- EQ -------------------------------------------------------------------------------------------

int CPlayer::SetEqHigh(int slider) {
    DeckConfig* c = m_pConfig;
    c->m_iEqHigh = slider;
    return writeEqBand("CPlayer::SetEqHigh", c->m_pEqHigh, 3.0f, 12000.0f, eqGain(slider));
}

int CPlayer::SetEqMid(int slider) {
    DeckConfig* c = m_pConfig;
    c->m_iEqMid = slider;
    const float gain = eqGain(slider);
    // Narrow when it cuts (a slider of 0 counts as cutting), wide when it boosts.
    const float octaves = gain > 1.0f ? 4.0f : 0.25f;
    return writeEqBand("CPlayer::SetEqMid", c->m_pEqMid, octaves, 2000.0f, gain);
}

int CPlayer::SetEqLow(int slider) {
    DeckConfig* c = m_pConfig;
    c->m_iEqLow = slider;
    return writeEqBand("CPlayer::SetEqLow", c->m_pEqLow, 1.0f, 100.0f, eqGain(slider));
}

unsigned int CPlayer::GetEqHigh() { return readEqBand("CPlayer::GetEqHigh", m_pConfig->m_pEqHigh); }
unsigned int CPlayer::GetEqMid() { return readEqBand("CPlayer::GetEqMid", m_pConfig->m_pEqMid); }
unsigned int CPlayer::GetEqLow() { return readEqBand("CPlayer::GetEqLow", m_pConfig->m_pEqLow); }

// Kept for the host; the bands keep their fixed widths.
int CPlayer::SetEqBandWidth(float width) {
    m_pConfig->m_fEqBandWidth = width;
    return 1;
}

// ---- Echo and flanger ----------------------------------------------------------------------------

// Nothing is stored: every load leaves the echo bypassed with the unit's defaults until the host
// calls this again.
int CPlayer::SetEcho(bool on, double delay, double decay, double dryMix, double wetMix) {
    FMOD::DSP* unit = m_pConfig->m_pEcho;
    if (!unit) return 1;
    const char* op = "CPlayer::SetEcho";
    PLAYER_FX_CHECK(op, unit->setParameter(0, static_cast<float>(delay)));
    PLAYER_FX_CHECK(op, unit->setParameter(1, static_cast<float>(decay)));
    PLAYER_FX_CHECK(op, unit->setParameter(2, 0.0f));  // maximum channels: always 0 (every channel)
    PLAYER_FX_CHECK(op, unit->setParameter(3, static_cast<float>(dryMix)));
    PLAYER_FX_CHECK(op, unit->setParameter(4, static_cast<float>(wetMix)));
    PLAYER_FX_CHECK(op, unit->setBypass(!on));
    return 1;
}

int CPlayer::SetFlanger(bool on, double dryMix, double wetMix, double depth, double rate) {
    DeckConfig* c = m_pConfig;
    FMOD::DSP* unit = c->m_pFlanger;
    if (!unit) return TK_ERR_FAILED;  // nothing stored: the load applies what was stored before
    c->m_bFlangerOn = on;
    c->m_dFlangerDryMix = dryMix;
    c->m_dFlangerWetMix = wetMix;
    c->m_dFlangerDepth = depth;
    c->m_dFlangerRate = rate;
    const char* op = "CPlayer::SetFlanger";
    PLAYER_FX_CHECK(op, unit->setBypass(!on));
    PLAYER_FX_CHECK(op, unit->setParameter(0, static_cast<float>(dryMix)));
    PLAYER_FX_CHECK(op, unit->setParameter(1, static_cast<float>(wetMix)));
    PLAYER_FX_CHECK(op, unit->setParameter(2, static_cast<float>(depth)));
    PLAYER_FX_CHECK(op, unit->setParameter(3, static_cast<float>(rate)));
    return 1;
}

// ---- Filters: without a unit the setters store nothing and still answer 1 -------------------------

int CPlayer::EnableLowPass(bool on) {
    DeckConfig* c = m_pConfig;
    if (!c->m_pLowPass) return 1;
    c->m_bLowPassOn = on;
    PLAYER_FX_CHECK("CPlayer::EnableLowPass", c->m_pLowPass->setBypass(!on));
    return 1;
}

// 0..10000 to a resonance of 1.0..10.0.
int CPlayer::SetResonance(int slider) {
    DeckConfig* c = m_pConfig;
    if (!c->m_pLowPass) return 1;
    const int s = clampSlider(slider);
    c->m_iLowPassResonance = s;
    PLAYER_FX_CHECK("CPlayer::SetResonance", c->m_pLowPass->setParameter(1, static_cast<float>(s / 1111.11 + 1.0)));
    return 1;
}

// 0..10000 to 63..22113 Hz; the top of the range lies above what the unit filters at any mix
// rate, so a slider of 10000 leaves the sound alone.
int CPlayer::SetCutOff(int slider) {
    DeckConfig* c = m_pConfig;
    if (!c->m_pLowPass) return 1;
    const int s = clampSlider(slider);
    c->m_iLowPassCutoff = s;
    PLAYER_FX_CHECK("CPlayer::SetCutOff", c->m_pLowPass->setParameter(0, static_cast<float>(s * 2.205 + 63.0)));
    return 1;
}

int CPlayer::EnableHighPass(bool on) {
    DeckConfig* c = m_pConfig;
    if (!c->m_pHighPass) return 1;
    c->m_bHighPassOn = on;
    PLAYER_FX_CHECK("CPlayer::EnableHighPass", c->m_pHighPass->setBypass(!on));
    return 1;
}

// 0..10000 to 0.0..9.0 (the unit lifts the bottom of that to its own minimum).
int CPlayer::SetHighPassResonance(int slider) {
    DeckConfig* c = m_pConfig;
    if (!c->m_pHighPass) return 1;
    const int s = clampSlider(slider);
    c->m_iHighPassResonance = s;
    PLAYER_FX_CHECK("CPlayer::SetHighPassResonance", c->m_pHighPass->setParameter(1, static_cast<float>(s / 1111.11)));
    return 1;
}

// 0..10000 to 0..22050 Hz.
int CPlayer::SetHighPassCutOff(int slider) {
    DeckConfig* c = m_pConfig;
    if (!c->m_pHighPass) return 1;
    const int s = clampSlider(slider);
    c->m_iHighPassCutoff = s;
    PLAYER_FX_CHECK("CPlayer::SetHighPassCutOff", c->m_pHighPass->setParameter(0, static_cast<float>(s * 2.205)));
    return 1;
}

// ---- Compressor and normaliser ----------------------------------------------------------------------

// The flag is stored even before the first load, so that the load switches both units by it.
int CPlayer::EnableNormalizer(bool on) {
    DeckConfig* c = m_pConfig;
    c->m_bNormalizerOn = on;
    if (c->m_pCompressor) PLAYER_FX_CHECK("CPlayer::EnableNormalizer", c->m_pCompressor->setBypass(!on));
    if (c->m_pNormalizer) PLAYER_FX_CHECK("CPlayer::EnableNormalizer", c->m_pNormalizer->setBypass(!on));
    return 1;
}

int CPlayer::SetNormalizer(float fadeTime, float threshold, float maxAmp) {
    DeckConfig* c = m_pConfig;
    FMOD::DSP* unit = c->m_pNormalizer;
    if (!unit) return 1;
    c->m_fNormalizerFadeTime = fadeTime;
    c->m_fNormalizerThreshold = threshold;
    c->m_fNormalizerMaxAmp = maxAmp;
    const char* op = "CPlayer::SetNormalizer";
    PLAYER_FX_CHECK(op, unit->setParameter(0, fadeTime));
    PLAYER_FX_CHECK(op, unit->setParameter(1, threshold));
    PLAYER_FX_CHECK(op, unit->setParameter(2, maxAmp));
    return 1;
}

// The values are stored as given and written limited to the compressor's working ranges, attack
// first. A NaN is stored too; the unit refuses it (reported) and keeps its previous value.
int CPlayer::SetNormalizerCompressor(float attack, float release, float threshold, float gainMakeup) {
    DeckConfig* c = m_pConfig;
    FMOD::DSP* unit = c->m_pCompressor;
    if (!unit) return 1;
    c->m_fCompressorAttack = attack;
    c->m_fCompressorRelease = release;
    c->m_fCompressorThreshold = threshold;
    c->m_fCompressorGainMakeup = gainMakeup;
    // std::clamp passes a NaN through unchanged, so the unit sees (and refuses) it.
    const char* op = "CPlayer::SetNormalizerCompressor";
    PLAYER_FX_CHECK(op, unit->setParameter(1, std::clamp(attack, 10.0f, 200.0f)));
    PLAYER_FX_CHECK(op, unit->setParameter(2, std::clamp(release, 10.0f, 1000.0f)));
    PLAYER_FX_CHECK(op, unit->setParameter(0, std::clamp(threshold, -60.0f, 0.0f)));
    PLAYER_FX_CHECK(op, unit->setParameter(3, std::clamp(gainMakeup, 0.0f, 30.0f)));
    return 1;
}

// The deck has no pitch shifter; the host still calls this.
int CPlayer::SetPitchShifter(float /*shift*/) { return 0; }
