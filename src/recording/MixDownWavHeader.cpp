#include "MixDownWavHeader.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

void putTag(uint8_t* at, const char tag[4]) { std::memcpy(at, tag, 4); }

void putU32(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
    at[2] = static_cast<uint8_t>(value >> 16);
    at[3] = static_cast<uint8_t>(value >> 24);
}

void putU16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

// Truncation toward zero into an unsigned field. A plain cast of a NaN, a negative or an
// out-of-range double is undefined behaviour, so those saturate.
uint32_t truncToU32(double value) {
    if (!(value > 0.0)) return 0;  // also NaN
    if (value >= 4294967295.0) return std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(value);
}

uint16_t clampToU16(long long value) {
    if (value < 0) return 0;
    if (value > 0xFFFF) return 0xFFFF;
    return static_cast<uint16_t>(value);
}

}  // namespace

void mixDownBuildWavHeader(uint8_t out[kMixDownWavHeaderBytes], uint32_t dataBytes, int channels,
                           float sampleRate, int bits) {
    const uint32_t riffSize = dataBytes > std::numeric_limits<uint32_t>::max() - kMixDownRiffOverhead
                                  ? std::numeric_limits<uint32_t>::max()
                                  : dataBytes + kMixDownRiffOverhead;
    // Single-precision product first, as the byte-rate field has always been computed.
    const float channelsRateBits = static_cast<float>(channels) * sampleRate * static_cast<float>(bits);
    const double byteRate = static_cast<double>(channelsRateBits) * 0.125;

    putTag(out + 0, "RIFF");
    putU32(out + 4, riffSize);
    putTag(out + 8, "WAVE");
    putTag(out + 12, "fmt ");
    putU32(out + 16, 16);
    putU16(out + 20, 1);  // PCM
    putU16(out + 22, clampToU16(channels));
    putU32(out + 24, truncToU32(static_cast<double>(sampleRate)));
    putU32(out + 28, truncToU32(byteRate));
    putU16(out + 32, clampToU16(static_cast<long long>(bits) * channels / 8));
    putU16(out + 34, clampToU16(bits));
    putTag(out + 36, "data");
    putU32(out + 40, dataBytes);
}

uint32_t mixDownMaxDataBytes(int frameBytes) {
    if (frameBytes <= 0) return 0;
    const uint32_t room = std::numeric_limits<uint32_t>::max() - kMixDownRiffOverhead;
    return room / static_cast<uint32_t>(frameBytes) * static_cast<uint32_t>(frameBytes);
}
