// Output and record devices behind one interface, so that the mixer does not care whether it
// plays to a PulseAudio sink, a virtual device of the test table, or nothing.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "fmod.hpp"

namespace pw::dev {

struct OutputDriverInfo {
    std::string name;          // the driver name the system reports
    int channels = 2;          // the device's channel count
    int minRate = 0;           // 0: unknown
    int maxRate = 0;           // 0: unknown
    FMOD_CAPS caps = 0;        // FMOD_CAPS_HARDWARE_EMULATED, FMOD_CAPS_OUTPUT_MULTICHANNEL
    FMOD_SPEAKERMODE controlPanelMode = FMOD_SPEAKERMODE_STEREO;
};

struct RecordDriverInfo {
    std::string name;
    int channels = 2;
    int rate = 44100;
};

struct CdDriveInfo {
    std::string name;   // the name createStream accepts for the drive
    std::string image;  // a .cue file offered as the drive's disc; empty for a real drive or no disc
    bool empty = false; // a drive with no disc
};

// An open output. The mixer thread calls awaitRoom() before it mixes each block and write() once
// the block is mixed; between them they pace the mixer. write() returns when the device has taken
// the block or queued it for the device (real-time devices block for about one block's duration,
// a stepped virtual device until the test steps it). A device that queues blocks waits in
// awaitRoom() instead, until it wants the next block, so that a block is mixed just when it can
// be handed over and never waits computed.
class OutputStream {
public:
    virtual ~OutputStream() = default;
    // Mixer thread only: returns once the device wants the next block and its write() will not
    // wait (at once for a device that paces in write()). false: aborted or gone; the mixer then stops.
    virtual bool awaitRoom() { return true; }
    // Mixer thread only. `frames` frames of `channels` interleaved floats as opened.
    // false: the device is gone; the mixer then stops pulling.
    virtual bool write(const float* interleaved, unsigned frames) = 0;
    // Any thread: makes a blocked write() return false and stops accepting blocks.
    virtual void abort() = 0;
};

// An open recording source. The recording thread calls read() repeatedly; it blocks until at
// least one frame is there, and returns 0 only once the stream is aborted or gone.
class InputStream {
public:
    virtual ~InputStream() = default;
    virtual unsigned read(float* interleaved, unsigned maxFrames) = 0;
    virtual void abort() = 0;
};

class Backend {
public:
    virtual ~Backend() = default;
    virtual std::vector<OutputDriverInfo> outputDrivers() = 0;
    virtual std::vector<RecordDriverInfo> recordDrivers() = 0;
    virtual std::vector<CdDriveInfo> cdDrives() = 0;  // virtual drives only; real ones come from libcdio

    // Opens output driver `index` with `channels` interleaved channels at `rate`, fed in blocks of
    // `blockFrames`. Results: FMOD_OK; FMOD_ERR_OUTPUT_CREATEBUFFER (58) when the device refuses
    // the channel layout (the caller may retry in stereo); another code when it cannot open.
    virtual FMOD_RESULT openOutput(int index, int channels, int rate, unsigned blockFrames,
                                   std::unique_ptr<OutputStream>* out) = 0;
    virtual FMOD_RESULT openInput(int index, int channels, int rate,
                                  std::unique_ptr<InputStream>* out) = 0;
};

// Autodetect: the device table named by the environment variable PELLWARDEN_DEVICE_TABLE when it
// is set, else the PulseAudio server when one answers (never autospawned), else a backend with no
// drivers. Driver order is stable within a process. The backend lives until process exit.
//
// Thread safety: any thread; the first call decides, later calls return the same backend.
Backend& autodetectBackend();
// The back-ends behind the explicit output types: the device table (no drivers when the variable
// is not set) and the PulseAudio server (no drivers when none answers). Same lifetime and thread
// safety as autodetectBackend(); autodetection answers one of these two instances.
Backend& tableBackend();
Backend& pulseBackend();

// Test-only: forgets the back-ends made so far so that the next calls above read the
// environment (PELLWARDEN_DEVICE_TABLE, the PulseAudio server) again. Production code never calls
// it. Call it only while no System holds an open device: the previous backend is kept alive until
// process exit (references handed out stay valid), but its streams are no longer reachable by the
// test hooks.
void reloadBackendForTests();

}  // namespace pw::dev
