// BlockRing: the single-producer, single-consumer ring between the prefetch worker (producer) and
// the mixer thread (consumer) of a playing stream.
//
// The ring holds fixed-size blocks of interleaved float frames, each with a header saying where
// in the sound it starts and which seek generation produced it. Blocks instead of a plain sample
// ring because a seek must be able to discard what is queued, and in a single-producer ring only
// the consumer may drop data: it drops every block of an older generation.
//
// Memory orders: the producer fills the block at `tail`, then publishes it with a release store
// of `tail`; the consumer's acquire load of `tail` makes the block's contents visible. The
// consumer hands a block back with a release store of `head`, which the producer loads with
// acquire before reusing it. Counters only grow; the slot is counter % capacity.
//
// Allocation happens only in the constructor; no call blocks.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pw::sound {

class BlockRing {
public:
    struct Header {
        uint32_t gen = 0;
        uint64_t startFrame = 0;
        unsigned frames = 0;
        bool end = false;  // the audio ends after this block (frames may be 0)
    };

    BlockRing(size_t blocks, unsigned blockFrames, int channels)
        : blocks_(blocks), blockFrames_(blockFrames), channels_(channels), headers_(blocks),
          data_(blocks * blockFrames * static_cast<size_t>(channels)) {}

    unsigned blockFrames() const { return blockFrames_; }

    // Producer side.
    bool full() const {
        return tail_.load(std::memory_order_relaxed) - head_.load(std::memory_order_acquire) >= blocks_;
    }
    Header& backHeader() { return headers_[tail_.load(std::memory_order_relaxed) % blocks_]; }
    float* backData() { return slotData(tail_.load(std::memory_order_relaxed) % blocks_); }
    void push() { tail_.fetch_add(1, std::memory_order_release); }

    // Consumer side.
    bool empty() const { return head_.load(std::memory_order_relaxed) == tail_.load(std::memory_order_acquire); }
    const Header& frontHeader() const { return headers_[head_.load(std::memory_order_relaxed) % blocks_]; }
    const float* frontData() const {
        return const_cast<BlockRing*>(this)->slotData(head_.load(std::memory_order_relaxed) % blocks_);
    }
    void pop() { head_.fetch_add(1, std::memory_order_release); }

private:
    float* slotData(size_t slot) { return data_.data() + slot * blockFrames_ * static_cast<size_t>(channels_); }

    const size_t blocks_;
    const unsigned blockFrames_;
    const int channels_;
    std::vector<Header> headers_;
    std::vector<float> data_;
    std::atomic<size_t> head_{0};  // consumer: blocks taken
    std::atomic<size_t> tail_{0};  // producer: blocks published
};

}  // namespace pw::sound
