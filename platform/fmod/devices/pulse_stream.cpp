#include "pulse_stream.hpp"

#include <cstdio>

#include "pulse_backend.hpp"

namespace pw::dev {
namespace {
constexpr std::chrono::milliseconds kOpenTimeout{5000};
}

pa_sample_spec pulseFloatSpec(int channels, int rate) {
    pa_sample_spec spec;
    spec.format = PA_SAMPLE_FLOAT32LE;
    spec.rate = static_cast<uint32_t>(rate);
    spec.channels = static_cast<uint8_t>(channels);
    return spec;
}

pa_buffer_attr serverChosenAttr() {
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(-1);
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(-1);
    return attr;
}

pa_stream* newPulseStream(PulseConnection& c, const char* name, const pa_sample_spec& spec) {
    if (!c.alive()) return nullptr;
    const pa_channel_map map = pulseChannelMap(spec.channels);
    return pa_stream_new(c.context(), name, &spec, &map);
}

bool awaitPulseStream(PulseConnection& c, pa_stream* stream, const char* what, const std::string& device) {
    const bool settled = c.waitFor([&] { return pa_stream_get_state(stream) != PA_STREAM_CREATING; }, kOpenTimeout);
    if (settled && pa_stream_get_state(stream) == PA_STREAM_READY) return true;
    std::fprintf(stderr, "PulseAudio %s %s: %s\n", what, device.c_str(),
                 settled ? pa_strerror(pa_context_errno(c.context())) : "no answer");
    return false;
}

}  // namespace pw::dev
