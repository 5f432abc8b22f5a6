// Moves the samples a virtual output receives off the mixer thread: the mixer pushes into a ring,
// a worker thread (and, on demand, a test thread via drainThen) hands them to a consumer that may
// allocate or write files.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "float_ring.hpp"

namespace pw::dev {

class SinkWorker {
public:
    // Called with runs of interleaved samples, in order, never concurrently (under drainMutex_).
    using Consumer = std::function<void(const float* samples, size_t count)>;

    // Starts the worker thread. The ring holds `capacitySamples` samples.
    SinkWorker(size_t capacitySamples, Consumer consumer);
    // Stops the worker after handing every queued sample to the consumer.
    ~SinkWorker();
    SinkWorker(const SinkWorker&) = delete;
    SinkWorker& operator=(const SinkWorker&) = delete;

    // Thread safety: the one producer thread (the mixer). Never allocates and takes no lock; while
    // the ring is full it sleeps in short steps for the worker (the device is blocking anyway at
    // this point: write() is where the mixer is paced). Returns false when `abort` became true.
    bool push(const float* samples, size_t count, const std::atomic<bool>& abort);

    // Any thread but the producer: hands everything queued so far to the consumer, then runs `then`
    // while no other drain can start.
    void drainThen(const std::function<void()>& then);

private:
    void drainLocked();
    void run();

    FloatRing ring_;
    Consumer consumer_;
    std::mutex drainMutex_;  // serialises consumers of ring_
    std::mutex wakeMutex_;
    std::condition_variable wake_;
    bool stop_ = false;  // under wakeMutex_
    std::thread thread_;
};

}  // namespace pw::dev
