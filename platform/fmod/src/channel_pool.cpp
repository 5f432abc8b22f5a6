#include "channel_pool.hpp"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <new>

#include "channel_impl.hpp"

namespace pw::mix {

namespace {

constexpr uint32_t kChunkBodies = 256;
constexpr bool kWidePointers = sizeof(void*) == 8;
// Bodies alive at once: 4 million with 64-bit pointers, 256 thousand with 32-bit ones.
constexpr uint32_t kMaxChunks = kWidePointers ? 16384 : 1024;
constexpr size_t kQuarantine = 16;

// Handle layout: the generation in the high bits, index + 1 in the middle, low bits zero so that
// the value looks like an aligned pointer and is never null. 64-bit: index in bits 4..35,
// generation in 36..63. 32-bit: index in bits 2..20, generation (2048 values) in 21..31.
constexpr unsigned kPointerBits = sizeof(void*) * 8;
constexpr unsigned kIndexShift = kWidePointers ? 4 : 2;
constexpr unsigned kIndexBits = kWidePointers ? 32 : 19;
constexpr unsigned kGenerationShift = kIndexShift + kIndexBits;
constexpr uint64_t kIndexMask = (uint64_t{1} << kIndexBits) - 1;
constexpr uint64_t kGenerationMask = (uint64_t{1} << (kPointerBits - kGenerationShift)) - 1;
static_assert(uint64_t{kChunkBodies} * kMaxChunks < kIndexMask, "index + 1 fits its bits");

struct Pool {
    // Chunks are published once and never freed: resolveChannel reads them without a lock.
    std::atomic<ChannelImpl*> chunks[kMaxChunks] = {};
    std::mutex mutex;       // guards everything below
    uint32_t made = 0;      // bodies created
    std::deque<uint32_t> free;  // indexes, oldest freed first
};

// Never destroyed: handles may be resolved during static destruction.
Pool& pool() {
    static Pool* p = new Pool;
    return *p;
}

ChannelImpl* bodyAt(Pool& p, uint64_t index) {
    if (index >= uint64_t{kChunkBodies} * kMaxChunks) return nullptr;
    ChannelImpl* chunk = p.chunks[index / kChunkBodies].load(std::memory_order_acquire);
    return chunk ? chunk + index % kChunkBodies : nullptr;
}

}  // namespace

ChannelImpl* resolveChannel(FMOD::Channel* handle) {
    const uint64_t value = reinterpret_cast<uintptr_t>(handle);
    const uint64_t indexPlusOne = (value >> kIndexShift) & kIndexMask;
    if (indexPlusOne == 0 || (value & ((1u << kIndexShift) - 1)) != 0) return nullptr;
    ChannelImpl* c = bodyAt(pool(), indexPlusOne - 1);
    if (!c) return nullptr;
    const uint64_t generation = value >> kGenerationShift;
    return (c->generation.load(std::memory_order_acquire) & kGenerationMask) == generation ? c : nullptr;
}

FMOD::Channel* channelHandle(const ChannelImpl* c) {
    const uint64_t generation = c->generation.load(std::memory_order_acquire) & kGenerationMask;
    const uint64_t value = generation << kGenerationShift | (uint64_t{c->index} + 1) << kIndexShift;
    return reinterpret_cast<FMOD::Channel*>(static_cast<uintptr_t>(value));
}

ChannelImpl* takeChannel(SystemImpl* system) {
    Pool& p = pool();
    std::lock_guard<std::mutex> lock(p.mutex);
    ChannelImpl* c = nullptr;
    if (p.free.size() > kQuarantine) {
        c = bodyAt(p, p.free.front());
        p.free.pop_front();
    } else {
        const uint32_t index = p.made;
        const uint32_t chunk = index / kChunkBodies;
        if (chunk >= kMaxChunks) throw std::bad_alloc();
        if (!p.chunks[chunk].load(std::memory_order_relaxed)) {
            auto* bodies = new ChannelImpl[kChunkBodies];
            for (uint32_t i = 0; i < kChunkBodies; ++i) bodies[i].index = chunk * kChunkBodies + i;
            p.chunks[chunk].store(bodies, std::memory_order_release);
        }
        ++p.made;
        c = bodyAt(p, index);
    }
    c->system = system;
    return c;
}

void giveBackChannel(ChannelImpl* c) {
    // The generation moves on first: from here the old handle resolves to nothing.
    c->generation.fetch_add(1, std::memory_order_acq_rel);
    c->system = nullptr;
    c->userData.store(nullptr, std::memory_order_relaxed);
    Pool& p = pool();
    std::lock_guard<std::mutex> lock(p.mutex);
    try {
        p.free.push_back(c->index);
    } catch (const std::bad_alloc&) {
        // Without memory to list it the body is simply never reused: stopping must not fail.
    }
}

}  // namespace pw::mix
