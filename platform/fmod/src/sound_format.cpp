#include "sound_format.hpp"

#include <cmath>
#include <cstring>

namespace pw::sound {

unsigned bytesPerSample(FMOD_SOUND_FORMAT format) {
    switch (format) {
    case FMOD_SOUND_FORMAT_PCM8: return 1;
    case FMOD_SOUND_FORMAT_PCM16: return 2;
    case FMOD_SOUND_FORMAT_PCM24: return 3;
    case FMOD_SOUND_FORMAT_PCM32: return 4;
    case FMOD_SOUND_FORMAT_PCMFLOAT: return 4;
    default: return 0;
    }
}

void pcmToFloat(const unsigned char* src, FMOD_SOUND_FORMAT format, float* dst, size_t samples) {
    switch (format) {
    case FMOD_SOUND_FORMAT_PCM8:
        for (size_t i = 0; i < samples; ++i) dst[i] = static_cast<float>(static_cast<int8_t>(src[i])) / 128.0f;
        break;
    case FMOD_SOUND_FORMAT_PCM16:
        for (size_t i = 0; i < samples; ++i) {
            const int16_t v = static_cast<int16_t>(src[2 * i] | (src[2 * i + 1] << 8));
            dst[i] = static_cast<float>(v) / 32768.0f;
        }
        break;
    case FMOD_SOUND_FORMAT_PCM24:
        for (size_t i = 0; i < samples; ++i) {
            const uint32_t u = static_cast<uint32_t>(src[3 * i]) << 8 | static_cast<uint32_t>(src[3 * i + 1]) << 16 |
                               static_cast<uint32_t>(src[3 * i + 2]) << 24;
            dst[i] = static_cast<float>(static_cast<int32_t>(u) >> 8) / 8388608.0f;
        }
        break;
    case FMOD_SOUND_FORMAT_PCM32:
        for (size_t i = 0; i < samples; ++i) {
            int32_t v;
            std::memcpy(&v, src + 4 * i, 4);
            dst[i] = static_cast<float>(static_cast<double>(v) / 2147483648.0);
        }
        break;
    case FMOD_SOUND_FORMAT_PCMFLOAT:
        std::memcpy(dst, src, samples * sizeof(float));
        break;
    default:
        std::memset(dst, 0, samples * sizeof(float));
        break;
    }
}

namespace {
// Rounds x * scale to the nearest integer and saturates it to [lo, hi].
inline long long saturate(float x, double scale, long long lo, long long hi) {
    const double v = std::nearbyint(static_cast<double>(x) * scale);
    if (!(v > static_cast<double>(lo))) return lo;  // also catches NaN
    if (v > static_cast<double>(hi)) return hi;
    return static_cast<long long>(v);
}
}  // namespace

void floatToPcm(const float* src, FMOD_SOUND_FORMAT format, unsigned char* dst, size_t samples) {
    switch (format) {
    case FMOD_SOUND_FORMAT_PCM8:
        for (size_t i = 0; i < samples; ++i) dst[i] = static_cast<unsigned char>(saturate(src[i], 128.0, -128, 127));
        break;
    case FMOD_SOUND_FORMAT_PCM16:
        for (size_t i = 0; i < samples; ++i) {
            const auto v = static_cast<uint16_t>(saturate(src[i], 32768.0, -32768, 32767));
            dst[2 * i] = static_cast<unsigned char>(v & 0xff);
            dst[2 * i + 1] = static_cast<unsigned char>(v >> 8);
        }
        break;
    case FMOD_SOUND_FORMAT_PCM24:
        for (size_t i = 0; i < samples; ++i) {
            const auto v = static_cast<uint32_t>(saturate(src[i], 8388608.0, -8388608, 8388607));
            dst[3 * i] = static_cast<unsigned char>(v & 0xff);
            dst[3 * i + 1] = static_cast<unsigned char>((v >> 8) & 0xff);
            dst[3 * i + 2] = static_cast<unsigned char>((v >> 16) & 0xff);
        }
        break;
    case FMOD_SOUND_FORMAT_PCM32:
        for (size_t i = 0; i < samples; ++i) {
            const auto v = static_cast<int32_t>(saturate(src[i], 2147483648.0, -2147483648LL, 2147483647LL));
            std::memcpy(dst + 4 * i, &v, 4);
        }
        break;
    case FMOD_SOUND_FORMAT_PCMFLOAT:
        std::memcpy(dst, src, samples * sizeof(float));
        break;
    default:
        break;
    }
}

void atomicCopyIn(unsigned char* shared, const unsigned char* src, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) __atomic_store_n(shared + i, src[i], __ATOMIC_RELAXED);
}

void atomicCopyOut(unsigned char* dst, const unsigned char* shared, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) dst[i] = __atomic_load_n(shared + i, __ATOMIC_RELAXED);
}

}  // namespace pw::sound
