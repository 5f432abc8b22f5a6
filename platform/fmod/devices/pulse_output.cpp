#include "pulse_output.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "pulse_backend.hpp"

namespace pw::dev {
namespace {

constexpr uint32_t kQueuedBlocks = 4;
constexpr pa_usec_t kMinLatencyUs = 50000;

constexpr std::chrono::milliseconds kOpenTimeout{5000};

void onStreamEvent(pa_stream*, void* userdata) { static_cast<PulseConnection*>(userdata)->signal(); }
void onWritable(pa_stream*, size_t, void* userdata) { static_cast<PulseConnection*>(userdata)->signal(); }

}  // namespace

FMOD_RESULT PulseOutput::open(std::shared_ptr<PulseConnection> connection, const std::string& sink,
                              int channels, int rate, unsigned blockFrames, std::unique_ptr<OutputStream>* out) {
    std::unique_ptr<PulseOutput> self(new PulseOutput(connection, channels));
    PulseConnection& c = *connection;
    PulseConnection::Lock lock(c);
    if (!c.alive()) return FMOD_ERR_OUTPUT_INIT;

    pa_sample_spec spec;
    spec.format = PA_SAMPLE_FLOAT32LE;
    spec.rate = static_cast<uint32_t>(rate);
    spec.channels = static_cast<uint8_t>(channels);
    const pa_channel_map map = pulseChannelMap(channels);
    self->stream_ = pa_stream_new(c.context(), "Pellwarden output", &spec, &map);
    if (!self->stream_) return FMOD_ERR_OUTPUT_INIT;
    pa_stream_set_state_callback(self->stream_, onStreamEvent, &c);
    pa_stream_set_write_callback(self->stream_, onWritable, &c);

    // A small target latency: four mixer blocks queued at the server (the buffer count the engine
    // configures), and never less than kMinLatencyUs. Less than that underruns as soon as the
    // machine is busy for a moment (a build, a sanitizer), and an underrun is an audible gap.
    const uint32_t blockBytes = static_cast<uint32_t>(blockFrames) * static_cast<uint32_t>(pa_frame_size(&spec));
    const uint32_t minBytes = static_cast<uint32_t>(pa_usec_to_bytes(kMinLatencyUs, &spec));
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = std::max(kQueuedBlocks * blockBytes, minBytes);
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(-1);
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_NO_REMIX_CHANNELS | PA_STREAM_NO_REMAP_CHANNELS |
                                                      PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_playback(self->stream_, sink.c_str(), &attr, flags, nullptr, nullptr) < 0)
        return FMOD_ERR_OUTPUT_INIT;
    const bool settled = c.waitFor([&] { return pa_stream_get_state(self->stream_) != PA_STREAM_CREATING; },
                                   kOpenTimeout);
    if (!settled || pa_stream_get_state(self->stream_) != PA_STREAM_READY) {
        std::fprintf(stderr, "PulseAudio sink %s: %s\n", sink.c_str(),
                     settled ? pa_strerror(pa_context_errno(c.context())) : "no answer");
        return FMOD_ERR_OUTPUT_INIT;
    }
    *out = std::move(self);
    return FMOD_OK;
}

PulseOutput::~PulseOutput() {
    if (!stream_) return;
    PulseConnection::Lock lock(*connection_);
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
}

bool PulseOutput::write(const float* interleaved, unsigned frames) {
    if (!interleaved && frames > 0) return false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(interleaved);
    size_t remaining = static_cast<size_t>(frames) * static_cast<size_t>(channels_) * sizeof(float);
    PulseConnection::Lock lock(*connection_);
    while (remaining > 0) {
        if (aborted_.load(std::memory_order_acquire)) return false;
        if (pa_stream_get_state(stream_) != PA_STREAM_READY) return false;
        size_t room = pa_stream_writable_size(stream_);
        if (room == static_cast<size_t>(-1)) return false;
        if (room == 0) {
            connection_->wait();  // a write request, a state change or abort() signals
            continue;
        }
        size_t n = remaining < room ? remaining : room;
        void* target = nullptr;
        if (pa_stream_begin_write(stream_, &target, &n) < 0 || !target || n == 0) return false;
        if (n > remaining) n = remaining;
        std::memcpy(target, bytes, n);
        if (pa_stream_write(stream_, target, n, nullptr, 0, PA_SEEK_RELATIVE) < 0) return false;
        bytes += n;
        remaining -= n;
    }
    return !aborted_.load(std::memory_order_acquire);
}

void PulseOutput::abort() {
    aborted_.store(true, std::memory_order_release);
    PulseConnection::Lock lock(*connection_);
    connection_->signal();
}

}  // namespace pw::dev
