// A record stream on a PulseAudio source: float32le, the channel count asked for, mapped by
// index like the output streams (no server-side remixing).
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "device.hpp"
#include "pulse_connection.hpp"

namespace pw::dev {

class PulseInput : public InputStream {
public:
    // FMOD_OK, or FMOD_ERR_RECORD when the server refuses the stream.
    static FMOD_RESULT open(std::shared_ptr<PulseConnection> connection, const std::string& source,
                            int channels, int rate, std::unique_ptr<InputStream>* out);
    ~PulseInput() override;

    // Thread safety: the one recording thread. Blocks until data is there; 0 once aborted or gone.
    // A hole in the server's data comes out as silence so that time stays continuous.
    unsigned read(float* interleaved, unsigned maxFrames) override;
    void abort() override;

private:
    PulseInput(std::shared_ptr<PulseConnection> connection, int channels)
        : connection_(std::move(connection)), channels_(channels) {}

    std::shared_ptr<PulseConnection> connection_;
    const int channels_;
    pa_stream* stream_ = nullptr;  // under the main-loop lock
    // The fragment peeked and not yet fully dropped (recording thread, under the lock).
    const unsigned char* fragment_ = nullptr;
    size_t fragmentBytes_ = 0;
    size_t fragmentOffset_ = 0;
    bool havePeeked_ = false;
    std::atomic<bool> aborted_{false};
};

}  // namespace pw::dev
