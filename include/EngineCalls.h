// The gate every engine entry point passes, so that shutdown never frees a deck, a sound or a
// system under a call still running on another thread.
//
// An entry point holds an EngineCall for its whole run. Shutdown closes the gate: calls that arrive
// from then on are refused (they answer as before start-up), and shutdown waits until the calls
// already admitted have left; then it frees, and opens the gate again once nothing is left to free
// (later calls find the engine not started).
//
// Thread safety
// - Any thread may enter; the gate's own mutex is a leaf, held for a few instructions only.
// - A call made from inside another call on the same thread (an entry point using another, a Java
//   callback running inside a call) is admitted without waiting, even while the gate is closed: it
//   belongs to the call already admitted, which shutdown is waiting for.
// - Lock order: the gate is the outermost of all; shutdown closes it before taking the load lock.
//   So no thread may close the gate while it is inside an entry point.
#pragma once

#include <chrono>

namespace tk_engine {

class EngineCall {
public:
    EngineCall();
    ~EngineCall();
    EngineCall(const EngineCall&) = delete;
    EngineCall& operator=(const EngineCall&) = delete;

    // False when shutdown is under way: the call must touch nothing and answer as before start-up.
    bool admitted() const { return m_admitted; }

private:
    bool m_admitted;
};

// Refuses new calls and waits until every admitted call has left. False, and the gate stays open,
// on a thread inside a call (a Java callback calling shutdown): it would wait for itself.
bool closeEngineGate();
// As closeEngineGate, waiting at most `limit`: false when calls are still running then (the gate
// stays closed). For process exit, where a thread in Java never comes back once the VM has gone.
bool closeEngineGateWithin(std::chrono::milliseconds limit);
// Admits calls again.
void openEngineGate();

}  // namespace tk_engine
