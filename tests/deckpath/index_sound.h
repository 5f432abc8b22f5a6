// Test sounds whose every frame encodes its own index, on a no-sound system, and helpers that
// read them back and build the frame sequences the deck path must produce.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "fmod.hpp"

namespace deckpath_test {

// The no-sound, not-real-time system (output type 4): no mixer thread, no device.
FMOD::System* noSoundSystem();

// A user sound of `frames` frames. 16-bit stereo: left = low 16 bits of the frame index, right =
// high 16 bits. 16-bit mono: sample k = low 16 bits of k. 8-bit mono: sample k = low 8 bits of k.
class IndexSound {
public:
    IndexSound(unsigned int frames, int channels, int bits, int rate = 44100);
    ~IndexSound();
    IndexSound(const IndexSound&) = delete;
    IndexSound& operator=(const IndexSound&) = delete;
    FMOD::Sound* get() const { return m_sound; }
    FMOD_RESULT createResult() const { return m_result; }

private:
    FMOD::Sound* m_sound = nullptr;
    FMOD_RESULT m_result = FMOD_ERR_INTERNAL;
};

// One 16-bit stereo frame as two samples.
struct Frame16 {
    int16_t left;
    int16_t right;
    bool operator==(const Frame16& o) const { return left == o.left && right == o.right; }
};

Frame16 encodeFrame(unsigned int index);
// -1 for a frame that is no index frame (silence, a fade).
int64_t decodeFrame(const Frame16& f);
std::vector<Frame16> bytesToFrames(const std::vector<unsigned char>& bytes, size_t count);

// Consecutive index frames [first, first + count).
std::vector<Frame16> ascending(unsigned int first, unsigned int count);
// What a reverse read gives from a needle at frame `needle`: the frames below it, each whole,
// from the nearest down.
std::vector<Frame16> descending(unsigned int needle, unsigned int count);
// The 10-frame cross-fade after a jump, applied to the start of `frames` from the last output
// frame (a, b): frame i (1-based) becomes trunc(prev x (1 - i/10) + sample x i/10) in floats.
void crossFade(std::vector<Frame16>& frames, size_t at, int a, int b);

}  // namespace deckpath_test
