// Playing the sampler's slots: start and restart, volume, pitch, loop mode, position and length.
//
// Thread safety: unlocked, on the calling Java thread (see SamplerSlots.cpp); each is an engine call,
// so shutdown never frees a slot's sound or channel under it. Channel handles of
// the audio library stay valid after a one-shot ends, until the slot is unloaded or shutdown
// forgets them.
#include "DebugLog.h"
#include "EngineCalls.h"
#include "FMODSystem.h"
#include "Monitor.h"
#include "SamplerSlot.h"
#include "TKCore.h"

namespace {

constexpr float kFallbackFrequency = 44100.0f;
constexpr float kVolumeScale = 10000.0f;

}  // namespace

int CTKCore::PlaySample(int slot, bool paused) {
    if (!samplerSlotValid(slot)) return kSamplerBadSlot;
    const tk_engine::EngineCall engineCall;
    if (!engineCall.admitted()) return TK_ERR_NO_SYSTEM;
    debugMsg("\n==========\nPlaySample()\n==========\n");
    FMODSystem* system = samplerSystem();
    if (!system) return TK_ERR_NO_SYSTEM;
    FMOD::Channel*& channel = g_samplerChannels[slot];
    if (channel) {
        ERRCHECK("PlaySample", __FILE__, __LINE__, channel->setPaused(true));
        ERRCHECK("PlaySample", __FILE__, __LINE__, channel->setPosition(0, FMOD_TIMEUNIT_MS));
        ERRCHECK("PlaySample", __FILE__, __LINE__, channel->stop());
    }
    // Reuses the slot's channel handle when it has one.
    ERRCHECK("PlaySample", __FILE__, __LINE__,
             system->playSound(FMOD_CHANNEL_REUSE, g_samplerSounds[slot], false, &channel));
    if (!channel) return kSamplerEmptySlot;
    ERRCHECK("PlaySample", __FILE__, __LINE__, channel->setPosition(0, FMOD_TIMEUNIT_MS));
    ERRCHECK("PlaySample", __FILE__, __LINE__, channel->setVolume(g_fSamplerVolumes[slot]));
    SetSampleFrequencyPitch(slot, g_fSamplerFrequencyPitches[slot]);
    CMonitor::SetupSpeakerMixes(g_outputstate[g_iSamplerSoundcard], channel, nullptr, 1.0f);
    ERRCHECK("PlaySample", __FILE__, __LINE__, channel->setPaused(paused));
    return TK_OK;
}

int CTKCore::SetSampleVolume(int slot, int value) {
    if (!samplerSlotValid(slot)) return kSamplerBadSlot;
    const tk_engine::EngineCall engineCall;
    if (!engineCall.admitted()) return kSamplerEmptySlot;
    debugMsg("\n==========\nSetSampleVolume()\n==========\n");
    g_fSamplerVolumes[slot] = static_cast<float>(value) / kVolumeScale;  // not clamped
    FMOD::Channel* channel = g_samplerChannels[slot];
    if (channel && g_samplerSounds[slot])
        ERRCHECK("SetSampleVolume", __FILE__, __LINE__, channel->setVolume(g_fSamplerVolumes[slot]));
    return !channel && !g_samplerSounds[slot] ? kSamplerEmptySlot : TK_OK;
}

int CTKCore::SetSampleFrequencyPitch(int slot, float factor) {
    if (!samplerSlotValid(slot)) return kSamplerBadSlot;
    const tk_engine::EngineCall engineCall;
    if (!engineCall.admitted()) return kSamplerEmptySlot;
    debugMsg("\n==========\nSetSampleFrequencyPitch()\n==========\n");
    g_fSamplerFrequencyPitches[slot] = factor;
    FMOD::Channel* channel = g_samplerChannels[slot];
    FMOD::Sound* sound = g_samplerSounds[slot];
    if (channel && sound) {
        float frequency = 0.0f;
        if (sound->getDefaults(&frequency, nullptr, nullptr, nullptr) != FMOD_OK || frequency == 0.0f)
            frequency = kFallbackFrequency;
        ERRCHECK("SetSampleFrequencyPitch", __FILE__, __LINE__, channel->setFrequency(factor * frequency));
    }
    return !channel && !sound ? kSamplerEmptySlot : TK_OK;
}

int CTKCore::SetSampleMode(int slot, bool loop) {
    if (!samplerSlotValid(slot)) return kSamplerBadSlot;
    const tk_engine::EngineCall engineCall;
    if (!engineCall.admitted()) return kSamplerEmptySlot;
    debugMsg("\n==========\nSetSampleMode()\n==========\n");
    if (!g_samplerSounds[slot]) return kSamplerEmptySlot;
    // On the sound: a playing channel keeps its mode until the next PlaySample.
    ERRCHECK("SetSampleMode", __FILE__, __LINE__, g_samplerSounds[slot]->setMode(loop ? FMOD_LOOP_NORMAL : FMOD_LOOP_OFF));
    return TK_OK;
}

int CTKCore::SetSamplePosition(int slot, int ms) {
    if (!samplerSlotValid(slot)) return kSamplerBadSlot;
    const tk_engine::EngineCall engineCall;
    if (!engineCall.admitted()) return kSamplerEmptySlot;
    debugMsg("\n==========\nSetSamplePosition()\n==========\n");
    if (!g_samplerChannels[slot]) return kSamplerEmptySlot;
    ERRCHECK("SetSamplePosition", __FILE__, __LINE__,
             g_samplerChannels[slot]->setPosition(static_cast<unsigned int>(ms), FMOD_TIMEUNIT_MS));
    return TK_OK;
}

int CTKCore::GetSamplePosition(int slot, unsigned int* ms) {
    if (!samplerSlotValid(slot)) return kSamplerBadSlot;
    const tk_engine::EngineCall engineCall;
    if (!engineCall.admitted()) return kSamplerEmptySlot;
    debugMsg("\n==========\nGetSamplePosition()\n==========\n");
    FMOD::Channel* channel = g_samplerChannels[slot];
    if (!channel) return kSamplerEmptySlot;
    bool playing = true;
    if (channel->isPlaying(&playing) != FMOD_OK) playing = true;
    if (playing) {
        ERRCHECK("GetSamplePosition", __FILE__, __LINE__, channel->getPosition(ms, FMOD_TIMEUNIT_MS));
    } else if (g_samplerSounds[slot]) {
        // A one-shot that has run out reports its whole length.
        ERRCHECK("GetSamplePosition", __FILE__, __LINE__, g_samplerSounds[slot]->getLength(ms, FMOD_TIMEUNIT_MS));
    }
    return TK_OK;
}

int CTKCore::GetSampleLength(int slot, unsigned int* ms) {
    if (!samplerSlotValid(slot)) return kSamplerBadSlot;
    const tk_engine::EngineCall engineCall;
    if (!engineCall.admitted()) return kSamplerEmptySlot;
    if (!g_samplerSounds[slot]) return kSamplerEmptySlot;
    ERRCHECK("GetSampleLength", __FILE__, __LINE__, g_samplerSounds[slot]->getLength(ms, FMOD_TIMEUNIT_MS));
    return TK_OK;
}
