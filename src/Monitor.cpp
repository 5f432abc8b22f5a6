#include "Monitor.h"

#include <cstring>
#include <new>

#include "DebugLog.h"
#include "FMODSystem.h"
#include "TKCore.h"
#include "TimestretchedChannel.h"

namespace {
// Until the host sets a volume it is -1.0; a negative level is taken as silence rather than
// handed to the audio layer.
inline float audible(float level) { return level > 0.0f ? level : 0.0f; }
}  // namespace

MonitorTap::MonitorTap()
    : ring(new (std::nothrow) CLABuffer<float>()),
      lock(),
      channels(0),
      length(0),
      sampleRate(44100),
      scratch(new (std::nothrow) float[CMonitor::kScratchFloats]) {}

MonitorTap::~MonitorTap() {
    delete ring;
    delete[] scratch;
}

CMonitor::CMonitor(CPlayer* owner, CMonitor* main)
    : m_pOwner(owner),
      m_iCue(0),
      m_pSound(nullptr),
      m_streamLock("MonitorStream"),
      m_pChannel(nullptr),
      m_pTSChannel(nullptr),
      m_iSlot(0),
      m_fVolume(-1.0f),
      m_fPan(0.0f),
      m_bMute(false),
      m_pTap(nullptr),
      m_bBorrowedTap(false),
      m_pTapDSP(nullptr),
      m_fBaseFrequency(44100.0f),
      m_pMainMonitor(main),
      m_bSameSystem(false),
      m_dVTMode(0.0) {
    if (main) {
        m_pTap = main->m_pTap;
        m_bBorrowedTap = true;
    } else {
        m_pTap = new (std::nothrow) MonitorTap();
    }
}

CMonitor::~CMonitor() {
    Stop();
    if (!m_bBorrowedTap && m_pTap) {
        {
            CRITSECT_SCOPE(m_pTap->lock);
            if (m_pTap->ring) m_pTap->ring->ResetBuffer(0);
        }
        {
            CRITSECT_SCOPE(m_pTap->lock);
            delete m_pTap->ring;
            m_pTap->ring = nullptr;
        }
        delete m_pTap;
    }
    m_pTap = nullptr;
}

FMODSystem* CMonitor::systemOfSlot(int slot) {
    return (slot >= 0 && slot < kTKSlotCount) ? CTKCore::g_Systems[slot] : nullptr;
}

int CMonitor::roleOfSlot(int slot) {
    return (slot >= 0 && slot < kTKSlotCount) ? CTKCore::g_outputstate[slot] : -1;
}

// ---- Lifecycle --------------------------------------------------------------------------------

int CMonitor::Init(int slot, int isCue, FMOD::Sound* sound, bool loopMode) {
    Stop();
    if (slot > CTKCore::g_soundcardcount) return -5;
    m_iSlot = slot;
    m_iCue = isCue;
    {
        CRITSECT_SCOPE(m_streamLock);
        if (m_iSlot < 0) m_iSlot = 0;
        if (m_iSlot > kTKSlotCount) m_iSlot = kTKSlotCount;
        FMODSystem* system = systemOfSlot(m_iSlot);
        if (isCue == 0) {
            float frequency = 0.0f;
            const FMOD_RESULT r = sound ? sound->getDefaults(&frequency, nullptr, nullptr, nullptr)
                                        : FMOD_ERR_INVALID_PARAM;
            if (sound) {
                ERRCHECK_HERE(sound->getFormat(nullptr, nullptr, nullptr, nullptr));
                ERRCHECK_HERE(r);
            }
            m_fBaseFrequency = (r == FMOD_OK && frequency > 0.0f) ? frequency : 44100.0f;
            if (system && m_pTap) {
                int rate = 0;
                ERRCHECK_HERE(system->getSoftwareFormat(&rate, nullptr, nullptr, nullptr, nullptr, nullptr));
                if (rate > 0) m_pTap->sampleRate.store(rate, std::memory_order_release);
            }
            m_pSound = sound;
            m_pTSChannel = new (std::nothrow) TimeStretchedChannel(system, sound, loopMode);
            m_dVTMode = 0.0;
        } else {
            CMonitor* main = m_pMainMonitor;
            FMODSystem* mainSystem = main ? systemOfSlot(main->m_iSlot) : nullptr;
            if (m_iSlot <= 64 && main && mainSystem && system &&
                mainSystem->getFMODSystem() == system->getFMODSystem() && main->m_iSlot != m_iSlot) {
                m_bSameSystem = true;
            } else if (system) {
                FMOD_DSP_DESCRIPTION description;
                std::memset(&description, 0, sizeof description);
                std::strncpy(description.name, "MonitorPlayer", sizeof description.name - 1);
                description.version = 1;
                description.channels = 2;
                description.read = &CMonitor::DSPReadCallback;
                description.userdata = m_pTap;
                FMOD::DSP* dsp = nullptr;
                ERRCHECK_HERE(system->createDSP(&description, &dsp));
                if (dsp) {
                    float frequency = 0.0f, volume = 1.0f, pan = 0.0f;
                    int priority = 0;
                    ERRCHECK_HERE(dsp->getDefaults(&frequency, &volume, &pan, &priority));
                    const float tapRate =
                        m_pTap ? static_cast<float>(m_pTap->sampleRate.load(std::memory_order_acquire)) : 44100.0f;
                    ERRCHECK_HERE(dsp->setDefaults(tapRate, volume, pan, priority));
                    m_pTapDSP = dsp;
                    FMOD::Channel* channel = nullptr;
                    ERRCHECK_HERE(system->playDSP(FMOD_CHANNEL_REUSE, dsp, false, &channel));
                    m_pChannel = channel;
                }
                m_bSameSystem = false;
            }
        }
    }
    if (m_pTSChannel) {
        ERRCHECK_HERE(static_cast<FMOD_RESULT>(m_pTSChannel->setSpeakerMix(0, 0, 0, 0, 0, 0, 0, 0)));
    } else if (m_pChannel) {
        ERRCHECK_HERE(m_pChannel->setSpeakerMix(0, 0, 0, 0, 0, 0, 0, 0));
    }
    SetVolume(m_fVolume);
    SetPan(m_fPan);
    return 1;
}

int CMonitor::Stop() {
    CRITSECT_SCOPE(m_streamLock);
    if (m_pTSChannel) {
        m_pTSChannel->stopBuffering();
        delete m_pTSChannel;
        m_pTSChannel = nullptr;
    } else if (m_pChannel) {
        ERRCHECK_HERE(m_pChannel->stop());
        m_pChannel = nullptr;
    }
    if (m_pTapDSP) {
        ERRCHECK_HERE(m_pTapDSP->remove());
        ERRCHECK_HERE(m_pTapDSP->release());
        m_pTapDSP = nullptr;
    }
    m_pSound = nullptr;
    return 0;
}

int CMonitor::Play(bool play) {
    FMOD_RESULT result = FMOD_OK;
    if (m_pTSChannel) {
        result = static_cast<FMOD_RESULT>(m_pTSChannel->setPaused(!play));
    } else if (m_pChannel) {
        result = m_pChannel->setPaused(!play);
    } else {
        return 0;
    }
    ERRCHECK_HERE(result);
    return result;
}

// ---- Volume, mute, pan --------------------------------------------------------------------------

int CMonitor::SetVolume(float volume) {
    m_fVolume = volume;
    const int role = roleOfSlot(m_iSlot);
    if (m_bSameSystem && m_pMainMonitor) {
        SetupSpeakerMixes(role, m_pMainMonitor->m_pChannel, m_pMainMonitor->m_pTSChannel,
                          m_bMute ? 0.0f : audible(volume));
        return 1;
    }
    if (!m_pChannel && !m_pTSChannel) return 1;
    if (m_bMute) {
        SetupSpeakerMixes(role, m_pChannel, m_pTSChannel, 0.0f);
        return 1;
    }
    if (m_pTSChannel) m_pTSChannel->setPan(m_fPan);
    SetupSpeakerMixes(role, m_pChannel, m_pTSChannel, audible(m_fVolume));
    return 1;
}

int CMonitor::SetMute(bool mute) {
    m_bMute = mute;
    SetVolume(m_fVolume);
    return 1;
}

int CMonitor::SetPan(float pan) {
    if (m_pTSChannel) m_pTSChannel->setPan(pan);
    SetupSpeakerMixes(roleOfSlot(m_iSlot), m_pChannel, m_pTSChannel, m_bMute ? 0.0f : audible(m_fVolume));
    m_fPan = pan;
    return 1;
}

int CMonitor::_internalSetMonitorVolume(float level, int slot) {
    SetupSpeakerMixes(roleOfSlot(slot), m_pChannel, m_pTSChannel, level);
    return 1;
}

// ---- Speaker routing ----------------------------------------------------------------------------

FMOD_RESULT CMonitor::SetSpeakerLevels(FMOD::Channel* channel, TimeStretchedChannel* tsc, FMOD_SPEAKER speaker,
                                       float* levels, int count) {
    if (tsc) return static_cast<FMOD_RESULT>(tsc->setSpeakerLevels(speaker, levels, count));
    if (channel) return channel->setSpeakerLevels(speaker, levels, count);
    return FMOD_ERR_MEMORY;
}

FMOD_RESULT CMonitor::SetSpeakerMix(FMOD::Channel* channel, TimeStretchedChannel* tsc, float fl, float fr, float c,
                                    float lfe, float bl, float br, float sl, float sr) {
    if (tsc) return static_cast<FMOD_RESULT>(tsc->setSpeakerMix(fl, fr, c, lfe, bl, br, sl, sr));
    if (channel) return channel->setSpeakerMix(fl, fr, c, lfe, bl, br, sl, sr);
    return FMOD_ERR_MEMORY;
}

void CMonitor::SetupSpeakerMixes(int role, FMOD::Channel* channel, TimeStretchedChannel* tsc, float level) {
    // A mono source has only input 0: it is sent to both speakers of the pair at the full level.
    float mono = 0.0f;
    FMOD::Sound* sound = nullptr;
    FMOD_RESULT query = FMOD_ERR_INVALID_PARAM;
    if (channel) query = channel->getCurrentSound(&sound);
    if ((!channel || query != FMOD_OK) && tsc) query = static_cast<FMOD_RESULT>(tsc->getCurrentSound(&sound));
    if (query == FMOD_OK && sound) {
        int soundChannels = 0;
        if (sound->getFormat(nullptr, nullptr, &soundChannels, nullptr) == FMOD_OK && soundChannels <= 1)
            mono = level;
    }
    float* kept = tsc ? tsc->keptSpeakerLevels() : nullptr;
    auto pair = [&](int left, int right) {
        float rightLevels[2] = {mono, level};
        float leftLevels[2] = {level, mono};
        ERRCHECK_HERE(SetSpeakerLevels(channel, tsc, static_cast<FMOD_SPEAKER>(right), rightLevels, 2));
        ERRCHECK_HERE(SetSpeakerLevels(channel, tsc, static_cast<FMOD_SPEAKER>(left), leftLevels, 2));
    };
    auto mix = [&](const float* l) {
        ERRCHECK_HERE(SetSpeakerMix(channel, tsc, l[0], l[1], l[2], l[3], l[4], l[5], l[6], l[7]));
    };
    auto keep = [&](int first, int last) {
        if (kept)
            for (int i = first; i <= last; ++i) kept[i] = level;
    };
    auto keptOr0 = [&](int i) { return kept ? kept[i] : 0.0f; };

    switch (role) {
        case 0:
        case 1:
            pair(0, 1);
            keep(0, 1);
            break;
        case 2: {
            const float l[8] = {keptOr0(0), keptOr0(1), keptOr0(2), keptOr0(3), level, level, keptOr0(6), keptOr0(7)};
            mix(l);
            keep(4, 5);
            break;
        }
        case 3:
            pair(2, 3);
            keep(2, 3);
            break;
        case 4: {
            const float l[8] = {keptOr0(0), keptOr0(1), keptOr0(2), keptOr0(3), keptOr0(4), keptOr0(5), level, level};
            mix(l);
            keep(6, 7);
            break;
        }
        case 5: {
            const float l[8] = {level, level, level, level, level, level, level, level};
            mix(l);
            keep(0, 7);
            break;
        }
        case 1000: {
            const float l[8] = {level, level, 0, 0, 0, 0, 0, 0};
            mix(l);
            break;
        }
        case 1001: {
            const float l[8] = {0, 0, level, level, 0, 0, 0, 0};
            mix(l);
            break;
        }
        default:
            if (role >= 10 && role <= 17) pair(2 * (role - 10), 2 * (role - 10) + 1);
            break;
    }
}

// ---- The tap ------------------------------------------------------------------------------------

int CMonitor::ActivateMonitoring() {
    if (m_iCue != 0 || m_bSameSystem) return 1;
    DeActivateMonitoring();
    FMODSystem* system = systemOfSlot(m_iSlot);
    if (!system) return 1;
    FMOD_DSP_DESCRIPTION description;
    std::memset(&description, 0, sizeof description);
    std::strncpy(description.name, "Monitor DSPRecordCallback", sizeof description.name - 1);
    description.version = 1;
    description.channels = 0;
    description.read = &CMonitor::DSPRecordCallback;
    description.userdata = m_pTap;
    FMOD::DSP* dsp = nullptr;
    ERRCHECK_HERE(system->createDSP(&description, &dsp));
    if (!dsp) return 1;
    m_pTapDSP = dsp;
    if (m_pTSChannel) {
        ERRCHECK_HERE(static_cast<FMOD_RESULT>(m_pTSChannel->addDSP(dsp, nullptr)));
    } else if (m_pChannel) {
        ERRCHECK_HERE(m_pChannel->addDSP(dsp, nullptr));
    }
    ERRCHECK_HERE(dsp->setBypass(false));
    return 1;
}

int CMonitor::DeActivateMonitoring() {
    if (m_iCue != 0 || !m_pTapDSP) return 1;
    ERRCHECK_HERE(m_pTapDSP->setBypass(true));
    ERRCHECK_HERE(m_pTapDSP->disconnectAll(true, true));
    ERRCHECK_HERE(m_pTapDSP->remove());
    ERRCHECK_HERE(m_pTapDSP->release());
    m_pTapDSP = nullptr;
    return 1;
}

int CMonitor::ClearMonitoring() {
    if (m_bBorrowedTap || !m_pTap || !m_pTap->ring) return 1;
    CRITSECT_SCOPE(m_pTap->lock);
    m_pTap->ring->ResetBuffer(0);
    return 1;
}

FMOD_RESULT CMonitor::DSPRecordCallback(FMOD_DSP_STATE* state, float* in, float* out, unsigned int length,
                                        int inChannels, int outChannels) {
    void* userData = nullptr;
    if (state && state->instance) ERRCHECK_HERE(state->instance->getUserData(&userData));
    MonitorTap* tap = static_cast<MonitorTap*>(userData);
    if (tap && tap->ring && in && inChannels > 0) {
        // The ring holds the input's own layout; the reader spreads it to the cue's channels.
        tap->channels.store(inChannels, std::memory_order_release);
        tap->length.store(static_cast<int>(length), std::memory_order_release);
        tap->ring->FillBufferForward(in, static_cast<uint64_t>(inChannels) * length);  // a full ring drops the block
    }
    if (out && in && outChannels > 0) {
        if (outChannels == inChannels) {
            std::memcpy(out, in, sizeof(float) * static_cast<size_t>(outChannels) * length);
        } else {
            for (unsigned int f = 0; f < length; ++f)
                for (int c = 0; c < outChannels; ++c)
                    out[f * outChannels + c] = c < inChannels ? in[f * inChannels + c] : 0.0f;
        }
    }
    return FMOD_OK;
}

FMOD_RESULT CMonitor::DSPReadCallback(FMOD_DSP_STATE* state, float* /*in*/, float* out, unsigned int length,
                                      int /*inChannels*/, int outChannels) {
    void* userData = nullptr;
    if (state && state->instance) ERRCHECK_HERE(state->instance->getUserData(&userData));
    MonitorTap* tap = static_cast<MonitorTap*>(userData);
    if (!out || outChannels <= 0) return FMOD_OK;
    const size_t outFloats = static_cast<size_t>(outChannels) * length;
    if (!tap || !tap->ring || !tap->scratch) {
        std::memset(out, 0, sizeof(float) * outFloats);
        return FMOD_OK;
    }
    const int tapChannels = tap->channels.load(std::memory_order_acquire);
    const uint64_t wanted = static_cast<uint64_t>(tapChannels > 0 ? tapChannels : outChannels) * length;
    if (tapChannels <= 0 || wanted > kScratchFloats) {
        std::memset(out, 0, sizeof(float) * outFloats);
        return FMOD_OK;
    }
    // Drift between two cards' clocks: drop the oldest whole frames beyond the lag bound.
    const int rate = tap->sampleRate.load(std::memory_order_acquire);
    const uint64_t maxLagFloats =
        static_cast<uint64_t>(kMaxCueLagSeconds * static_cast<float>(rate > 0 ? rate : 44100)) * tapChannels;
    tap->ring->LockMutex();
    const uint64_t ahead = tap->ring->_GetUsedBufferSizeForward();
    tap->ring->UnlockMutex();
    if (ahead > maxLagFloats + wanted) {
        uint64_t excess = ahead - maxLagFloats - wanted;
        excess -= excess % static_cast<uint64_t>(tapChannels);
        if (excess > 0) tap->ring->ReadBufferForward(nullptr, excess, false);
    }
    if (tap->ring->ReadBufferForward(tap->scratch, wanted, true) != 1) {
        std::memset(out, 0, sizeof(float) * outFloats);
        return FMOD_OK;
    }
    const float* src = tap->scratch;
    for (unsigned int f = 0; f < length; ++f) {
        for (int c = 0; c < outChannels; ++c) {
            // Mono is spread to every speaker, never read as stereo pairs.
            float v = 0.0f;
            if (tapChannels == 1) v = src[f];
            else if (c < tapChannels) v = src[f * tapChannels + c];
            out[f * outChannels + c] = v;
        }
    }
    return FMOD_OK;
}

// ---- Levels -------------------------------------------------------------------------------------

int CMonitor::getLevels(float* left, float* right, unsigned int count, int* channels) {
    CRITSECT_SCOPE(m_streamLock);
    if (!m_pSound || (!m_pChannel && !m_pTSChannel)) return -8;
    if (!left || !right) return -8;
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
// the tap. -8 and -25 mean "no channel" for deck features, 44 for routing and positions.

int CMonitor::getVolume(float* out) {
    if (!out) return FMOD_ERR_MEMORY;
    *out = m_fVolume;
    return 0;
}

BeatResultListener* CMonitor::getBeatResultListener() { return m_pTSChannel; }

double CMonitor::getVirtualVTMode() { return m_pTSChannel ? m_dVTMode : 0.0; }

int CMonitor::setVirtualVTInertia(double inertia) {
    return m_pTSChannel ? m_pTSChannel->setVirtualVTInertia(inertia) : -8;
}

int CMonitor::setVirtualVTMode(double mode) {
    if (!m_pTSChannel) return -8;
    m_dVTMode = mode;
    return m_pTSChannel->setVirtualVTMode(mode);
}

int CMonitor::setVirtualVelocity(long position, double time) {
    return m_pTSChannel ? m_pTSChannel->setVirtualVelocity(position, time) : -8;
}

int CMonitor::enableVirtualVinyl(bool enable) { return m_pTSChannel ? m_pTSChannel->enableVirtualVinyl(enable) : -8; }

int CMonitor::PlayerMixDown_close() { return m_pTSChannel ? m_pTSChannel->PlayerMixDown_close() : -8; }

int CMonitor::PlayerMixDown_start() { return m_pTSChannel ? m_pTSChannel->PlayerMixDown_start() : -8; }

int CMonitor::PlayerMixDown_openFile(char* path, int format, int bitrate) {
    return m_pTSChannel ? m_pTSChannel->PlayerMixDown_openFile(path, format, bitrate) : -8;
}

int CMonitor::addPlaybackSnippet(unsigned int start, unsigned int end) {
    if (!m_pTSChannel) return -25;
    return m_pTSChannel->addPlaybackSnippet(start, end) == 0 ? 1 : -25;
}

int CMonitor::SetScratchIntensity(float intensity) {
    if (!m_pTSChannel) return -25;
    return m_pTSChannel->setScratchIntensity(intensity) == 0 ? 1 : -25;
}

int CMonitor::SetReverse(bool reverse) {
    if (!m_pTSChannel) return -8;
    m_pTSChannel->setReverse(reverse);
    return 1;
}

int CMonitor::SetTimeStretch(float factor, bool keepPosition) {
    if (!m_pTSChannel) return -8;
    m_pTSChannel->setTimeStretch(factor, keepPosition);
    return 1;
}

int CMonitor::SetGain(float gain) {
    if (!m_pTSChannel) return -8;
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
