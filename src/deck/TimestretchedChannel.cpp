// Construction, teardown, transport switches, FMOD-channel forwarders, deck recording and the
// beat list of the time-stretched channel. The render step lives in
// TimestretchedChannelRender.cpp, position and tempo in TimestretchedChannelPosition.cpp, speed
// and the scratch low-pass in TimestretchedChannelSpeed.cpp.
#include "TimestretchedChannel.h"

#include <SoundTouch.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "DebugLog.h"
#include "FMODSystem.h"
#include "TKCore.h"
#include "StatusCodes.h"

namespace {

constexpr int kBadArgument = FMOD_ERR_UNSUPPORTED;  // 82
constexpr int kNoList = -5;
constexpr int kRecorderRole = 1;
// The ring holds up to a hundred blocks ahead at the top scratch speed, each queued until the
// mixer takes it.
constexpr size_t kQueueReserve = 256;

// The stretcher settings of each quality step; -1 keeps the library's default.
struct StretcherSettings {
    int useAAFilter;
    int aaFilterLength;
    int useQuickSeek;
    int sequenceMs;
    int seekWindowMs;
    int overlapMs;
};

StretcherSettings settingsForQuality(unsigned int quality) {
    switch (quality) {
        case 0:
            return {0, 128, 0, 16, 16, 32};
        case 1:
            return {1, 32, 0, -1, -1, 16};
        default:
            return {1, 64, 0, -1, -1, 8};
    }
}

}  // namespace

TimeStretchedChannel::TimeStretchedChannel(FMODSystem* system, FMOD::Sound* sound, bool loopMode)
    : m_pChannel(nullptr),
      m_pRenderDSP(nullptr),
      m_pLowPassDSP(nullptr),
      m_pSystem(nullptr),
      m_pLoopSound(nullptr),
      m_pLineInSound(nullptr),
      m_iChannels(1),
      m_iBytesPerSample(1),
      m_bFloatSamples(false),
      m_fTempoFactor(1.0f),
      m_pStretcher(nullptr),
      m_uiWorkCapacity(0),
      m_pWork(nullptr),
      m_pResampler(nullptr),
      m_fPan(0.0f),
      m_fGain(1.0f),
      m_fFrequency(44100.0f),
      m_fSpeed(1.0f),
      m_fHighResPitch(1.0f),
      m_fPitchShift(0.0f),
      m_fKeptSpeakerLevels{},
      m_pOutputBuffer(nullptr),
      m_bPlaying(false),
      m_uiHeardPosition(0),
      m_uiQueueRingStart(0),
      m_uiRingEpoch(0),
      m_taken{},
      m_uiTakenCount(0),
      m_uiTakenNext(0),
      m_bLineValid(false),
      m_dLineFrames(0.0),
      m_lLineNs(0),
      m_dReportedFrames(0.0),
      m_iMixRate(0),
      m_dLeadRingRate(0.0),
      m_lLeadNs(0),
      m_uiLastQueued(0),
      m_bStepQueued(false),
      m_bPositionValid(false),
      m_rawRead{},
      m_step{},
      m_bClearStretcher(false),
      m_bDetached(false),
      m_uiBlockFrames(kDefaultBlockFrames),
      m_uiLengthMs(0),
      m_bLengthKnown(false),
      m_uiLastReportMs(0),
      m_fPendingVinylSpeed(kNoPendingSpeed) {
    m_positionQueue.reserve(kQueueReserve);
    if (!system) return;

    m_pSystem = system;
    if (loopMode) {
        m_pLoopSound = new LoopSound(sound);
        unsigned int lengthMs = 0;
        if (m_pLoopSound->getLength(&lengthMs, FMOD_TIMEUNIT_MS) == FMOD_OK) {
            m_uiLengthMs = lengthMs;
            m_bLengthKnown = true;
        }
    } else
        m_pLineInSound = sound;

    if (sound) {
        float frequency = 44100.0f;
        if (sound->getDefaults(&frequency, nullptr, nullptr, nullptr) == FMOD_OK && frequency > 0.0f)
            m_fFrequency = frequency;
        FMOD_SOUND_TYPE type = FMOD_SOUND_TYPE_UNKNOWN;
        FMOD_SOUND_FORMAT format = FMOD_SOUND_FORMAT_NONE;
        int channels = 1;
        int bits = 16;
        if (sound->getFormat(&type, &format, &channels, &bits) == FMOD_OK) {
            m_iChannels = channels > 0 ? channels : 1;
            m_iBytesPerSample = bits > 15 ? bits / 8 : 1;
            m_bFloatSamples = format == FMOD_SOUND_FORMAT_PCMFLOAT;
        } else {
            m_iBytesPerSample = 2;
        }
    }

    m_pStretcher = new soundtouch::SoundTouch();
    const StretcherSettings s = settingsForQuality(CTKCore::g_uiTimeStretcherQuality);
    m_pStretcher->setSetting(SETTING_USE_AA_FILTER, s.useAAFilter);
    m_pStretcher->setSetting(SETTING_AA_FILTER_LENGTH, s.aaFilterLength);
    m_pStretcher->setSetting(SETTING_USE_QUICKSEEK, s.useQuickSeek);
    if (s.sequenceMs >= 0) m_pStretcher->setSetting(SETTING_SEQUENCE_MS, s.sequenceMs);
    if (s.seekWindowMs >= 0) m_pStretcher->setSetting(SETTING_SEEKWINDOW_MS, s.seekWindowMs);
    m_pStretcher->setSetting(SETTING_OVERLAP_MS, s.overlapMs);
    m_pStretcher->setTempo(1.0);
    m_pStretcher->setRate(1.0);
    m_pStretcher->setPitch(1.0);
    m_pStretcher->setSampleRate(static_cast<unsigned int>(m_fFrequency));
    m_pStretcher->setChannels(2);
    m_pStretcher->clear();

    {
        CRITSECT_SCOPE(m_channelLock);
        if (m_pLoopSound) {
            FMOD_DSP_DESCRIPTION desc;
            std::memset(&desc, 0, sizeof desc);
            std::strncpy(desc.name, "Player", sizeof desc.name - 1);
            desc.version = 1;
            desc.channels = 2;
            desc.read = &TimeStretchedChannel::DSPReadCallback;
            desc.userdata = this;
            if (m_pSystem->createDSP(&desc, &m_pRenderDSP) == FMOD_OK && m_pRenderDSP) {
                float frequency = 0.0f, volume = 1.0f, pan = 0.0f;
                int priority = 0;
                m_pRenderDSP->getDefaults(&frequency, &volume, &pan, &priority);
                m_pRenderDSP->setDefaults(m_fFrequency, volume, pan, 0);
                m_pSystem->playDSP(FMOD_CHANNEL_REUSE, m_pRenderDSP, true, &m_pChannel);
                unsigned int length = kDefaultBlockFrames;
                int count = 0;
                if (m_pSystem->getDSPBufferSize(&length, &count) != FMOD_OK || length == 0)
                    length = kDefaultBlockFrames;
                m_uiBlockFrames = length;
                int mixRate = 0;
                if (m_pSystem->getSoftwareFormat(&mixRate, nullptr, nullptr, nullptr, nullptr, nullptr) == FMOD_OK)
                    m_iMixRate = mixRate;
                // Sized for the mixer's block before any render thread runs, so the first
                // stretched block does not allocate.
                growWork(2 * length * static_cast<unsigned int>(m_iChannels > 2 ? m_iChannels : 2));
                primeStretcher();
                startBuffering(static_cast<int>(length), 2);
                m_pSystem->createDSPByType(FMOD_DSP_TYPE_LOWPASS, &m_pLowPassDSP);
                if (m_pChannel && m_pLowPassDSP) {
                    m_pChannel->addDSP(m_pLowPassDSP, nullptr);
                    m_pLowPassDSP->setActive(true);
                    m_pLowPassDSP->setBypass(false);
                }
            }
        } else if (m_pLineInSound) {
            FMOD_DSP_DESCRIPTION desc;
            std::memset(&desc, 0, sizeof desc);
            std::strncpy(desc.name, "TimeStretchChannelGain", sizeof desc.name - 1);
            desc.version = 1;
            desc.channels = 0;
            desc.read = &TimeStretchedChannel::GainFactor;
            desc.userdata = this;
            ERRCHECK_HERE(m_pSystem->playSound(FMOD_CHANNEL_REUSE, m_pLineInSound, true, &m_pChannel));
            ERRCHECK_HERE(m_pSystem->createDSP(&desc, &m_pRenderDSP));
            if (m_pChannel && m_pRenderDSP) {
                ERRCHECK_HERE(m_pChannel->addDSP(m_pRenderDSP, nullptr));
                ERRCHECK_HERE(m_pRenderDSP->setActive(true));
            }
        }
    }
    setScratchIntensity(0.0f);
}

TimeStretchedChannel::~TimeStretchedChannel() {
    if (auto* ring = m_pOutputBuffer.load(std::memory_order_acquire)) ring->setBypass(true);
    if (m_pLoopSound) m_pLoopSound->stopBuffering();
    FMOD::Channel* channel = nullptr;
    FMOD::DSP* lowPass = nullptr;
    FMOD::DSP* render = nullptr;
    {
        // Only forget them under the lock. Stopping the channel waits for a "Player" callback in
        // progress, and that callback (the vinyl step) takes this lock: stopping while holding it
        // deadlocks. A callback that runs before the stop finds no channel and no low-pass.
        CRITSECT_SCOPE(m_channelLock);
        m_bDetached.store(true, std::memory_order_release);
        channel = m_pChannel;
        lowPass = m_pLowPassDSP;
        render = m_pRenderDSP;
        m_pChannel = nullptr;
        m_pLowPassDSP = nullptr;
        m_pRenderDSP = nullptr;
    }
    // Stopping the channel returns only once no "Player" callback runs, and none runs after:
    // from here on no thread renders, so the DSPs, the stretcher and the sources can go.
    if (channel) channel->stop();
    if (lowPass) {
        lowPass->remove();
        lowPass->release();
    }
    if (render) render->release();
    if (m_pStretcher) {
        // flush() would allocate and pad the backlog with silence only to have clear() drop it.
        m_pStretcher->clear();
        delete m_pStretcher;
        m_pStretcher = nullptr;
    }
    delete[] m_pWork;
    m_pWork = nullptr;
    m_uiWorkCapacity = 0;
    // The ring's worker is joined (bypass above), so nothing reads the loop source any more.
    if (auto* ring = m_pOutputBuffer.exchange(nullptr)) {
        ring->setBypass(true);
        delete ring;
    }
    delete m_pLoopSound;
    m_pLoopSound = nullptr;
    delete m_pResampler.exchange(nullptr);
}

int TimeStretchedChannel::startBuffering(int frames, int channels) {
    if (auto* old = m_pOutputBuffer.exchange(nullptr)) {
        old->setBypass(true);
        delete old;
    }
    auto* buffer = new com_tarvenkolm_outputbuffering::ITKOutputBuffer(
        static_cast<com_tarvenkolm_outputbuffering::ITKOutputBufferSource*>(this));
    buffer->setSpeed(m_fSpeed.load(std::memory_order_acquire));
    buffer->startBuffering(frames, channels, m_fFrequency, true);
    m_pOutputBuffer.store(buffer, std::memory_order_release);
    return 1;
}

int TimeStretchedChannel::stopBuffering() {
    if (auto* ring = m_pOutputBuffer.load(std::memory_order_acquire)) ring->setBypass(true);
    if (m_pLoopSound) m_pLoopSound->stopBuffering();
    return 1;
}

int TimeStretchedChannel::setPaused(bool paused) {
    CRITSECT_SCOPE(m_channelLock);
    if (!m_pChannel) return TK_CHANNEL_SILENT;
    m_bPlaying.store(!paused, std::memory_order_release);
    // The FMOD channel runs from the first call on: a pause is silence from the render step, so
    // the "Player" callback (and the vinyl step in it) keeps running.
    return m_pChannel->setPaused(false);
}

int TimeStretchedChannel::getPaused(bool* paused) {
    CRITSECT_SCOPE(m_channelLock);
    if (!m_pChannel) return TK_CHANNEL_NONE;
    const FMOD_RESULT r = m_pChannel->getPaused(paused);
    if (paused) *paused = !m_bPlaying.load(std::memory_order_acquire);
    return r;
}

int TimeStretchedChannel::stop() {
    FMOD::Channel* channel = nullptr;
    {
        CRITSECT_SCOPE(m_channelLock);
        if (!m_pChannel) return TK_CHANNEL_SILENT;
        m_bDetached.store(true, std::memory_order_release);
        channel = m_pChannel;
        m_pChannel = nullptr;
    }
    // Outside the lock: the stop waits for a "Player" callback in progress, which may be waiting
    // for this lock in its vinyl step (see the destructor).
    channel->setPaused(true);
    const FMOD_RESULT r = channel->stop();
    if (auto* ring = m_pOutputBuffer.load(std::memory_order_acquire)) ring->setBypass(true);
    if (m_pLoopSound) m_pLoopSound->stopBuffering();
    return r;
}

FMOD::Channel* TimeStretchedChannel::getFMODChannel() {
    CRITSECT_SCOPE(m_channelLock);
    return m_pChannel;
}

FMOD::DSP* TimeStretchedChannel::getLowPassDSP() {
    CRITSECT_SCOPE(m_channelLock);
    return m_pLowPassDSP;
}

// Loop source forwarders ------------------------------------------------------------------------

int TimeStretchedChannel::setLoopCount(int count) {
    if (!m_pLoopSound) return TK_CHANNEL_NONE;
    const unsigned int renderedBefore = m_pLoopSound->getReaderPosition();
    if (count == 0)
        m_pLoopSound->setLoop(false);
    else if (count == -1)
        m_pLoopSound->setLoop(true);
    else
        return FMOD_ERR_INVALID_PARAM;
    if (count == -1) rerenderPastLoopEnd(renderedBefore);
    return 0;
}

int TimeStretchedChannel::setLoopPoints(unsigned int start, unsigned int startUnit, unsigned int end,
                                        unsigned int endUnit) {
    if (!m_pLoopSound) return TK_CHANNEL_NONE;
    if (startUnit != endUnit) return FMOD_ERR_INVALID_PARAM;
    int result = FMOD_ERR_INVALID_PARAM;
    const unsigned int renderedBefore = m_pLoopSound->getReaderPosition();
    if (startUnit == FMOD_TIMEUNIT_MS) result = m_pLoopSound->setLoopPoints(start, end);
    if (startUnit == FMOD_TIMEUNIT_PCM) result = m_pLoopSound->setLoopPointsPCM(start, end);
    if (result == 0) rerenderPastLoopEnd(renderedBefore);
    return result;
}

void TimeStretchedChannel::rerenderPastLoopEnd(unsigned int renderedBefore) {
    auto* ring = m_pOutputBuffer.load(std::memory_order_acquire);
    if (!ring || ring->isBypassed() || !m_pLoopSound->isLoopEnabled()) return;
    unsigned int loopStart = 0, loopEnd = 0;
    m_pLoopSound->getLoopWindow(&loopStart, &loopEnd);
    unsigned int heard = 0;
    if (getPosition(&heard, FMOD_TIMEUNIT_PCM, false) != 0) return;
    // Only forward play that has rendered past the end. The source's reader runs on the prefetch
    // worker: by now it may already have wrapped to the loop start (it reads behind what is
    // heard), with the ring still holding what it had rendered past the end before the change,
    // so its place before the change counts too.
    const unsigned int renderedNow = m_pLoopSound->getReaderPosition();
    const bool renderedPast = renderedBefore > loopEnd || renderedNow > loopEnd || renderedNow < heard;
    if (m_pLoopSound->isReverse() || !renderedPast || loopEnd <= loopStart) return;
    // An end set from the report may lie a little behind play already: the report moves in
    // whole mixer blocks, and an end in milliseconds rounds. The mixer has then played that far
    // past the end, so play goes on as far into the loop, and the loop keeps the beat its end
    // sets. An end a whole lap or more behind play is left to the source's next read.
    unsigned int from = heard;
    if (heard >= loopEnd) {
        if (heard - loopEnd >= loopEnd - loopStart) return;
        from = loopStart + (heard - loopEnd);
    }
    // The ring and the stretcher start again from the frame the mixer takes next (a jump from
    // where play is, so the seam crosses from the frame heard last), and the ring is filled again
    // at once rather than at its worker's next wake-up, so the mixer's next take finds it full.
    // The emptied stretcher starts as much later in the source as its sound would lag the line
    // (earlier below tempo 1), so the deck stays on the beat it played; within the loop, on its
    // circle.
    const float factor = m_fTempoFactor.load(std::memory_order_acquire);
    long lag = 0;
    if (factor != 1.0f) {
        std::lock_guard<std::mutex> render(m_renderGuard);
        lag = std::lround(emptyStretcherLag(factor));
    }
    const long length = static_cast<long>(loopEnd - loopStart);
    if (from >= loopStart) {
        long into = (static_cast<long>(from - loopStart) + lag) % length;
        if (into < 0) into += length;
        from = loopStart + static_cast<unsigned int>(into);
    } else {
        from = static_cast<unsigned int>(std::max(0L, static_cast<long>(from) + lag));
    }
    setPosition(from, FMOD_TIMEUNIT_PCM);
    for (unsigned int k = 0; k < com_tarvenkolm_outputbuffering::ITKOutputBuffer::kAheadBlocks && !ring->holdsKeptAhead(); ++k)
        if (!ring->activePullData()) break;
}

int TimeStretchedChannel::addPlaybackSnippet(unsigned int startMs, unsigned int endMs) {
    if (!m_pLoopSound) return TK_CHANNEL_NONE;
    return m_pLoopSound->addPlaybackSnippetMs(startMs, endMs);
}

int TimeStretchedChannel::setReverse(bool reverse) {
    if (!m_pLoopSound) return TK_CHANNEL_NONE;
    return m_pLoopSound->setReverse(reverse);
}

// FMOD-channel forwarders -----------------------------------------------------------------------

#define PW_CHANNEL_FORWARD(noChannel, call)       \
    do {                                          \
        CRITSECT_SCOPE(m_channelLock);            \
        if (!m_pChannel) return (noChannel);      \
        return m_pChannel->call;                  \
    } while (0)

int TimeStretchedChannel::setVolume(float volume) { PW_CHANNEL_FORWARD(TK_CHANNEL_NONE, setVolume(volume)); }
int TimeStretchedChannel::getVolume(float* volume) { PW_CHANNEL_FORWARD(TK_CHANNEL_NONE, getVolume(volume)); }
int TimeStretchedChannel::setMute(bool mute) { PW_CHANNEL_FORWARD(TK_CHANNEL_NONE, setMute(mute)); }
int TimeStretchedChannel::setFrequency(float hz) { PW_CHANNEL_FORWARD(TK_CHANNEL_NONE, setFrequency(hz)); }
int TimeStretchedChannel::setSpeakerMix(float frontLeft, float frontRight, float center, float lfe, float backLeft,
                                        float backRight, float sideLeft, float sideRight) {
    PW_CHANNEL_FORWARD(TK_CHANNEL_NONE,
                       setSpeakerMix(frontLeft, frontRight, center, lfe, backLeft, backRight, sideLeft, sideRight));
}
int TimeStretchedChannel::setSpeakerLevels(FMOD_SPEAKER speaker, float* levels, int count) {
    if (count != 2 || static_cast<int>(speaker) > 15) return kBadArgument;
    PW_CHANNEL_FORWARD(TK_CHANNEL_NONE, setSpeakerLevels(speaker, levels, 2));
}
int TimeStretchedChannel::getSpectrum(float* values, int count, int channelOffset, FMOD_DSP_FFT_WINDOW window) {
    PW_CHANNEL_FORWARD(TK_CHANNEL_NONE, getSpectrum(values, count, channelOffset, window));
}
int TimeStretchedChannel::getCurrentSound(FMOD::Sound** sound) {
    PW_CHANNEL_FORWARD(TK_CHANNEL_NONE, getCurrentSound(sound));
}
int TimeStretchedChannel::addDSP(FMOD::DSP* dsp, FMOD::DSPConnection** connection) {
    PW_CHANNEL_FORWARD(TK_CHANNEL_SILENT, addDSP(dsp, connection));
}

#undef PW_CHANNEL_FORWARD

int TimeStretchedChannel::setPan(float pan) {
    CRITSECT_SCOPE(m_channelLock);
    if (!m_pChannel) return TK_CHANNEL_NONE;
    if (pan < -1.0f) pan = -1.0f;
    if (pan > 1.0f) pan = 1.0f;
    m_fPan.store(pan, std::memory_order_release);
    return 0;
}

// Deck recording --------------------------------------------------------------------------------

int TimeStretchedChannel::PlayerMixDown_openFile(char* path, int format, int bitrate) {
    FMOD::DSP* capture = nullptr;
    const int r = m_recorder.setup(m_pSystem, kRecorderRole, &capture, nullptr, 0, nullptr);
    {
        CRITSECT_SCOPE(m_channelLock);
        if (m_pChannel && capture) m_pChannel->addDSP(capture, nullptr);
    }
    if (r != 1) return r;
    return m_recorder.openFile(path, static_cast<unsigned int>(format), static_cast<unsigned int>(bitrate), false,
                               -1, -1, -1.0f, -1, nullptr, nullptr);
}

int TimeStretchedChannel::PlayerMixDown_start() { return m_recorder.start(); }

int TimeStretchedChannel::PlayerMixDown_close() { return m_recorder.close(); }

// Beat list ---------------------------------------------------------------------------------------

int TimeStretchedChannel::setBeatEvents(std::vector<Event*>* events) {
    if (!events) return kNoList;
    CRITSECT_SCOPE(m_eventsLock);
    m_beatEvents.clear();
    for (Event* e : *events) {
        if (e) m_beatEvents.emplace_back(1000.0 * e->time, 0.0);
    }
    return 1;
}

size_t TimeStretchedChannel::getBeatEventCount() {
    CRITSECT_SCOPE(m_eventsLock);
    return m_beatEvents.size();
}

double TimeStretchedChannel::getBeatEventTime(size_t index) {
    CRITSECT_SCOPE(m_eventsLock);
    return index < m_beatEvents.size() ? m_beatEvents[index].time : -1.0;
}
