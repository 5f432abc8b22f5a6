// Sample formats of sounds: the conversions live in the layer's public fmod_sample_format.hpp;
// here, the byte copies for buffers that two threads share.
#pragma once

#include <cstddef>

#include "fmod_sample_format.hpp"

namespace pw::sound {

// Byte copies for buffers that one thread writes while another reads (a user sound being
// recorded into while it plays). Each byte is a relaxed atomic access: the reader may see a
// mix of old and new samples, which is what a ring being overwritten sounds like anyway, and
// the race is well defined (and invisible to ThreadSanitizer).
void atomicCopyIn(unsigned char* shared, const unsigned char* src, size_t bytes);
void atomicCopyOut(unsigned char* dst, const unsigned char* shared, size_t bytes);

}  // namespace pw::sound
