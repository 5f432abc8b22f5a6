// MixDownSampleQueue: the blocks one capture unit hands to the recorder's writer, oldest first.
//
// Storage is a fixed pool of stereo float blocks made on the control thread before the unit can
// run, arranged as a ring of kept-count + 1 slots. The slot at the tail is never part of the queue:
// it is the producer's spare, which it fills without any lock and then publishes with append. That
// is what lets the capture callback run without allocating and hold the lock only for the append.
// Every block carries its own frame count, so blocks of different lengths can share a queue.
//
// Thread safety
// - One producer (the capture callback of one unit, on that unit's mixer thread) calls spare and
//   append. One consumer (the writer thread, or a test in its place) calls size, front, popFront
//   and clear. Head and tail move only under the process-wide "SampleQueue" lock, which also
//   orders the block contents between the two threads.
// - allocate and release only while neither producer nor consumer runs (units released or
//   bypassed-and-detached, writer joined).
//
// Callback safety
// - spare never blocks; append takes "SampleQueue" just long enough to move the tail. A full queue
//   drops the new block (counted in droppedBlocks) instead of growing.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "CritSect.h"

// The one lock of all recorders' queues, built at library load.
extern CritSect csLockSampleQueue;

class MixDownSampleQueue {
public:
    // Interleaved left/right floats.
    static constexpr int kChannels = 2;

    struct Block {
        uint32_t frames;
        const float* samples;  // frames x 2 floats
    };

    MixDownSampleQueue() = default;
    MixDownSampleQueue(const MixDownSampleQueue&) = delete;
    MixDownSampleQueue& operator=(const MixDownSampleQueue&) = delete;

    // Makes room for `blockCount` queued blocks of up to `blockFrames` frames each; any earlier
    // storage and content is dropped. false (and no storage) when the memory is not there or an
    // argument is 0.
    bool allocate(uint32_t blockFrames, uint32_t blockCount);
    void release();
    bool isAllocated() const { return m_blockFrames != 0; }
    // Frames one block can hold (0 when not allocated).
    uint32_t blockFrames() const { return m_blockFrames; }

    // Producer. The storage the next append publishes: blockFrames() x 2 floats.
    float* spare() { return &m_samples[static_cast<size_t>(m_tail) * m_blockFrames * kChannels]; }
    // Producer. Publishes the spare as a block of `frames` frames (at most blockFrames()). false
    // when the queue is full: the block is dropped and counted.
    bool append(uint32_t frames);

    // Consumer, each under "SampleQueue".
    size_t size();
    Block front();  // valid until popFront; the queue must not be empty
    void popFront();
    void clear();

    uint64_t droppedBlocks() const { return m_dropped.load(std::memory_order_relaxed); }
    // The drops counted so far, and the count starts again (each recording reports its own).
    uint64_t takeDroppedBlocks() { return m_dropped.exchange(0, std::memory_order_relaxed); }

private:
    size_t countLocked() const { return (m_tail + m_slots - m_head) % m_slots; }

    std::vector<float> m_samples;   // m_slots blocks of m_blockFrames x 2 floats
    std::vector<uint32_t> m_frames;  // frame count of each slot's block
    uint32_t m_blockFrames = 0;
    uint32_t m_slots = 1;
    uint32_t m_head = 0;  // oldest queued block; moved by the consumer under the lock
    uint32_t m_tail = 0;  // producer's spare; moved by the producer under the lock
    std::atomic<uint64_t> m_dropped{0};
};
