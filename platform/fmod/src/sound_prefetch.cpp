#include "sound_prefetch.hpp"

#include <algorithm>
#include <chrono>
#include <system_error>

namespace pw::sound {

namespace {
// How often the worker looks at its rings. A ring holds about 1.5 s, so this only bounds how
// soon a seek is answered with new audio.
constexpr auto kPollInterval = std::chrono::milliseconds(2);
}  // namespace

PrefetchService::~PrefetchService() { stop(); }

bool PrefetchService::start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_) return true;
    running_ = true;
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        running_ = false;
        return false;
    }
    return true;
}

void PrefetchService::add(std::shared_ptr<StreamFeed> feed) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        feeds_.push_back(std::move(feed));
        wakeRequested_ = true;
    }
    wake_.notify_one();
}

void PrefetchService::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = false;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
    std::vector<std::shared_ptr<StreamFeed>> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        dropped.swap(feeds_);
    }
}

void PrefetchService::run() {
    std::vector<std::shared_ptr<StreamFeed>> work;
    std::unique_lock<std::mutex> lock(mutex_);
    while (running_) {
        // Forget feeds whose channel is gone; the last reference may go here.
        feeds_.erase(std::remove_if(feeds_.begin(), feeds_.end(),
                                    [](const std::shared_ptr<StreamFeed>& f) {
                                        return f->dead.load(std::memory_order_acquire);
                                    }),
                     feeds_.end());
        work = feeds_;
        lock.unlock();
        // Decoding happens without the lock, so add() never waits for a file read.
        for (auto& f : work) f->produce();
        work.clear();
        lock.lock();
        wake_.wait_for(lock, kPollInterval, [this] { return !running_ || wakeRequested_; });
        wakeRequested_ = false;
    }
}

}  // namespace pw::sound
