#include "sound_prefetch.hpp"

#include <chrono>

namespace pw::sound {

namespace {
// How often a worker tops up its ring when nothing wakes it. A ring holds about 1.5 s, so this
// keeps it filled at up to about ten times the normal speed. Each wake-up costs more than the
// decoding it does (on a loaded machine a thread wake-up is 100 us or more, decoding 0.1 s of MP3
// about 0.15 ms), so a stream wakes its worker only ten times a second; seeks, loop changes and a
// stopped channel wake it at once.
constexpr auto kPollInterval = std::chrono::milliseconds(100);
// How soon a worker looks again while a seek waits for the mixer to drop the blocks queued
// before it (StreamFeed::waitingForRoom).
constexpr auto kSeekPollInterval = std::chrono::milliseconds(2);
}  // namespace

PrefetchService::~PrefetchService() { stop(); }

bool PrefetchService::start() {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = true;
    stopping_.store(false, std::memory_order_release);
    return true;
}

void PrefetchService::reapFinished() {
    for (auto it = workers_.begin(); it != workers_.end();) {
        if ((*it)->finished.load(std::memory_order_acquire)) {
            (*it)->thread.join();  // it has set `finished` as its last step
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
}

bool PrefetchService::add(std::shared_ptr<StreamFeed> feed) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_) return false;
    reapFinished();
    // The worker is listed before its thread starts: no allocation can fail once it runs.
    workers_.push_back(std::make_unique<Worker>());
    Worker* w = workers_.back().get();
    w->feed = std::move(feed);
    try {
        w->thread = std::thread([this, w] { run(w); });
    } catch (...) {
        workers_.pop_back();
        return false;
    }
    return true;
}

void PrefetchService::stop() {
    std::list<std::unique_ptr<Worker>> all;  // allocates nothing: stopping never fails
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = false;
        stopping_.store(true, std::memory_order_release);
        all.swap(workers_);
        for (auto& w : all)
            if (w->feed) w->feed->wake();  // a feed takes no other lock under its wake lock
    }
    for (auto& w : all) w->thread.join();
}

void PrefetchService::run(Worker* w) {
    std::shared_ptr<StreamFeed> feed;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        feed = w->feed;
    }
    while (!stopping_.load(std::memory_order_acquire) && !feed->dead.load(std::memory_order_acquire)) {
        feed->produce();  // without the service's lock: add() never waits for a file read
        feed->waitForWork(feed->waitingForRoom() ? kSeekPollInterval : kPollInterval);
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        w->feed.reset();
    }
    feed.reset();  // the last reference may go here: the sound's file is closed on this thread
    w->finished.store(true, std::memory_order_release);
}

}  // namespace pw::sound
