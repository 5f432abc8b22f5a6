#include "virtual_output.hpp"

#include <algorithm>
#include <cstdio>

namespace pw::dev {
namespace {
// The sink ring holds one second of audio (at least eight blocks): the worker drains it every few
// milliseconds, so the mixer waits on a full ring only when the disk stalls.
size_t ringSamples(int channels, int rate, unsigned blockFrames) {
    const size_t perSecond = static_cast<size_t>(rate);
    return std::max(perSecond, static_cast<size_t>(blockFrames) * 8) * static_cast<size_t>(channels);
}
}  // namespace

FMOD_RESULT VirtualOutput::create(std::shared_ptr<VirtualOutputDevice> device, int channels, int rate,
                                  unsigned blockFrames, std::unique_ptr<OutputStream>* out) {
    std::unique_ptr<VirtualOutput> stream(new VirtualOutput(device, channels, rate, blockFrames));
    const OutputEntry& entry = device->entry();
    const size_t capacity = ringSamples(stream->deviceChannels_, rate, blockFrames);
    if (entry.sink == SinkKind::Wav) {
        std::string error;
        if (!stream->wav_.open(entry.sinkPath, stream->deviceChannels_, rate, &error)) {
            std::fprintf(stderr, "virtual output \"%s\": %s\n", entry.info.name.c_str(), error.c_str());
            return FMOD_ERR_OUTPUT_INIT;
        }
        WavWriter* wav = &stream->wav_;
        stream->worker_ = std::make_unique<SinkWorker>(
            capacity, [wav](const float* s, size_t n) { wav->write(s, n); });
    } else if (entry.sink == SinkKind::Memory) {
        VirtualOutputDevice* dev = device.get();
        stream->worker_ = std::make_unique<SinkWorker>(
            capacity, [dev](const float* s, size_t n) { dev->appendReceived(s, n); });
    }
    device->attach(stream->worker_.get());
    *out = std::move(stream);
    return FMOD_OK;
}

VirtualOutput::VirtualOutput(std::shared_ptr<VirtualOutputDevice> device, int channels, int rate,
                             unsigned blockFrames)
    : device_(std::move(device)),
      streamChannels_(channels),
      deviceChannels_(device_->entry().info.channels),
      rate_(rate),
      blockFrames_(blockFrames),
      scratch_(static_cast<size_t>(blockFrames) * static_cast<size_t>(device_->entry().info.channels)),
      pacer_(static_cast<unsigned>(rate), Pacer::Clock::now()) {}

VirtualOutput::~VirtualOutput() {
    abort();
    // Detach first (it drains the ring into the store), then stop the worker, then close the file
    // so that the header counts every sample.
    device_->detach();
    worker_.reset();
    if (wav_.isOpen() && !wav_.close())
        std::fprintf(stderr, "virtual output \"%s\": writing %s failed\n",
                     device_->entry().info.name.c_str(), device_->entry().sinkPath.c_str());
}

bool VirtualOutput::write(const float* interleaved, unsigned frames) {
    if (!interleaved && frames > 0) return false;
    // A longer call than the block the stream was opened with is taken a block at a time.
    while (frames > 0) {
        const unsigned n = std::min(frames, blockFrames_);
        if (!writeChunk(interleaved, n)) return false;
        interleaved += static_cast<size_t>(n) * static_cast<size_t>(streamChannels_);
        frames -= n;
    }
    return !aborted_.load(std::memory_order_acquire);
}

bool VirtualOutput::writeChunk(const float* in, unsigned frames) {
    if (aborted_.load(std::memory_order_acquire)) return false;
    const bool stepped = device_->entry().pacing == Pacing::Stepped;
    if (stepped && !device_->takeCredit(aborted_)) return false;

    if (worker_) {
        // Channels 1..n of the device get the stream's first n channels; the device's other
        // channels stay silent and the stream's channels beyond the device's count are cut.
        const int copy = std::min(streamChannels_, deviceChannels_);
        float* out = scratch_.data();
        for (unsigned f = 0; f < frames; ++f) {
            const float* src = in + static_cast<size_t>(f) * static_cast<size_t>(streamChannels_);
            std::copy(src, src + copy, out);
            std::fill(out + copy, out + deviceChannels_, 0.0f);
            out += deviceChannels_;
        }
        if (!worker_->push(scratch_.data(), static_cast<size_t>(frames) * static_cast<size_t>(deviceChannels_),
                           aborted_))
            return false;
    }

    if (stepped) {
        device_->blockDone();
        return true;
    }
    const auto now = Pacer::Clock::now();
    if (!pacerStarted_) {
        pacer_ = Pacer(static_cast<unsigned>(rate_), now);
        pacerStarted_ = true;
    }
    const auto due = pacer_.advance(frames, now);
    std::unique_lock<std::mutex> lk(sleepMutex_);
    sleepWake_.wait_until(lk, due, [this] { return aborted_.load(std::memory_order_acquire); });
    return !aborted_.load(std::memory_order_acquire);
}

void VirtualOutput::abort() {
    aborted_.store(true, std::memory_order_release);
    { std::lock_guard<std::mutex> lk(sleepMutex_); }
    sleepWake_.notify_all();
    device_->wake();
}

}  // namespace pw::dev
