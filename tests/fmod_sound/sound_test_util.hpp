// Helpers of the sound tests: shell tools that make the test files, generated signals, a
// no-sound system, and small signal measurements.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fmod.hpp"

namespace pw::test {

// Runs a shell command; true when it exits with 0.
bool run(const std::string& command);

// Writes bytes to a file; true on success.
bool writeFile(const std::string& path, const std::vector<unsigned char>& bytes);

// A deterministic test signal: `frames` frames of `channels` interleaved samples of `bytes`
// bytes each (1: signed 8-bit, 2: 16-bit, 3: 24-bit, little-endian), channel c a sine of
// 440 x (c + 1) Hz at 44100 Hz and amplitude 0.5, plus a small per-frame ramp so that no two
// neighbouring frames are alike.
std::vector<unsigned char> makePcm(int frames, int channels, int bytes, int rate = 44100);

// Interleaved 16-bit little-endian bytes to floats.
std::vector<float> pcm16ToFloat(const std::vector<unsigned char>& bytes);

// The frequency of channel `channel` of an interleaved signal, from its rising zero crossings in
// the middle half of the signal.
double zeroCrossingFrequency(const std::vector<float>& interleaved, int channels, int channel, int rate);

// The root-mean-square of channel `channel`.
double rms(const std::vector<float>& interleaved, int channels, int channel);

// A system with the no-sound, not-real-time output: no mixer thread and no device, what the
// engine decodes and analyses on. Released on destruction.
class NoSoundSystem {
public:
    NoSoundSystem();
    ~NoSoundSystem();
    NoSoundSystem(const NoSoundSystem&) = delete;
    NoSoundSystem& operator=(const NoSoundSystem&) = delete;
    FMOD::System* get() const { return system_; }
    FMOD::System* operator->() const { return system_; }
    FMOD_RESULT initResult() const { return init_; }

private:
    FMOD::System* system_ = nullptr;
    FMOD_RESULT init_ = FMOD_ERR_INTERNAL;
};

// One readData call: what it returned.
struct ReadStep {
    FMOD_RESULT result;
    unsigned bytes;
};

// Reads a sound from its cursor to the end in calls of `chunk` bytes. Stops after the first call
// that returns 0 bytes or fails (and after 100000 calls, which only a fault reaches).
std::vector<unsigned char> readToEnd(FMOD::Sound* sound, unsigned chunk, std::vector<ReadStep>* steps = nullptr);

// UTF-8 to UTF-16 code units with a terminating 0, as the JNI layer hands names to the layer.
std::vector<char16_t> utf16(const std::u16string& text);

}  // namespace pw::test
