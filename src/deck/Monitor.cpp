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
