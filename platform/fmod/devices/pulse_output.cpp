#include "pulse_output.hpp"

#include <algorithm>
#include <cstdio>
#include <pulse/rtclock.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "pulse_stream.hpp"

namespace pw::dev {
namespace {

// The engine's output holds four mixer blocks from the mixer to the sink, this stream's own
// hand-over included. The mixer mixes a block when the server asks for a whole one, and the block
// goes to the server as soon as it is mixed: the hand-over holds a block only while it is mixed,
// so the four are the server's (with one block less there, a 256-frame server is asked for its
// next block with two left, and a late mixer thread costs a dropout now and then).
constexpr uint32_t kOutputBlocks = 4;
constexpr uint32_t kRingBlocks = 1;
// Smaller blocks (128 frames) underrun on a busy machine: the main-loop thread does not run
// reliably often enough to move them one at a time. The output then holds what four blocks of
// this many frames would, and the ring has room for that many frames in whole blocks.
constexpr uint32_t kFloorFrames = 256;

uint32_t ringBlocks(unsigned blockFrames) {
    const uint32_t frames = std::max(1u, blockFrames);
    return std::max(kRingBlocks, (kFloorFrames * kRingBlocks + frames - 1) / frames);
}

constexpr std::chrono::milliseconds kMinStall{100};
constexpr pa_usec_t kHeartbeatUs = 20000;

}  // namespace

PulseOutput::PulseOutput(std::shared_ptr<PulseConnection> connection, const std::string& sink, int channels,
                         int rate, unsigned blockFrames)
    : connection_(std::move(connection)),
      sink_(sink),
      channels_(channels),
      blockSamples_(static_cast<size_t>(blockFrames) * static_cast<size_t>(channels)),
      retryUs_(std::max<pa_usec_t>(500, static_cast<pa_usec_t>(blockFrames) * 500000 / static_cast<pa_usec_t>(rate))),
      handoff_(blockSamples_, ringBlocks(blockFrames), static_cast<unsigned>(rate), blockFrames, kMinStall) {}

FMOD_RESULT PulseOutput::open(std::shared_ptr<PulseConnection> connection, const std::string& sink,
                              int channels, int rate, unsigned blockFrames, std::unique_ptr<OutputStream>* out) {
    // Declared before the lock: on failure it is destroyed after the lock is released.
    std::unique_ptr<PulseOutput> self(new PulseOutput(connection, sink, channels, rate, blockFrames));
    PulseConnection& c = *connection;
    PulseConnection::Lock lock(c);
    const pa_sample_spec spec = pulseFloatSpec(channels, rate);
    self->stream_ = newPulseStream(c, "Pellwarden output", spec);
    if (!self->stream_) return FMOD_ERR_OUTPUT_INIT;
    self->retry_ = pa_context_rttime_new(c.context(), pa_rtclock_now() + kHeartbeatUs, onRetry, self.get());
    if (!self->retry_) return FMOD_ERR_OUTPUT_INIT;
    self->wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (self->wakeFd_ < 0) return FMOD_ERR_OUTPUT_INIT;
    self->wake_ = pa_threaded_mainloop_get_api(c.loop())->io_new(pa_threaded_mainloop_get_api(c.loop()),
                                                                  self->wakeFd_, PA_IO_EVENT_INPUT, onWake, self.get());
    if (!self->wake_) return FMOD_ERR_OUTPUT_INIT;
    pa_stream_set_state_callback(self->stream_, onStateChanged, self.get());
    pa_stream_set_write_callback(self->stream_, onWritable, self.get());
    pa_stream_set_underflow_callback(self->stream_, onUnderflow, self.get());

    // The four blocks are the server's whole latency (PA_STREAM_ADJUST_LATENCY: the
    // sink's own buffer counts within tlength). The floor stays below every setting that plays
    // clean: a floor larger than the blocks makes the server ask in large bursts, the mixer then
    // renders back to back and drains the decks' rings (a 50 ms floor did at 128 frames).
    const uint32_t blockBytes = static_cast<uint32_t>(blockFrames) * static_cast<uint32_t>(pa_frame_size(&spec));
    const uint32_t frameBytes = static_cast<uint32_t>(pa_frame_size(&spec));
    const uint32_t outputFrames = kOutputBlocks * std::max(blockFrames, kFloorFrames);
    pa_buffer_attr attr = serverChosenAttr();
    attr.tlength = outputFrames * frameBytes;
    attr.minreq = blockBytes;
    if (pa_stream_connect_playback(self->stream_, sink.c_str(), &attr, kUnmixedStreamFlags, nullptr, nullptr) < 0 ||
        !awaitPulseStream(c, self->stream_, "sink", sink))
        return FMOD_ERR_OUTPUT_INIT;
    // The mixer stops waiting for the main-loop thread once it has not run for twice what the
    // server's buffer lasts (and at least kMinStall): by then the server has run dry. A thread
    // that is merely late on a busy machine must not cost blocks, so the limit is generous.
    const pa_buffer_attr* granted = pa_stream_get_buffer_attr(self->stream_);
    const uint32_t tlength = granted ? granted->tlength : attr.tlength;
    const std::chrono::nanoseconds stall(std::chrono::microseconds(pa_bytes_to_usec(2 * tlength + blockBytes, &spec)));
    self->handoff_.setStallLimit(std::max<std::chrono::nanoseconds>(stall, kMinStall));
    *out = std::move(self);
    return FMOD_OK;
}

PulseOutput::~PulseOutput() {
    {
        PulseConnection::Lock lock(*connection_);
        // No callback runs after this block: they run on the main-loop thread under the lock.
        if (retry_) pa_threaded_mainloop_get_api(connection_->loop())->time_free(retry_);
        if (wake_) pa_threaded_mainloop_get_api(connection_->loop())->io_free(wake_);
        if (stream_) {
            pa_stream_set_state_callback(stream_, nullptr, nullptr);
            pa_stream_set_write_callback(stream_, nullptr, nullptr);
            pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
        }
    }
    if (wakeFd_ >= 0) close(wakeFd_);
    // An underrun alone is no news: the stream runs dry whenever the mixer stops before it closes.
    if (droppedBlocks() > 0)
        std::fprintf(stderr, "PulseAudio sink %s: %llu underruns, %llu blocks dropped while the server took none\n",
                     sink_.c_str(), static_cast<unsigned long long>(underruns()),
                     static_cast<unsigned long long>(droppedBlocks()));
}

bool PulseOutput::write(const float* interleaved, unsigned frames) {
    if (!interleaved && frames > 0) return false;
    size_t remaining = static_cast<size_t>(frames) * static_cast<size_t>(channels_);
    while (remaining > 0) {
        const size_t n = std::min(remaining, blockSamples_);
        const BlockHandoff::Push pushed = handoff_.push(interleaved, n);
        if (pushed == BlockHandoff::Push::Aborted) return false;
        if (pushed == BlockHandoff::Push::Queued) {
            // A full counter (it never is: the main loop reads it at every wake-up) only
            // refuses the add; the timer's next pass hands the block over then.
            const uint64_t one = 1;
            [[maybe_unused]] const ssize_t ignored = ::write(wakeFd_, &one, sizeof one);
        }
        interleaved += n;
        remaining -= n;
    }
    return !handoff_.aborted();
}

bool PulseOutput::awaitRoom() { return handoff_.awaitRoom(blockSamples_) != BlockHandoff::Room::Aborted; }

void PulseOutput::abort() { handoff_.abort(); }

void PulseOutput::feed() {
    handoff_.alive();
    // Every pass ends by arming the timer again: soon while the server wants more than the ring
    // holds (it may not ask again before it runs dry), else as a heartbeat, so that the mixer
    // can tell a server that takes nothing for a while (it waits for it) from this thread not
    // running at all (it keeps its own pace).
    pa_usec_t next = kHeartbeatUs;
    feedOnce(&next);
    pa_context_rttime_restart(connection_->context(), retry_, pa_rtclock_now() + next);
}

void PulseOutput::feedOnce(pa_usec_t* next) {
    if (pa_stream_get_state(stream_) != PA_STREAM_READY) return;
    const size_t frameBytes = static_cast<size_t>(channels_) * sizeof(float);
    size_t wanted = pa_stream_writable_size(stream_);
    if (wanted == static_cast<size_t>(-1)) return;
    wanted -= wanted % frameBytes;
    while (wanted > 0) {
        size_t bytes = std::min(wanted, handoff_.readable() * sizeof(float));
        bytes -= bytes % frameBytes;
        void* target = nullptr;
        if (bytes > 0 && (pa_stream_begin_write(stream_, &target, &bytes) < 0 || !target)) return;
        bytes -= bytes % frameBytes;
        const size_t taken = handoff_.pull(static_cast<float*>(target), bytes / sizeof(float)) * sizeof(float);
        if (taken == 0) {
            if (target) pa_stream_cancel_write(stream_);
            *next = retryUs_;
            break;
        }
        if (pa_stream_write(stream_, target, taken, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
        wanted -= taken;
    }
    handoff_.want(wanted / sizeof(float));
}

void PulseOutput::onStateChanged(pa_stream* stream, void* userdata) {
    auto* self = static_cast<PulseOutput*>(userdata);
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) self->handoff_.abort();
    self->connection_->signal();
}

void PulseOutput::onWritable(pa_stream*, size_t, void* userdata) { static_cast<PulseOutput*>(userdata)->feed(); }

void PulseOutput::onUnderflow(pa_stream*, void* userdata) {
    static_cast<PulseOutput*>(userdata)->underruns_.fetch_add(1, std::memory_order_relaxed);
}

void PulseOutput::onWake(pa_mainloop_api*, pa_io_event*, int fd, pa_io_event_flags_t, void* userdata) {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t ignored = ::read(fd, &count, sizeof count);
    static_cast<PulseOutput*>(userdata)->feed();
}

void PulseOutput::onRetry(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
    static_cast<PulseOutput*>(userdata)->feed();
}

}  // namespace pw::dev
