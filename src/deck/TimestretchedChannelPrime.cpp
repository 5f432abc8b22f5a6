// Priming of the time-stretched channel's stretcher at construction.
//
// The stretcher keeps its input and output in sample queues that grow (reallocate) when a call
// needs more room than they have, and never shrink (clear() keeps their storage). How much room
// a render step needs depends on the tempo: the input holds what one sequence needs plus one
// source read, and the output holds what the input beyond one sequence stretches to, which at
// the slowest tempo is twenty times as much. A tempo change on the mixer thread (direct
// rendering) must not be where the queues grow, so the constructor grows them once for the worst
// case: it runs the largest input backlog plus two reads through at the slowest tempo, then
// empties the stretcher.
//
// Tempos outside the deck's range (the tempo slider gives factors 0.5 to 20) may still grow the
// queues once; the deck never asks for them.
#include <SoundTouch.h>

#include <algorithm>
#include <vector>

#include "TimestretchedChannel.h"

namespace {
// Stretcher tempos (source duration per output duration) at the ends of the deck's range.
constexpr double kSlowestTempo = 1.0 / 20.0;
constexpr double kFastestTempo = 2.0;
// Tempos at which the sequence need is asked: it is not monotonic (the automatic sequence
// shortens as the tempo rises while the skip per sequence grows).
constexpr double kProbeTempos[] = {kSlowestTempo, 0.25, 0.5, 0.75, 1.0, 1.25, 1.5, kFastestTempo};
// Source reads beyond the backlog that the priming runs through: a render step stops reading as
// soon as the stretcher holds a block, so one read past the backlog is the most it ever adds.
// Two leave room for the read that crosses a tempo change.
constexpr unsigned int kPrimeReads = 2;
}  // namespace

void TimeStretchedChannel::primeStretcher() {
    if (!m_pStretcher) return;
    // The largest backlog a step can leave in the input at any tempo: the sequence need, which
    // the stretcher reports as its initial latency.
    unsigned int need = 0;
    for (double tempo : kProbeTempos) {
        m_pStretcher->setTempo(tempo);
        const int latency = m_pStretcher->getSetting(SETTING_INITIAL_LATENCY);
        if (latency > 0) need = std::max(need, static_cast<unsigned int>(latency));
    }
    const unsigned int frames = need + kPrimeReads * m_uiBlockFrames;
    const std::vector<float> silence(static_cast<size_t>(frames) * 2, 0.0f);
    // The quick seek only shortens the search for the best overlap: the queues grow the same,
    // at an eighth of the cost.
    const int quickSeek = m_pStretcher->getSetting(SETTING_USE_QUICKSEEK);
    m_pStretcher->setSetting(SETTING_USE_QUICKSEEK, 1);
    m_pStretcher->setTempo(kSlowestTempo);
    m_pStretcher->putSamples(silence.data(), frames);
    m_pStretcher->clear();
    m_pStretcher->setSetting(SETTING_USE_QUICKSEEK, quickSeek);
    m_pStretcher->setTempo(1.0);
}
