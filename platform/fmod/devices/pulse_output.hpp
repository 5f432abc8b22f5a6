// A playback stream on a PulseAudio sink.
//
// Layout: float32le at the mix rate with the channel count asked for. Channel positions are the
// standard ones (FL FR C LFE RL RR SL SR, the first n of them; aux positions beyond eight), but
// the stream is connected with PA_STREAM_NO_REMAP_CHANNELS | PA_STREAM_NO_REMIX_CHANNELS, so the
// server maps by index and never mixes: stream channel i lands on the sink's channel i, a sink
// with fewer channels gets the first min(stream, sink) channels, and a sink with more channels
// keeps the others silent. The positions therefore only label the channels; the routing is ours.
//
// The mixer never touches the server's main-loop lock, which every card, recording and stream open
// of the process shares: it puts its blocks into a one-block lock-free ring (BlockHandoff), and the
// stream's write callback, on the main-loop thread, moves them to the server when it asks. The
// server's latency is asked for the four blocks the engine's buffer settings give. The callback
// tells the ring what the server still wants, and the mixer mixes a block only then (awaitRoom()):
// a block is made when the server asks for it, and a wake-up (an eventfd the main loop watches)
// has the main-loop thread hand it over at once, so it waits in the hand-over only for its
// mixing. When the server asks for more than the ring holds, a timer looks again every half block
// until the request is met; otherwise the timer beats every 20 ms, so that the mixer knows the
// main-loop thread runs even while the server asks for nothing.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "block_handoff.hpp"
#include "device.hpp"
#include "pulse_connection.hpp"

namespace pw::dev {

class PulseOutput : public OutputStream {
public:
    // FMOD_OK, or FMOD_ERR_OUTPUT_INIT when the server refuses the stream.
    static FMOD_RESULT open(std::shared_ptr<PulseConnection> connection, const std::string& sink,
                            int channels, int rate, unsigned blockFrames, std::unique_ptr<OutputStream>* out);
    // Logs the blocks dropped in the stream's life, if any, with its underruns.
    ~PulseOutput() override;

    // Thread safety: mixer thread only. Callback safety: never takes the main-loop lock, never
    // allocates. Waits until the server wants more than the ring holds: this is what paces the
    // mixer, before it mixes the block, so that the block goes to the server as soon as it is mixed.
    // When the main-loop thread takes nothing for longer than the server's buffer lasts
    // (something holds the lock for twice that), the mixer keeps its real-time pace: this
    // returns when the block is due, and write() drops it, counted.
    // false once aborted or when the stream or server is gone.
    bool awaitRoom() override;
    // Mixer thread only; same callback safety. Queues the block and wakes the main-loop thread to
    // hand it over; waits as awaitRoom() would when called without it.
    bool write(const float* interleaved, unsigned frames) override;
    // Any thread; lock-free.
    void abort() override;

    // Any thread: times the server ran out of data, and blocks dropped while it took none.
    uint64_t underruns() const { return underruns_.load(std::memory_order_relaxed); }
    uint64_t droppedBlocks() const { return handoff_.dropped(); }
    // Any thread: samples mixed and not yet handed to the server.
    size_t handOverSamples() const { return handoff_.readable(); }

private:
    PulseOutput(std::shared_ptr<PulseConnection> connection, const std::string& sink, int channels, int rate,
                unsigned blockFrames);

    // Main-loop thread (callbacks): hands the server what it asks for from the ring and arms the
    // timer for the next pass.
    void feed();
    // One pass; sets `next` to the retry interval when the server wants more than the ring holds.
    void feedOnce(pa_usec_t* next);
    static void onStateChanged(pa_stream* stream, void* userdata);
    static void onWritable(pa_stream* stream, size_t bytes, void* userdata);
    static void onUnderflow(pa_stream* stream, void* userdata);
    static void onRetry(pa_mainloop_api* api, pa_time_event* event, const struct timeval* tv, void* userdata);
    static void onWake(pa_mainloop_api* api, pa_io_event* event, int fd, pa_io_event_flags_t flags, void* userdata);

    std::shared_ptr<PulseConnection> connection_;
    const std::string sink_;
    const int channels_;
    const size_t blockSamples_;
    const pa_usec_t retryUs_;  // half a block
    BlockHandoff handoff_;
    pa_stream* stream_ = nullptr;       // under the main-loop lock
    pa_time_event* retry_ = nullptr;    // under the main-loop lock
    int wakeFd_ = -1;                   // an eventfd: the mixer writes, the main loop reads
    pa_io_event* wake_ = nullptr;       // under the main-loop lock
    std::atomic<uint64_t> underruns_{0};
};

}  // namespace pw::dev
