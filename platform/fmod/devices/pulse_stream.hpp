// What the PulseAudio output and record streams share: the float32le layout mapped by index
// (no server-side remapping or remixing), and opening with a time-out.
//
// Thread safety: every function here is called with the connection's main-loop lock held.
#pragma once

#include <string>

#include "pulse_connection.hpp"

namespace pw::dev {

// Never remap or remix: stream channel i is the device's channel i. The buffer attributes set
// the latency.
constexpr pa_stream_flags_t kUnmixedStreamFlags = static_cast<pa_stream_flags_t>(
    PA_STREAM_NO_REMIX_CHANNELS | PA_STREAM_NO_REMAP_CHANNELS | PA_STREAM_ADJUST_LATENCY);

// float32le, `channels` at `rate`.
pa_sample_spec pulseFloatSpec(int channels, int rate);

// Buffer attributes that leave every field to the server; the caller sets the one it cares for.
pa_buffer_attr serverChosenAttr();

// A new stream named `name` in that layout with the backend's channel map; null on failure.
pa_stream* newPulseStream(PulseConnection& c, const char* name, const pa_sample_spec& spec);

// After pa_stream_connect_*: waits until the stream is ready. false when the server refused it
// or did not answer, with a line on stderr naming `what` ("sink", "source") and `device`.
bool awaitPulseStream(PulseConnection& c, pa_stream* stream, const char* what, const std::string& device);

}  // namespace pw::dev
