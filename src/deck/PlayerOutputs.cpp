// The deck's levels on its two outputs: volume and mute of the main and the cue output, and the
// gain and pan that act inside the time-stretched channel of the main output.
//
// Volume and mute work on the outputs' speaker levels (CMonitor); gain and pan are handed to the
// channel, which scales every rendered block by them. Pan and gain are kept in the settings block
// so the next load applies them again; the volume stays with the main output itself.
//
// Thread safety
// - Java threads, without a deck lock; the outputs serialise their own changes and the channel
//   reads pan and gain as atomics on its render thread.
#include <algorithm>
#include <cmath>

#include "DebugLog.h"
#include "Monitor.h"
#include "Player.h"
#include "StatusCodes.h"

namespace {

// Deck-level answers of these operations.

int clampSlider(int slider) { return std::clamp(slider, 0, 10000); }

// A level x 10000, truncated toward zero. Until the host sets a volume an output holds -1.0; that
// reads back as -10000 converted to unsigned, which the host sees as the int -10000. The round trip
// through int keeps the conversion defined for such values.
unsigned int scaledLevel(float level) {
    const double scaled = std::trunc(static_cast<double>(level) * 10000.0);
    if (std::isnan(scaled)) return 0;
    const double clamped = std::clamp(scaled, -2147483648.0, 2147483647.0);
    return static_cast<unsigned int>(static_cast<int>(clamped));
}

}  // namespace

int CPlayer::SetVolume(int slider) {
    DeckConfig* c = m_pConfig;
    if (!c) return TK_ERR_NO_DECK_OUTPUT;
    const float volume = static_cast<float>(clampSlider(slider)) / 10000.0f;
    c->m_fVolume = volume;
    if (!c->m_pMainOutput) return TK_ERR_NO_OUTPUT;
    return c->m_pMainOutput->SetVolume(volume);
}

unsigned int CPlayer::GetVolume() {
    DeckConfig* c = m_pConfig;
    if (!c || !c->m_pMainOutput) return 0;
    float volume = 0.0f;
    const int r = c->m_pMainOutput->getVolume(&volume);
    ERRCHECK("CPlayer::GetVolume", __FILE__, __LINE__, static_cast<FMOD_RESULT>(r));
    return r == 0 ? scaledLevel(volume) : 0;
}

// The cue volume is not kept in the settings block: the cue output holds it.
int CPlayer::SetVolumeMonitor(int slider) {
    DeckConfig* c = m_pConfig;
    if (!c || !c->m_pCueOutput) return TK_ERR_NO_OUTPUT;
    return c->m_pCueOutput->SetVolume(static_cast<float>(clampSlider(slider)) / 10000.0f);
}

// Not reported through ERRCHECK: the host polls this.
unsigned int CPlayer::GetVolumeMonitor() {
    DeckConfig* c = m_pConfig;
    if (!c || !c->m_pCueOutput) return 0;
    float volume = 0.0f;
    if (c->m_pCueOutput->getVolume(&volume) != 0) return 0;
    return scaledLevel(volume);
}

int CPlayer::SetMute(bool mute) {
    DeckConfig* c = m_pConfig;
    if (!c || !c->m_pMainOutput) return TK_ERR_NO_OUTPUT;
    return c->m_pMainOutput->SetMute(mute);
}

int CPlayer::SetMuteMonitor(bool mute) {
    DeckConfig* c = m_pConfig;
    if (!c || !c->m_pCueOutput) return TK_ERR_NO_OUTPUT;
    return c->m_pCueOutput->SetMute(mute);
}

// 0..10000 to a gain of 0.0..2.0. The main output answers -8 while nothing is loaded; the value is
// kept all the same and the load hands it to the new channel.
int CPlayer::SetGain(int slider) {
    if (slider < 0 || slider > 10000) return TK_ERR_BAD_ARGUMENT;
    DeckConfig* c = m_pConfig;
    c->m_iGainSlider = slider;
    c->m_fGain = static_cast<float>(slider) / 10000.0f * 2.0f;
    if (c->m_pMainOutput) c->m_pMainOutput->SetGain(c->m_fGain);
    return 1;
}

// 0..10000 to a pan of -1.0 (left) .. 1.0 (right).
int CPlayer::SetPan(int slider) {
    if (slider < 0 || slider > 10000) return TK_ERR_BAD_ARGUMENT;
    DeckConfig* c = m_pConfig;
    c->m_iPanSlider = slider;
    c->m_dPan = (static_cast<double>(slider) - 5000.0) / 5000.0;
    if (c->m_pMainOutput) c->m_pMainOutput->SetPan(static_cast<float>(c->m_dPan));
    return 1;
}
