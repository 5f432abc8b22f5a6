#include "pulse_input.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "pulse_stream.hpp"

namespace pw::dev {
namespace {

void onStreamEvent(pa_stream*, void* userdata) { static_cast<PulseConnection*>(userdata)->signal(); }
void onReadable(pa_stream*, size_t, void* userdata) { static_cast<PulseConnection*>(userdata)->signal(); }

constexpr unsigned kFragmentMs = 10;

}  // namespace

FMOD_RESULT PulseInput::open(std::shared_ptr<PulseConnection> connection, const std::string& source,
                             int channels, int rate, std::unique_ptr<InputStream>* out) {
    std::unique_ptr<PulseInput> self(new PulseInput(connection, channels));
    PulseConnection& c = *connection;
    PulseConnection::Lock lock(c);
    const pa_sample_spec spec = pulseFloatSpec(channels, rate);
    self->stream_ = newPulseStream(c, "Pellwarden input", spec);
    if (!self->stream_) return FMOD_ERR_RECORD;
    pa_stream_set_state_callback(self->stream_, onStreamEvent, &c);
    pa_stream_set_read_callback(self->stream_, onReadable, &c);
    pa_buffer_attr attr = serverChosenAttr();
    attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(kFragmentMs * 1000, &spec));
    if (pa_stream_connect_record(self->stream_, source.c_str(), &attr, kUnmixedStreamFlags) < 0 ||
        !awaitPulseStream(c, self->stream_, "source", source))
        return FMOD_ERR_RECORD;
    *out = std::move(self);
    return FMOD_OK;
}

PulseInput::~PulseInput() {
    if (!stream_) return;
    PulseConnection::Lock lock(*connection_);
    if (havePeeked_) pa_stream_drop(stream_);
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
}

unsigned PulseInput::read(float* interleaved, unsigned maxFrames) {
    if (!interleaved || maxFrames == 0) return 0;
    const size_t frameBytes = static_cast<size_t>(channels_) * sizeof(float);
    PulseConnection::Lock lock(*connection_);
    for (;;) {
        if (aborted_.load(std::memory_order_acquire)) return 0;
        if (pa_stream_get_state(stream_) != PA_STREAM_READY) return 0;
        if (!havePeeked_) {
            const void* data = nullptr;
            size_t bytes = 0;
            if (pa_stream_peek(stream_, &data, &bytes) < 0) return 0;
            if (bytes == 0) {
                connection_->wait();  // data, a state change or abort() signals
                continue;
            }
            havePeeked_ = true;
            fragment_ = static_cast<const unsigned char*>(data);  // null: a hole of `bytes`
            fragmentBytes_ = bytes;
            fragmentOffset_ = 0;
        }
        const size_t left = (fragmentBytes_ - fragmentOffset_) / frameBytes;
        const size_t frames = std::min<size_t>(left, maxFrames);
        if (fragment_) std::memcpy(interleaved, fragment_ + fragmentOffset_, frames * frameBytes);
        else std::fill(interleaved, interleaved + frames * static_cast<size_t>(channels_), 0.0f);
        fragmentOffset_ += frames * frameBytes;
        if (fragmentBytes_ - fragmentOffset_ < frameBytes) {
            pa_stream_drop(stream_);
            havePeeked_ = false;
        }
        if (frames > 0) return static_cast<unsigned>(frames);
    }
}

void PulseInput::abort() {
    aborted_.store(true, std::memory_order_release);
    PulseConnection::Lock lock(*connection_);
    connection_->signal();
}

}  // namespace pw::dev
