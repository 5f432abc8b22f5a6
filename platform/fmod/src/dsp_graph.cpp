// Attaching units to chains and taking them out again; running one unit over a block.
#include <algorithm>
#include <cstring>
#include <new>
#include <thread>

#include "system_impl.hpp"

namespace pw::mix {

namespace {

// out = in + (out - in) x t, t rising from 0 to 1 over the block (or falling when `fadeOut`).
void crossFade(const float* in, float* out, unsigned frames, int channels, bool fadeOut) {
    for (unsigned f = 0; f < frames; ++f) {
        const float t = static_cast<float>(f + 1) / static_cast<float>(frames);
        const float w = fadeOut ? 1.0f - t : t;
        for (int ch = 0; ch < channels; ++ch) {
            const size_t k = static_cast<size_t>(f) * channels + ch;
            out[k] = in[k] + (out[k] - in[k]) * w;
        }
    }
}

}  // namespace

bool DSPImpl::process(const void* where, float* in, float* out, unsigned frames, int channels) {
    inflight.fetch_add(1, std::memory_order_seq_cst);
    bool wrote = false;
    if (owner.load(std::memory_order_seq_cst) == where && active.load(std::memory_order_relaxed)) {
        const bool bypassed = bypass.load(std::memory_order_relaxed);
        const Wet before = wet;
        if (!bypassed || before == Wet::Wet) {
            // Switched on after a bypass: the unit starts over from its engaging state.
            if (effect && before == Wet::Dry) effect->engage();
            wrote = run(in, out, frames, channels);
        }
        wet = bypassed ? Wet::Dry : Wet::Wet;
        // A bypass switched on plays the last processed block fading to dry; switched off, the
        // processed block rises from dry.
        if (wrote && before != Wet::Fresh && bypassed != (before == Wet::Dry))
            crossFade(in, out, frames, channels, bypassed);
    }
    inflight.fetch_sub(1, std::memory_order_release);
    return wrote;
}

bool DSPImpl::run(float* in, float* out, unsigned frames, int channels) {
    bool wrote = false;
    if (effect) {
        if (resetPending.exchange(false, std::memory_order_acq_rel)) effect->reset();
        // Wider raw mixes, and blocks longer than the unit was sized for (a unit made before
        // the buffer size changed), pass the built-in units.
        if (channels <= fx::kMaxChannels && frames <= effectMaxFrames) {
            effect->process(in, out, frames, channels);
            wrote = true;
        }
    } else if (description.read) {
        // A callback that leaves its output alone (or fails) passes its input on; a failing
        // callback never stops the mix.
        std::memcpy(out, in, sizeof(float) * frames * channels);
        description.read(&state, in, out, frames, channels, channels);
        wrote = true;
    }
    const float mix = connection.mix.load(std::memory_order_relaxed);
    if (wrote && mix != 1.0f) {
        for (size_t k = 0; k < static_cast<size_t>(frames) * channels; ++k) out[k] *= mix;
    }
    return wrote;
}

void waitIdle(const std::atomic<int>& inflight) {
    while (inflight.load(std::memory_order_acquire) != 0) std::this_thread::yield();
}

void publishChain(SystemImpl* system, Chain& chain) {
    DspList* fresh = new (std::nothrow) DspList;
    if (fresh) {
        try {
            fresh->units = chain.units;
        } catch (const std::bad_alloc&) {
            delete fresh;
            fresh = nullptr;
        }
    }
    const DspList* current = chain.snapshot.load(std::memory_order_seq_cst);
    if (!fresh) {
        // No memory for a new snapshot: the current one is taken out of the mix for a block and
        // rewritten in place, which needs no allocation when the list did not grow.
        if (!current ? !chain.units.empty() : current->units.capacity() < chain.units.size()) throw std::bad_alloc();
        if (!current) return;
        auto* reused = const_cast<DspList*>(current);
        chain.snapshot.store(nullptr, std::memory_order_seq_cst);
        system->reclaimer.waitForRunningBlock();
        reused->units = chain.units;
        chain.snapshot.store(reused, std::memory_order_seq_cst);
        return;
    }
    const DspList* old = chain.snapshot.exchange(fresh, std::memory_order_seq_cst);
    if (old) system->reclaimer.retire([old] { delete old; });
}

void detachUnit(SystemImpl* system, DSPImpl* unit) {
    if (unit->headOf) {
        // The head of a channel: the channel has nothing left to play.
        retireChannel(system, unit->headOf, ChannelState::Stopped);
        return;
    }
    Chain* chain = unit->chain;
    if (!chain) return;
    unit->owner.store(nullptr, std::memory_order_seq_cst);
    chain->units.erase(std::remove(chain->units.begin(), chain->units.end(), unit), chain->units.end());
    publishChain(system, *chain);
    unit->chain = nullptr;
    waitIdle(unit->inflight);
}

void attachUnit(SystemImpl* system, Chain& chain, DSPImpl* unit) {
    detachUnit(system, unit);
    chain.units.push_back(unit);  // nearest the output
    try {
        publishChain(system, chain);
    } catch (const std::bad_alloc&) {
        chain.units.pop_back();  // left detached
        throw;
    }
    unit->chain = &chain;
    unit->wet = DSPImpl::Wet::Fresh;  // detached and idle: the mixer reads it only once owned
    unit->owner.store(&chain, std::memory_order_seq_cst);
    unit->active.store(true, std::memory_order_relaxed);
}

void destroyUnit(SystemImpl* system, DSPImpl* unit) {
    detachUnit(system, unit);
    if (!unit->effect && unit->description.release) unit->description.release(&unit->state);
    system->units.erase(std::remove(system->units.begin(), system->units.end(), unit), system->units.end());
    liveCounter(testhooks::Kind::DSP).fetch_sub(1, std::memory_order_relaxed);
    // An old chain snapshot may still name the unit until the running block ends.
    system->reclaimer.retire([unit] { delete unit; });
}

const char* builtinName(FMOD_DSP_TYPE type) {
    switch (type) {
    case FMOD_DSP_TYPE_LOWPASS: return "Lowpass";
    case FMOD_DSP_TYPE_HIGHPASS: return "Highpass";
    case FMOD_DSP_TYPE_ECHO: return "Echo";
    case FMOD_DSP_TYPE_FLANGE: return "Flange";
    case FMOD_DSP_TYPE_NORMALIZE: return "Normalize";
    case FMOD_DSP_TYPE_PARAMEQ: return "ParamEQ";
    case FMOD_DSP_TYPE_COMPRESSOR: return "Compressor";
    default: return nullptr;
    }
}

}  // namespace pw::mix
