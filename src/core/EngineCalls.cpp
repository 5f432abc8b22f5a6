#include "EngineCalls.h"

#include <condition_variable>
#include <mutex>

namespace tk_engine {
namespace {

std::mutex g_gateMutex;
std::condition_variable g_gateIdle;
int g_running = 0;      // outermost calls admitted and not yet left
bool g_closed = false;  // shutdown under way
thread_local int t_depth = 0;  // this thread's nesting of admitted calls

}  // namespace

EngineCall::EngineCall() : m_admitted(true) {
    if (t_depth > 0) {
        ++t_depth;
        return;
    }
    const std::lock_guard<std::mutex> lock(g_gateMutex);
    if (g_closed) {
        m_admitted = false;
        return;
    }
    ++g_running;
    t_depth = 1;
}

EngineCall::~EngineCall() {
    if (!m_admitted) return;
    if (--t_depth > 0) return;
    const std::lock_guard<std::mutex> lock(g_gateMutex);
    if (--g_running == 0) g_gateIdle.notify_all();
}

bool closeEngineGate() {
    if (t_depth > 0) return false;
    std::unique_lock<std::mutex> lock(g_gateMutex);
    g_closed = true;
    g_gateIdle.wait(lock, [] { return g_running == 0; });
    return true;
}

bool closeEngineGateWithin(std::chrono::milliseconds limit) {
    if (t_depth > 0) return false;
    std::unique_lock<std::mutex> lock(g_gateMutex);
    g_closed = true;
    return g_gateIdle.wait_for(lock, limit, [] { return g_running == 0; });
}

void openEngineGate() {
    const std::lock_guard<std::mutex> lock(g_gateMutex);
    g_closed = false;
}

}  // namespace tk_engine
