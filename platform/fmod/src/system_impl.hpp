// SystemImpl: one audio system, its configuration, its graph (channels, master group, system-level
// units) and its mixer thread.
//
// Locks, outermost first:
// - configLock: configuration and the init/close transitions; never held by the mixer.
// - graphLock: structural edits (units added, removed or released; channels started or stopped).
//   Never taken by the mixer thread; never held while a callback of ours runs. A structural call
//   made from a callback on this system's own mixer thread is refused with
//   FMOD_ERR_INVALID_THREAD, since it would wait for the very pass that made it.
// Setting calls take no lock at all.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "channel_impl.hpp"
#include "dsp_unit.hpp"
#include "reclaimer.hpp"
#include "services.hpp"
#include "speakers.hpp"
#include "spectrum.hpp"

namespace pw::mix {

struct ChannelGroupImpl : FMOD::ChannelGroup {
    SystemImpl* system = nullptr;
    std::atomic<float> volume{1.0f};
    std::atomic<bool> mute{false};
    Chain chain;
    static ChannelGroupImpl* cast(FMOD::ChannelGroup* group) { return static_cast<ChannelGroupImpl*>(group); }
};

struct LoadedPlugin {
    unsigned handle = 0;
    void* library = nullptr;
    const PWCodecDescription* codec = nullptr;
    bool unloaded = false;  // unloadPlugin hides it; the library stays mapped until release
};

struct SystemConfig {
    FMOD_OUTPUTTYPE output = FMOD_OUTPUTTYPE_AUTODETECT;
    int driver = 0;
    int softwareChannels = 64;
    int rate = 44100;
    FMOD_SOUND_FORMAT format = FMOD_SOUND_FORMAT_PCM16;
    int outputChannels = 0;  // 0 until set: the speaker mode decides
    int maxInputChannels = 6;
    FMOD_DSP_RESAMPLER resampler = FMOD_DSP_RESAMPLER_LINEAR;
    unsigned dspLength = 1024;
    int dspCount = 4;
    unsigned streamSize = 16384;
    FMOD_TIMEUNIT streamUnit = FMOD_TIMEUNIT_RAWBYTES;
    FMOD_SPEAKERMODE speakerMode = FMOD_SPEAKERMODE_STEREO;
    FMOD_ADVANCEDSETTINGS advanced{};
    std::string pluginPath;
};

struct SystemImpl : FMOD::System {
    SystemImpl();
    ~SystemImpl();

    // ---- configuration (configLock) ----
    std::mutex configLock;
    SystemConfig config;
    std::atomic<void*> userData{nullptr};
    bool driversListed = false;
    std::vector<dev::OutputDriverInfo> drivers;

    // ---- initialised state: written by init/close under configLock and graphLock ----
    std::atomic<bool> initialised{false};
    std::atomic<int> mixRate{44100};
    SpeakerLayout layout;
    unsigned blockFrames = 1024;
    int maxChannels = 0;

    // ---- graph (graphLock) ----
    std::mutex graphLock;
    Reclaimer reclaimer;
    ChannelGroupImpl master;
    float appliedGroupGain = 1.0f;  // mixer thread: the master volume the last block ended on
    Chain systemChain;
    std::vector<ChannelImpl*> channels;  // bodies taken from the pool: playing, or ended and not reaped
    std::unique_ptr<std::atomic<ChannelImpl*>[]> active;      // maxChannels slots; the mixer's view
    std::vector<DSPImpl*> units;                              // units created and not released

    // ---- mixer thread ----
    std::unique_ptr<dev::OutputStream> stream;
    std::thread thread;
    std::atomic<bool> stopping{false};
    std::atomic<bool> mixerRunning{false};  // the mixer thread is in its loop (a stop may wait a block)
    SpectrumRing outputRing;
    struct Scratch {
        std::vector<float> a, b;        // channel buffers, kMaxInputs x block
        std::vector<float> mix, mix2;   // mix buffers, kMaxMixChannels x block
        std::vector<float> out;         // the block handed to the device
    } scratch;

    // ---- plug-ins (pluginLock) ----
    std::mutex pluginLock;
    std::vector<LoadedPlugin> plugins;
    unsigned nextPluginHandle = 1;

    dev::Backend* backend();  // null for the no-sound types
    bool onMixerThread() const;

    static SystemImpl* cast(FMOD::System* system) { return static_cast<SystemImpl*>(system); }
};

// Callback safety: whether the calling thread is any system's mixer thread.
bool onAnyMixerThread();

// The lock of a query call. On a mixer thread the lock is only tried: a structural edit may hold
// it while it waits for the very pass that runs the callback. Callers answer FMOD_ERR_NOTREADY
// when the returned lock is not owned.
inline std::unique_lock<std::mutex> queryLock(std::mutex& mutex) {
    if (onAnyMixerThread()) return std::unique_lock<std::mutex>(mutex, std::try_to_lock);
    return std::unique_lock<std::mutex>(mutex);
}

// Mixer (mixer.cpp) ----------------------------------------------------------------------------

// Allocates the scratch buffers for the current layout and block length. configLock held.
void allocateMixer(SystemImpl* system);
// Mixes one block into `out` (layout.channels x blockFrames interleaved). Mixer thread (or the
// caller of renderBlocks for a system without a thread).
void mixBlock(SystemImpl* system, float* out);
// Starts/stops the mixer thread around `system->stream`.
FMOD_RESULT startMixerThread(SystemImpl* system);
void stopMixerThread(SystemImpl* system);

// Plug-ins (system_plugins.cpp): unmaps a loaded plug-in. pluginLock held.
void closePlugin(LoadedPlugin& plugin);

// Graph helpers (channel_start.cpp, dsp_graph.cpp) --------------------------------------------------------------

// Graph lock held: stops every playing channel.
void stopAllChannels(SystemImpl* system);
// Graph lock held: releases a unit completely (detach, release callback, count, free later).
void destroyUnit(SystemImpl* system, DSPImpl* unit);
// Graph lock held: finishes channels that ended on the mixer thread (frees their sources) and
// gives their bodies back to the pool.
void reapEndedChannels(SystemImpl* system);

}  // namespace pw::mix
