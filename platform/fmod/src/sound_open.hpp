// Creating sounds: System::createSound and System::createStream end here.
#pragma once

#include "fmod.hpp"

namespace pw::sound {

// Creates a sound on `system` from a file name (UTF-8, or UTF-16 with FMOD_UNICODE), a CD drive
// name, or (FMOD_OPENUSER) the PCM format in `exinfo`.
// - A stream (FMOD_CREATESTREAM, or FMOD_OPENONLY) decodes on demand; otherwise the sound is
//   decoded into memory at once (FMOD_CREATECOMPRESSEDSAMPLE included: we keep PCM).
// - FMOD_ACCURATETIME or FMOD_MPEGSEARCH make the length exact (a full scan where needed).
// - exinfo is read only as far as its cbsize covers; its userdata becomes the sound's.
// Results: FMOD_ERR_FILE_NOTFOUND (23), FMOD_ERR_FORMAT (25), FMOD_ERR_CDDA_NODISC (8),
// FMOD_ERR_INVALID_PARAM (37) for bad arguments, FMOD_ERR_MEMORY (44). *sound is null on
// every failure.
FMOD_RESULT createSound(FMOD::System* system, const char* name, FMOD_MODE mode, FMOD_CREATESOUNDEXINFO* exinfo,
                        FMOD::Sound** sound);

}  // namespace pw::sound
