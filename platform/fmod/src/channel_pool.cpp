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
constexpr uint32_t kMaxChunks = 16384;  // 4 million bodies alive at once
constexpr size_t kQuarantine = 16;

// Handle layout (64-bit): generation in bits 36..63, index + 1 in bits 4..35, low bits zero so
// that the value looks like an aligned pointer and is never null.
constexpr unsigned kIndexShift = 4;
constexpr unsigned kGenerationShift = 36;
constexpr uint64_t kGenerationMask = (uint64_t{1} << (64 - kGenerationShift)) - 1;
static_assert(sizeof(void*) == 8, "channel handles pack an index and a generation into a 64-bit pointer");

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
    const auto value = reinterpret_cast<uintptr_t>(handle);
    const uint64_t indexPlusOne = (value >> kIndexShift) & 0xffffffffu;
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
    p.free.push_back(c->index);
}

}  // namespace pw::mix
