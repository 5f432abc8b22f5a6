// Deck transport: play and pause, stop, the position, the lengths and the raw waveform read.
//
// Thread safety
// - Java threads only. GetPosition and SetPosition hold "CPlayer::load" and then "position";
//   CalcSongLengthRaw and GetWaveForm take "origstream" alone; Play and Stop take no deck lock
//   (the engine runs Play under its "LoopLock", which serialises it with loops and frame search).
// - The main output and its channel guard their own state; nothing here waits on the mixer.
#include <cstring>

#include "DebugLog.h"
#include "FMODSystem.h"
#include "Monitor.h"
#include "Player.h"
#include "TKCore.h"
#include "TimestretchedChannel.h"

namespace {

// Play's own answer for a deck without both outputs.
constexpr int kPlayNoOutput = -1;

// SetPosition never lands closer to the end than this, so a jump "to the end" still plays.
constexpr int kEndMarginMs = 100;
// How the loader opens a file; the waveform read opens it the same way so the bytes match.
constexpr FMOD_MODE kFileMode =
    FMOD_LOOP_NORMAL | FMOD_2D | FMOD_SOFTWARE | FMOD_CREATESTREAM | FMOD_ACCURATETIME | FMOD_MPEGSEARCH;

// A line-in channel plays the recording sound directly: the channel's own pause is only a render
// flag that its gain unit ignores, so a paused line-in deck would go on sounding. The FMOD channel
// itself is paused instead; resuming goes through CMonitor::Play, which unpauses it.
void pauseLineIn(CMonitor* main) {
    TimeStretchedChannel* tsc = main->getTimeStretchedChannel();
    FMOD::Channel* channel = tsc ? tsc->getFMODChannel() : nullptr;
    if (channel) ERRCHECK("CPlayer::Play", __FILE__, __LINE__, channel->setPaused(true));
}

}  // namespace

int CPlayer::Play(bool on, bool keepPosition) {
    DeckConfig* c = m_pConfig;
    CMonitor* main = c->m_pMainOutput;
    if (c->m_bRecording) {
        if (main) {
            if (on) main->Play(true);
            else pauseLineIn(main);
        }
        c->m_bPlaying = on;
        return 1;
    }
    if (!main || !c->m_pCueOutput) return kPlayNoOutput;
    if (c->m_bPlaying == on && !c->m_bFrameSearching) return 1;

    if (on && c->m_bFrameSearching) {
        // Leaving frame search: the saved loop comes back and play resumes at the fragment.
        c->m_bFrameSearching = false;
        const unsigned int fragment = c->m_uiFrameSearchPosition;
        c->m_uiLoopStart = c->m_uiSavedLoopStart;
        c->m_uiLoopEnd = c->m_uiSavedLoopEnd;
        applyChannelLoop();
        c->m_bLoopOn = c->m_bSavedLoopOn;
        applyChannelLoop();
        if (!keepPosition) SetPosition(static_cast<int>(fragment), true);
        if (!c->m_bPlaying) main->Play(true);
        c->m_bPlaying = true;
        return 1;
    }

    // Pausing a frame-searching deck leaves frame search on: the fragment waits for the next Play.
    main->Play(false);
    main->Play(on);
    c->m_bPlaying = on;
    return 1;
}

int CPlayer::Stop() {
    const int r = Play(false, true);
    if (r != 1) return r;
    return SetPosition(0, true);
}

bool CPlayer::IsPlaying() { return m_pConfig->m_bPlaying; }

int CPlayer::GetPosition() {
    DeckConfig* c = m_pConfig;
    if (c->m_bRecording) return 0;
    CRITSECT_SCOPE(m_csLoad);
    CRITSECT_SCOPE(m_csPosition);
    if (c->m_bFrameSearching) return static_cast<int>(c->m_uiFrameSearchPosition);
    CMonitor* main = c->m_pMainOutput;
    if (!main) return 0;
    const bool interpolate = main->getVirtualVTMode() != 0.0;
    unsigned int position = 0;
    if (main->getPosition(&position, FMOD_TIMEUNIT_MS, interpolate) != FMOD_OK) position = 0;
    c->m_iLastPosition = static_cast<int>(position);
    return static_cast<int>(position);
}

int CPlayer::SetPosition(int position, bool /*unused*/) {
    DeckConfig* c = m_pConfig;
    CRITSECT_SCOPE(m_csLoad);
    if (c->m_bRecording) return TK_ERR_LINE_IN;
    if (c->m_bFrameSearching) {
        // The fragment follows the new position. A negative position would wrap the unsigned
        // fragment start to the far end of the range; it starts at 0 instead, as play does.
        const unsigned int start = position > 0 ? static_cast<unsigned int>(position) : 0u;
        c->m_uiFrameSearchPosition = start;
        c->m_uiLoopStart = start;
        c->m_uiLoopEnd = start + c->m_uiFrameSearchLength;
        applyChannelLoop();
    }
    CMonitor* main = c->m_pMainOutput;
    if (main) {
        CRITSECT_SCOPE(m_csPosition);
        // Signed on purpose: a sound shorter than the margin gives a negative bound, then 0.
        int clamped = position;
        const int last = static_cast<int>(c->m_uiLength) - kEndMarginMs;
        if (clamped > last) clamped = last;
        if (clamped < 0) clamped = 0;
        debugMsg("SetPosition(%d)\n", clamped);
        // Outside frame search the cue must not go on playing audio from before the jump.
        if (!c->m_bFrameSearching) main->ClearMonitoring();
        ERRCHECK("SetPosition", __FILE__, __LINE__,
                 static_cast<FMOD_RESULT>(main->setPosition(static_cast<unsigned int>(clamped), FMOD_TIMEUNIT_MS)));
        c->m_iLastPosition = -1;
    }
    return 1;
}

int CPlayer::GetLength() {
    if (m_pConfig->m_bRecording) return TK_ERR_LINE_IN;
    return static_cast<int>(m_pConfig->m_uiLength);
}

int CPlayer::CalcSongLengthRaw(unsigned int* out) {
    DeckConfig* c = m_pConfig;
    if (!c->m_pMainOutput) return TK_ERR_NO_OUTPUT;
    if (!out) return 0;
    *out = 0;
    CRITSECT_SCOPE(m_csOrigStream);
    if (!c->m_pSound) return 0;
    const FMOD_RESULT r = c->m_pSound->getLength(out, FMOD_TIMEUNIT_PCMBYTES);
    if (r == FMOD_ERR_CDDA_NODISC) return TK_ERR_NO_DISC;
    if (r != FMOD_OK) {
        ERRCHECK("CalcSongLengthRaw", __FILE__, __LINE__, r);
        return 0;
    }
    return 1;
}

int CPlayer::GetWaveForm(unsigned char* buffer, unsigned int length) {
    DeckConfig* c = m_pConfig;
    if (!c->m_pMainOutput || c->m_bPlaying || !buffer) return 0;
    CRITSECT_SCOPE(m_csOrigStream);
    if (!c->m_pSound) return 0;
    // The deck's own sound is the one the prefetch worker decodes: seeking and reading it here
    // would move the cursor the worker relies on and fill its ring with the wrong audio. A file
    // is therefore read through a handle of its own. A line-in sound has no prefetch and is read
    // directly; a CD track cannot be reopened without its drive and is refused.
    if (c->m_pCDStream) return 0;
    FMOD::Sound* sound = c->m_pSound;
    FMOD::Sound* own = nullptr;
    if (!c->m_bRecording) {
        if (!CTKCore::g_SilentSystem) return 0;
        FMOD_CREATESOUNDEXINFO info;
        std::memset(&info, 0, sizeof info);
        info.cbsize = static_cast<int>(sizeof info);
        const FMOD_MODE mode = kFileMode | (m_bUnicodeName ? FMOD_UNICODE : 0);
        const FMOD_RESULT r = CTKCore::g_SilentSystem->createStream(c->m_szFileName, mode, &info, &own);
        if (r != FMOD_OK || !own) {
            ERRCHECK("GetWaveForm", __FILE__, __LINE__, r);
            if (own) own->release();
            return 0;
        }
        sound = own;
    }
    ERRCHECK("GetWaveForm", __FILE__, __LINE__, sound->seekData(0));
    unsigned int read = 0;
    const FMOD_RESULT r = sound->readData(buffer, length, &read);
    ERRCHECK("GetWaveForm", __FILE__, __LINE__, sound->seekData(0));
    if (own) ERRCHECK("GetWaveForm", __FILE__, __LINE__, own->release());
    if (r != FMOD_OK) {
        ERRCHECK("GetWaveForm", __FILE__, __LINE__, r);
        return TK_ERR_FAILED;
    }
    return 1;
}
