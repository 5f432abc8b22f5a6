// Shared helpers of the decoder tests: a private temp folder, shell tools that make the files,
// deterministic signals, full reads through a Decoder, and the AAC plug-in loaded from the build.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "decoder.hpp"

namespace pw::decode::test {

using Bytes = std::vector<unsigned char>;

// A fresh folder under the system temp dir, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Runs a shell command with its output silenced; true on exit status 0.
bool run(const std::string& command);

void writeFile(const std::string& path, const Bytes& data);
Bytes readFile(const std::string& path);

// Little-endian integer PCM of `bytesPerSample` (1..4) covering the whole range, extremes
// included; deterministic from `seed`.
Bytes fullRangePcm(int bytesPerSample, int channels, int frames, uint32_t seed);
// Little-endian float samples in [-1, 1), deterministic.
Bytes floatPcm(int channels, int frames, uint32_t seed);
// 16-bit little-endian music-like signal (two sines and quiet noise) for lossy codecs.
Bytes tonePcm16(int channels, int frames, int rate, uint32_t seed);

// Reads the decoder to its end in chunks of `chunkFrames`; fails the test on a read error.
Bytes readAll(Decoder& decoder, unsigned long chunkFrames = 1000);
// Reads up to `frames` frames from the current position.
Bytes readSome(Decoder& decoder, unsigned long frames);

size_t frameBytes(const StreamInfo& info);

// "" when equal; otherwise where and how two byte strings first differ (for failure messages).
std::string firstDifference(const Bytes& got, const Bytes& want);

// The AAC plug-in from the build's plugins folder, loaded once per process; null if missing.
const PWCodecDescription* aacPlugin();

}  // namespace pw::decode::test
