// An open stream on a virtual output: converts each block to the device's channel count, paces
// the mixer (real time or stepped by the test) and hands the samples to the sink through a
// worker thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "pacer.hpp"
#include "sink_worker.hpp"
#include "virtual_output_device.hpp"
#include "wav_file.hpp"

namespace pw::dev {

class VirtualOutput : public OutputStream {
public:
    // Opens the sink. FMOD_OK, or FMOD_ERR_OUTPUT_INIT with a line on stderr when a wav sink's
    // file cannot be created.
    static FMOD_RESULT create(std::shared_ptr<VirtualOutputDevice> device, int channels, int rate,
                              unsigned blockFrames, std::unique_ptr<OutputStream>* out);
    ~VirtualOutput() override;

    // Thread safety: mixer thread only. Callback safety: never allocates or touches files; waits
    // only for the pacing clock, the test's step, or a full sink ring.
    bool write(const float* interleaved, unsigned frames) override;
    // Any thread.
    void abort() override;

private:
    VirtualOutput(std::shared_ptr<VirtualOutputDevice> device, int channels, int rate, unsigned blockFrames);
    bool writeChunk(const float* interleaved, unsigned frames);

    std::shared_ptr<VirtualOutputDevice> device_;
    const int streamChannels_;
    const int deviceChannels_;
    const int rate_;
    const unsigned blockFrames_;
    std::vector<float> scratch_;  // one block in device channels, allocated at open
    Pacer pacer_;
    bool pacerStarted_ = false;  // mixer thread only
    std::atomic<bool> aborted_{false};
    std::mutex sleepMutex_;  // only for waking a paced sleep on abort
    std::condition_variable sleepWake_;
    WavWriter wav_;
    std::unique_ptr<SinkWorker> worker_;  // null for a discard sink
};

}  // namespace pw::dev
