// Records a PulseAudio source (e.g. "card1.monitor") with libpulse directly, as float32le at the
// source's own layout, channels mapped by index (no remixing): what a float32le sink played comes
// back bit for bit.
//
// Start the capture before playing into the sink, then wait for as many frames as needed; the
// capture begins with whatever silence preceded the sound, so align by searching for the sound's
// first sample (see findFirst).
//
// Thread safety: one test thread uses an object; its data arrive on libpulse's own thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pw::test {

class SourceCapture {
public:
    // Connects and starts recording. ok() tells whether that worked (error() why).
    SourceCapture(const std::string& source, int channels, int rate = 44100);
    ~SourceCapture();
    SourceCapture(const SourceCapture&) = delete;
    SourceCapture& operator=(const SourceCapture&) = delete;

    bool ok() const;
    const std::string& error() const;
    // Waits until `frames` frames were captured (or `timeoutSeconds` passed) and returns the first
    // `frames` frames, interleaved (fewer on time-out).
    std::vector<float> waitFrames(size_t frames, double timeoutSeconds = 20.0);
    // Frames captured so far (e.g. to wait for "what has been played until now, plus a margin").
    size_t capturedFrames() const;

    // When data arrived: after each delivery, the frames captured so far and the steady clock
    // (ns since its epoch) at the delivery. A frame was played no later than its delivery, so
    // the earliest deliveries against the frame count place the capture on the clock.
    struct Arrival {
        size_t frames;
        int64_t steadyNs;
    };
    std::vector<Arrival> arrivals() const;
    // The steady-clock time (ns) at which capture frame 0 played, from the arrivals: the latest
    // start every delivery allows (frames delivered cannot have played after their delivery).
    // 0 without arrivals.
    int64_t frameZeroNs(int rate) const;

    struct State;  // implementation detail (libpulse callbacks reach it)

private:
    std::unique_ptr<State> state_;
};

// Records `frames` frames from `source` (see SourceCapture); empty on failure.
std::vector<float> recordFromSource(const std::string& source, int channels, size_t frames, int rate = 44100);

// The index of the first frame whose channel `channel` differs from 0 by more than `threshold`,
// or -1. `channels` is the interleaving.
long findFirst(const std::vector<float>& interleaved, int channels, int channel, float threshold = 0.0f);

// The capture without its all-silent frames (every channel exactly 0). For a signal that is
// never exactly 0 on every channel at once (a tone with a phase offset), this removes the silence
// before and after it and any gap where a busy machine let the server underrun (the server plays
// silence, then resumes with the next sample), while a lost, repeated or altered sample still
// shows. Use it before a bit-exact comparison; it is what keeps such tests stable under load and
// under the sanitizers.
std::vector<float> withoutSilentFrames(const std::vector<float>& interleaved, int channels);

}  // namespace pw::test
