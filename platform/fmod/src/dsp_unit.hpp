// DSPImpl: one DSP unit (custom from a description, or built in) and the chains that hold units.
//
// A chain is an ordered list of units that the mixer runs one after the other (a channel's chain,
// the master group's, the system's). Structural edits happen under the system's graph lock and
// publish an immutable snapshot that the mixer loads once per block; see reclaimer.hpp.
//
// Removal protocol (the mixer never waits, a remover waits only for the unit concerned):
//   mixer:   inflight += 1 (seq_cst); if owner == this chain: run; inflight -= 1 (release)
//   remover: owner = null (seq_cst); publish a snapshot without the unit; wait for inflight == 0
// After the wait no callback of the unit runs, and none will: a later mixer pass sees the owner
// cleared before it calls anything.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "effect.hpp"
#include "fmod.hpp"

namespace pw::mix {

struct SystemImpl;
struct DSPImpl;

struct DspList {
    std::vector<DSPImpl*> units;
};

struct Chain {
    std::atomic<const DspList*> snapshot{nullptr};  // what the mixer runs
    std::vector<DSPImpl*> units;                    // graph lock: the truth, head first
};

struct ConnectionImpl : FMOD::DSPConnection {
    DSPImpl* unit = nullptr;
    std::atomic<float> mix{1.0f};
};

struct DSPImpl : FMOD::DSP {
    SystemImpl* system = nullptr;
    FMOD_DSP_DESCRIPTION description{};  // custom units; built-in units carry their name here
    FMOD_DSP_TYPE type = FMOD_DSP_TYPE_UNKNOWN;
    std::unique_ptr<fx::Effect> effect;  // built-in units only
    unsigned effectMaxFrames = 0;        // the block length the effect was sized for
    FMOD_DSP_STATE state{};
    ConnectionImpl connection;

    std::atomic<bool> active{false};
    std::atomic<bool> bypass{false};
    std::atomic<bool> resetPending{false};
    std::atomic<void*> userData{nullptr};
    std::atomic<float> defaultFrequency{44100.0f};
    std::atomic<float> defaultVolume{1.0f};
    std::atomic<float> defaultPan{0.0f};
    std::atomic<int> defaultPriority{128};

    // Mixer thread (reset by attachUnit before the unit is published): whether the last block ran
    // the unit. A bypass switched either way cross-fades between the dry and the processed block
    // over one block instead of stepping; a unit just attached starts as it is.
    enum class Wet { Fresh, Dry, Wet };
    Wet wet = Wet::Fresh;

    // See the removal protocol above.
    std::atomic<const void*> owner{nullptr};
    std::atomic<int> inflight{0};
    // Graph lock: where the unit is attached (a chain, or the channel it heads), else null.
    Chain* chain = nullptr;
    struct ChannelImpl* headOf = nullptr;

    // The channel count a unit produces for `inChannels` in: a generator's own count, else the
    // input's.
    int outChannels(int inChannels) const {
        return description.channels > 0 ? description.channels : inChannels;
    }

    // Mixer thread. Runs the unit from `in` to `out` (distinct buffers of `frames` frames) when
    // it is attached to `where`, active and not bypassed; returns false when `out` was not
    // written (the input then passes unchanged).
    bool process(const void* where, float* in, float* out, unsigned frames, int channels);
    // Mixer thread: the unit itself over the block, bypass aside; false when `out` was not written.
    bool run(float* in, float* out, unsigned frames, int channels);

    static DSPImpl* cast(FMOD::DSP* dsp) { return static_cast<DSPImpl*>(dsp); }
};

// Graph lock held. Appends `unit` to the output end of `chain` (detaching it from wherever it was)
// and activates it. Throws bad_alloc, the unit left detached.
void attachUnit(SystemImpl* system, Chain& chain, DSPImpl* unit);
// Graph lock held. Takes `unit` out of its chain, splicing the neighbours, and waits until no
// callback of it runs. Harmless for a detached unit.
void detachUnit(SystemImpl* system, DSPImpl* unit);
// Graph lock held. Publishes a fresh snapshot of `chain.units`. Never fails when the list did not
// grow (taking units out); throws bad_alloc, nothing changed, when a grown list has no memory.
void publishChain(SystemImpl* system, Chain& chain);
// Waits until no mixer pass is inside `unit` (or returns at once on the mixer thread).
void waitIdle(const std::atomic<int>& inflight);

// The display name of a built-in type, or null.
const char* builtinName(FMOD_DSP_TYPE type);

}  // namespace pw::mix
