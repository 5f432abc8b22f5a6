// Hands mixed blocks from the mixer thread to a device thread that takes them at the device's pace,
// without a lock between the two.
//
// The producer (the mixer) puts whole blocks into a small single-producer, single-consumer ring and
// waits only while the ring is full; the consumer (e.g. a sound server's write callback) takes what
// it needs and wakes the producer through a semaphore, whose post never blocks. The ring's fill
// paces the producer as long as the consumer keeps taking. A producer that waits for room before
// it computes a block (awaitRoom(), then push()) hands over each block the moment it is made:
// a block then spends at most the ring's length between being made and being taken. A consumer
// that tells what the device still wants (want()) paces the producer by that demand instead:
// awaitRoom() then returns only while the device wants a block more than the ring holds, so a
// block is made when the device asks for it and waits for nothing but its own hand-over.
//
// A consumer thread that stops running (blocked on something else) must not stop the mixer: the
// consumer calls alive() whenever it runs, also when the device wants nothing. Once it has not
// for `stallLimit` (longer than the device's own buffer covers, after which the device has run
// dry anyway), and then for kGrace more counted from when the producer runs again, the producer
// keeps its own real-time pace from the consumer's last sign of life, one block per block
// duration, and drops the blocks that do not fit, counting them. It catches up the blocks it owes
// since then at once. As soon as the consumer takes again, the ring paces the producer again. A
// device that merely takes nothing for a while (its own clock paused) still paces the producer:
// its consumer keeps calling alive().
//
// Thread safety: one producer thread calls awaitRoom() and push(); one consumer thread calls
// pull(), want() and readable(); abort(), aborted() and the counters are for any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <semaphore.h>

#include "float_ring.hpp"
#include "pacer.hpp"

namespace pw::dev {

class BlockHandoff {
public:
    using Clock = Pacer::Clock;
    // How long the consumer gets, after the stall limit passed, counted from when the producer
    // itself runs again.
    static constexpr std::chrono::milliseconds kGrace{50};
    // The stall limit until the consumer's first sign of life: a device that has not started yet
    // (its thread not scheduled, a slow server) is waited for, not run past.
    static constexpr std::chrono::seconds kStartLimit{2};

    // `blockSamples`: samples per block (frames x channels); the ring holds `blocks` blocks.
    // `rate` and `blockFrames` give the producer's own pace while the consumer is stalled.
    BlockHandoff(size_t blockSamples, size_t blocks, unsigned rate, unsigned blockFrames,
                 std::chrono::nanoseconds stallLimit);
    ~BlockHandoff();
    BlockHandoff(const BlockHandoff&) = delete;
    BlockHandoff& operator=(const BlockHandoff&) = delete;

    // Before the producer starts: how long the consumer may take nothing before it counts as
    // stalled.
    void setStallLimit(std::chrono::nanoseconds limit) { stallLimit_ = limit; }

    enum class Push { Queued, Dropped, Aborted };
    // Producer thread only. `samples` at most one block. Callback safety: never allocates and
    // takes no lock; waits on the semaphore while the ring is full, at most until the block is
    // due by the pace described above.
    Push push(const float* samples, size_t count);

    enum class Room { Free, Due, Aborted };
    // Producer thread only. Waits as push() would, without queuing anything: returns Free once
    // `count` samples (at most one block) fit, Due once a stalled consumer's pace says the next
    // block is due (push() then drops it, unless the consumer took meanwhile), Aborted once
    // aborted. A push() of at most `count` samples right after returns at once. Same callback
    // safety as push().
    Room awaitRoom(size_t count);

    // Consumer thread only; never waits. Tells the producer that the consumer runs.
    void alive();
    // Consumer thread only; never waits. Copies up to `maxSamples` queued samples to `out`, wakes
    // the producer (unless it is paced by want()), and counts as alive(). Returns the count copied.
    size_t pull(float* out, size_t maxSamples);
    // Consumer thread only; never waits. The device wants `samples` more than it has been given:
    // from the first call on, awaitRoom() returns Free only while that is a block more than the
    // ring holds (in a ring of several blocks, all but one may be made ahead of the demand), and
    // such a demand wakes the producer.
    void want(size_t samples);
    size_t readable() const { return ring_.readable(); }

    // Any thread: push() returns Aborted from now on, a waiting one at once.
    void abort();
    bool aborted() const { return aborted_.load(std::memory_order_acquire); }

    // Any thread: blocks dropped because the consumer was stalled.
    uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

private:
    // Whether the device wants `count` samples beyond what the ring holds (always, until the
    // consumer first tells).
    bool demandFor(size_t count) const;
    // Sleeps until `until` or a wake-up (a pull or abort), whichever comes first.
    void waitUntil(Clock::time_point until);

    FloatRing ring_;
    const size_t blockSamples_;
    const unsigned rate_;
    const unsigned blockFrames_;
    std::chrono::nanoseconds stallLimit_;
    sem_t wake_;  // posted by pull() and abort()
    // The consumer's last sign of life, in Clock ticks; written by the consumer, read by the producer.
    std::atomic<Clock::rep> lastAlive_;
    std::atomic<bool> started_{false};  // the consumer has shown a sign of life
    std::atomic<bool> aborted_{false};
    std::atomic<uint64_t> dropped_{0};
    // What the device still wants, in samples; kNoDemand until the consumer first tells.
    static constexpr size_t kNoDemand = ~size_t{0};
    std::atomic<size_t> wanted_{kNoDemand};
    // Producer only: whether the producer is keeping its own pace, and that pace; the grace
    // period given to the consumer whose last sign of life was at graceFrom_.
    bool stalled_ = false;
    Pacer pace_;
    Clock::time_point graceFrom_{};
    Clock::time_point graceUntil_{};
};

}  // namespace pw::dev
