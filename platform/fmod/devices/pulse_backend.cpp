#include "pulse_backend.hpp"

#include "device_table.hpp"
#include "pulse_input.hpp"
#include "pulse_output.hpp"

namespace pw::dev {
namespace {

constexpr const char* kClientName = "Pellwarden audio";

struct Listing {
    PulseConnection* connection;
    std::vector<OutputDriverInfo>* outputInfo;
    std::vector<PulseDevice>* sinks;
    std::vector<RecordDriverInfo>* recordInfo;
    std::vector<PulseDevice>* sources;
};

std::string describe(const char* description, const char* name) {
    return description && *description ? description : (name ? name : "");
}

void onSink(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
    auto* l = static_cast<Listing*>(userdata);
    if (eol || !info) {
        l->connection->signal();
        return;
    }
    OutputDriverInfo o;
    o.name = describe(info->description, info->name);
    o.channels = info->channel_map.channels;
    // The server converts any rate, so no range is imposed on the mixer.
    o.minRate = 0;
    o.maxRate = 0;
    o.caps = o.channels > 2 ? FMOD_CAPS_OUTPUT_MULTICHANNEL : 0;
    o.controlPanelMode = PulseBackend::speakerModeFor(info->channel_map);
    l->outputInfo->push_back(o);
    l->sinks->push_back({info->name ? info->name : "", o.channels, static_cast<int>(info->sample_spec.rate)});
}

void onSource(pa_context*, const pa_source_info* info, int eol, void* userdata) {
    auto* l = static_cast<Listing*>(userdata);
    if (eol || !info) {
        l->connection->signal();
        return;
    }
    RecordDriverInfo r;
    r.name = describe(info->description, info->name);
    r.channels = info->channel_map.channels;
    r.rate = static_cast<int>(info->sample_spec.rate);
    l->recordInfo->push_back(r);
    l->sources->push_back({info->name ? info->name : "", r.channels, r.rate});
}

}  // namespace

pa_channel_map pulseChannelMap(int channels) {
    static const pa_channel_position_t kStandard[8] = {
        PA_CHANNEL_POSITION_FRONT_LEFT, PA_CHANNEL_POSITION_FRONT_RIGHT, PA_CHANNEL_POSITION_FRONT_CENTER,
        PA_CHANNEL_POSITION_LFE,        PA_CHANNEL_POSITION_REAR_LEFT,   PA_CHANNEL_POSITION_REAR_RIGHT,
        PA_CHANNEL_POSITION_SIDE_LEFT,  PA_CHANNEL_POSITION_SIDE_RIGHT};
    pa_channel_map map;
    pa_channel_map_init(&map);
    map.channels = static_cast<uint8_t>(channels);
    if (channels == 1) {
        map.map[0] = PA_CHANNEL_POSITION_MONO;
        return map;
    }
    for (int i = 0; i < channels; ++i)
        map.map[i] = i < 8 ? kStandard[i]
                           : static_cast<pa_channel_position_t>(PA_CHANNEL_POSITION_AUX0 + (i - 8));
    return map;
}

FMOD_SPEAKERMODE PulseBackend::speakerModeFor(const pa_channel_map& map) {
    for (unsigned i = 0; i < map.channels; ++i)
        if (map.map[i] >= PA_CHANNEL_POSITION_AUX0 && map.map[i] <= PA_CHANNEL_POSITION_AUX31)
            return FMOD_SPEAKERMODE_RAW;
    return speakerModeForChannels(map.channels);
}

std::unique_ptr<Backend> PulseBackend::connect() {
    std::shared_ptr<PulseConnection> connection = PulseConnection::open(kClientName);
    if (!connection) return nullptr;
    std::unique_ptr<PulseBackend> backend(new PulseBackend(connection));
    Listing listing{connection.get(), &backend->outputInfo_, &backend->sinks_, &backend->recordInfo_,
                    &backend->sources_};
    PulseConnection::Lock lock(*connection);
    // The server answers in index order, which is creation order: stable for the process.
    connection->finish(pa_context_get_sink_info_list(connection->context(), onSink, &listing));
    connection->finish(pa_context_get_source_info_list(connection->context(), onSource, &listing));
    return backend;
}

FMOD_RESULT PulseBackend::openOutput(int index, int channels, int rate, unsigned blockFrames,
                                     std::unique_ptr<OutputStream>* out) {
    if (!out || index < 0 || static_cast<size_t>(index) >= sinks_.size() || rate < 1000 ||
        rate > static_cast<int>(PA_RATE_MAX) || blockFrames == 0 || channels < 1)
        return FMOD_ERR_INVALID_PARAM;
    // A layout the server cannot carry in one stream: the caller may retry in stereo.
    if (channels > static_cast<int>(PA_CHANNELS_MAX)) return FMOD_ERR_OUTPUT_CREATEBUFFER;
    return PulseOutput::open(connection_, sinks_[static_cast<size_t>(index)].server, channels, rate,
                             blockFrames, out);
}

FMOD_RESULT PulseBackend::openInput(int index, int channels, int rate, std::unique_ptr<InputStream>* out) {
    if (!out || index < 0 || static_cast<size_t>(index) >= sources_.size() || rate < 1000 ||
        rate > static_cast<int>(PA_RATE_MAX) || channels < 1 || channels > static_cast<int>(PA_CHANNELS_MAX))
        return FMOD_ERR_INVALID_PARAM;
    return PulseInput::open(connection_, sources_[static_cast<size_t>(index)].server, channels, rate, out);
}

}  // namespace pw::dev
