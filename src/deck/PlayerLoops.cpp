// Deck loops, frame search and playback snippets.
//
// The deck keeps two loops: the live window and switch that the channel plays, and a saved copy
// that leaving frame search restores. Frame search borrows the live loop for its fragment (the
// window [fragment, fragment + frame-search length], looping), so SetLoop and SetLoopPoints with
// save set are the only way the host's own loop survives a frame search.
//
// Thread safety: Java threads only. The engine runs IsLooping, SetLoop, SetLoopPoints and the
// frame-search steps under its "LoopLock", which serialises loop changes of all decks; the steps
// take "CPlayer::load" and "position" briefly through GetPosition. The channel guards its own
// loop source.
#include "DebugLog.h"
#include "Monitor.h"
#include "Player.h"
#include "StatusCodes.h"

namespace {

// The saved copy of the live loop, which leaving frame search restores.
void saveLoop(DeckConfig* c) {
    c->m_uiSavedLoopStart = c->m_uiLoopStart;
    c->m_uiSavedLoopEnd = c->m_uiLoopEnd;
    c->m_bSavedLoopOn = c->m_bLoopOn;
}

}  // namespace

void CPlayer::applyChannelLoop() {
    DeckConfig* c = m_pConfig;
    CMonitor* main = c->m_pMainOutput;
    if (!main) return;
    // An empty or inverted window means the whole sound.
    if (c->m_uiLoopStart >= c->m_uiLoopEnd) {
        c->m_uiLoopStart = 0;
        c->m_uiLoopEnd = c->m_uiLength;
    }
    // The channel's end is the first frame not played, as the deck's is: a loop from s to e lasts
    // exactly e - s, so a beat loop stays in step with the other deck lap after lap. A failure is
    // reported and the count is set all the same, so the switch always reaches the channel.
    int r;
    if (c->m_bLoopOn)
        r = main->setLoopPoints(c->m_uiLoopStart, FMOD_TIMEUNIT_MS, c->m_uiLoopEnd, FMOD_TIMEUNIT_MS);
    else
        r = main->setLoopPoints(0, FMOD_TIMEUNIT_MS, c->m_uiLength, FMOD_TIMEUNIT_MS);
    ERRCHECK("CPlayer::applyChannelLoop", __FILE__, __LINE__, static_cast<FMOD_RESULT>(r));
    ERRCHECK("CPlayer::applyChannelLoop", __FILE__, __LINE__,
             static_cast<FMOD_RESULT>(main->setLoopCount(c->m_bLoopOn ? -1 : 0)));
}

int CPlayer::SetLoop(bool on, bool /*unused*/, bool save) {
    DeckConfig* c = m_pConfig;
    c->m_bLoopOn = on;
    if (save) saveLoop(c);
    applyChannelLoop();
    return 1;
}

int CPlayer::SetLoopPoints(int start, int end, bool save) {
    DeckConfig* c = m_pConfig;
    c->m_uiLoopStart = static_cast<unsigned int>(start);
    c->m_uiLoopEnd = static_cast<unsigned int>(end);
    if (save) saveLoop(c);
    applyChannelLoop();
    return 1;
}

bool CPlayer::IsLooping() { return m_pConfig->m_bLoopOn; }

namespace {

// Where the next fragment starts. Forward steps that would run into the last step of the sound
// turn round and step back instead; no step goes below 0. Signed 32-bit, as the host counts.
unsigned int nextFragment(unsigned int base, unsigned int step, unsigned int length, bool forward) {
    const unsigned int back = base > step ? base - step : 0u;
    if (!forward) return back;
    const int ahead = static_cast<int>(base + step);
    if (ahead >= static_cast<int>(length) - static_cast<int>(step)) return back;
    return base + step;
}

// One frame-search step: the fragment moves, becomes the live loop window and loops. The saved
// loop is left alone, so leaving frame search (Play(true)) can restore it.
int frameSearchStep(CPlayer& deck, unsigned int step, bool forward) {
    DeckConfig* c = deck.GetConfig();
    const int current = deck.GetPosition();
    const unsigned int base = c->m_bFrameSearching ? c->m_uiFrameSearchPosition : static_cast<unsigned int>(current);
    const unsigned int position = nextFragment(base, step, c->m_uiLength, forward);
    debugMsg("pos: %d stepsize: %d FrameSearchLength: %d\n", static_cast<int>(position), static_cast<int>(step),
             static_cast<int>(c->m_uiFrameSearchLength));
    c->m_uiFrameSearchPosition = position;
    deck.SetLoopPoints(static_cast<int>(position), static_cast<int>(position + c->m_uiFrameSearchLength), false);
    deck.SetLoop(true, false, false);
    c->m_bFrameSearching = true;
    return 1;
}

}  // namespace

int CPlayer::FrameSearchForward(unsigned int step) { return frameSearchStep(*this, step, true); }

int CPlayer::FrameSearchBackward(unsigned int step) { return frameSearchStep(*this, step, false); }

int CPlayer::SetFrameSearchLength(unsigned int length) {
    if (m_pConfig->m_bRecording) return TK_ERR_LINE_IN;
    debugMsg("SetFrameSearchLength: %d\n", static_cast<int>(length));
    // Takes effect at the next step or position change.
    m_pConfig->m_uiFrameSearchLength = length;
    return 1;
}

int CPlayer::AddPlaybackSnippet(unsigned int start, unsigned int end) {
    CMonitor* main = m_pConfig->m_pMainOutput;
    if (!main) return TK_ERR_FAILED;
    return main->addPlaybackSnippet(start, end);
}
