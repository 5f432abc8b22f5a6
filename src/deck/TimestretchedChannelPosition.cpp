// Position report, seeks and tempo changes of the time-stretched channel.
//
// The reported position is the audio the mixer is taking from the deck: every rendered block is
// queued with the source frame at which it ends, and leaves the queue when the mixer takes it
// out of the output ring, so the blocks rendered ahead into the ring are not counted yet. The
// heard position is the end of the block taken last. The interpolated report follows the
// mixer's pace through the ring: a line at the rate the mixer plays the ring, smoothed over its
// reads (it reads in bursts, as the sound server asks), placed where a block's first frame
// really plays, and mapped to the source through the blocks taken and those still waiting. The
// ring frame a report stands for never goes back, so while the deck plays forward at a steady
// tempo the report never steps back, whatever the rhythm in which the ring is refilled or read.
//
// Threads: Java threads and the mixer thread's vinyl step ask for the position; the mixer
// thread only tries the locks and takes the last report when one is busy.
#include <SoundTouch.h>

#include <algorithm>
#include <cmath>

#include "MixerThread.h"
#include "TimestretchedChannel.h"
#include "StatusCodes.h"

using com_tarvenkolm_outputbuffering::ITKOutputBuffer;

namespace {
constexpr int kBadUnit = FMOD_ERR_INVALID_PARAM;   // 37
// A block whose source span is this small stood still: the source gave silence.
constexpr double kStandstillFrames = 16.0;
}  // namespace

void TimeStretchedChannel::calculateNewPosition(unsigned int frames) {
    if (!m_bPlaying.load(std::memory_order_acquire)) return;
    CRITSECT_SCOPE(m_positionLock);
    // Without the output ring the mixer takes the block just queued, now.
    accountLocked(m_uiQueueRingStart + frames, ITKOutputBuffer::clockNs());
}

void TimeStretchedChannel::accountLocked(uint64_t taken, int64_t atNs) {
    size_t done = 0;
    uint64_t start = m_uiQueueRingStart;
    while (done < m_positionQueue.size() && start + m_positionQueue[done].frames <= taken) {
        const PosList& block = m_positionQueue[done];
        const unsigned int heard = m_uiHeardPosition.load(std::memory_order_relaxed);
        unsigned int position = block.position;
        // A block that stood still after a seek (the silence while the prefetch fetches) ends on
        // the frame the prefetch lands on, a few frames before the one asked: the report stays
        // on the one asked until play moves on.
        if (m_bHoldAtAsked) {
            if (position == m_uiSeekLanding)
                position = heard;
            else
                m_bHoldAtAsked = false;
        }
        m_taken[m_uiTakenNext] = TakenBlock{start, heard, position, block.frames};
        m_uiTakenNext = (m_uiTakenNext + 1) % kTakenHistory;
        if (m_uiTakenCount < kTakenHistory) ++m_uiTakenCount;
        m_uiHeardPosition.store(position, std::memory_order_release);
        start += block.frames;
        ++done;
    }
    if (done == 0) return;
    m_positionQueue.erase(m_positionQueue.begin(), m_positionQueue.begin() + static_cast<std::ptrdiff_t>(done));
    m_uiQueueRingStart = start;
    m_bPositionValid.store(true, std::memory_order_release);
    // The mixer reads one block at a time: the last read began a block before the count.
    observeTake(static_cast<double>(taken) - static_cast<double>(m_uiBlockFrames), atNs);
}

void TimeStretchedChannel::accountTakenLocked() {
    auto* ring = m_pOutputBuffer.load(std::memory_order_acquire);
    if (!ring || ring->isBypassed()) return;
    ITKOutputBuffer::Taken taken{};
    if (!ring->getTaken(&taken)) return;
    // A count of the ring from before the last seek's reset holds none of the blocks queued
    // since (they are counted from the reset on).
    if (taken.epoch < m_uiRingEpoch) return;
    m_uiRingEpoch = taken.epoch;
    accountLocked(taken.frames, taken.atNs);
}

void TimeStretchedChannel::accountTaken(bool wait) {
    CRITSECT_TRY_SCOPE(lock, m_positionLock, wait);
    if (lock.owns()) accountTakenLocked();
}

int64_t TimeStretchedChannel::takeLeadNs(double ringRate) {
    if (m_iMixRate <= 0 || !(ringRate > 0.0)) return 0;
    if (ringRate == m_dLeadRingRate) return m_lLeadNs;
    // A block of the ring lasts u of the mixer's blocks; block k begins frac(k u) into one of
    // them. At u = 1 (the card's rate, normal speed) that is always the start.
    const double u = static_cast<double>(m_iMixRate) / ringRate;
    double sum = 0.0;
    constexpr int kBlocks = 64;
    for (int k = 0; k < kBlocks; ++k) {
        double f = k * u - std::floor(k * u);
        if (f > 1.0 - 1e-6) f = 0.0;
        sum += f;
    }
    const double mixerBlockNs = 1e9 * static_cast<double>(m_uiBlockFrames) / m_iMixRate;
    m_dLeadRingRate = ringRate;
    m_lLeadNs = static_cast<int64_t>(sum / kBlocks * mixerBlockNs);
    return m_lLeadNs;
}

void TimeStretchedChannel::observeTake(double ringFrame, int64_t atNs) {
    const double ringRate =
        static_cast<double>(m_fSpeed.load(std::memory_order_acquire)) * static_cast<double>(m_fFrequency);
    if (!(ringRate > 0.0) || atNs <= 0) {
        m_bLineValid = false;
        return;
    }
    const int64_t at = atNs + takeLeadNs(ringRate);
    if (m_bLineValid) {
        const double predicted = m_dLineFrames + ringRate * static_cast<double>(at - m_lLineNs) * 1e-9;
        const double error = ringFrame - predicted;
        // The mixer reads in bursts as the sound server asks for data: its pace is the average.
        // One late read (the mixer thread held up while the server's buffer plays on) moves it
        // by at most a block's share; a far miss is a break (a dropout, a pause) and starts the
        // pace again.
        constexpr double kSmoothing = 1.0 / 16.0;
        const double block = static_cast<double>(m_uiBlockFrames);
        if (std::fabs(error) <= 4.0 * block) {
            m_dLineFrames = predicted + kSmoothing * std::min(std::max(error, -block), block);
            m_lLineNs = at;
            return;
        }
    }
    m_bLineValid = true;
    m_dLineFrames = ringFrame;
    m_lLineNs = at;
}

bool TimeStretchedChannel::sourceNowLocked(double* frame) {
    if (!m_bLineValid || m_uiTakenCount == 0) return false;
    const double ringRate =
        static_cast<double>(m_fSpeed.load(std::memory_order_acquire)) * static_cast<double>(m_fFrequency);
    double x = m_dLineFrames + ringRate * static_cast<double>(ITKOutputBuffer::clockNs() - m_lLineNs) * 1e-9;
    // Never beyond what has been rendered, never before the oldest block kept, never back.
    double rendered = static_cast<double>(m_uiQueueRingStart);
    for (const PosList& block : m_positionQueue) rendered += block.frames;
    const TakenBlock& oldest = m_taken[(m_uiTakenNext + kTakenHistory - m_uiTakenCount) % kTakenHistory];
    x = std::min(x, rendered);
    x = std::max(x, static_cast<double>(oldest.ringStart));
    x = std::max(x, m_dReportedFrames);
    m_dReportedFrames = x;

    // The block that holds ring frame x: a taken one, or one still waiting in the ring.
    TakenBlock block{};
    bool found = false;
    for (size_t i = 0; i < m_uiTakenCount && !found; ++i) {
        const TakenBlock& t = m_taken[(m_uiTakenNext + kTakenHistory - 1 - i) % kTakenHistory];
        if (x >= static_cast<double>(t.ringStart)) {
            block = t;
            found = true;
        }
    }
    uint64_t start = m_uiQueueRingStart;
    unsigned int from = m_uiHeardPosition.load(std::memory_order_relaxed);
    bool hold = m_bHoldAtAsked;
    for (const PosList& q : m_positionQueue) {
        if (x < static_cast<double>(start)) break;
        hold = hold && q.position == m_uiSeekLanding;
        const unsigned int to = hold ? from : q.position;
        block = TakenBlock{start, from, to, q.frames};
        found = true;
        from = to;
        start += q.frames;
    }
    if (!found || block.frames == 0) return false;
    const double frames = static_cast<double>(block.frames);
    const double progress = std::min(std::max(0.0, x - static_cast<double>(block.ringStart)), frames);
    const double factor = static_cast<double>(m_fTempoFactor.load(std::memory_order_acquire));
    const bool reverse = m_pLoopSound->isReverse();
    const double dir = reverse ? -1.0 : 1.0;
    const double begin = block.from, end = block.to;
    const double span = end - begin;
    const double expected = frames / factor;
    // Source frames a block may stand for beyond its nominal share: the stretcher's backlog
    // varies from block to block by up to a sequence.
    const double slack = expected + 2.0;
    double at = 0.0;
    TimeStretchCorrector::Jump jump{};
    if (dir * span >= 0.0 && dir * span <= 2.0 * expected + 2.0) {
        at = begin + span * progress / frames;
    } else if (std::fabs(span) <= kStandstillFrames) {
        // The source stood still (the silence of a far jump, while the prefetch fetches): the
        // block ends where it began, on the frame asked, give or take the prefetch's word.
        at = begin;
    } else if (m_corrector.findJump(reverse ? begin - slack : begin - 2.0, reverse ? begin + 2.0 : begin + slack,
                                    reverse ? end - 2.0 : end - slack, reverse ? end + slack : end + 2.0,
                                    !pw::rt::onMixerThread(), &jump)) {
        // A jump inside the block (a loop's wrap): the block plays on from where it began up to
        // the frame the jump left, then from the frame it landed on, each part its share of the
        // block. The report wraps when the mixer takes the wrap.
        const double before = std::max(0.0, dir * (jump.left - begin));
        const double after = std::max(0.0, dir * (end - jump.landed));
        const double walked = (before + after) * progress / frames;
        at = walked < before ? begin + dir * walked : jump.landed + dir * (walked - before);
    } else {
        // A jump the walk did not keep: on from where the block began; the next block lands
        // after the jump.
        at = begin + dir * progress / factor;
    }
    *frame = at;
    return true;
}

int TimeStretchedChannel::getPosition(unsigned int* position, unsigned int unit, bool interpolate) {
    if (!m_pLoopSound) return TK_CHANNEL_NONE;
    if (!position) return kBadUnit;
    // The vinyl step asks from the mixer thread, which never waits for a lock: when a control
    // thread holds one, the step gets the previous report (at most one block old).
    const bool wait = !pw::rt::onMixerThread();
    accountTaken(wait);
    if (unit == FMOD_TIMEUNIT_PCM) {
        *position = m_uiHeardPosition.load(std::memory_order_acquire);
        return 0;
    }
    if (unit != FMOD_TIMEUNIT_MS) return kBadUnit;

    const unsigned int heard = m_uiHeardPosition.load(std::memory_order_acquire);
    int result = 0;
    unsigned int report = m_pLoopSound->ConvertPCM2MS(heard);
    if (interpolate) {
        bool paused = true;
        {
            CRITSECT_TRY_SCOPE(lock, m_channelLock, wait);
            if (!lock.owns()) {
                *position = m_uiLastReportMs.load(std::memory_order_acquire);
                return 0;
            }
            if (m_pChannel) {
                bool ignored = false;
                result = m_pChannel->getPaused(&ignored);
                paused = !m_bPlaying.load(std::memory_order_acquire);
            } else {
                result = TK_CHANNEL_NONE;
            }
        }
        if (!paused && m_bPositionValid.load(std::memory_order_acquire)) {
            CRITSECT_TRY_SCOPE(lock, m_positionLock, wait);
            if (!lock.owns()) {
                *position = m_uiLastReportMs.load(std::memory_order_acquire);
                return 0;
            }
            double frame = 0.0;
            if (sourceNowLocked(&frame))
                report = m_pLoopSound->ConvertPCM2MS(frame <= 0.0 ? 0u : static_cast<unsigned int>(frame));
        }
    }
    // The length read once at construction: asking the sound goes through its decoder's object.
    if (m_bLengthKnown && report > m_uiLengthMs) report = m_uiLengthMs;
    m_uiLastReportMs.store(report, std::memory_order_release);
    *position = report;
    return result;
}

unsigned int TimeStretchedChannel::GetPositionVinylScratch() {
    unsigned int ms = 0;
    getPosition(&ms, FMOD_TIMEUNIT_MS, true);
    return ms;
}

unsigned int TimeStretchedChannel::getPositionRawMs() {
    if (!m_pLoopSound) return 0;
    return m_pLoopSound->ConvertPCM2MS(m_pLoopSound->getPositionPCM());
}

int TimeStretchedChannel::flushBuffers() {
    // Waits out a render step in progress: the stretcher is never cleared under a running step.
    std::lock_guard<std::mutex> render(m_renderGuard);
    if (m_pStretcher) m_pStretcher->clear();
    CRITSECT_SCOPE(m_positionLock);
    accountTakenLocked();
    // The blocks still in the ring leave the queue: the next one queued is stored after them.
    for (const PosList& block : m_positionQueue) m_uiQueueRingStart += block.frames;
    m_positionQueue.clear();
    m_bPositionValid.store(false, std::memory_order_release);
    return 1;
}

// The ring about to be emptied holds audio the mixer never hears: the fade after the jump must
// start from the frame it took last, in the source's scale (the output carries gain and pan).
void TimeStretchedChannel::handHeardFrameToSource(com_tarvenkolm_outputbuffering::ITKOutputBuffer& ring) {
    float heard[2] = {0.0f, 0.0f};
    ring.getLastTaken(&heard[0], &heard[1]);
    const float pan = m_fPan.load(std::memory_order_acquire);
    const float gain = m_fGain.load(std::memory_order_acquire);
    const float gains[2] = {gain * std::min(1.0f, std::max(0.0f, 1.0f - pan)),
                            gain * std::min(1.0f, std::max(0.0f, 1.0f + pan))};
    for (int c = 0; c < 2; ++c) heard[c] = gains[c] > 1e-6f ? heard[c] / gains[c] : 0.0f;
    m_pLoopSound->setHeardFrame(heard[0], heard[1]);
}

int TimeStretchedChannel::setPosition(unsigned int position, unsigned int unit) {
    if (!m_pLoopSound) return TK_CHANNEL_NONE;
    if (unit != FMOD_TIMEUNIT_MS && unit != FMOD_TIMEUNIT_PCM) return kBadUnit;
    const unsigned int heard = unit == FMOD_TIMEUNIT_MS ? m_pLoopSound->ConvertMS2PCM(position) : position;
    const int result = applySeek(position, unit, heard);
    // A jump within what the prefetch holds is heard at the mixer's next take: the emptied ring
    // is filled now, not at its worker's next wake-up (a take before it played a block of
    // silence: one jump in five at 1024 frames, one in two at 256). Beyond the prefetch the
    // worker fills it as the new place arrives, or the ring would hold silence ahead of it.
    auto* ring = m_pOutputBuffer.load(std::memory_order_acquire);
    if (ring && !ring->isBypassed() && m_pLoopSound->prefetchHolds(heard)) ring->fillNow();
    return result;
}

int TimeStretchedChannel::applySeek(unsigned int position, unsigned int unit, unsigned int heard) {
    // The whole seek is one step for the render thread: while it runs, render steps play silence
    // (they only try the guard), so no block is rendered from the old position into the emptied
    // ring, and the stretcher is cleared while nothing uses it.
    std::lock_guard<std::mutex> render(m_renderGuard);
    m_pStretcher->clear();
    // The walk starts where the prefetch lands (whole words), or a reverse read from just below
    // it would never count.
    const unsigned int landing = m_pLoopSound->landingFrame(heard);
    {
        CRITSECT_SCOPE(m_positionLock);
        m_positionQueue.clear();
        m_bPositionValid.store(false, std::memory_order_release);
        m_uiHeardPosition.store(heard, std::memory_order_release);
        // The ring starts again at its frame 0 (reset below), and so does what it stands for.
        m_uiQueueRingStart = 0;
        m_uiTakenCount = 0;
        m_bLineValid = false;
        m_dReportedFrames = 0.0;
        m_uiSeekLanding = landing;
        m_bHoldAtAsked = true;
    }
    m_uiLastQueued = heard;
    // A new epoch of the ring's count: what the mixer still takes of the old place counts for
    // nothing.
    if (auto* ring = m_pOutputBuffer.load(std::memory_order_acquire)) {
        ring->reset(position);
        // The fade into the new place starts from the frame the mixer takes last before it, which
        // the next render step reads: a take that meets the emptied ring first plays silence,
        // and a fade out from the old audio after it would click.
        if (!ring->isBypassed()) m_bHandHeardFrame.store(true, std::memory_order_release);
    }
    const int result =
        unit == FMOD_TIMEUNIT_MS ? m_pLoopSound->setPositionMs(position) : m_pLoopSound->setPositionPCM(position);
    m_corrector.reset(static_cast<double>(landing));
    return result;
}

void TimeStretchedChannel::setTimeStretch(float factor, bool resync) {
    bool paused = true;
    float volume = 1.0f;
    {
        CRITSECT_SCOPE(m_channelLock);
        bool ignored = false;
        if (!m_pChannel || m_pChannel->getPaused(&ignored) != FMOD_OK) {
            m_fTempoFactor.store(factor, std::memory_order_release);
            return;
        }
        paused = !m_bPlaying.load(std::memory_order_acquire);
    }
    {
        CRITSECT_SCOPE(m_channelLock);
        if (!m_pChannel || m_pChannel->getVolume(&volume) != FMOD_OK) {
            m_fTempoFactor.store(factor, std::memory_order_release);
            return;
        }
    }
    // Audible playback keeps the stretcher's backlog and the pre-rendered ring: the new tempo
    // reaches the output with the blocks rendered from now on.
    if ((!paused && volume != 0.0f) || factor == m_fTempoFactor.load(std::memory_order_acquire) || !resync) {
        m_fTempoFactor.store(factor, std::memory_order_release);
        return;
    }
    unsigned int p = 0;
    if (getPosition(&p, FMOD_TIMEUNIT_MS, true) == 0) setPosition(p, FMOD_TIMEUNIT_MS);
    m_fTempoFactor.store(factor, std::memory_order_release);
}
