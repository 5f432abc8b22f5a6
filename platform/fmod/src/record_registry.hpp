// The active recordings: at most one per (system, record driver), each with its own thread.
//
// Thread safety: any thread. Starting opens the input outside the table's lock; stopping joins
// the recording thread outside it.
#pragma once

#include <memory>

#include "fmod.hpp"
#include "sound_impl.hpp"

namespace pw::sound {

FMOD_RESULT recordStart(FMOD::System* system, int id, const std::shared_ptr<SoundImpl>& sound, bool loop);
FMOD_RESULT recordStop(FMOD::System* system, int id);
FMOD_RESULT isRecording(FMOD::System* system, int id, bool* recording);
FMOD_RESULT recordPosition(FMOD::System* system, int id, unsigned* position);

// Stops (and joins) every recording of the system.
void stopRecordingsOf(FMOD::System* system);
// Stops every recording that writes into the sound.
void stopRecordingsInto(const SoundImpl* sound);

}  // namespace pw::sound
