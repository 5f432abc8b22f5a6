#include "source_capture.hpp"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cmath>
#include <cstring>

#include "pulse_backend.hpp"
#include "pulse_connection.hpp"

namespace pw::test {

struct SourceCapture::State {
    std::shared_ptr<pw::dev::PulseConnection> connection;
    pa_stream* stream = nullptr;
    int channels = 0;
    std::vector<float> samples;  // under the main-loop lock
    std::vector<SourceCapture::Arrival> arrivals;  // under the main-loop lock
    std::string error;
};

namespace {

void onState(pa_stream*, void* userdata) {
    static_cast<pw::dev::PulseConnection*>(userdata)->signal();
}

void onRead(pa_stream* stream, size_t, void* userdata) {
    auto* state = static_cast<SourceCapture::State*>(userdata);
    const void* data = nullptr;
    size_t bytes = 0;
    while (pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
        const size_t count = bytes / sizeof(float);
        if (data) {
            const size_t at = state->samples.size();
            state->samples.resize(at + count);
            std::memcpy(state->samples.data() + at, data, count * sizeof(float));
        } else {
            state->samples.resize(state->samples.size() + count, 0.0f);  // a hole: silence
        }
        pa_stream_drop(stream);
    }
    const int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
    state->arrivals.push_back(
        SourceCapture::Arrival{state->samples.size() / static_cast<size_t>(state->channels), now});
    state->connection->signal();
}

}  // namespace

SourceCapture::SourceCapture(const std::string& source, int channels, int rate) : state_(new State) {
    state_->channels = channels;
    state_->connection = pw::dev::PulseConnection::open("pw-test-capture");
    if (!state_->connection) {
        state_->error = "no PulseAudio server answers";
        return;
    }
    pw::dev::PulseConnection& c = *state_->connection;
    pw::dev::PulseConnection::Lock lock(c);
    pa_sample_spec spec;
    spec.format = PA_SAMPLE_FLOAT32LE;
    spec.rate = static_cast<uint32_t>(rate);
    spec.channels = static_cast<uint8_t>(channels);
    const pa_channel_map map = pw::dev::pulseChannelMap(channels);
    state_->stream = pa_stream_new(c.context(), "pw-test-capture", &spec, &map);
    if (!state_->stream) {
        state_->error = "pa_stream_new failed";
        return;
    }
    pa_stream_set_state_callback(state_->stream, onState, &c);
    pa_stream_set_read_callback(state_->stream, onRead, state_.get());
    pa_buffer_attr attr;
    std::memset(&attr, 0xff, sizeof attr);
    attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(10000, &spec));
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_NO_REMIX_CHANNELS | PA_STREAM_NO_REMAP_CHANNELS |
                                                      PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_record(state_->stream, source.c_str(), &attr, flags) < 0) {
        state_->error = std::string("cannot record ") + source + ": " + pa_strerror(pa_context_errno(c.context()));
        return;
    }
    for (;;) {
        const pa_stream_state_t s = pa_stream_get_state(state_->stream);
        if (s == PA_STREAM_READY) return;
        if (!PA_STREAM_IS_GOOD(s)) {
            state_->error = std::string("cannot record ") + source + ": " + pa_strerror(pa_context_errno(c.context()));
            return;
        }
        c.wait();
    }
}

SourceCapture::~SourceCapture() {
    if (!state_->connection) return;
    pw::dev::PulseConnection::Lock lock(*state_->connection);
    if (state_->stream) {
        pa_stream_set_state_callback(state_->stream, nullptr, nullptr);
        pa_stream_set_read_callback(state_->stream, nullptr, nullptr);
        pa_stream_disconnect(state_->stream);
        pa_stream_unref(state_->stream);
    }
}

bool SourceCapture::ok() const { return state_->error.empty(); }
const std::string& SourceCapture::error() const { return state_->error; }

std::vector<float> SourceCapture::waitFrames(size_t frames, double timeoutSeconds) {
    if (!ok()) return {};
    const size_t wanted = frames * static_cast<size_t>(state_->channels);
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(timeoutSeconds));
    pw::dev::PulseConnection::Lock lock(*state_->connection);
    // Every read callback signals; the clock check bounds the wait when the server stops.
    while (state_->samples.size() < wanted && std::chrono::steady_clock::now() < deadline &&
           pa_stream_get_state(state_->stream) == PA_STREAM_READY)
        state_->connection->wait();
    std::vector<float> out(state_->samples.begin(),
                           state_->samples.begin() + static_cast<std::ptrdiff_t>(std::min(wanted, state_->samples.size())));
    return out;
}

size_t SourceCapture::capturedFrames() const {
    if (!state_->connection || state_->channels <= 0) return 0;
    pw::dev::PulseConnection::Lock lock(*state_->connection);
    return state_->samples.size() / static_cast<size_t>(state_->channels);
}

std::vector<SourceCapture::Arrival> SourceCapture::arrivals() const {
    if (!state_->connection) return {};
    pw::dev::PulseConnection::Lock lock(*state_->connection);
    return state_->arrivals;
}

int64_t SourceCapture::frameZeroNs(int rate) const {
    const std::vector<Arrival> all = arrivals();
    if (all.empty() || rate <= 0) return 0;
    int64_t best = INT64_MAX;
    for (const Arrival& a : all) {
        const int64_t start = a.steadyNs - static_cast<int64_t>(static_cast<double>(a.frames) * 1e9 / rate);
        best = std::min(best, start);
    }
    return best;
}

std::vector<float> recordFromSource(const std::string& source, int channels, size_t frames, int rate) {
    SourceCapture capture(source, channels, rate);
    return capture.ok() ? capture.waitFrames(frames) : std::vector<float>{};
}

std::vector<float> withoutSilentFrames(const std::vector<float>& x, int channels) {
    std::vector<float> out;
    if (channels <= 0) return out;
    const size_t n = static_cast<size_t>(channels);
    for (size_t i = 0; i + n <= x.size(); i += n) {
        bool silent = true;
        for (size_t c = 0; c < n; ++c) silent = silent && x[i + c] == 0.0f;
        if (!silent) out.insert(out.end(), x.begin() + static_cast<std::ptrdiff_t>(i),
                                x.begin() + static_cast<std::ptrdiff_t>(i + n));
    }
    return out;
}

long findFirst(const std::vector<float>& interleaved, int channels, int channel, float threshold) {
    if (channels <= 0 || channel < 0 || channel >= channels) return -1;
    const size_t frames = interleaved.size() / static_cast<size_t>(channels);
    for (size_t f = 0; f < frames; ++f)
        if (std::fabs(interleaved[f * static_cast<size_t>(channels) + static_cast<size_t>(channel)]) > threshold)
            return static_cast<long>(f);
    return -1;
}

}  // namespace pw::test
