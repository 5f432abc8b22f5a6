#include "block_handoff.hpp"

#include <cerrno>
#include <ctime>

namespace pw::dev {

BlockHandoff::BlockHandoff(size_t blockSamples, size_t blocks, unsigned rate, unsigned blockFrames,
                           std::chrono::nanoseconds stallLimit)
    : ring_(blockSamples * blocks),
      blockSamples_(blockSamples),
      rate_(rate),
      blockFrames_(blockFrames),
      stallLimit_(stallLimit),
      lastAlive_(Clock::now().time_since_epoch().count()),
      pace_(rate, Clock::now()) {
    sem_init(&wake_, 0, 0);
}

BlockHandoff::~BlockHandoff() { sem_destroy(&wake_); }

BlockHandoff::Push BlockHandoff::push(const float* samples, size_t count) {
    if (count > blockSamples_) count = blockSamples_;
    switch (awaitRoom(count)) {
    case Room::Free:
        ring_.write(samples, count);
        stalled_ = false;
        return Push::Queued;
    case Room::Due:
        pace_.advance(blockFrames_, Clock::now());  // the next block's due time
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return Push::Dropped;
    case Room::Aborted:
        break;
    }
    return Push::Aborted;
}

BlockHandoff::Room BlockHandoff::awaitRoom(size_t count) {
    if (count > blockSamples_) count = blockSamples_;
    for (;;) {
        // Forget wake-ups of pulls made before the checks below: they see their effect, and a
        // pull or abort after them posts again, so no wake-up is lost.
        while (sem_trywait(&wake_) == 0) {
        }
        if (aborted()) return Room::Aborted;
        if (ring_.writable() >= count && demandFor(count)) return Room::Free;
        const Clock::time_point now = Clock::now();
        if (!stalled_) {
            const Clock::time_point last{Clock::duration(lastAlive_.load(std::memory_order_relaxed))};
            const Clock::duration limit = started_.load(std::memory_order_relaxed)
                                              ? Clock::duration(stallLimit_)
                                              : Clock::duration(kStartLimit);
            if (now < last + limit) {
                waitUntil(last + limit);
                continue;
            }
            // The limit passed, but a whole process that was not scheduled for a while (a loaded
            // machine, a sanitizer, a debugger) looks the same from here: give the consumer a
            // grace period that starts now, when this thread runs again, before calling it stalled.
            if (graceFrom_ != last) {
                graceFrom_ = last;
                graceUntil_ = now + kGrace;
            }
            if (now < graceUntil_) {
                waitUntil(graceUntil_);
                continue;
            }
            // Stalled: from the consumer's last sign of life on, one block per block duration, as
            // the device would have taken them.
            stalled_ = true;
            pace_ = Pacer(rate_, last);
            pace_.advance(blockFrames_, now);  // this block's due time
        }
        // The due time moves on only when push() drops the block, so asking again before the
        // push finds the same block due.
        const Clock::time_point due = pace_.timeOfFrame(pace_.framesAccounted());
        if (now < due) {
            waitUntil(due);
            continue;
        }
        return Room::Due;
    }
}

bool BlockHandoff::demandFor(size_t count) const {
    // A whole block's demand: a device that takes in smaller steps would otherwise leave the
    // rest of each block waiting in the ring. A ring of several blocks (the floor of short
    // blocks) keeps all but one of them made ahead, as a cushion for the device.
    const size_t wanted = wanted_.load(std::memory_order_acquire);
    const size_t ahead = ring_.capacity() - blockSamples_;
    return wanted == kNoDemand || wanted + ahead >= ring_.readable() + count;
}

void BlockHandoff::alive() {
    lastAlive_.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
    started_.store(true, std::memory_order_relaxed);
}

size_t BlockHandoff::pull(float* out, size_t maxSamples) {
    alive();
    const size_t n = ring_.read(out, maxSamples);
    // A producer paced by demand is woken by the want() that follows, once the demand is known:
    // woken here, it would find the demand from before this pull and make a block nobody asked for.
    if (n > 0 && wanted_.load(std::memory_order_relaxed) == kNoDemand) sem_post(&wake_);
    return n;
}

void BlockHandoff::want(size_t samples) {
    wanted_.store(samples, std::memory_order_release);
    if (demandFor(blockSamples_)) sem_post(&wake_);
}

void BlockHandoff::abort() {
    aborted_.store(true, std::memory_order_release);
    sem_post(&wake_);
}

void BlockHandoff::waitUntil(Clock::time_point until) {
    // steady_clock is CLOCK_MONOTONIC on Linux, so its epoch count is a CLOCK_MONOTONIC time.
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(until.time_since_epoch()).count();
    timespec at;
    at.tv_sec = static_cast<time_t>(ns / 1000000000);
    at.tv_nsec = static_cast<long>(ns % 1000000000);
    while (sem_clockwait(&wake_, CLOCK_MONOTONIC, &at) != 0 && errno == EINTR) {
    }
}

}  // namespace pw::dev
