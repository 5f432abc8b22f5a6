// Speed (the turntable: tempo and pitch together, as the FMOD channel's frequency), direction,
// the vinyl controller's speed hook and the scratch low-pass of the time-stretched channel.
//
// Thread safety: every operation here takes the channel lock alone. SetFrequencyHighResPitch is
// called by the vinyl step on the mixer thread with "VTRunner" held, which comes before the
// channel lock; the channel lock is held only for a few calls that never wait on a mix.
#include <cmath>

#include "DebugLog.h"
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
    com_tarvenkolm_resampler::ITKResampler* resampler = nullptr;
    {
        CRITSECT_SCOPE(m_channelLock);
        if (!m_pChannel || !m_pLoopSound) return TK_CHANNEL_NONE;
        resampler = m_pResampler.load(std::memory_order_acquire);
        if (resampler) {
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
    }
    return setPitch(s);
}

int TimeStretchedChannel::SetFrequencyHighResPitch(double d) {
    const float s = static_cast<float>(d);
    ERRCHECK_HERE(static_cast<FMOD_RESULT>(setScratchIntensity(std::fabs(s))));
    ERRCHECK_HERE(static_cast<FMOD_RESULT>(setHighResPitch(s)));
    return 1;
}

int TimeStretchedChannel::setScratchIntensity(float x) {
    CRITSECT_SCOPE(m_channelLock);
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
