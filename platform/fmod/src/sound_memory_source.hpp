// MemorySource: plays a sound whose PCM is in memory (a decoded sample or a user sound) straight
// from that memory on the mixer thread. No ring and no worker: the data is already there.
#pragma once

#include <vector>

#include "sound_source.hpp"

namespace pw::sound {

class MemorySource final : public SoundSource {
public:
    explicit MemorySource(std::shared_ptr<SoundImpl> sound);

    // Mixer thread only. Never allocates, never blocks: conversions go through a scratch buffer
    // sized at construction.
    unsigned pull(float* out, unsigned frames) override;

private:
    static constexpr unsigned kChunkFrames = 1024;
    std::vector<unsigned char> scratch_;  // kChunkFrames frames in the sound's format
    uint64_t pos_ = 0;                    // mixer thread only
    uint32_t appliedGen_ = 0;             // mixer thread only
};

}  // namespace pw::sound
