// Status codes of the engine core and the deck entry points. Engine operations that act return 1
// for success or one of the negative codes; queries return their value. Codes that belong to a
// single subsystem (the Java bridge, the recorder, the sampler) are defined with it.
#pragma once

#include "fmod.hpp"

enum TKStatus : int {
    TK_OK = 1,                    // success
    TK_ERR_NOT_STARTED = -1,      // engine not started (CPlayerList::initialized false)
    TK_ERR_NO_DECK = -2,          // no such deck: negative or too large index, or no registry
    TK_ERR_NOT_FOUND = -3,        // file missing, null sound handle, CD track or recorder out of range
    TK_ERR_BAD_ARGUMENT = -4,     // a deck slider out of range, a vinyl target beyond the end
    TK_ERR_FAILED = -5,           // unparsable or unopenable source, missing output system, FMOD failure
    TK_ERR_LINE_IN = -6,          // a deck playing a line-in source has no position or length
    TK_ERR_NO_OUTPUT = -8,        // the deck has no main (or cue) output
    TK_ERR_NO_MEMORY = -13,       // allocation failed during start-up
    TK_ERR_FMOD_VERSION = -14,    // FMOD reports a version other than the one the engine needs
    TK_ERR_UNSUPPORTED = -16,     // unsupported or too small file
    TK_ERR_NO_TIMESTRETCHER = -17,  // the deck has no main output to stretch
    TK_ERR_NO_DISC = -20,         // no disc in the drive
    TK_ERR_BUFFER_SIZE = -21,     // a buffer size was corrected or refused (the settings are stored)
    TK_ERR_CHANNEL_REFUSED = -25, // a snippet or scratch setting the deck's channel refused, or no channel
    TK_ERR_NO_DECK_OUTPUT = -28,  // a missing recorder or handle: vinyl and recorder calls on a deck
                                  // without main output or settings, beat detection without onsets
    TK_ERR_NO_SYSTEM = -30,       // no output system to ask
    TK_ERR_EMULATED_DRIVER = -31, // a soundcard driver is hardware-emulated
    TK_ERR_NO_WAVE_ACCESS = -36   // the source's audio may not be read (a CD track)
};

// Results of the deck's channel family (the time-stretched channel and its render unit). The channel
// passes the audio library's results through and makes these two of its own; the monitor's
// forwarders answer the deck codes above when the monitor has no time-stretched channel.
enum TKChannelStatus : int {
    TK_CHANNEL_NONE = FMOD_ERR_MEMORY,      // 44: no channel, source or render state to act on
    TK_CHANNEL_SILENT = FMOD_ERR_INTERNAL,  // 33: nothing to play, or no channel to attach a unit to
};
