// The monitor's level query and its forwarders to the deck's time-stretched channel.
#include "Monitor.h"

#include <cstring>

#include "DebugLog.h"
#include "FMODSystem.h"
#include "TKCore.h"
#include "TimestretchedChannel.h"
#include "StatusCodes.h"

// ---- Levels -------------------------------------------------------------------------------------

int CMonitor::getLevels(float* left, float* right, unsigned int count, int* channels) {
    CRITSECT_SCOPE(m_streamLock);
    if (!m_pSound || (!m_pChannel && !m_pTSChannel)) return TK_ERR_NO_OUTPUT;
    if (!left || !right) return TK_ERR_NO_OUTPUT;
    int soundChannels = 0;
    ERRCHECK_HERE(m_pSound->getFormat(nullptr, nullptr, &soundChannels, nullptr));
    if (channels) *channels = soundChannels;
    auto spectrum = [&](float* dst, int offset) {
        const FMOD_RESULT r =
            m_pTSChannel ? static_cast<FMOD_RESULT>(m_pTSChannel->getSpectrum(dst, static_cast<int>(count), offset,
                                                                              FMOD_DSP_FFT_WINDOW_RECT))
                         : m_pChannel->getSpectrum(dst, static_cast<int>(count), offset, FMOD_DSP_FFT_WINDOW_RECT);
        ERRCHECK_HERE(r);
    };
    if (soundChannels == 2) {
        spectrum(left, 0);
        spectrum(right, 1);
    } else {
        spectrum(left, 0);
        std::memcpy(right, left, sizeof(float) * count);
    }
    return 1;
}

// ---- Forwarders: only the main monitor has a time-stretched channel; the cue follows it through
// the tap. TK_ERR_NO_OUTPUT and TK_ERR_CHANNEL_REFUSED mean "no channel" for deck
// features, TK_CHANNEL_NONE for routing and positions.

int CMonitor::getVolume(float* out) {
    if (!out) return TK_CHANNEL_NONE;
    *out = m_fVolume;
    return 0;
}

BeatResultListener* CMonitor::getBeatResultListener() { return m_pTSChannel; }

double CMonitor::getVirtualVTMode() { return m_pTSChannel ? m_dVTMode : 0.0; }

int CMonitor::setVirtualVTInertia(double inertia) {
    return m_pTSChannel ? m_pTSChannel->setVirtualVTInertia(inertia) : TK_ERR_NO_OUTPUT;
}

int CMonitor::setVirtualVTMode(double mode) {
    if (!m_pTSChannel) return TK_ERR_NO_OUTPUT;
    m_dVTMode = mode;
    return m_pTSChannel->setVirtualVTMode(mode);
}

int CMonitor::setVirtualVelocity(long position, double time) {
    return m_pTSChannel ? m_pTSChannel->setVirtualVelocity(position, time) : TK_ERR_NO_OUTPUT;
}

int CMonitor::enableVirtualVinyl(bool enable) { return m_pTSChannel ? m_pTSChannel->enableVirtualVinyl(enable) : TK_ERR_NO_OUTPUT; }

int CMonitor::PlayerMixDown_close() { return m_pTSChannel ? m_pTSChannel->PlayerMixDown_close() : TK_ERR_NO_OUTPUT; }

int CMonitor::PlayerMixDown_start() { return m_pTSChannel ? m_pTSChannel->PlayerMixDown_start() : TK_ERR_NO_OUTPUT; }

int CMonitor::PlayerMixDown_openFile(char* path, int format, int bitrate) {
    return m_pTSChannel ? m_pTSChannel->PlayerMixDown_openFile(path, format, bitrate) : TK_ERR_NO_OUTPUT;
}

int CMonitor::addPlaybackSnippet(unsigned int start, unsigned int end) {
    if (!m_pTSChannel) return TK_ERR_CHANNEL_REFUSED;
    return m_pTSChannel->addPlaybackSnippet(start, end) == 0 ? TK_OK : TK_ERR_CHANNEL_REFUSED;
}

int CMonitor::SetScratchIntensity(float intensity) {
    if (!m_pTSChannel) return TK_ERR_CHANNEL_REFUSED;
    return m_pTSChannel->setScratchIntensity(intensity) == 0 ? TK_OK : TK_ERR_CHANNEL_REFUSED;
}

int CMonitor::SetReverse(bool reverse) {
    if (!m_pTSChannel) return TK_ERR_NO_OUTPUT;
    m_pTSChannel->setReverse(reverse);
    return 1;
}

int CMonitor::SetTimeStretch(float factor, bool keepPosition) {
    if (!m_pTSChannel) return TK_ERR_NO_OUTPUT;
    m_pTSChannel->setTimeStretch(factor, keepPosition);
    return 1;
}

int CMonitor::SetGain(float gain) {
    if (!m_pTSChannel) return TK_ERR_NO_OUTPUT;
    m_pTSChannel->setGain(gain);
    return 1;
}

int CMonitor::getSpectrum(float* out, int count, int channelIndex, FMOD_DSP_FFT_WINDOW window) {
    if (m_pTSChannel) return m_pTSChannel->getSpectrum(out, count, channelIndex, window);
    if (m_pChannel) return m_pChannel->getSpectrum(out, count, channelIndex, window);
    return FMOD_ERR_MEMORY;
}

unsigned int CMonitor::getPositionRawMs() { return m_pTSChannel ? m_pTSChannel->getPositionRawMs() : 0; }

int CMonitor::getPosition(unsigned int* out, unsigned int unit, bool interpolate) {
    if (m_pTSChannel) return m_pTSChannel->getPosition(out, unit, interpolate);
    if (m_pChannel) return m_pChannel->getPosition(out, unit);
    return FMOD_ERR_MEMORY;
}

int CMonitor::setLoopPoints(unsigned int start, unsigned int startUnit, unsigned int end, unsigned int endUnit) {
    if (m_pTSChannel) return m_pTSChannel->setLoopPoints(start, startUnit, end, endUnit);
    if (m_pChannel) return m_pChannel->setLoopPoints(start, startUnit, end, endUnit);
    return FMOD_ERR_MEMORY;
}

int CMonitor::setLoopCount(int count) {
    if (m_pTSChannel) return m_pTSChannel->setLoopCount(count);
    if (m_pChannel) return m_pChannel->setLoopCount(count);
    return FMOD_ERR_MEMORY;
}

int CMonitor::setPosition(unsigned int position, unsigned int unit) {
    if (m_pTSChannel) return m_pTSChannel->setPosition(position, unit);
    if (m_pChannel) return m_pChannel->setPosition(position, unit);
    return FMOD_ERR_MEMORY;
}

int CMonitor::addDSP(FMOD::DSP* dsp, FMOD::DSPConnection** connection) {
    if (m_pTSChannel) return m_pTSChannel->addDSP(dsp, connection);
    if (m_pChannel) return m_pChannel->addDSP(dsp, connection);
    return FMOD_ERR_MEMORY;
}

int CMonitor::setHighResPitch(float factor) {
    return m_pTSChannel ? m_pTSChannel->setHighResPitch(factor) : FMOD_ERR_MEMORY;
}

int CMonitor::setPitch(float factor) {
    if (m_pTSChannel) return m_pTSChannel->setPitch(factor);
    if (m_pChannel) return m_pChannel->setFrequency(factor * m_fBaseFrequency);
    return FMOD_ERR_MEMORY;
}

int CMonitor::setFrequency(float hz) {
    if (m_pTSChannel) return m_pTSChannel->setFrequency(hz);
    if (m_pChannel) return m_pChannel->setFrequency(hz);
    return FMOD_ERR_MEMORY;
}
