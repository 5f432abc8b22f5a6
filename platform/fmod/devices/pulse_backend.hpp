// The PulseAudio backend: each sink is an output driver (its description is the driver name),
// each source, monitors included, a record driver. The server is asked again at every listing,
// so a card plugged in later is seen; a device keeps the index it was first listed under for the
// whole process (new ones are appended, and one that went away keeps its place and fails to open),
// so driver indexes stay stable in the process.
#pragma once

#include <memory>
#include <mutex>
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

    // Any thread; ask the server (a round trip) and answer the lists with anything new appended.
    std::vector<OutputDriverInfo> outputDrivers() override;
    std::vector<RecordDriverInfo> recordDrivers() override;
    std::vector<CdDriveInfo> cdDrives() override { return {}; }
    FMOD_RESULT openOutput(int index, int channels, int rate, unsigned blockFrames,
                           std::unique_ptr<OutputStream>* out) override;
    FMOD_RESULT openInput(int index, int channels, int rate, std::unique_ptr<InputStream>* out) override;

    // The control-panel mode of a device with this channel map: by count (1 mono, 2 stereo,
    // 4 quad, 5 surround, 6 5.1, 8 7.1), raw for other counts and for maps with aux positions.
    static FMOD_SPEAKERMODE speakerModeFor(const pa_channel_map& map);

private:
    explicit PulseBackend(std::shared_ptr<PulseConnection> connection) : connection_(std::move(connection)) {}
    // Asks the server for its sinks and sources and appends the ones not listed yet. mutex_ held.
    void relist();

    std::shared_ptr<PulseConnection> connection_;
    std::mutex mutex_;  // guards the four lists
    std::vector<OutputDriverInfo> outputInfo_;
    std::vector<PulseDevice> sinks_;
    std::vector<RecordDriverInfo> recordInfo_;
    std::vector<PulseDevice> sources_;
};

// The stream layout the backend uses for `channels` channels: the standard positions
// FL FR C LFE RL RR SL SR (the first n of them) up to 8, aux positions beyond.
pa_channel_map pulseChannelMap(int channels);

}  // namespace pw::dev
