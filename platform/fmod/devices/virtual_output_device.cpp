#include "virtual_output_device.hpp"

#include <chrono>
#include <new>

#include "virtual_output.hpp"

namespace pw::dev {
namespace {
constexpr std::chrono::seconds kStepTimeout{10};
}

FMOD_RESULT VirtualOutputDevice::open(int channels, int rate, unsigned blockFrames,
                                      std::unique_ptr<OutputStream>* out) {
    if (!out || channels < 1 || channels > 32 || rate < 1000 || rate > 1000000 || blockFrames == 0 ||
        blockFrames > 1u << 20)
        return FMOD_ERR_INVALID_PARAM;
    if (entry_.init == InitOutcome::Fail) return FMOD_ERR_OUTPUT_INIT;
    // The device takes stereo but refuses any multichannel layout, as some drivers do.
    if (entry_.init == InitOutcome::Fail58 && channels > 2) return FMOD_ERR_OUTPUT_CREATEBUFFER;
    {
        std::lock_guard<std::mutex> lk(mutex_);
        if (open_) return FMOD_ERR_OUTPUT_ALLOCATED;
        open_ = true;  // reserved; a failed create releases it through the stream's detach()
    }
    try {
        return VirtualOutput::create(shared_from_this(), channels, rate, blockFrames, out);
    } catch (const std::bad_alloc&) {
        // The stream may not exist to release the reservation.
        std::lock_guard<std::mutex> lk(mutex_);
        open_ = false;
        return FMOD_ERR_MEMORY;
    }
}

void VirtualOutputDevice::attach(SinkWorker* worker) {
    {
        std::lock_guard<std::mutex> sl(storeMutex_);
        store_.clear();  // received() counts from the open
    }
    {
        std::lock_guard<std::mutex> wl(workerMutex_);
        worker_ = worker;
    }
    std::lock_guard<std::mutex> lk(mutex_);
    ++generation_;
    credits_ = 0;
    done_ = 0;
}

void VirtualOutputDevice::detach() {
    {
        std::lock_guard<std::mutex> wl(workerMutex_);
        if (worker_) worker_->drainThen(nullptr);  // keep what the last blocks delivered
        worker_ = nullptr;
    }
    {
        std::lock_guard<std::mutex> lk(mutex_);
        open_ = false;
    }
    changed_.notify_all();
}

std::vector<float> VirtualOutputDevice::received() {
    std::lock_guard<std::mutex> wl(workerMutex_);
    std::vector<float> copy;
    auto take = [&] {
        std::lock_guard<std::mutex> sl(storeMutex_);
        copy = store_;
    };
    // Drain first: a block the mixer finished writing may still sit in the ring.
    if (worker_) worker_->drainThen(take);
    else take();
    return copy;
}

void VirtualOutputDevice::clearReceived() {
    std::lock_guard<std::mutex> wl(workerMutex_);
    auto clear = [&] {
        std::lock_guard<std::mutex> sl(storeMutex_);
        store_.clear();
    };
    if (worker_) worker_->drainThen(clear);
    else clear();
}

void VirtualOutputDevice::appendReceived(const float* samples, size_t count) {
    std::lock_guard<std::mutex> sl(storeMutex_);
    store_.insert(store_.end(), samples, samples + count);
}

bool VirtualOutputDevice::step(unsigned blocks) {
    std::unique_lock<std::mutex> lk(mutex_);
    if (!open_ || entry_.pacing != Pacing::Stepped) return false;
    const uint64_t generation = generation_;
    credits_ += blocks;
    const uint64_t target = done_ + credits_;
    changed_.notify_all();
    const bool reached = changed_.wait_for(lk, kStepTimeout, [&] {
        return done_ >= target || !open_ || generation_ != generation;
    });
    return reached && open_ && generation_ == generation && done_ >= target;
}

bool VirtualOutputDevice::stepToRest(unsigned blocks) {
    if (!step(blocks)) return false;
    std::unique_lock<std::mutex> lk(mutex_);
    const uint64_t generation = generation_;
    const bool rested =
        changed_.wait_for(lk, kStepTimeout, [&] { return resting_ || !open_ || generation_ != generation; });
    return rested && resting_ && open_ && generation_ == generation;
}

bool VirtualOutputDevice::takeCredit(const std::atomic<bool>& aborted) {
    std::unique_lock<std::mutex> lk(mutex_);
    if (credits_ == 0) {
        resting_ = true;
        changed_.notify_all();
    }
    changed_.wait(lk, [&] { return credits_ > 0 || aborted.load(std::memory_order_acquire); });
    resting_ = false;
    if (aborted.load(std::memory_order_acquire)) return false;
    --credits_;
    return true;
}

void VirtualOutputDevice::blockDone() {
    {
        std::lock_guard<std::mutex> lk(mutex_);
        ++done_;
    }
    changed_.notify_all();
}

void VirtualOutputDevice::wake() {
    // Taking the mutex orders the caller's abort flag before the waiter's next predicate check.
    { std::lock_guard<std::mutex> lk(mutex_); }
    changed_.notify_all();
}

}  // namespace pw::dev
