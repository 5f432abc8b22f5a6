// Speed (the turntable: tempo and pitch together, as the FMOD channel's frequency), direction,
// the vinyl controller's speed hook and the scratch low-pass of the time-stretched channel.
//
// Thread safety: every operation here takes the channel lock alone (the ...Locked variants expect
// it held). SetFrequencyHighResPitch is called by the vinyl step with "VTRunner" held, which
// comes before the channel lock; on the mixer thread it only tries the channel lock and parks
// the speed for the next callback when a control thread holds it.
#include <cmath>

#include "DebugLog.h"
#include "MixerThread.h"
#include "TimestretchedChannel.h"
#include "StatusCodes.h"

namespace {
// Low-pass cutoff while scratching: 22 kHz at rest, falling with the square of the speed
// multiple, never below 2.5 kHz.
constexpr double kCutoffTop = 22000.0;
constexpr double kCutoffSlope = 1100.0;
constexpr double kCutoffFloor = 2500.0;
}  // namespace

int TimeStretchedChannel::setPitch(float s) {
    CRITSECT_SCOPE(m_channelLock);
    return setPitchLocked(s);
}

int TimeStretchedChannel::setPitchLocked(float s) {
    // A speed set now replaces one the mixer thread parked earlier.
    m_fPendingVinylSpeed.store(kNoPendingSpeed, std::memory_order_release);
    if (!m_pChannel || !m_pLoopSound) return TK_CHANNEL_NONE;
    const float magnitude = std::fabs(s);
    const bool reverse = s < 0.0f;
    if (magnitude == m_fSpeed.load(std::memory_order_acquire) && m_pLoopSound->isReverse() == reverse) return 0;
    m_fSpeed.store(magnitude, std::memory_order_release);
    // The mixer takes `magnitude` ring blocks per block: the ring renders that much further ahead.
    if (auto* ring = getOutputBuffer()) ring->setSpeed(magnitude);
    m_pLoopSound->setReverse(reverse);
    return m_pChannel->setFrequency(magnitude * m_fFrequency);
}

int TimeStretchedChannel::setHighResPitch(float s) {
    CRITSECT_SCOPE(m_channelLock);
    return setHighResPitchLocked(s);
}

int TimeStretchedChannel::setHighResPitchLocked(float s) {
    m_fPendingVinylSpeed.store(kNoPendingSpeed, std::memory_order_release);
    if (!m_pChannel || !m_pLoopSound) return TK_CHANNEL_NONE;
    com_tarvenkolm_resampler::ITKResampler* resampler = m_pResampler.load(std::memory_order_acquire);
    if (!resampler) return setPitchLocked(s);
    int result = 0;
    const float magnitude = std::fabs(s);
    const bool reverse = s < 0.0f;
    if (magnitude != m_fHighResPitch.load(std::memory_order_acquire) || m_pLoopSound->isReverse() != reverse) {
        m_pChannel->setFrequency(m_fFrequency);
        m_fHighResPitch.store(magnitude, std::memory_order_release);
        m_pLoopSound->setReverse(reverse);
        result = resampler->setPitch(magnitude);
    }
    if (m_fHighResPitch.load(std::memory_order_acquire) == 1.0f)
        result = m_pChannel->setFrequency(m_fSpeed.load(std::memory_order_acquire) * m_fFrequency);
    return result;
}

int TimeStretchedChannel::SetFrequencyHighResPitch(double d) {
    const float s = static_cast<float>(d);
    if (pw::rt::onMixerThread()) {
        // The vinyl step on the mixer thread: both settings under one try of the channel lock.
        // A control thread holding it gets the speed parked; the next callback applies it.
        CRITSECT_TRY_SCOPE(lock, m_channelLock, false);
        if (!lock.owns()) {
            m_fPendingVinylSpeed.store(s, std::memory_order_release);
            return 1;
        }
        // No channel: stop() or the destructor is waiting for this very callback to end.
        // Nothing to steer, and nothing to report from the mixer thread.
        if (!m_pChannel) return 1;
        ERRCHECK_HERE(static_cast<FMOD_RESULT>(setScratchIntensityLocked(std::fabs(s))));
        ERRCHECK_HERE(static_cast<FMOD_RESULT>(setHighResPitchLocked(s)));
        return 1;
    }
    ERRCHECK_HERE(static_cast<FMOD_RESULT>(setScratchIntensity(std::fabs(s))));
    ERRCHECK_HERE(static_cast<FMOD_RESULT>(setHighResPitch(s)));
    return 1;
}

void TimeStretchedChannel::applyPendingVinylSpeed() {
    if (std::isnan(m_fPendingVinylSpeed.load(std::memory_order_acquire))) return;
    // Taken under the lock, so that a speed a control thread sets meanwhile (which drops the
    // parked one under the same lock) is never overwritten by the older parked speed.
    CRITSECT_TRY_SCOPE(lock, m_channelLock, false);
    if (!lock.owns()) return;
    const float s = m_fPendingVinylSpeed.load(std::memory_order_acquire);
    if (std::isnan(s) || !m_pChannel) return;
    ERRCHECK_HERE(static_cast<FMOD_RESULT>(setScratchIntensityLocked(std::fabs(s))));
    ERRCHECK_HERE(static_cast<FMOD_RESULT>(setHighResPitchLocked(s)));
}

int TimeStretchedChannel::setScratchIntensity(float x) {
    CRITSECT_SCOPE(m_channelLock);
    return setScratchIntensityLocked(x);
}

int TimeStretchedChannel::setScratchIntensityLocked(float x) {
    if (!m_pLowPassDSP) return 0;
    const float a = std::fabs(x);
    const float s = (a > 0.0f && a < 1.0f) ? 1.0f / a : a;
    const double sd = static_cast<double>(s);
    double cutoff = kCutoffTop - kCutoffSlope * sd * sd;
    if (cutoff < kCutoffFloor || std::isnan(cutoff)) cutoff = kCutoffFloor;
    return m_pLowPassDSP->setParameter(0, static_cast<float>(cutoff));
}

int TimeStretchedChannel::setPitchShift(float semitones) {
    m_fPitchShift.store(semitones, std::memory_order_release);
    return 0;
}
