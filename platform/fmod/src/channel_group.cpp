// The master channel group: every channel plays into it; its units and volume act on the whole mix
// before the system-level units.
#include "system_impl.hpp"

using pw::mix::ChannelGroupImpl;
using pw::mix::DSPImpl;

FMOD_RESULT FMOD::ChannelGroup::getSystemObject(System** system) {
    if (!system) return FMOD_ERR_INVALID_PARAM;
    *system = ChannelGroupImpl::cast(this)->system;
    return FMOD_OK;
}

FMOD_RESULT FMOD::ChannelGroup::setVolume(float volume) {
    if (volume != volume) return FMOD_ERR_INVALID_FLOAT;
    ChannelGroupImpl::cast(this)->volume.store(volume, std::memory_order_relaxed);
    return FMOD_OK;
}

FMOD_RESULT FMOD::ChannelGroup::getVolume(float* volume) {
    if (!volume) return FMOD_ERR_INVALID_PARAM;
    *volume = ChannelGroupImpl::cast(this)->volume.load(std::memory_order_relaxed);
    return FMOD_OK;
}

FMOD_RESULT FMOD::ChannelGroup::setMute(bool mute) {
    ChannelGroupImpl::cast(this)->mute.store(mute, std::memory_order_relaxed);
    return FMOD_OK;
}

FMOD_RESULT FMOD::ChannelGroup::getMute(bool* mute) {
    if (!mute) return FMOD_ERR_INVALID_PARAM;
    *mute = ChannelGroupImpl::cast(this)->mute.load(std::memory_order_relaxed);
    return FMOD_OK;
}

FMOD_RESULT FMOD::ChannelGroup::addDSP(DSP* dsp, DSPConnection** connection) {
    auto* group = ChannelGroupImpl::cast(this);
    auto* s = group->system;
    if (!dsp || DSPImpl::cast(dsp)->system != s) return FMOD_ERR_INVALID_PARAM;
    if (s->onMixerThread()) return FMOD_ERR_INVALID_THREAD;
    return pw::guarded([&] {
        std::lock_guard<std::mutex> lock(s->graphLock);
        pw::mix::attachUnit(s, group->chain, DSPImpl::cast(dsp));
        if (connection) *connection = &DSPImpl::cast(dsp)->connection;
        return FMOD_OK;
    });
}

FMOD_RESULT FMOD::ChannelGroup::getDSPHead(DSP** dsp) {
    if (!dsp) return FMOD_ERR_INVALID_PARAM;
    *dsp = nullptr;
    return FMOD_ERR_UNSUPPORTED;  // the group's units are reached through addDSP only
}

FMOD_RESULT FMOD::ChannelGroup::getSpectrum(float* spectrumarray, int numvalues, int channeloffset,
                                            FMOD_DSP_FFT_WINDOW windowtype) {
    // Every channel plays into the master group, so its spectrum is the system's output.
    return ChannelGroupImpl::cast(this)->system->getSpectrum(spectrumarray, numvalues, channeloffset, windowtype);
}
