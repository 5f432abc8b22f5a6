// The recorder's 44-byte WAV header: one RIFF chunk holding a 16-byte PCM "fmt " chunk and the
// "data" chunk, all little-endian whatever the host order.
//
// Pure functions; any thread.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kMixDownWavHeaderBytes = 44;
// The RIFF size field counts everything after itself: the 36 header bytes after it plus the data.
constexpr uint32_t kMixDownRiffOverhead = 36;

// Writes the header for `dataBytes` of sample data into `out`.
// - sample rate: truncated toward zero;
// - byte rate: channels x rate x bits in single precision, then x 0.125 in double precision and
//   truncated (kept bit-exact with files written by earlier versions);
// - block align: (bits x channels) / 8 in integer division.
// Values that do not fit their field (a NaN or negative rate, a byte rate beyond 32 bits) are
// saturated to the field's range instead of wrapping.
void mixDownBuildWavHeader(uint8_t out[kMixDownWavHeaderBytes], uint32_t dataBytes, int channels,
                           float sampleRate, int bits);

// The largest data size a file with `frameBytes` bytes per frame may reach: whole frames only, and
// small enough that the RIFF size (data + 36) still fits 32 bits. 0 for frameBytes <= 0.
uint32_t mixDownMaxDataBytes(int frameBytes);
