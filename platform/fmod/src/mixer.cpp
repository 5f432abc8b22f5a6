// The mix of one block: every playing channel through its resampler, chain and speaker matrix
// into the master group, then the master group's units, its volume, the system-level units, and
// the block goes to the device.
//
// Mixer thread rules: no allocation (scratch is sized at init for kMaxInputs channels and the
// block length), no file I/O, no lock. Objects are reached through atomics and in-flight counts;
// see dsp_unit.hpp and reclaimer.hpp for why that is enough.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "system_impl.hpp"

namespace pw::mix {

namespace {

thread_local const SystemImpl* tl_mixerSystem = nullptr;

// Runs every unit of `chain` over the block; `cur` ends up pointing at the result.
void runChain(const Chain& chain, float*& cur, float*& other, unsigned frames, int channels) {
    const DspList* list = chain.snapshot.load(std::memory_order_seq_cst);
    if (!list) return;
    for (DSPImpl* unit : list->units) {
        if (unit->process(&chain, cur, other, frames, channels)) std::swap(cur, other);
    }
}

// Adds `gain` x `in` (every `ch`-th sample) to every `mixChannels`-th sample of `o`, the gain moving
// in a straight line from `from` to `to` over the block.
void addRamped(float* o, const float* in, unsigned frames, int mixChannels, int ch, float from, float to) {
    if (from == to) {
        for (unsigned f = 0; f < frames; ++f) o[f * mixChannels] += to * in[f * ch];
        return;
    }
    const float step = (to - from) / static_cast<float>(frames);
    for (unsigned f = 0; f < frames; ++f) o[f * mixChannels] += (from + step * static_cast<float>(f + 1)) * in[f * ch];
}

// Returns false when the channel's source ended in this block.
bool mixChannel(SystemImpl* s, ChannelImpl* c, float* mix) {
    const bool stopping = c->stopFading.load(std::memory_order_acquire);
    const bool paused = stopping || c->paused.load(std::memory_order_relaxed);
    if (paused && (!c->rendering || c->gainsFresh)) {
        // Faded out already (or paused before its first block): a paused channel pulls nothing.
        // A channel that has not played yet stays fresh: its first block after the unpause plays
        // at its level at once, as a sample's attack must, however many blocks the mixer ran
        // while it waited (a start paused, then unpaused, races the mixer's next block).
        if (stopping) c->silent.store(true, std::memory_order_release);
        return true;
    }
    c->rendering = !paused;  // a pause renders this one block more, fading it out
    const unsigned frames = s->blockFrames;
    const int ch = c->channels;
    float* cur = s->scratch.a.data();
    float* other = s->scratch.b.data();
    const double ratio =
        std::fabs(static_cast<double>(c->frequency.load(std::memory_order_relaxed))) / s->mixRate.load(std::memory_order_relaxed);
    const bool more = c->resampler.render(*c->source, cur, frames, ratio);
    runChain(c->chain, cur, other, frames, ch);
    c->ring.write(cur, frames);

    const bool silent = paused || c->mute.load(std::memory_order_relaxed);
    const float volume = silent ? 0.0f : c->volume.load(std::memory_order_relaxed);
    const float pan = c->pan.load(std::memory_order_relaxed);
    const bool fresh = c->gainsFresh;
    c->gainsFresh = false;
    const int mixChannels = s->layout.channels;
    for (int speaker = 0; speaker < kMaxSpeakers; ++speaker) {
        const int out = s->layout.channelOf[speaker];
        if (out < 0) continue;
        float panGain = 1.0f;
        if (speaker == FMOD_SPEAKER_FRONT_LEFT && pan > 0.0f) panGain = 1.0f - pan;
        if (speaker == FMOD_SPEAKER_FRONT_RIGHT && pan < 0.0f) panGain = 1.0f + pan;
        for (int input = 0; input < ch; ++input) {
            const float gain = c->matrix[speaker][input].load(std::memory_order_relaxed) * volume * panGain;
            float& applied = c->appliedGain[speaker][input];
            const float from = fresh ? gain : applied;
            applied = gain;
            if (gain == 0.0f && from == 0.0f) continue;
            addRamped(mix + out, cur + input, frames, mixChannels, ch, from, gain);
        }
    }
    return more;
}

}  // namespace

bool SystemImpl::onMixerThread() const { return tl_mixerSystem == this; }

bool onAnyMixerThread() { return tl_mixerSystem != nullptr; }

void allocateMixer(SystemImpl* s) {
    const size_t frames = s->blockFrames;
    s->scratch.a.assign(frames * kMaxInputs, 0.0f);
    s->scratch.b.assign(frames * kMaxInputs, 0.0f);
    s->scratch.mix.assign(frames * kMaxMixChannels, 0.0f);
    s->scratch.mix2.assign(frames * kMaxMixChannels, 0.0f);
    s->scratch.out.assign(frames * kMaxMixChannels, 0.0f);
    s->outputRing.allocate(s->layout.channels);
}

void mixBlock(SystemImpl* s, float* out) {
    s->reclaimer.blockStarted();
    const unsigned frames = s->blockFrames;
    const int mixChannels = s->layout.channels;
    float* cur = s->scratch.mix.data();
    float* other = s->scratch.mix2.data();
    std::fill_n(cur, static_cast<size_t>(frames) * mixChannels, 0.0f);

    for (int i = 0; i < s->maxChannels; ++i) {
        ChannelImpl* c = s->active[i].load(std::memory_order_acquire);
        if (!c) continue;
        c->inflight.fetch_add(1, std::memory_order_seq_cst);
        if (c->state.load(std::memory_order_seq_cst) == ChannelState::Playing && !mixChannel(s, c, cur)) {
            // A one-shot ended: out of the mix; reapEndedChannels frees its source later.
            ChannelState expected = ChannelState::Playing;
            if (c->state.compare_exchange_strong(expected, ChannelState::Ended, std::memory_order_seq_cst)) {
                ChannelImpl* self = c;
                s->active[i].compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
                liveCounter(testhooks::Kind::Channel).fetch_sub(1, std::memory_order_relaxed);
            }
        }
        c->inflight.fetch_sub(1, std::memory_order_release);
    }

    runChain(s->master.chain, cur, other, frames, mixChannels);
    const float groupGain = s->master.mute.load(std::memory_order_relaxed)
                                ? 0.0f
                                : s->master.volume.load(std::memory_order_relaxed);
    // The group's volume ramps over the block from where the last one ended.
    const float fromGain = s->appliedGroupGain;
    s->appliedGroupGain = groupGain;
    if (fromGain != groupGain) {
        const float step = (groupGain - fromGain) / static_cast<float>(frames);
        for (unsigned f = 0; f < frames; ++f) {
            const float g = fromGain + step * static_cast<float>(f + 1);
            for (int k = 0; k < mixChannels; ++k) cur[static_cast<size_t>(f) * mixChannels + k] *= g;
        }
    } else if (groupGain != 1.0f) {
        for (size_t k = 0; k < static_cast<size_t>(frames) * mixChannels; ++k) cur[k] *= groupGain;
    }
    runChain(s->systemChain, cur, other, frames, mixChannels);
    s->outputRing.write(cur, frames);
    std::copy_n(cur, static_cast<size_t>(frames) * mixChannels, out);
    s->reclaimer.blockEnded();
}

FMOD_RESULT startMixerThread(SystemImpl* s) {
    s->stopping.store(false, std::memory_order_release);
    try {
        s->thread = std::thread([s] {
            tl_mixerSystem = s;
            s->mixerRunning.store(true, std::memory_order_release);
            float* out = s->scratch.out.data();
            // The device paces us: a queueing device waits until it wants the block before it
            // is mixed, so the block is handed over as soon as it is made; a stepped or clocked one waits
            // in write() until it took the block.
            while (!s->stopping.load(std::memory_order_acquire)) {
                if (!s->stream->awaitRoom()) break;  // device gone
                mixBlock(s, out);
                if (!s->stream->write(out, s->blockFrames)) break;  // device gone
            }
            s->mixerRunning.store(false, std::memory_order_release);
            tl_mixerSystem = nullptr;
        });
    } catch (const std::exception&) {
        return FMOD_ERR_MEMORY;
    }
    return FMOD_OK;
}

void stopMixerThread(SystemImpl* s) {
    s->stopping.store(true, std::memory_order_release);
    if (s->stream) s->stream->abort();  // unblocks a write waiting for the device
    if (s->thread.joinable()) s->thread.join();
}

FMOD_RESULT renderBlocksImpl(SystemImpl* s, unsigned blocks, std::vector<float>* collected) {
    const SystemImpl* previous = tl_mixerSystem;
    tl_mixerSystem = s;
    const size_t samples = static_cast<size_t>(s->blockFrames) * s->layout.channels;
    for (unsigned b = 0; b < blocks; ++b) {
        mixBlock(s, s->scratch.out.data());
        if (collected) collected->insert(collected->end(), s->scratch.out.begin(), s->scratch.out.begin() + samples);
    }
    tl_mixerSystem = previous;
    return FMOD_OK;
}

}  // namespace pw::mix
