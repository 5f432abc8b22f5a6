// The PulseAudio backend: each sink is an output driver (its description is the driver name),
// each source, monitors included, a record driver. The lists are read once, when the backend
// connects, so driver indexes stay stable in the process; a sink that appears later is not seen.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "device.hpp"
#include "pulse_connection.hpp"

namespace pw::dev {

struct PulseDevice {
    std::string server;  // the server's name for it, used to connect streams
    int channels = 2;
    int rate = 44100;
};

class PulseBackend : public Backend {
public:
    // Null when no server answers (a server is never started).
    static std::unique_ptr<Backend> connect();

    std::vector<OutputDriverInfo> outputDrivers() override { return outputInfo_; }
    std::vector<RecordDriverInfo> recordDrivers() override { return recordInfo_; }
    std::vector<CdDriveInfo> cdDrives() override { return {}; }
    FMOD_RESULT openOutput(int index, int channels, int rate, unsigned blockFrames,
                           std::unique_ptr<OutputStream>* out) override;
    FMOD_RESULT openInput(int index, int channels, int rate, std::unique_ptr<InputStream>* out) override;

    // The control-panel mode of a device with this channel map: by count (1 mono, 2 stereo,
    // 4 quad, 5 surround, 6 5.1, 8 7.1), raw for other counts and for maps with aux positions.
    static FMOD_SPEAKERMODE speakerModeFor(const pa_channel_map& map);

private:
    explicit PulseBackend(std::shared_ptr<PulseConnection> connection) : connection_(std::move(connection)) {}

    std::shared_ptr<PulseConnection> connection_;
    std::vector<OutputDriverInfo> outputInfo_;
    std::vector<PulseDevice> sinks_;
    std::vector<RecordDriverInfo> recordInfo_;
    std::vector<PulseDevice> sources_;
};

// The stream layout the backend uses for `channels` channels: the standard positions
// FL FR C LFE RL RR SL SR (the first n of them) up to 8, aux positions beyond.
pa_channel_map pulseChannelMap(int channels);

}  // namespace pw::dev
