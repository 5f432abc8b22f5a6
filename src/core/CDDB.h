// The CDDB disc identifier and query text of an audio CD, from the table of contents the audio
// library delivers (FMOD_CDTOC: track starts and lead-out in absolute minutes, seconds and frames,
// the 2-second lead-in included, 75 frames per second).
//
// Identifier, most significant field first: bits 24..31 the sum over the tracks of the decimal
// digit sum of each start in whole seconds, modulo 255; bits 8..23 the disc length in whole
// seconds (lead-out minus first track); bits 0..7 the number of tracks. Whole seconds are
// minutes * 60 + seconds, frames ignored, exactly as the table gives them.
//
// A table whose track count lies outside 0..99 is read as if it held 0 or 99 tracks: the record has
// room for 99 starts and a lead-out, and nothing beyond it is ever read.
//
// Thread safety: pure functions; reentrant.
#pragma once

#include "fmod.hpp"

// Size of the identifier and query text buffers callers provide.
constexpr int kCDDBTextSize = 2048;

// Sum of the decimal digits of value; 0 for a value of 0 or less.
int cddb_sum(int value);

// The disc identifier; 0 for a null table.
unsigned int cddb_discid(FMOD_CDTOC* toc);

// Writes the query arguments into query (kCDDBTextSize bytes): "%08x %d" (identifier, tracks),
// " %d" per track with its start in frames, " %d" with the lead-out in whole seconds. Byte 2047 is
// always zero. A null table writes an empty text; a null buffer is left alone.
void dump_cddb_query(FMOD_CDTOC* toc, char* query);
