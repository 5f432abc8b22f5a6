// The Channel calls. Setting calls are atomics (safe from any thread, also from inside a read
// callback of the channel's own units); stop and addDSP are structural (graph lock).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "system_impl.hpp"

using pw::mix::ChannelImpl;
using pw::mix::ChannelState;
using pw::mix::DSPImpl;

namespace {

template <typename Fn>
FMOD_RESULT withSource(ChannelImpl* c, Fn fn) {
    if (!c) return FMOD_ERR_INVALID_HANDLE;
    auto lock = pw::mix::queryLock(c->sourceLock);
    if (!lock.owns_lock()) return FMOD_ERR_NOTREADY;
    if (!c->source || !c->live()) return FMOD_ERR_INVALID_HANDLE;
    return pw::guarded([&] { return fn(*c->source); });  // a stream's seek may allocate
}

// A channel cut off mid-waveform clicks: while the mixer thread runs, a stop lets it fade out
// over one block first. The wait is bounded (the block being mixed, the fading one, and a margin)
// so a stalled device never holds a stop; without a running mixer (offline rendering) the
// channel stops at once, as it then plays no further block anyway.
void waitFadedOut(pw::mix::SystemImpl* s, const ChannelImpl* c) {
    const double blockSeconds = static_cast<double>(s->blockFrames) / std::max(1, s->mixRate.load(std::memory_order_relaxed));
    const auto limit = std::chrono::steady_clock::now() + std::chrono::duration<double>(3.0 * blockSeconds + 0.005);
    while (!c->silent.load(std::memory_order_acquire) && c->live() && s->mixerRunning.load(std::memory_order_acquire) &&
           std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::microseconds(500));
}

}  // namespace

FMOD_RESULT FMOD::Channel::getSystemObject(System** system) {
    if (!system) return FMOD_ERR_INVALID_PARAM;
    auto* c = pw::mix::resolveChannel(this);
    if (!c) return FMOD_ERR_INVALID_HANDLE;
    *system = c->system;
    return FMOD_OK;
}

FMOD_RESULT FMOD::Channel::stop() {
    auto* c = pw::mix::resolveChannel(this);
    if (!c) return FMOD_OK;  // over already: nothing to stop
    auto* s = c->system;
    if (s->onMixerThread()) return FMOD_ERR_INVALID_THREAD;
    if (s->mixerRunning.load(std::memory_order_acquire)) {
        {
            // Under the lock, so the request cannot land on a later playback of the same body.
            std::lock_guard<std::mutex> lock(s->graphLock);
            if (pw::mix::resolveChannel(this) != c) return FMOD_OK;
            c->stopFading.store(true, std::memory_order_release);
        }
        waitFadedOut(s, c);
    }
    std::lock_guard<std::mutex> lock(s->graphLock);
    // Resolved again under the lock: another thread may have stopped it meanwhile.
    if (pw::mix::resolveChannel(this) == c) pw::mix::releaseChannel(s, c);
    return FMOD_OK;
}

FMOD_RESULT FMOD::Channel::setPaused(bool paused) {
    auto* c = pw::mix::resolveChannel(this);
    if (!c) return FMOD_ERR_INVALID_HANDLE;
    c->paused.store(paused, std::memory_order_relaxed);
    return FMOD_OK;
}

FMOD_RESULT FMOD::Channel::getPaused(bool* paused) {
    if (!paused) return FMOD_ERR_INVALID_PARAM;
    auto* c = pw::mix::resolveChannel(this);
    if (!c) return FMOD_ERR_INVALID_HANDLE;
    *paused = c->paused.load(std::memory_order_relaxed);
    return FMOD_OK;
}

FMOD_RESULT FMOD::Channel::setVolume(float volume) {
    if (std::isnan(volume)) return FMOD_ERR_INVALID_FLOAT;
    auto* c = pw::mix::resolveChannel(this);
    if (!c) return FMOD_ERR_INVALID_HANDLE;
    c->volume.store(volume, std::memory_order_relaxed);
    return FMOD_OK;
}

FMOD_RESULT FMOD::Channel::getVolume(float* volume) {
    if (!volume) return FMOD_ERR_INVALID_PARAM;
    auto* c = pw::mix::resolveChannel(this);
    if (!c) return FMOD_ERR_INVALID_HANDLE;
    *volume = c->volume.load(std::memory_order_relaxed);
    return FMOD_OK;
}

FMOD_RESULT FMOD::Channel::setFrequency(float frequency) {
    // Negative frequencies play at their magnitude: a pulled source has no way back.
    if (std::isnan(frequency) || std::isinf(frequency)) return FMOD_ERR_INVALID_FLOAT;
    auto* c = pw::mix::resolveChannel(this);
    if (!c) return FMOD_ERR_INVALID_HANDLE;
    c->frequency.store(frequency, std::memory_order_relaxed);
    return FMOD_OK;
}

FMOD_RESULT FMOD::Channel::getFrequency(float* frequency) {
    if (!frequency) return FMOD_ERR_INVALID_PARAM;
    auto* c = pw::mix::resolveChannel(this);
    if (!c) return FMOD_ERR_INVALID_HANDLE;
    *frequency = c->frequency.load(std::memory_order_relaxed);
    return FMOD_OK;
}

FMOD_RESULT FMOD::Channel::setPan(float pan) {
    if (std::isnan(pan)) return FMOD_ERR_INVALID_FLOAT;
    auto* c = pw::mix::resolveChannel(this);
    if (!c) return FMOD_ERR_INVALID_HANDLE;
    c->pan.store(std::clamp(pan, -1.0f, 1.0f), std::memory_order_relaxed);
    return FMOD_OK;
}

FMOD_RESULT FMOD::Channel::getPan(float* pan) {
    if (!pan) return FMOD_ERR_INVALID_PARAM;
    auto* c = pw::mix::resolveChannel(this);
    if (!c) return FMOD_ERR_INVALID_HANDLE;
    *pan = c->pan.load(std::memory_order_relaxed);
    return FMOD_OK;
}

FMOD_RESULT FMOD::Channel::setMute(bool mute) {
    auto* c = pw::mix::resolveChannel(this);
    if (!c) return FMOD_ERR_INVALID_HANDLE;
    c->mute.store(mute, std::memory_order_relaxed);
    return FMOD_OK;
}

FMOD_RESULT FMOD::Channel::getMute(bool* mute) {
    if (!mute) return FMOD_ERR_INVALID_PARAM;
    auto* c = pw::mix::resolveChannel(this);
    if (!c) return FMOD_ERR_INVALID_HANDLE;
    *mute = c->mute.load(std::memory_order_relaxed);
    return FMOD_OK;
}

FMOD_RESULT FMOD::Channel::setSpeakerMix(float frontleft, float frontright, float center, float lfe, float backleft,
                                         float backright, float sideleft, float sideright) {
    auto* c = pw::mix::resolveChannel(this);
    if (!c) return FMOD_ERR_INVALID_HANDLE;
    const float levels[8] = {frontleft, frontright, center, lfe, backleft, backright, sideleft, sideright};
    for (float level : levels)
        if (std::isnan(level)) return FMOD_ERR_INVALID_FLOAT;
    for (auto& row : c->matrix)
        for (auto& gain : row) gain.store(0.0f, std::memory_order_relaxed);
    const int inputs = std::max(1, c->channels);
    for (int speaker = 0; speaker < 8; ++speaker) {
        int input = speaker;
        if (inputs == 1) {
            input = 0;  // mono reaches every speaker
        } else if (inputs == 2) {
            // left: FL C BL SL; right: FR LFE BR SR
            input = speaker % 2;
        }
        if (input < inputs) c->matrix[speaker][input].store(levels[speaker], std::memory_order_relaxed);
    }
    return FMOD_OK;
}

FMOD_RESULT FMOD::Channel::setSpeakerLevels(FMOD_SPEAKER speaker, float* levels, int numlevels) {
    auto* c = pw::mix::resolveChannel(this);
    if (!c) return FMOD_ERR_INVALID_HANDLE;
    if (speaker < 0 || speaker >= pw::mix::kMaxSpeakers || !levels || numlevels < 0 ||
        numlevels > pw::mix::kMaxInputs)
        return FMOD_ERR_INVALID_PARAM;
    for (int i = 0; i < numlevels; ++i)
        if (std::isnan(levels[i])) return FMOD_ERR_INVALID_FLOAT;
    for (int i = 0; i < numlevels; ++i) c->matrix[speaker][i].store(levels[i], std::memory_order_relaxed);
    return FMOD_OK;
}

FMOD_RESULT FMOD::Channel::getSpeakerLevels(FMOD_SPEAKER speaker, float* levels, int numlevels) {
    auto* c = pw::mix::resolveChannel(this);
    if (!c) return FMOD_ERR_INVALID_HANDLE;
    if (speaker < 0 || speaker >= pw::mix::kMaxSpeakers || !levels || numlevels < 0 ||
        numlevels > pw::mix::kMaxInputs)
        return FMOD_ERR_INVALID_PARAM;
    for (int i = 0; i < numlevels; ++i) levels[i] = c->matrix[speaker][i].load(std::memory_order_relaxed);
    return FMOD_OK;
}

FMOD_RESULT FMOD::Channel::isPlaying(bool* isplaying) {
    if (!isplaying) return FMOD_ERR_INVALID_PARAM;
    const ChannelImpl* c = pw::mix::resolveChannel(this);
    *isplaying = c && c->live();
    return FMOD_OK;
}

FMOD_RESULT FMOD::Channel::getSpectrum(float* spectrumarray, int numvalues, int channeloffset,
                                       FMOD_DSP_FFT_WINDOW windowtype) {
    auto* c = pw::mix::resolveChannel(this);
    if (!c) return FMOD_ERR_INVALID_HANDLE;
    // The ring is reallocated only under the graph lock while the channel is out of the mix.
    auto lock = pw::mix::queryLock(c->system->graphLock);
    if (!lock.owns_lock()) return FMOD_ERR_NOTREADY;
    if (!c->live()) return FMOD_ERR_INVALID_HANDLE;
    return c->ring.spectrum(spectrumarray, numvalues, channeloffset, windowtype);
}

FMOD_RESULT FMOD::Channel::getCurrentSound(Sound** sound) {
    if (!sound) return FMOD_ERR_INVALID_PARAM;
    *sound = nullptr;
    auto* c = pw::mix::resolveChannel(this);
    if (!c) return FMOD_ERR_INVALID_HANDLE;
    auto lock = pw::mix::queryLock(c->sourceLock);
    if (!lock.owns_lock()) return FMOD_ERR_NOTREADY;
    if (c->source) *sound = c->source->currentSound();
    return FMOD_OK;
}

FMOD_RESULT FMOD::Channel::getDSPHead(DSP** dsp) {
    if (!dsp) return FMOD_ERR_INVALID_PARAM;
    auto* c = pw::mix::resolveChannel(this);
    if (!c) return FMOD_ERR_INVALID_HANDLE;
    auto lock = pw::mix::queryLock(c->system->graphLock);
    if (!lock.owns_lock()) return FMOD_ERR_NOTREADY;
    *dsp = c->head;
    return c->head ? FMOD_OK : FMOD_ERR_UNSUPPORTED;
}

FMOD_RESULT FMOD::Channel::addDSP(DSP* dsp, DSPConnection** connection) {
    auto* c = pw::mix::resolveChannel(this);
    if (!c) return FMOD_ERR_INVALID_HANDLE;
    auto* s = c->system;
    if (!dsp || DSPImpl::cast(dsp)->system != s || DSPImpl::cast(dsp)->headOf == c) return FMOD_ERR_INVALID_PARAM;
    if (s->onMixerThread()) return FMOD_ERR_INVALID_THREAD;
    return pw::guarded([&] {
        std::lock_guard<std::mutex> lock(s->graphLock);
        pw::mix::attachUnit(s, c->chain, DSPImpl::cast(dsp));  // nearer the output than every earlier unit
        if (connection) *connection = &DSPImpl::cast(dsp)->connection;
        return FMOD_OK;
    });
}

FMOD_RESULT FMOD::Channel::setPosition(unsigned int position, FMOD_TIMEUNIT postype) {
    return withSource(pw::mix::resolveChannel(this), [&](pw::ChannelSource& s) { return s.setPosition(position, postype); });
}

FMOD_RESULT FMOD::Channel::getPosition(unsigned int* position, FMOD_TIMEUNIT postype) {
    if (!position) return FMOD_ERR_INVALID_PARAM;
    return withSource(pw::mix::resolveChannel(this), [&](pw::ChannelSource& s) { return s.getPosition(position, postype); });
}

FMOD_RESULT FMOD::Channel::setLoopPoints(unsigned int loopstart, FMOD_TIMEUNIT loopstarttype, unsigned int loopend,
                                         FMOD_TIMEUNIT loopendtype) {
    return withSource(pw::mix::resolveChannel(this), [&](pw::ChannelSource& s) {
        return s.setLoopPoints(loopstart, loopstarttype, loopend, loopendtype);
    });
}

FMOD_RESULT FMOD::Channel::setLoopCount(int loopcount) {
    return withSource(pw::mix::resolveChannel(this), [&](pw::ChannelSource& s) { return s.setLoopCount(loopcount); });
}

FMOD_RESULT FMOD::Channel::getLoopCount(int* loopcount) {
    if (!loopcount) return FMOD_ERR_INVALID_PARAM;
    return withSource(pw::mix::resolveChannel(this), [&](pw::ChannelSource& s) { return s.getLoopCount(loopcount); });
}

FMOD_RESULT FMOD::Channel::setMode(FMOD_MODE mode) {
    return withSource(pw::mix::resolveChannel(this), [&](pw::ChannelSource& s) { return s.setMode(mode); });
}

FMOD_RESULT FMOD::Channel::getMode(FMOD_MODE* mode) {
    if (!mode) return FMOD_ERR_INVALID_PARAM;
    return withSource(pw::mix::resolveChannel(this), [&](pw::ChannelSource& s) { return s.getMode(mode); });
}

FMOD_RESULT FMOD::Channel::getIndex(int* index) {
    if (!index) return FMOD_ERR_INVALID_PARAM;
    auto* c = pw::mix::resolveChannel(this);
    if (!c) return FMOD_ERR_INVALID_HANDLE;
    auto lock = pw::mix::queryLock(c->system->graphLock);
    if (!lock.owns_lock()) return FMOD_ERR_NOTREADY;
    *index = c->slot;
    return c->slot >= 0 ? FMOD_OK : FMOD_ERR_INVALID_HANDLE;
}

FMOD_RESULT FMOD::Channel::setUserData(void* userdata) {
    auto* c = pw::mix::resolveChannel(this);
    if (!c) return FMOD_ERR_INVALID_HANDLE;
    c->userData.store(userdata, std::memory_order_relaxed);
    return FMOD_OK;
}

FMOD_RESULT FMOD::Channel::getUserData(void** userdata) {
    if (!userdata) return FMOD_ERR_INVALID_PARAM;
    auto* c = pw::mix::resolveChannel(this);
    if (!c) return FMOD_ERR_INVALID_HANDLE;
    *userdata = c->userData.load(std::memory_order_relaxed);
    return FMOD_OK;
}
