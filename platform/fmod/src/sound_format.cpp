#include "sound_format.hpp"

namespace pw::sound {

void atomicCopyIn(unsigned char* shared, const unsigned char* src, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) __atomic_store_n(shared + i, src[i], __ATOMIC_RELAXED);
}

void atomicCopyOut(unsigned char* dst, const unsigned char* shared, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) dst[i] = __atomic_load_n(shared + i, __ATOMIC_RELAXED);
}

}  // namespace pw::sound
