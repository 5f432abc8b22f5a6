// The sounds of each system: who owns them until release, and the system's prefetch worker.
//
// Thread safety: every call may come from any thread; one process-wide mutex guards the table
// and is never held while a thread is joined, a file is read or the mixer half is called.
#pragma once

#include <memory>

#include "fmod.hpp"
#include "sound_impl.hpp"

namespace pw::sound {

class PrefetchService;

// Hands a new top-level sound to its system.
void publish(const std::shared_ptr<SoundImpl>& sound);

// Sound::release: a top-level sound stops its recordings and is forgotten (freed once no channel
// plays it); a sub-sound's release does nothing (its parent frees it); an unknown handle gives
// FMOD_ERR_INVALID_HANDLE.
FMOD_RESULT release(SoundImpl* sound);

// The system's prefetch worker, started on first use; null when its thread cannot start.
std::shared_ptr<PrefetchService> prefetchFor(FMOD::System* system);

// The shared reference to a live sound (top-level or sub-sound); null for a released or unknown
// handle.
std::shared_ptr<SoundImpl> lookup(FMOD::Sound* sound);

}  // namespace pw::sound
