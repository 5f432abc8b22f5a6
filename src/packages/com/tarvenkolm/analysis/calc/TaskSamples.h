// How the analysis tasks read one sample of a chunk as a number on the 16-bit scale.
#pragma once

#include <cstdint>
#include <cstring>

namespace com_tarvenkolm_analysis_calc {

// Sample `index` (counted in samples, not frames) of interleaved PCM as the audio layer delivers
// it. 16-bit: the signed little-endian value. 8-bit: the layer's 8-bit data is signed (WAV's
// unsigned bytes are converted on decoding), so the byte is read as a signed value * 256. Reading
// it as an unsigned byte centred on 128 would turn digital silence into full scale.
inline int taskSample(const unsigned char* data, unsigned index, int bytesPerSample) {
    if (bytesPerSample == 2) {
        int16_t v;
        std::memcpy(&v, data + 2u * index, 2);
        return v;
    }
    return static_cast<int>(static_cast<int8_t>(data[index])) * 256;
}

}  // namespace com_tarvenkolm_analysis_calc
