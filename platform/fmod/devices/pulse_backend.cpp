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
    const std::string server = info->name ? info->name : "";
    for (const PulseDevice& known : *l->sinks)
        if (known.server == server) return;  // listed before: it keeps its index
    l->outputInfo->push_back(o);
    l->sinks->push_back({server, o.channels, static_cast<int>(info->sample_spec.rate)});
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
    const std::string server = info->name ? info->name : "";
    for (const PulseDevice& known : *l->sources)
        if (known.server == server) return;
    l->recordInfo->push_back(r);
    l->sources->push_back({server, r.channels, r.rate});
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
    std::lock_guard<std::mutex> lock(backend->mutex_);
    backend->relist();
    return backend;
}

void PulseBackend::relist() {
    Listing listing{connection_.get(), &outputInfo_, &sinks_, &recordInfo_, &sources_};
    PulseConnection::Lock lock(*connection_);
    if (!connection_->alive()) return;
    // The server answers in index order, which is creation order, and only new devices are
    // appended: the order is stable for the process.
    connection_->finish(pa_context_get_sink_info_list(connection_->context(), onSink, &listing));
    connection_->finish(pa_context_get_source_info_list(connection_->context(), onSource, &listing));
}

std::vector<OutputDriverInfo> PulseBackend::outputDrivers() {
    std::lock_guard<std::mutex> lock(mutex_);
    relist();
    return outputInfo_;
}

std::vector<RecordDriverInfo> PulseBackend::recordDrivers() {
    std::lock_guard<std::mutex> lock(mutex_);
    relist();
    return recordInfo_;
}

FMOD_RESULT PulseBackend::openOutput(int index, int channels, int rate, unsigned blockFrames,
                                     std::unique_ptr<OutputStream>* out) {
    std::string sink;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (index >= 0 && static_cast<size_t>(index) < sinks_.size()) sink = sinks_[static_cast<size_t>(index)].server;
    }
    if (!out || sink.empty() || rate < 1000 || rate > static_cast<int>(PA_RATE_MAX) || blockFrames == 0 ||
        channels < 1)
        return FMOD_ERR_INVALID_PARAM;
    // A layout the server cannot carry in one stream: the caller may retry in stereo.
    if (channels > static_cast<int>(PA_CHANNELS_MAX)) return FMOD_ERR_OUTPUT_CREATEBUFFER;
    return PulseOutput::open(connection_, sink, channels, rate, blockFrames, out);
}

FMOD_RESULT PulseBackend::openInput(int index, int channels, int rate, std::unique_ptr<InputStream>* out) {
    std::string source;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (index >= 0 && static_cast<size_t>(index) < sources_.size())
            source = sources_[static_cast<size_t>(index)].server;
    }
    if (!out || source.empty() || rate < 1000 || rate > static_cast<int>(PA_RATE_MAX) || channels < 1 ||
        channels > static_cast<int>(PA_CHANNELS_MAX))
        return FMOD_ERR_INVALID_PARAM;
    return PulseInput::open(connection_, source, channels, rate, out);
}

}  // namespace pw::dev
