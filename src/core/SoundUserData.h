// SoundUserData: the work record that the opener (CTKCore::_openFmodSound) attaches to a sound as
// its audio-library user data when asked for one.
//
// Ownership: the sound owns its record through the user data. Whoever closes the sound reads the
// user data, frees the record with a plain delete, and only then releases the sound; in the engine
// that is CTKCore::_closeFmodSound, which every closing path goes through. Nothing reads the
// fields: only `sound` is written after creation.
#pragma once

#include <cstdint>

#include "fmod.hpp"

struct SoundUserData {
    static constexpr int kWorkAreaBytes = 8192;

    char workArea[kWorkAreaBytes];  // deliberately left uninitialised: nobody reads it
    int32_t state = -1;
    int32_t flags = 0;
    FMOD::Sound* sound = nullptr;   // the sound that carries the record; set once it is open
    int64_t position = 0;
};

// The record is allocated for every accurate open (OpenFile, analyses, conversion); its size is
// part of what other subsystems expect to be freed with it: 8216 bytes in the 64-bit library,
// 8212 in the 32-bit one (a 4-byte pointer; the last value is 4-byte aligned there).
static_assert(sizeof(SoundUserData) == 8192 + 4 + 4 + sizeof(void*) + 8,
              "SoundUserData keeps its layout");
