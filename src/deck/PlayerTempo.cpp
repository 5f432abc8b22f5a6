// Deck speed, direction and tempo; the virtual vinyl mode and its setters; the deck recorder
// forwarders; background beat tracking; and the operations with fixed answers.
//
// Speed (the pitch slider) changes rate and pitch together, as a turntable does: it is the
// channel's playback frequency. Tempo (the time-stretch slider) changes the duration without the
// pitch: it is the channel's stretch factor, output duration per source duration.
//
// Thread safety: Java threads only; no deck lock is taken. The main output and its channel guard
// their own state.
#include <cmath>

#include "DebugLog.h"
#include "Monitor.h"
#include "Player.h"
#include "TKCore.h"
#include "TimestretchedChannel.h"

namespace {

constexpr double kSliderNeutral = 5000.0;
constexpr double kSliderTop = 10000.0;
constexpr double kMaxSpeed = 2.0;
// Above this tempo slider value the stretch factor is pinned (x = 0.02).
constexpr int kTempoSliderTop = 9900;
constexpr double kTempoSliderTopX = 0.02;
// x below this gives the largest factor: every slider above 9750 stretches 20-fold.
constexpr double kMinTempoX = 0.05;
constexpr float kMaxTempoFactor = 20.0f;

bool playsReverse(CMonitor* main) {
    TimeStretchedChannel* tsc = main->getTimeStretchedChannel();
    LoopSound* loop = tsc ? tsc->getLoopSound() : nullptr;
    return loop && loop->isReverse();
}

// The channel's setPitch sets the direction as well (a negative speed plays backward), so a bare
// speed would turn a reversed deck forward again: a deck reversed with SetIsReverse or
// SetFrequencyPitchEx(-x) must stay reversed when the speed changes. The speed goes out with the
// deck's direction; at speed 0 the sign is lost, so the direction is set again after it.
int applySpeed(CMonitor* main, double speed, bool reverse) {
    const float s = static_cast<float>(speed);
    const int r = main->setPitch(reverse ? -s : s);
    if (reverse && s == 0.0f) main->SetReverse(true);
    return r;
}

}  // namespace

int CPlayer::SetFrequencyPitch(double slider) {
    DeckConfig* c = m_pConfig;
    if (slider >= 0.0) {
        c->m_dPitchSlider = slider > kSliderTop ? kSliderTop : slider;
        c->m_dSpeed = slider > kSliderTop ? kMaxSpeed : c->m_dPitchSlider / kSliderNeutral;
    } else {
        c->m_dPitchSlider = 0.0;
        c->m_dSpeed = 0.0;
    }
    CMonitor* main = c->m_pMainOutput;
    if (!main) return TK_ERR_NO_OUTPUT;
    ERRCHECK("SetFrequencyPitch", __FILE__, __LINE__,
             static_cast<FMOD_RESULT>(applySpeed(main, c->m_dSpeed, playsReverse(main))));
    return 1;
}

int CPlayer::SetFrequencyPitchEx(double percent) {
    // Percent of normal speed, signed: 100 forward, -100 backward at normal speed.
    CMonitor* main = m_pConfig->m_pMainOutput;
    const bool reverse = percent < 0.0;
    if (main) main->SetReverse(reverse);
    if (reverse) percent = -percent;
    return SetFrequencyPitch(percent * 50.0);
}

int CPlayer::SetIsReverse(bool reverse) {
    if (CMonitor* main = m_pConfig->m_pMainOutput) main->SetReverse(reverse);
    return 1;
}

int CPlayer::SetTimeStretcher(int slider) {
    DeckConfig* c = m_pConfig;
    if (slider < 0 || slider > static_cast<int>(kSliderTop)) return TK_ERR_BAD_ARGUMENT;
    double x;
    if (slider > kTempoSliderTop) {
        slider = kTempoSliderTop;
        x = kTempoSliderTopX;
    } else {
        x = (kSliderTop - slider) / kSliderNeutral;
    }
    CMonitor* main = c->m_pMainOutput;
    if (!main) return TK_ERR_NO_TIMESTRETCHER;
    c->m_fTempoFactor = x >= kMinTempoX ? static_cast<float>(1.0 / x) : kMaxTempoFactor;
    c->m_iTempoSlider = slider;
    // A silent cue keeps the heard position when the tempo changes (the channel re-seeks while
    // nothing is audible instead of letting the old tempo's backlog play out).
    bool keepPosition = false;
    if (CMonitor* cue = c->m_pCueOutput) {
        float volume = 0.0f;
        cue->getVolume(&volume);
        keepPosition = static_cast<int>(volume * 10000.0f) == 0;
    }
    main->SetTimeStretch(c->m_fTempoFactor, keepPosition);
    return 1;
}

int CPlayer::setVirtualVTMode(double mode) {
    DeckConfig* c = m_pConfig;
    CMonitor* main = c->m_pMainOutput;
    if (!main) return TK_ERR_NO_DECK_OUTPUT;
    // The stored tempo and speed stay as they are, so a later non-zero mode applies them again.
    const bool reverse = playsReverse(main);
    if (mode != 0.0) {
        main->SetTimeStretch(c->m_fTempoFactor, false);
        applySpeed(main, c->m_dSpeed, reverse);
    } else {
        main->SetTimeStretch(1.0f, false);
        applySpeed(main, 1.0, reverse);
    }
    return main->setVirtualVTMode(mode);
}

double CPlayer::getVirtualVTMode() {
    CMonitor* main = m_pConfig->m_pMainOutput;
    return main ? main->getVirtualVTMode() : 0.0;
}

int CPlayer::enableVirtualVinyl(bool on) {
    CMonitor* main = m_pConfig->m_pMainOutput;
    return main ? main->enableVirtualVinyl(on) : TK_ERR_NO_DECK_OUTPUT;
}

int CPlayer::setVirtualVTInertia(double inertia) {
    CMonitor* main = m_pConfig->m_pMainOutput;
    return main ? main->setVirtualVTInertia(inertia) : TK_ERR_NO_DECK_OUTPUT;
}

int CPlayer::setVirtualVelocity(long position, double time) {
    DeckConfig* c = m_pConfig;
    if (c->m_bRecording) return TK_ERR_BAD_ARGUMENT;
    CMonitor* main = c->m_pMainOutput;
    if (!main) return TK_ERR_NO_DECK_OUTPUT;
    if (position < 0) position = 0;
    if (position >= static_cast<long>(c->m_uiLength)) return TK_ERR_BAD_ARGUMENT;
    return main->setVirtualVelocity(position, time);
}

int CPlayer::PlayerMixDown_openFile(char* path, int format, int bitrate) {
    CMonitor* main = m_pConfig->m_pMainOutput;
    return main ? main->PlayerMixDown_openFile(path, format, bitrate) : TK_ERR_NO_DECK_OUTPUT;
}

int CPlayer::PlayerMixDown_start() {
    CMonitor* main = m_pConfig->m_pMainOutput;
    return main ? main->PlayerMixDown_start() : TK_ERR_NO_DECK_OUTPUT;
}

int CPlayer::PlayerMixDown_close() {
    CMonitor* main = m_pConfig->m_pMainOutput;
    return main ? main->PlayerMixDown_close() : TK_ERR_NO_DECK_OUTPUT;
}

int CPlayer::startBeatTracking(int deckIndex, bool on, float minBPM, float maxBPM, int precision) {
    BeatTracker& tracker = getBeatTracker();
    if (tracker.isRunning().load(std::memory_order_acquire) == on) return 1;
    if (!on) {
        tracker.stopTracking();
        return 1;
    }
    CMonitor* main = m_pConfig->m_pMainOutput;
    BeatResultListener* listener = main ? main->getBeatResultListener() : nullptr;
    // The stored name is UTF-16 when the loader was given the unicode flag; both calls are told.
    if (!CTKCore::isWaveDataAccessAllowed(m_pConfig->m_szFileName, m_bUnicodeName)) return TK_ERR_NO_WAVE_ACCESS;
    return tracker.startTracking(deckIndex, m_pConfig->m_szFileName, m_bUnicodeName, minBPM, maxBPM, listener,
                                 precision);
}

float CPlayer::GetBPM() { return 0.0f; }

int CPlayer::SetBufferSize(int /*size*/) { return 1; }

int CPlayer::DefineBeatCallback(void* /*callback*/, int /*deckIndex*/) { return m_pConfig ? 1 : TK_ERR_FAILED; }

int CPlayer::setAGCAttackDelay(unsigned int attack, unsigned int delay) {
    m_uiAttackSamples = attack;
    m_uiDelaySamples = delay;
    return 1;
}
