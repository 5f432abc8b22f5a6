// Deferred freeing of what the mixer thread may still be looking at.
//
// Structural edits (adding and removing units, releasing them) never make the mixer wait: they
// publish a new chain snapshot and hand the old snapshot, or a released unit, to the reclaimer.
// It frees them once every mix block that could have seen them has ended.
//
// Thread safety: blockStarted/blockEnded are called by the mixer thread only, once per block.
// retire/collect are called under the owning system's graph lock (never by the mixer).
// Memory orders: the mixer's block counter increment and the retiring side's read of it are
// seq_cst, and so are the loads of chain snapshots, so that a block numbered after the retirement
// cannot have loaded the old snapshot. blockEnded is a release that collect acquires, so that
// everything a block did with an object happens before the object is freed.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <new>
#include <thread>
#include <vector>

namespace pw::mix {

class Reclaimer {
public:
    ~Reclaimer() { drainAll(); }

    void blockStarted() { started_.fetch_add(1, std::memory_order_seq_cst); }
    void blockEnded() { ended_.fetch_add(1, std::memory_order_release); }

    // Frees `deleter`'s object once no block that may use it is running. Never fails: without
    // memory to keep it for later, it waits for the running block and frees the object at once.
    // (The deleters given are captureless or hold one pointer: std::function keeps them inline.)
    void retire(std::function<void()> deleter) {
        Item item{started_.load(std::memory_order_seq_cst), std::move(deleter)};
        try {
            pending_.push_back(std::move(item));  // strong guarantee: `item` is kept if this throws
        } catch (const std::bad_alloc&) {
            waitForRunningBlock();
            item.deleter();
        }
        collect();
    }

    // Returns once the block running now (if any) has ended: what it could see is unused after.
    void waitForRunningBlock() const {
        const uint64_t started = started_.load(std::memory_order_seq_cst);
        while (ended_.load(std::memory_order_acquire) < started) std::this_thread::yield();
    }

    // Frees what is safe to free now.
    void collect() {
        const uint64_t ended = ended_.load(std::memory_order_acquire);
        size_t kept = 0;
        for (auto& item : pending_) {
            if (item.block <= ended) {
                item.deleter();
            } else {
                pending_[kept++] = std::move(item);
            }
        }
        pending_.resize(kept);
    }

    // Only when the mixer thread has stopped: frees everything.
    void drainAll() {
        for (auto& item : pending_) item.deleter();
        pending_.clear();
    }

private:
    struct Item {
        uint64_t block;
        std::function<void()> deleter;
    };
    std::atomic<uint64_t> started_{0};
    std::atomic<uint64_t> ended_{0};
    std::vector<Item> pending_;
};

}  // namespace pw::mix
