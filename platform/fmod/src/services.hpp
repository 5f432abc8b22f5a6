// The seam between the two halves of the layer inside this folder:
// - the mixer half: System configuration, devices, the mixer thread, Channel, ChannelGroup, DSP;
// - the sound half: Sound objects, decoding, user sounds, CD streams, playSound, recording.
// Each half implements what it declares here and uses the rest.
#pragma once

#include <atomic>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "codec_plugin.h"
#include "device.hpp"
#include "fmod.hpp"
#include "fmod_testhooks.hpp"

namespace pw {

// Live object counters behind testhooks::liveCount; each half counts the objects it creates.
std::atomic<int>& liveCounter(testhooks::Kind kind);

// What a channel plays. The mixer half makes one for playDSP; the sound half for playSound.
class ChannelSource {
public:
    virtual ~ChannelSource() = default;

    // Channels of what pull() produces (constant for the source's life).
    virtual int channels() const = 0;
    // The frequency in Hz the channel starts at (the rate at which the source is pulled).
    virtual float defaultFrequency() const = 0;

    // Mixer thread only; never allocates, does no file I/O, never blocks. Writes exactly `frames`
    // interleaved frames at the source's own rate into `out`. Returns how many of them are audio:
    // fewer than `frames` means a one-shot has ended (the rest is zeros) and the channel stops.
    virtual unsigned pull(float* out, unsigned frames) = 0;

    // The sound behind the channel; null for a DSP channel.
    virtual FMOD::Sound* currentSound() { return nullptr; }

    // Any thread; never waits for a mix in progress.
    virtual FMOD_RESULT setPosition(unsigned int, FMOD_TIMEUNIT) { return FMOD_ERR_UNSUPPORTED; }
    virtual FMOD_RESULT getPosition(unsigned int*, FMOD_TIMEUNIT) { return FMOD_ERR_UNSUPPORTED; }
    virtual FMOD_RESULT setLoopPoints(unsigned int, FMOD_TIMEUNIT, unsigned int, FMOD_TIMEUNIT) {
        return FMOD_ERR_UNSUPPORTED;
    }
    virtual FMOD_RESULT setLoopCount(int) { return FMOD_ERR_UNSUPPORTED; }
    virtual FMOD_RESULT getLoopCount(int*) { return FMOD_ERR_UNSUPPORTED; }
    virtual FMOD_RESULT setMode(FMOD_MODE) { return FMOD_ERR_UNSUPPORTED; }
    virtual FMOD_RESULT getMode(FMOD_MODE*) { return FMOD_ERR_UNSUPPORTED; }
};

// ---- Shared ------------------------------------------------------------------------------------

// Runs the body of an entry point that may allocate: memory running out answers FMOD_ERR_MEMORY
// (anything else thrown, FMOD_ERR_INTERNAL) instead of leaving the layer as an exception. Bodies
// keep their state consistent when an allocation fails (RAII locks, nothing half inserted).
template <typename Body>
FMOD_RESULT guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return FMOD_ERR_MEMORY;
    } catch (...) {
        return FMOD_ERR_INTERNAL;
    }
}

// Copies `text` into a caller's buffer of `size` bytes, cut to fit and always terminated; does
// nothing for a null buffer or a size below 1 (copy_name.cpp).
void copyName(const std::string& text, char* buffer, int size);

// ---- Implemented by the mixer half ------------------------------------------------------------

// The mix rate of an initialised system (its software format rate before init).
int systemMixRate(FMOD::System* system);
// The codec plug-ins currently loaded into the system (loadPlugin of a codec plug-in).
std::vector<const PWCodecDescription*> systemCodecs(FMOD::System* system);
// The device back-end the system lists drivers from: the autodetected one, or null for the
// no-sound output types.
dev::Backend* systemBackend(FMOD::System* system);
// Starts (or, with FMOD_CHANNEL_REUSE and a live *channel, restarts) a channel that pulls
// `source`. The channel owns the source from then on. Mirrors playDSP/playSound's contract.
FMOD_RESULT systemPlaySource(FMOD::System* system, FMOD_CHANNELINDEX index, std::unique_ptr<ChannelSource> source,
                             bool paused, FMOD::Channel** channel);

// ---- Implemented by the sound half ------------------------------------------------------------

// Called by System::release (and close) before the mixer goes: stops every recording of the
// system and releases every sound created on it.
void releaseSoundsOf(FMOD::System* system);

}  // namespace pw
