// Sample formats of sounds, one sample or one buffer at a time: sizes, and conversion between a
// sound's little-endian PCM bytes and floats or signed 16-bit values. The audio layer and the
// engine both read and write samples through these, so every part of the system agrees on what
// a sample means:
//
//   PCM8      signed 8-bit, full scale 128 (as the decoders deliver 8-bit sources)
//   PCM16     signed 16-bit little-endian, full scale 32768
//   PCM24     signed packed 3-byte little-endian, full scale 8388608
//   PCM32     signed 32-bit little-endian, full scale 2147483648
//   PCMFLOAT  32-bit float, full scale 1.0
//
// To float: the value over its full scale, in [-1, 1). From float: rounded to the nearest step and
// saturated at full scale (NaN gives the lowest value) instead of wrapping. To 16-bit: the top 16
// bits of an integer sample (8-bit samples move up), a float rounded and saturated.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fmod.hpp"

namespace pw::sound {

// Bytes of one sample of `format`; 0 for FMOD_SOUND_FORMAT_NONE or an unknown value.
constexpr unsigned bytesPerSample(FMOD_SOUND_FORMAT format) {
    switch (format) {
        case FMOD_SOUND_FORMAT_PCM8: return 1;
        case FMOD_SOUND_FORMAT_PCM16: return 2;
        case FMOD_SOUND_FORMAT_PCM24: return 3;
        case FMOD_SOUND_FORMAT_PCM32:
        case FMOD_SOUND_FORMAT_PCMFLOAT: return 4;
        default: return 0;
    }
}

// The format of samples `bytes` wide (float when isFloat and 4 bytes); NONE for other widths.
inline FMOD_SOUND_FORMAT sampleFormat(unsigned bytes, bool isFloat) {
    switch (bytes) {
        case 1: return FMOD_SOUND_FORMAT_PCM8;
        case 2: return FMOD_SOUND_FORMAT_PCM16;
        case 3: return FMOD_SOUND_FORMAT_PCM24;
        case 4: return isFloat ? FMOD_SOUND_FORMAT_PCMFLOAT : FMOD_SOUND_FORMAT_PCM32;
        default: return FMOD_SOUND_FORMAT_NONE;
    }
}

namespace detail {
// The integer in the sample's bytes, sign-extended; `bytes` of 1 to 4.
inline int32_t readInt(const unsigned char* p, unsigned bytes) {
    uint32_t u = 0;
    for (unsigned b = 0; b < bytes; ++b) u |= static_cast<uint32_t>(p[b]) << (8 * b);
    const unsigned shift = 32 - 8 * bytes;
    return static_cast<int32_t>(u << shift) >> shift;
}

inline void writeInt(unsigned char* p, unsigned bytes, int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    for (unsigned b = 0; b < bytes; ++b) p[b] = static_cast<unsigned char>((u >> (8 * b)) & 0xFF);
}

// Full scale of an integer sample `bytes` wide: 2^(8 bytes - 1).
inline double fullScale(unsigned bytes) { return std::ldexp(1.0, static_cast<int>(8 * bytes - 1)); }

// x x scale rounded to the nearest integer and saturated to [-scale, scale - 1]; NaN gives -scale.
inline int32_t saturate(double x, double scale) {
    const double v = std::nearbyint(x * scale);
    if (!(v > -scale)) return static_cast<int32_t>(-scale);
    if (v > scale - 1.0) return static_cast<int32_t>(scale - 1.0);
    return static_cast<int32_t>(v);
}
}  // namespace detail

// One sample as a float in [-1, 1); 0 for an unknown format.
inline float sampleToFloat(const unsigned char* p, FMOD_SOUND_FORMAT format) {
    if (format == FMOD_SOUND_FORMAT_PCMFLOAT) {
        float f;
        std::memcpy(&f, p, sizeof f);
        return f;
    }
    const unsigned bytes = bytesPerSample(format);
    if (bytes == 0) return 0.0f;
    // 2^-(8 bytes - 1): the integer rounded to float and scaled by a power of two is exactly the
    // quotient rounded to float, without a division in double per sample.
    static constexpr float kScale[5] = {0.0f, 1.0f / 128.0f, 1.0f / 32768.0f, 1.0f / 8388608.0f, 1.0f / 2147483648.0f};
    return static_cast<float>(detail::readInt(p, bytes)) * kScale[bytes];
}

// One float written as a sample of `format`, rounded and saturated; nothing for an unknown format.
inline void floatToSample(float v, FMOD_SOUND_FORMAT format, unsigned char* p) {
    if (format == FMOD_SOUND_FORMAT_PCMFLOAT) {
        std::memcpy(p, &v, sizeof v);
        return;
    }
    const unsigned bytes = bytesPerSample(format);
    if (bytes == 0) return;
    detail::writeInt(p, bytes, detail::saturate(static_cast<double>(v), detail::fullScale(bytes)));
}

// One sample as signed 16-bit; 0 for an unknown format.
inline int16_t sampleToPcm16(const unsigned char* p, FMOD_SOUND_FORMAT format) {
    if (format == FMOD_SOUND_FORMAT_PCMFLOAT) {
        float f;
        std::memcpy(&f, p, sizeof f);
        return static_cast<int16_t>(detail::saturate(static_cast<double>(f), 32768.0));
    }
    const unsigned bytes = bytesPerSample(format);
    if (bytes == 0) return 0;
    const int32_t v = detail::readInt(p, bytes);
    return static_cast<int16_t>(bytes == 1 ? v * 256 : v >> (8 * (bytes - 2)));
}

namespace detail {
// The buffer loops, one instance per format so that the per-sample switch folds away. An
// integer sample times 2^-(8 bytes - 1) in float is exactly sampleToFloat's value (the scale is
// a power of two, so rounding the integer to float first changes nothing), without a division
// in double per sample: this loop converts every block a stream plays.
template <FMOD_SOUND_FORMAT F>
inline void toFloat(const unsigned char* src, float* dst, size_t samples) {
    constexpr unsigned bytes = bytesPerSample(F);
    static_assert(bytes >= 1 && bytes <= 4 && F != FMOD_SOUND_FORMAT_PCMFLOAT, "integer formats only");
    constexpr float scale = 1.0f / static_cast<float>(1ull << (8 * bytes - 1));
    for (size_t i = 0; i < samples; ++i) dst[i] = static_cast<float>(readInt(src + i * bytes, bytes)) * scale;
}
template <FMOD_SOUND_FORMAT F>
inline void fromFloat(const float* src, unsigned char* dst, size_t samples) {
    for (size_t i = 0; i < samples; ++i) floatToSample(src[i], F, dst + i * bytesPerSample(F));
}
}  // namespace detail

// `samples` samples of `format` at `src` to floats; silence for an unknown format.
inline void pcmToFloat(const unsigned char* src, FMOD_SOUND_FORMAT format, float* dst, size_t samples) {
    switch (format) {
        case FMOD_SOUND_FORMAT_PCM8: return detail::toFloat<FMOD_SOUND_FORMAT_PCM8>(src, dst, samples);
        case FMOD_SOUND_FORMAT_PCM16: return detail::toFloat<FMOD_SOUND_FORMAT_PCM16>(src, dst, samples);
        case FMOD_SOUND_FORMAT_PCM24: return detail::toFloat<FMOD_SOUND_FORMAT_PCM24>(src, dst, samples);
        case FMOD_SOUND_FORMAT_PCM32: return detail::toFloat<FMOD_SOUND_FORMAT_PCM32>(src, dst, samples);
        case FMOD_SOUND_FORMAT_PCMFLOAT: std::memcpy(dst, src, samples * sizeof(float)); return;
        default: std::memset(dst, 0, samples * sizeof(float)); return;
    }
}

// `samples` floats to `format` at `dst`, saturating outside [-1, 1); nothing for an unknown format.
inline void floatToPcm(const float* src, FMOD_SOUND_FORMAT format, unsigned char* dst, size_t samples) {
    switch (format) {
        case FMOD_SOUND_FORMAT_PCM8: return detail::fromFloat<FMOD_SOUND_FORMAT_PCM8>(src, dst, samples);
        case FMOD_SOUND_FORMAT_PCM16: return detail::fromFloat<FMOD_SOUND_FORMAT_PCM16>(src, dst, samples);
        case FMOD_SOUND_FORMAT_PCM24: return detail::fromFloat<FMOD_SOUND_FORMAT_PCM24>(src, dst, samples);
        case FMOD_SOUND_FORMAT_PCM32: return detail::fromFloat<FMOD_SOUND_FORMAT_PCM32>(src, dst, samples);
        case FMOD_SOUND_FORMAT_PCMFLOAT: std::memcpy(dst, src, samples * sizeof(float)); return;
        default: return;
    }
}

}  // namespace pw::sound
