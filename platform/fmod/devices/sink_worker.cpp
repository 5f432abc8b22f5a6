#include "sink_worker.hpp"

#include <chrono>

namespace pw::dev {
namespace {
constexpr std::chrono::milliseconds kWorkerPoll{5};
constexpr std::chrono::microseconds kProducerBackoff{500};
constexpr size_t kChunkSamples = 4096;
}  // namespace

SinkWorker::SinkWorker(size_t capacitySamples, Consumer consumer)
    : ring_(capacitySamples), consumer_(std::move(consumer)) {
    thread_ = std::thread([this] { run(); });
}

SinkWorker::~SinkWorker() {
    {
        std::lock_guard<std::mutex> lk(wakeMutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
    std::lock_guard<std::mutex> lk(drainMutex_);
    drainLocked();
}

bool SinkWorker::push(const float* samples, size_t count, const std::atomic<bool>& abort) {
    while (count > 0) {
        const size_t done = ring_.write(samples, count);
        samples += done;
        count -= done;
        if (count == 0) break;
        if (abort.load(std::memory_order_acquire)) return false;
        std::this_thread::sleep_for(kProducerBackoff);
    }
    return true;
}

void SinkWorker::drainThen(const std::function<void()>& then) {
    std::lock_guard<std::mutex> lk(drainMutex_);
    drainLocked();
    if (then) then();
}

void SinkWorker::drainLocked() {
    float chunk[kChunkSamples];
    for (;;) {
        const size_t n = ring_.read(chunk, kChunkSamples);
        if (n == 0) return;
        consumer_(chunk, n);
    }
}

void SinkWorker::run() {
    std::unique_lock<std::mutex> lk(wakeMutex_);
    while (!stop_) {
        lk.unlock();
        {
            std::lock_guard<std::mutex> dl(drainMutex_);
            drainLocked();
        }
        lk.lock();
        wake_.wait_for(lk, kWorkerPoll, [this] { return stop_; });
    }
}

}  // namespace pw::dev
