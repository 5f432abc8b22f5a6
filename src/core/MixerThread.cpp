#include "MixerThread.h"

#include <atomic>

namespace pw::rt {

namespace {
thread_local bool t_onMixerThread = false;
std::atomic<uint64_t> g_lockWaits{0};
}  // namespace

bool onMixerThread() { return t_onMixerThread; }

MixerThreadScope::MixerThreadScope() : m_bPrevious(t_onMixerThread) { t_onMixerThread = true; }

MixerThreadScope::~MixerThreadScope() { t_onMixerThread = m_bPrevious; }

void countMixerLockWait() { g_lockWaits.fetch_add(1, std::memory_order_relaxed); }

uint64_t mixerLockWaits() { return g_lockWaits.load(std::memory_order_relaxed); }

}  // namespace pw::rt
