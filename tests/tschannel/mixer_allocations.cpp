// Replacement of the global allocation functions for one test executable: each allocation made
// while the calling thread carries the mixer-thread mark is counted, then served by malloc as
// usual. The aligned forms are left to the library (nothing on the audio path uses them).
#include "mixer_allocations.h"

#include <atomic>
#include <cstdlib>
#include <new>

#include "MixerThread.h"

namespace {
std::atomic<uint64_t> g_mixerAllocations{0};

void* allocate(std::size_t size) {
    if (pw::rt::onMixerThread()) g_mixerAllocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size ? size : 1);
}
}  // namespace

namespace tsc_test {
uint64_t mixerAllocations() { return g_mixerAllocations.load(std::memory_order_relaxed); }
}  // namespace tsc_test

void* operator new(std::size_t size) {
    void* p = allocate(size);
    if (!p) throw std::bad_alloc();
    return p;
}
void* operator new[](std::size_t size) {
    void* p = allocate(size);
    if (!p) throw std::bad_alloc();
    return p;
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
