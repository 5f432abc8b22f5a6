// Starting and stopping channels: playDSP, the sound half's systemPlaySource, and the
// FMOD_CHANNEL_FREE / FMOD_CHANNEL_REUSE rules.
#include <algorithm>
#include <new>

#include "dsp_source.hpp"
#include "system_impl.hpp"

namespace pw::mix {

void ChannelImpl::resetMatrix() {
    for (int s = 0; s < kMaxSpeakers; ++s)
        for (int i = 0; i < kMaxInputs; ++i) matrix[s][i].store(0.0f, std::memory_order_relaxed);
    if (channels == 1) {
        matrix[FMOD_SPEAKER_FRONT_LEFT][0].store(1.0f, std::memory_order_relaxed);
        matrix[FMOD_SPEAKER_FRONT_RIGHT][0].store(1.0f, std::memory_order_relaxed);
    } else {
        for (int i = 0; i < channels && i < kMaxInputs; ++i) matrix[i][i].store(1.0f, std::memory_order_relaxed);
    }
}

void retireChannel(SystemImpl* system, ChannelImpl* c, ChannelState finalState) {
    const ChannelState previous = c->state.exchange(finalState, std::memory_order_seq_cst);
    if (c->slot >= 0) {
        ChannelImpl* self = c;
        system->active[c->slot].compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
        c->slot = -1;
    }
    if (previous == ChannelState::Playing) liveCounter(testhooks::Kind::Channel).fetch_sub(1, std::memory_order_relaxed);
    waitIdle(c->inflight);  // the pass that may be inside the channel, its head and chain
    std::unique_ptr<ChannelSource> gone;
    {
        std::lock_guard<std::mutex> lock(c->sourceLock);
        gone = std::move(c->source);
    }
    if (c->head) {
        c->head->owner.store(nullptr, std::memory_order_seq_cst);
        c->head->headOf = nullptr;
        c->head = nullptr;
    }
    // The body is pooled (channel_pool.hpp): its resampler and spectrum buffers stay for the
    // next playback, so that a start allocates nothing once the pool is warm.
    gone.reset();  // outside the source lock
}

void releaseChannel(SystemImpl* system, ChannelImpl* c) {
    const ChannelState st = c->state.load(std::memory_order_acquire);
    if (st == ChannelState::Playing || c->source || c->head)
        retireChannel(system, c, st == ChannelState::Playing ? ChannelState::Stopped : st);
    // Out of the mix: plain writes are safe. The next playback starts with an empty chain.
    for (DSPImpl* unit : c->chain.units) {
        unit->owner.store(nullptr, std::memory_order_seq_cst);
        unit->chain = nullptr;
    }
    if (!c->chain.units.empty()) {
        c->chain.units.clear();
        publishChain(system, c->chain);
    }
    auto& list = system->channels;
    list.erase(std::remove(list.begin(), list.end(), c), list.end());
    c->state.store(ChannelState::Idle, std::memory_order_release);
    giveBackChannel(c);
}

void reapEndedChannels(SystemImpl* system) {
    // Only the bodies this system holds: at most its voice count, however many plays came before.
    for (size_t i = system->channels.size(); i-- > 0;) {
        ChannelImpl* c = system->channels[i];
        if (c->state.load(std::memory_order_acquire) != ChannelState::Playing) releaseChannel(system, c);
    }
    system->reclaimer.collect();
}

void stopAllChannels(SystemImpl* system) {
    while (!system->channels.empty()) releaseChannel(system, system->channels.back());
}

namespace {

struct StartArgs {
    FMOD_CHANNELINDEX index;
    std::unique_ptr<ChannelSource> source;
    DSPImpl* head = nullptr;
    bool paused = false;
    float volume = 1.0f;
    float pan = 0.0f;
};

FMOD_RESULT startChannel(SystemImpl* s, StartArgs args, FMOD::Channel** out) {
    if (args.index < FMOD_CHANNEL_REUSE || (args.index >= 0 && args.index >= s->maxChannels))
        return FMOD_ERR_INVALID_PARAM;
    const int channels = args.source->channels();
    if (channels < 1 || channels > kMaxInputs) return FMOD_ERR_TOOMANYCHANNELS;
    reapEndedChannels(s);

    ChannelImpl* c = nullptr;
    if (args.index == FMOD_CHANNEL_REUSE && out && *out) {
        ChannelImpl* given = resolveChannel(*out);
        if (given && given->system == s && given->live()) {
            c = given;
            retireChannel(s, c, ChannelState::Stopped);
        }
    }
    int slot = -1;
    for (int i = 0; i < s->maxChannels; ++i) {
        if (!s->active[i].load(std::memory_order_acquire)) {
            slot = i;
            break;
        }
    }
    if (slot < 0) return FMOD_ERR_CHANNEL_ALLOC;
    if (!c) {
        try {
            s->channels.reserve(s->channels.size() + 1);
            c = takeChannel(s);
        } catch (const std::bad_alloc&) {
            return FMOD_ERR_MEMORY;
        }
        s->channels.push_back(c);
    }

    // Out of the mix from here to the publication below: plain writes are safe.
    for (DSPImpl* unit : c->chain.units) {  // a restarted handle starts with an empty chain
        unit->owner.store(nullptr, std::memory_order_seq_cst);
        unit->chain = nullptr;
    }
    c->chain.units.clear();
    publishChain(s, c->chain);
    c->channels = channels;
    if (!c->resampler.allocated() || c->resampler.channels() != channels) c->resampler.allocate(channels);
    c->resampler.reset();
    c->ring.allocate(channels);
    c->resetMatrix();
    c->paused.store(args.paused, std::memory_order_relaxed);
    c->gainsFresh = true;
    c->stopFading.store(false, std::memory_order_relaxed);
    c->silent.store(false, std::memory_order_relaxed);
    c->rendering = !args.paused;
    c->mute.store(false, std::memory_order_relaxed);
    c->volume.store(args.volume, std::memory_order_relaxed);
    c->pan.store(args.pan, std::memory_order_relaxed);
    c->frequency.store(args.source->defaultFrequency(), std::memory_order_relaxed);
    if (args.head) {
        static_cast<DspSource*>(args.source.get())->setChannel(c);
        args.head->wet = DSPImpl::Wet::Fresh;
        args.head->owner.store(c, std::memory_order_seq_cst);
        args.head->headOf = c;
        args.head->active.store(true, std::memory_order_relaxed);
        c->head = args.head;
    }
    {
        std::lock_guard<std::mutex> lock(c->sourceLock);
        c->source = std::move(args.source);
    }
    c->slot = slot;
    c->state.store(ChannelState::Playing, std::memory_order_seq_cst);
    liveCounter(testhooks::Kind::Channel).fetch_add(1, std::memory_order_relaxed);
    s->active[slot].store(c, std::memory_order_release);
    if (out) *out = channelHandle(c);
    return FMOD_OK;
}

}  // namespace

}  // namespace pw::mix

using pw::mix::SystemImpl;

FMOD_RESULT FMOD::System::playDSP(FMOD_CHANNELINDEX channelid, DSP* dsp, bool paused, Channel** channel) {
    auto* s = SystemImpl::cast(this);
    if (!dsp) return FMOD_ERR_INVALID_PARAM;
    auto* unit = pw::mix::DSPImpl::cast(dsp);
    if (unit->system != s) return FMOD_ERR_INVALID_PARAM;
    if (s->onMixerThread()) return FMOD_ERR_INVALID_THREAD;
    return pw::guarded([&] {
        std::lock_guard<std::mutex> lock(s->graphLock);
        if (!s->initialised.load(std::memory_order_acquire)) return FMOD_ERR_UNINITIALIZED;
        // The head of a channel is nowhere else. Restarting the very channel it heads keeps that
        // handle (startChannel retires it first).
        const bool restartsOwnChannel =
            channelid == FMOD_CHANNEL_REUSE && channel && *channel && unit->headOf == pw::mix::resolveChannel(*channel);
        if (!restartsOwnChannel) pw::mix::detachUnit(s, unit);
        const int generated = unit->description.channels > 0 ? unit->description.channels
                                                             : std::min(s->layout.channels, pw::mix::kMaxInputs);
        if (generated > pw::mix::kMaxInputs) return FMOD_ERR_TOOMANYCHANNELS;
        pw::mix::StartArgs args;
        args.index = channelid;
        args.source = std::make_unique<pw::mix::DspSource>(unit, generated, s->blockFrames);
        args.head = unit;
        args.paused = paused;
        args.volume = unit->defaultVolume.load(std::memory_order_relaxed);
        args.pan = unit->defaultPan.load(std::memory_order_relaxed);
        return pw::mix::startChannel(s, std::move(args), channel);
    });
}

namespace pw {

FMOD_RESULT systemPlaySource(FMOD::System* system, FMOD_CHANNELINDEX index, std::unique_ptr<ChannelSource> source,
                             bool paused, FMOD::Channel** channel) {
    if (!system || !source) return FMOD_ERR_INVALID_PARAM;
    auto* s = SystemImpl::cast(system);
    if (s->onMixerThread()) return FMOD_ERR_INVALID_THREAD;
    std::lock_guard<std::mutex> lock(s->graphLock);
    if (!s->initialised.load(std::memory_order_acquire)) return FMOD_ERR_UNINITIALIZED;
    mix::StartArgs args;
    args.index = index;
    args.source = std::move(source);
    args.paused = paused;
    return mix::startChannel(s, std::move(args), channel);
}

}  // namespace pw
