// How the analysis tasks read one sample of a chunk as a number on the 16-bit scale.
#pragma once

#include <cstdint>
#include <cstring>

namespace com_tarvenkolm_analysis_calc {

// Sample `index` (counted in samples, not frames) of interleaved PCM. 16-bit: the signed
// little-endian value. 8-bit: the unsigned byte b as (b - 128) * 256 - 1, from -32769 to 32511;
// the offset of -1 is the analysis's established scale, kept so thresholds mean what they did.
inline int taskSample(const unsigned char* data, unsigned index, int bytesPerSample) {
    if (bytesPerSample == 2) {
        int16_t v;
        std::memcpy(&v, data + 2u * index, 2);
        return v;
    }
    return (static_cast<int>(data[index]) - 128) * 256 - 1;
}

}  // namespace com_tarvenkolm_analysis_calc
