// The engine's only trace: the debug log "TKPNdebug.log" and the FMOD error reporter.
//
// Debugging is off by default (CTKCore::g_bDebug). The first message after it is switched on opens
// "TKPNdebug.log" in the working directory with mode "w+"; the file then stays open for the life
// of the process (nothing closes it, not even shutdown), and switching debugging off and on again
// keeps appending to it. Every message is flushed at once.
//
// Thread safety
// - debugMsg and ERRCHECK may be called from any thread: Java threads, workers and the mixer
//   thread. Each message is one uninterrupted write under CTKCore::g_cDebugLock, the innermost lock
//   of the engine (unnamed, so it never logs itself).
//
// Callback safety
// - With debugging off debugMsg costs one flag test. With debugging on it formats, writes and
//   flushes a file under a lock: that is file I/O, so real-time code logs only on rare paths.
#pragma once

#include "fmod.hpp"

// printf-style; the text is written exactly as formatted (no time stamp, no prefix, no line end).
void debugMsg(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Reports a failed FMOD call; does nothing for result 0. Prints
// "Please report the CORE error! (<result>) <text> <function> <file>:<line>" to the debug log
// (only while debugging is on) and to standard output (always, outside the log lock). Never changes
// the caller's flow.
void ERRCHECK(const char* function, const char* file, unsigned int line, FMOD_RESULT result);

// Call-site helper passing the caller's own function, file and line.
#define ERRCHECK_HERE(result) ERRCHECK(__func__, __FILE__, __LINE__, (result))
