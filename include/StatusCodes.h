// Status codes of the engine core and the deck entry points. Engine operations that act return 1
// for success or one of the negative codes; queries return their value. Codes that belong to a
// single subsystem (the Java bridge, the recorder, the sampler) are defined with it.
#pragma once

enum TKStatus : int {
    TK_OK = 1,                    // success
    TK_ERR_NOT_STARTED = -1,      // engine not started (CPlayerList::initialized false)
    TK_ERR_NO_DECK = -2,          // no such deck: negative or too large index, or no registry
    TK_ERR_NOT_FOUND = -3,        // file missing, null sound handle, CD track or recorder out of range
    TK_ERR_FAILED = -5,           // unparsable or unopenable source, missing output system, FMOD failure
    TK_ERR_NO_MEMORY = -13,       // allocation failed during start-up
    TK_ERR_FMOD_VERSION = -14,    // FMOD reports a version other than the one the engine needs
    TK_ERR_UNSUPPORTED = -16,     // unsupported or too small file
    TK_ERR_NO_DISC = -20,         // no disc in the drive
    TK_ERR_BUFFER_SIZE = -21,     // a buffer size was corrected or refused (the settings are stored)
    TK_ERR_NO_SYSTEM = -30,       // no output system to ask
    TK_ERR_EMULATED_DRIVER = -31  // a soundcard driver is hardware-emulated
};
