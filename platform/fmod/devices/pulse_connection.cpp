#include "pulse_connection.hpp"

#include <chrono>
#include <thread>

namespace pw::dev {
namespace {

constexpr auto kConnectTimeout = std::chrono::milliseconds(5000);
constexpr auto kPoll = std::chrono::milliseconds(2);

void onContextState(pa_context*, void* userdata) {
    static_cast<PulseConnection*>(userdata)->signal();
}

}  // namespace

std::shared_ptr<PulseConnection> PulseConnection::open(const char* clientName) {
    std::shared_ptr<PulseConnection> c(new PulseConnection());
    c->loop_ = pa_threaded_mainloop_new();
    if (!c->loop_) return nullptr;
    c->context_ = pa_context_new(pa_threaded_mainloop_get_api(c->loop_), clientName);
    if (!c->context_) return nullptr;
    pa_context_set_state_callback(c->context_, onContextState, c.get());
    // Never autospawn: a missing server means "no sound card", not "start one".
    if (pa_context_connect(c->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return nullptr;
    if (pa_threaded_mainloop_start(c->loop_) < 0) return nullptr;

    Lock lock(*c);
    auto settled = [&] {
        const pa_context_state_t state = pa_context_get_state(c->context_);
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    };
    if (!c->waitFor(settled, kConnectTimeout)) return nullptr;
    if (pa_context_get_state(c->context_) == PA_CONTEXT_READY) return c;
    return nullptr;  // the lock is released before the destructor stops the loop (Lock dtor order)
}

bool PulseConnection::waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    // pa_threaded_mainloop_wait has no time-out, and a server that accepts the connection but
    // never answers must not hang the caller: poll with the lock released in between.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        pa_threaded_mainloop_unlock(loop_);
        std::this_thread::sleep_for(kPoll);
        pa_threaded_mainloop_lock(loop_);
    }
    return true;
}

PulseConnection::~PulseConnection() {
    if (loop_) pa_threaded_mainloop_stop(loop_);
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    if (loop_) pa_threaded_mainloop_free(loop_);
}

void PulseConnection::finish(pa_operation* op) {
    if (!op) return;
    while (pa_operation_get_state(op) == PA_OPERATION_RUNNING && alive()) wait();
    pa_operation_unref(op);
}

}  // namespace pw::dev
