// A connection to a PulseAudio server: a threaded main loop and a context, shared by the backend
// and every stream opened on it (streams hold it, so it outlives the backend object if need be).
//
// Thread safety: every libpulse call on the context or its streams is made with the main-loop
// lock held (Lock below), except from callbacks, which run on the main-loop thread with the lock
// already held. The main-loop thread holds the lock only while it dispatches events, so a waiter
// gets it within microseconds.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <pulse/pulseaudio.h>

namespace pw::dev {

class PulseConnection {
public:
    // Connects without ever starting a server. Null when no server answers within a few seconds.
    static std::shared_ptr<PulseConnection> open(const char* clientName);
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    class Lock {
    public:
        explicit Lock(PulseConnection& c) : loop_(c.loop_) { pa_threaded_mainloop_lock(loop_); }
        ~Lock() { pa_threaded_mainloop_unlock(loop_); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* loop_;
    };

    pa_context* context() const { return context_; }
    pa_threaded_mainloop* loop() const { return loop_; }
    // With the lock held: sleeps until a callback signals (releases the lock meanwhile).
    void wait() { pa_threaded_mainloop_wait(loop_); }
    // From a callback or with the lock held: wakes every wait().
    void signal() { pa_threaded_mainloop_signal(loop_, 0); }
    // With the lock held: whether the context is still connected.
    bool alive() const { return pa_context_get_state(context_) == PA_CONTEXT_READY; }

    // With the lock held: polls `done` (with the lock held) until it is true or `timeout` passed;
    // false on time-out. For opening streams and connecting, never for the mixer's writes.
    bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout);

    // With the lock held: waits for an operation to finish (or the context to fail), then drops it.
    void finish(pa_operation* op);

private:
    PulseConnection() = default;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
};

}  // namespace pw::dev
