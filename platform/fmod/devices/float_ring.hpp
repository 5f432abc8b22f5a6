// A single-producer, single-consumer ring of floats.
//
// Thread safety: one producer thread calls write()/writable(), one consumer at a time calls
// read()/readable() (several threads may take turns consuming if they serialise among
// themselves, e.g. under a mutex: the mutex orders their accesses to tail_).
// Memory orders: the producer publishes samples with a release store of head_ after copying them;
// the consumer acquires head_ before reading them. Symmetrically the consumer releases tail_
// after reading, and the producer acquires it before overwriting those slots. Neither side ever
// waits; callers decide what to do when the ring is full or empty.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <vector>

namespace pw::dev {

class FloatRing {
public:
    // Capacity in samples; allocated here, never again.
    explicit FloatRing(size_t capacitySamples) : buffer_(capacitySamples + 1) {}

    size_t capacity() const { return buffer_.size() - 1; }

    // Producer side.
    size_t writable() const {
        const size_t head = head_.load(std::memory_order_relaxed);
        const size_t tail = tail_.load(std::memory_order_acquire);
        return (tail + buffer_.size() - head - 1) % buffer_.size();
    }
    size_t write(const float* samples, size_t count) {
        count = std::min(count, writable());
        size_t head = head_.load(std::memory_order_relaxed);
        const size_t first = std::min(count, buffer_.size() - head);
        std::copy(samples, samples + first, buffer_.begin() + static_cast<std::ptrdiff_t>(head));
        std::copy(samples + first, samples + count, buffer_.begin());
        head = (head + count) % buffer_.size();
        head_.store(head, std::memory_order_release);
        return count;
    }

    // Consumer side.
    size_t readable() const {
        const size_t head = head_.load(std::memory_order_acquire);
        const size_t tail = tail_.load(std::memory_order_relaxed);
        return (head + buffer_.size() - tail) % buffer_.size();
    }
    size_t read(float* samples, size_t count) {
        count = std::min(count, readable());
        size_t tail = tail_.load(std::memory_order_relaxed);
        const size_t first = std::min(count, buffer_.size() - tail);
        const auto base = buffer_.begin() + static_cast<std::ptrdiff_t>(tail);
        std::copy(base, base + static_cast<std::ptrdiff_t>(first), samples);
        std::copy(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(count - first),
                  samples + first);
        tail = (tail + count) % buffer_.size();
        tail_.store(tail, std::memory_order_release);
        return count;
    }

private:
    std::vector<float> buffer_;
    std::atomic<size_t> head_{0};  // next slot the producer writes
    std::atomic<size_t> tail_{0};  // next slot the consumer reads
};

}  // namespace pw::dev
