// One output driver of the device table, across the streams opened on it: what the test hooks
// see (samples received by a memory sink, the step credits of a stepped device) lives here, so
// that it outlasts each stream.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "device_table.hpp"
#include "sink_worker.hpp"

namespace pw::dev {

class VirtualOutputDevice : public std::enable_shared_from_this<VirtualOutputDevice> {
public:
    explicit VirtualOutputDevice(OutputEntry entry) : entry_(std::move(entry)) {}

    const OutputEntry& entry() const { return entry_; }

    // Opens a stream on this device: the init outcome of the table, then the sink. One stream at
    // a time: a second open gives FMOD_ERR_OUTPUT_ALLOCATED.
    FMOD_RESULT open(int channels, int rate, unsigned blockFrames, std::unique_ptr<OutputStream>* out);

    // Test hooks (any thread) -------------------------------------------------------------------
    std::vector<float> received();
    int receivedChannels() const { return entry_.info.channels; }
    void clearReceived();
    // Lets `blocks` more blocks through a stepped device and waits until they were written.
    bool step(unsigned blocks);
    // step(), then waits until the mixer has computed its next block and waits for a credit to
    // write it: nothing on the mixer's side moves until the next step.
    bool stepToRest(unsigned blocks);

    // For the stream (VirtualOutput) ---------------------------------------------------------------
    // Mixer thread: waits for a step credit; false once `aborted` is set.
    bool takeCredit(const std::atomic<bool>& aborted);
    // Mixer thread: one block has been handed to the sink.
    void blockDone();
    // Any thread: wakes a takeCredit() so it can see its abort flag.
    void wake();
    // The stream's worker thread: samples of a memory sink.
    void appendReceived(const float* samples, size_t count);
    // The stream, at open and close (the worker must outlive its attachment).
    void attach(SinkWorker* worker);
    void detach();

private:
    OutputEntry entry_;

    std::mutex mutex_;  // guards the fields below; the mixer takes it, so it is held briefly only
    std::condition_variable changed_;
    bool open_ = false;
    uint64_t generation_ = 0;  // counts opens, so a step can tell its stream closed
    uint64_t credits_ = 0;     // blocks a stepped device may still take
    uint64_t done_ = 0;        // blocks written since open
    bool resting_ = false;     // the mixer waits for a credit, none being left

    // Guards worker_ (the open stream's sink worker). Separate from mutex_ so that a test copying
    // megabytes out of the store never holds up the mixer's step bookkeeping.
    // Lock order: workerMutex_, then the worker's drain mutex, then storeMutex_.
    std::mutex workerMutex_;
    SinkWorker* worker_ = nullptr;

    std::mutex storeMutex_;  // guards store_; taken by the worker thread and the hooks
    std::vector<float> store_;
};

}  // namespace pw::dev
