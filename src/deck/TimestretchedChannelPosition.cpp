// Position report, seeks and tempo changes of the time-stretched channel.
//
// The reported position is the heard position (the source frame at the end of the last rendered
// block), advanced between blocks by the wall clock at speed / tempo factor. The interpolation
// state (base ms, accumulated ms) is only touched under the channel lock: both Java threads and
// the mixer thread's vinyl step ask for the position. The mixer thread only tries the lock and
// takes the last report when a Java thread holds it.
#include <SoundTouch.h>

#include "MixerThread.h"
#include "TimestretchedChannel.h"
#include "StatusCodes.h"

namespace {
constexpr int kBadUnit = FMOD_ERR_INVALID_PARAM;   // 37
}  // namespace

int64_t TimeStretchedChannel::clockNowMs() const {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    // Single precision, as the report has always computed it; the clock base keeps the value
    // small enough for float to hold milliseconds for hours.
    const float ms = static_cast<float>(tv.tv_sec - m_lClockBase.load(std::memory_order_acquire)) * 1000.0f +
                     static_cast<float>(tv.tv_usec) * 0.001f;
    return static_cast<int64_t>(ms);
}

int TimeStretchedChannel::getPosition(unsigned int* position, unsigned int unit, bool interpolate) {
    if (!m_pLoopSound) return TK_CHANNEL_NONE;
    if (!position) return kBadUnit;
    if (unit == FMOD_TIMEUNIT_PCM) {
        *position = m_uiHeardPosition.load(std::memory_order_acquire);
        return 0;
    }
    if (unit != FMOD_TIMEUNIT_MS) return kBadUnit;

    // The vinyl step asks from the mixer thread, which never waits for the channel lock: when a
    // control thread holds it, the step gets the previous report (at most one block old).
    const bool wait = !pw::rt::onMixerThread();
    const unsigned int ms = m_pLoopSound->ConvertPCM2MS(m_uiHeardPosition.load(std::memory_order_acquire));
    int result = 0;
    unsigned int report = ms;
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
        if (!m_bPositionValid.load(std::memory_order_acquire)) {
            m_lLastClockMs.store(-1, std::memory_order_release);
        } else {
            const int64_t now = clockNowMs();
            const float factor = m_fTempoFactor.load(std::memory_order_acquire);
            CRITSECT_TRY_SCOPE(lock, m_channelLock, wait);
            if (!lock.owns()) {
                *position = m_uiLastReportMs.load(std::memory_order_acquire);
                return 0;
            }
            const int64_t last = m_lLastClockMs.load(std::memory_order_acquire);
            if (paused || m_uiBaseMs != ms || last < 0 || m_bBlockDone.exchange(false, std::memory_order_acq_rel)) {
                m_uiBaseMs = ms;
                m_lLastClockMs.store(now, std::memory_order_release);
                m_fAccumulatedMs = 0.0f;
                m_bBlockDone.store(false, std::memory_order_release);
            } else {
                float delta = now > last ? static_cast<float>(now - last) : 0.0f;
                delta = delta / factor;
                delta = delta * m_fSpeed.load(std::memory_order_acquire);
                if (delta > 0.0f) {
                    if (m_pLoopSound->isReverse())
                        m_fAccumulatedMs -= delta;
                    else
                        m_fAccumulatedMs += delta;
                }
                const float sum = static_cast<float>(m_uiBaseMs) + m_fAccumulatedMs;
                report = sum < 0.0f ? 0u : static_cast<unsigned int>(sum);
                m_lLastClockMs.store(now, std::memory_order_release);
            }
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
    m_positionQueue.clear();
    m_uiConsumedFrames = 0;
    m_bPositionValid.store(false, std::memory_order_release);
    return 1;
}

int TimeStretchedChannel::setPosition(unsigned int position, unsigned int unit) {
    if (!m_pLoopSound) return TK_CHANNEL_NONE;
    if (unit != FMOD_TIMEUNIT_MS && unit != FMOD_TIMEUNIT_PCM) return kBadUnit;

    // The whole seek is one step for the render thread: while it runs, render steps play silence
    // (they only try the guard), so no block is rendered from the old position into the emptied
    // ring, and the stretcher is cleared while nothing uses it.
    std::lock_guard<std::mutex> render(m_renderGuard);
    m_pStretcher->clear();
    {
        CRITSECT_SCOPE(m_positionLock);
        m_positionQueue.clear();
        m_uiConsumedFrames = 0;
        m_bPositionValid.store(false, std::memory_order_release);
    }
    const unsigned int heard = unit == FMOD_TIMEUNIT_MS ? m_pLoopSound->ConvertMS2PCM(position) : position;
    m_uiHeardPosition.store(heard, std::memory_order_release);
    if (auto* ring = m_pOutputBuffer.load(std::memory_order_acquire)) ring->reset(position);
    const int result =
        unit == FMOD_TIMEUNIT_MS ? m_pLoopSound->setPositionMs(position) : m_pLoopSound->setPositionPCM(position);
    // The report shows the frame asked for until a block plays; the walk starts where the
    // prefetch lands (whole words), or a reverse read from just below it would never count.
    m_corrector.reset(static_cast<double>(m_pLoopSound->landingFrame(heard)));
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
