// A private PulseAudio daemon for one test, with null sinks as sound cards.
//
// The constructor starts `pulseaudio` (never the user's server) in a temporary folder with its own
// XDG_RUNTIME_DIR and PULSE_CONFIG, loads one float32le null sink (norewinds=1, so a new stream's
// first milliseconds reach the .monitor source) per NullSink given, points this process's
// clients at it (XDG_RUNTIME_DIR and PULSE_SERVER), waits until it answers, and makes the audio
// layer autodetect again (pw::dev::reloadBackendForTests) so that it lists these sinks; note that
// a set PELLWARDEN_DEVICE_TABLE still wins over the server. The destructor stops the daemon,
// restores the environment, reloads the layer again and removes the folder.
//
// Use:
//   if (!pw::test::PulseServer::binaryAvailable()) GTEST_SKIP() << "pulseaudio not installed";
//   pw::test::PulseServer server({{"card1", "Card1", 2}, {"card2", "Card2", 6}});
//   ASSERT_TRUE(server.ready()) << server.error();
//
// Thread safety: changes the process environment (see ScopedEnv); create it before any thread
// of the test uses the audio layer, and destroy it after those threads are done.
#pragma once

#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

#include "scoped_env.hpp"
#include "temp_dir.hpp"

namespace pw::test {

struct NullSink {
    std::string name;         // the server's sink name; its monitor source is name + ".monitor"
    std::string description;  // what the audio layer reports as the driver name
    int channels = 2;
    int rate = 44100;
};

class PulseServer {
public:
    // Whether a pulseaudio binary is on PATH.
    static bool binaryAvailable();

    explicit PulseServer(const std::vector<NullSink>& sinks);
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    bool ready() const { return ready_; }
    // Why the daemon is not ready (with the tail of its log), empty when ready.
    const std::string& error() const { return error_; }
    const std::string& folder() const { return dir_.path(); }
    std::string logPath() const { return dir_.file("pulse.log"); }

private:
    bool start(const std::vector<NullSink>& sinks);
    void stop();

    TempDir dir_;
    pid_t pid_ = -1;
    bool ready_ = false;
    std::string error_;
    std::vector<std::unique_ptr<ScopedEnv>> env_;
};

}  // namespace pw::test
