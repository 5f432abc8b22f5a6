#include "sound_prefetch.hpp"

#include <chrono>
#include <system_error>

namespace pw::sound {

namespace {
// How often a worker looks at its ring. A ring holds about 1.5 s, so this only bounds how soon a
// seek is answered with new audio.
constexpr auto kPollInterval = std::chrono::milliseconds(2);
}  // namespace

PrefetchService::~PrefetchService() { stop(); }

bool PrefetchService::start() {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = true;
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
    auto worker = std::make_unique<Worker>();
    worker->feed = std::move(feed);
    Worker* w = worker.get();
    try {
        w->thread = std::thread([this, w] { run(w); });
    } catch (const std::system_error&) {
        return false;
    }
    workers_.push_back(std::move(worker));
    return true;
}

void PrefetchService::stop() {
    std::list<std::unique_ptr<Worker>> all;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = false;
        all.swap(workers_);
    }
    wake_.notify_all();
    for (auto& w : all) w->thread.join();
}

void PrefetchService::run(Worker* w) {
    std::shared_ptr<StreamFeed> feed = std::move(w->feed);
    std::unique_lock<std::mutex> lock(mutex_);
    while (running_ && !feed->dead.load(std::memory_order_acquire)) {
        lock.unlock();
        // Decoding happens without the service's lock, so add() never waits for a file read.
        feed->produce();
        lock.lock();
        wake_.wait_for(lock, kPollInterval, [this] { return !running_; });
    }
    lock.unlock();
    feed.reset();  // the last reference may go here: the sound's file is closed on this thread
    w->finished.store(true, std::memory_order_release);
}

}  // namespace pw::sound
