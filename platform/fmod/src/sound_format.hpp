// Sample formats of sounds: sizes, and conversion between a sound's little-endian PCM bytes and
// the mixer's floats.
//
// PCM8 is signed 8-bit (value / 128), as the decoders deliver it. PCM24 is packed 3-byte
// little-endian. Conversions to PCM saturate at full scale instead of wrapping.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fmod.hpp"

namespace pw::sound {

// Bytes of one sample of `format`; 0 for FMOD_SOUND_FORMAT_NONE or an unknown value.
unsigned bytesPerSample(FMOD_SOUND_FORMAT format);

// `samples` samples of `format` at `src` to floats in [-1, 1).
void pcmToFloat(const unsigned char* src, FMOD_SOUND_FORMAT format, float* dst, size_t samples);

// `samples` floats to `format` at `dst`, saturating outside [-1, 1].
void floatToPcm(const float* src, FMOD_SOUND_FORMAT format, unsigned char* dst, size_t samples);

// Byte copies for buffers that one thread writes while another reads (a user sound being
// recorded into while it plays). Each byte is a relaxed atomic access: the reader may see a
// mix of old and new samples, which is what a ring being overwritten sounds like anyway, and
// the race is well defined (and invisible to ThreadSanitizer).
void atomicCopyIn(unsigned char* shared, const unsigned char* src, size_t bytes);
void atomicCopyOut(unsigned char* dst, const unsigned char* shared, size_t bytes);

}  // namespace pw::sound
