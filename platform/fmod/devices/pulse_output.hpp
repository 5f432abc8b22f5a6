// A playback stream on a PulseAudio sink.
//
// Layout: float32le at the mix rate with the channel count asked for. Channel positions are the
// standard ones (FL FR C LFE RL RR SL SR, the first n of them; aux positions beyond eight), but
// the stream is connected with PA_STREAM_NO_REMAP_CHANNELS | PA_STREAM_NO_REMIX_CHANNELS, so the
// server maps by index and never mixes: stream channel i lands on the sink's channel i, a sink
// with fewer channels gets the first min(stream, sink) channels, and a sink with more channels
// keeps the others silent. The positions therefore only label the channels; the routing is ours.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "device.hpp"
#include "pulse_connection.hpp"

namespace pw::dev {

class PulseOutput : public OutputStream {
public:
    // FMOD_OK, or FMOD_ERR_OUTPUT_INIT when the server refuses the stream.
    static FMOD_RESULT open(std::shared_ptr<PulseConnection> connection, const std::string& sink,
                            int channels, int rate, unsigned blockFrames, std::unique_ptr<OutputStream>* out);
    ~PulseOutput() override;

    // Thread safety: mixer thread only. Blocks (on the main-loop condition, lock released) until
    // the server has room for the whole block: this is what paces the mixer. Copies into the
    // server's preallocated shared-memory pool (pa_stream_begin_write), never into the heap.
    // false once aborted or when the stream or server is gone.
    bool write(const float* interleaved, unsigned frames) override;
    // Any thread.
    void abort() override;

private:
    PulseOutput(std::shared_ptr<PulseConnection> connection, int channels)
        : connection_(std::move(connection)), channels_(channels) {}

    std::shared_ptr<PulseConnection> connection_;
    const int channels_;
    pa_stream* stream_ = nullptr;  // under the main-loop lock
    std::atomic<bool> aborted_{false};
};

}  // namespace pw::dev
