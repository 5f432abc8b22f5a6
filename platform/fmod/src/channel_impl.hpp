// ChannelImpl: the body of one playing voice of a system (what playDSP and playSound start).
//
// Callers hold handles, not bodies (channel_pool.hpp): a body serves one playback after another,
// and a handle resolves only while its own playback lasts. A stale handle (a stopped channel, a
// one-shot that ended and was reaped) stays safe to call and never reaches a later playback:
// stop answers FMOD_OK, isPlaying answers false, every other call FMOD_ERR_INVALID_HANDLE.
// FMOD_CHANNEL_REUSE with a live handle restarts that same handle.
//
// Thread safety: setting calls write atomics and never wait. Structural calls (start, stop) run
// under the system's graph lock; stop waits for the channel's own in-flight count only (see the
// removal protocol in dsp_unit.hpp, the same pattern with `state` in place of `owner`).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "channel_pool.hpp"
#include "dsp_unit.hpp"
#include "resampler.hpp"
#include "services.hpp"
#include "speakers.hpp"
#include "spectrum.hpp"

namespace pw::mix {

enum class ChannelState { Idle, Playing, Ended, Stopped };

struct ChannelImpl : FMOD::Channel {
    SystemImpl* system = nullptr;  // the system of the current playback (set by the pool)
    int slot = -1;  // graph lock: index in the system's active table while playing
    uint32_t index = 0;                    // place in the pool, fixed
    std::atomic<uint64_t> generation{0};  // moves on each time the body goes back to the pool

    std::atomic<ChannelState> state{ChannelState::Idle};
    std::atomic<int> inflight{0};

    // Settings: any thread, read by the mixer once per block.
    std::atomic<bool> paused{false};
    std::atomic<bool> mute{false};
    std::atomic<float> volume{1.0f};
    std::atomic<float> frequency{44100.0f};
    std::atomic<float> pan{0.0f};
    std::atomic<float> matrix[kMaxSpeakers][kMaxInputs];
    std::atomic<void*> userData{nullptr};
    // A stop in progress: the mixer fades the channel out over one block as for a pause, then
    // raises `silent`, and the stop goes on to take it out of the mix.
    std::atomic<bool> stopFading{false};
    std::atomic<bool> silent{false};

    // Structure: written under the graph lock while the channel is out of the mix; read by the
    // mixer only between its in-flight increment and decrement.
    std::unique_ptr<ChannelSource> source;
    std::mutex sourceLock;  // forwarded source calls vs. the source being replaced or freed
    int channels = 0;
    DSPImpl* head = nullptr;  // the unit a DSP channel plays; null for sounds
    Chain chain;

    // Mixer thread state.
    Resampler resampler;
    SpectrumRing ring;
    // The speaker gains (matrix x volume x pan, 0 when muted or paused) the last block ended on:
    // each block ramps from these to the current settings, so no level change steps. `gainsFresh`
    // (set at start, out of the mix) takes the first block's gains as they are; `rendering` says the
    // last block pulled the source (a pause lets one block fade out before the source stops).
    float appliedGain[kMaxSpeakers][kMaxInputs] = {};
    bool gainsFresh = true;
    bool rendering = false;

    ChannelImpl() {
        for (auto& row : matrix)
            for (auto& level : row) level.store(0.0f, std::memory_order_relaxed);
    }

    bool live() const { return state.load(std::memory_order_acquire) == ChannelState::Playing; }

    // The default routing: mono to both front speakers, input i to speaker i otherwise.
    void resetMatrix();

};

// Graph lock held. Takes a playing channel out of the mix, waits for its in-flight pass, frees its
// source and clears its head. `finalState` is Stopped or Ended.
void retireChannel(SystemImpl* system, ChannelImpl* channel, ChannelState finalState);
// Graph lock held. Retires the channel if it still plays, empties its chain, and gives the body
// back to the pool: its handle is stale from here on.
void releaseChannel(SystemImpl* system, ChannelImpl* channel);

}  // namespace pw::mix
