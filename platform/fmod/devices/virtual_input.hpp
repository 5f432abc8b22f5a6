// An open recording stream on a virtual record driver: a continuous sine or a looped WAV file,
// delivered at the stream's rate against the monotonic clock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "device_table.hpp"
#include "pacer.hpp"

namespace pw::dev {

class VirtualInput : public InputStream {
public:
    // FMOD_ERR_FILE_NOTFOUND / FMOD_ERR_FORMAT when a wav input cannot be read.
    static FMOD_RESULT create(const RecordEntry& entry, int channels, int rate,
                              std::unique_ptr<InputStream>* out);

    // Thread safety: the one recording thread. Blocks until at least one frame is due (it
    // returns the frames due so far, at most maxFrames, in chunks of about 10 ms); 0 once aborted.
    unsigned read(float* interleaved, unsigned maxFrames) override;
    // Any thread.
    void abort() override;

    // The sine's amplitude: loud, yet with room below full scale.
    static constexpr float kSineAmplitude = 0.5f;

private:
    VirtualInput(int channels, int rate);
    void render(float* out, unsigned frames);

    const int channels_;
    const int rate_;
    double phase_ = 0.0;       // sine: in cycles, kept in [0, 1)
    double increment_ = 0.0;   // sine: cycles per frame
    std::vector<float> wav_;   // wav input: interleaved in the stream's channels, looped
    size_t wavFrame_ = 0;
    Pacer pacer_;
    bool started_ = false;
    uint64_t delivered_ = 0;
    std::atomic<bool> aborted_{false};
    std::mutex mutex_;  // only for waking a paced wait on abort
    std::condition_variable wake_;
};

}  // namespace pw::dev
