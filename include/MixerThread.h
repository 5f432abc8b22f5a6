// The mixer-thread mark: true while the calling thread runs one of the engine's audio callbacks
// (the deck's "Player" read, the line-in gain). Code that must never wait or allocate there checks
// it: CritSect only tries its mutex on a marked thread and counts every time it then had to wait,
// and a test executable's allocator counts allocations made while the mark is set.
//
// Thread safety
// - The mark is per thread (thread_local); the wait counter is one relaxed atomic, read by tests.
//
// Callback safety
// - Setting, clearing and reading the mark cost a thread-local store or load: no lock, no
//   allocation.
#pragma once

#include <cstdint>

namespace pw::rt {

// Whether the calling thread is inside an audio callback of the engine.
bool onMixerThread();

// Marks the calling thread for the scope's lifetime (nesting restores the previous mark).
class MixerThreadScope {
public:
    MixerThreadScope();
    ~MixerThreadScope();
    MixerThreadScope(const MixerThreadScope&) = delete;
    MixerThreadScope& operator=(const MixerThreadScope&) = delete;

private:
    bool m_bPrevious;
};

// CritSect calls this when an Enter on a marked thread found the lock taken and waited for it.
void countMixerLockWait();
// Waits counted since the process started.
uint64_t mixerLockWaits();

}  // namespace pw::rt
