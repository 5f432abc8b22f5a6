// Minimal WAV files for virtual devices: a 32-bit float writer for wav sinks and a reader for
// wav record inputs. Not for the mixer thread: both do file I/O.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace pw::dev {

// Writes interleaved 32-bit float samples (WAVE_FORMAT_IEEE_FLOAT with a fact chunk). The sizes
// in the header are written as 0 at open and filled in by close(); a file that was never closed
// has a header that claims no data.
class WavWriter {
public:
    WavWriter() = default;
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    // false (with `error`) when the file cannot be created.
    bool open(const std::string& path, int channels, int rate, std::string* error);
    // false on a write error (disk full...); the error is kept for close().
    bool write(const float* samples, size_t count);
    // Finalises the header and closes; false when any write or the header update failed.
    bool close();
    bool isOpen() const { return file_ != nullptr; }

private:
    std::FILE* file_ = nullptr;
    int channels_ = 0;
    uint64_t samples_ = 0;
    bool failed_ = false;
};

struct WavData {
    int channels = 0;
    int rate = 0;
    std::vector<float> samples;  // interleaved, full scale +-1
};

// Reads PCM 8/16/24/32-bit integer or 32/64-bit float WAV (plain or extensible format).
// false with `error` for a missing, truncated or unsupported file.
bool readWav(const std::string& path, WavData* out, std::string* error);

}  // namespace pw::dev
