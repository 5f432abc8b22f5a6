// String and file helpers that honour the engine's unicode flag.
//
// File names reach the engine either as 8-bit text (UTF-8 on this platform) or as UTF-16 code units
// in machine byte order, terminated by a zero unit; every routine that takes a name also takes the
// flag saying which (false: 8-bit, true: UTF-16). UTF-16 strings travel as char pointers and may be
// unaligned. Sizes are always in bytes, also for UTF-16 strings. Needles are 8-bit ASCII literals
// whatever the flag says of the haystack.
//
// UTF-16 names are never narrowed to the low byte of each unit: they become UTF-8 for 8-bit copies
// and before any file-system call. Unpaired surrogates become U+FFFD.
//
// Thread safety: all helpers are reentrant; none allocates except the UTF-8 path conversions used
// by tk_fopen and tk_filesize (not for real-time code).
#pragma once

#include <cstdio>
#include <string>

// The longest path the platform takes, in bytes with the terminator (PATH_MAX). 8-bit copies of a
// name hold this much; a name stored in either encoding holds twice as much (as many UTF-16 units).
constexpr int kTKPathBytes = 4096;

// Units before the terminating zero: bytes (8-bit) or 16-bit units (UTF-16). The size is not
// consulted: the scan runs to the terminator. A null string has length 0.
int tk_strnlen(const char* str, int size, bool unicode);

// 8-bit: exactly strncpy(dst, src, size): no terminator when src has size bytes or more.
// UTF-16: copies the units and the terminating zero unit when (units + 1) * 2 <= size; otherwise
// the destination is left unchanged. Returns dst.
char* tk_strncpy(char* dst, const char* src, int size, bool unicode);

// First occurrence of the 8-bit needle in the haystack (compared unit by unit, the needle widened,
// when unicode), or null. Returns a pointer into the haystack. The size is not consulted.
char* tk_strstr(const char* haystack, const char* needle, unsigned int size, bool unicode);

// An 8-bit copy of a name of either kind.
// 8-bit: exactly strncpy(dst, src, size).
// UTF-16: zero-fills the size bytes, then writes the UTF-8 form of the name, stopping at the zero
// unit or before a character whose bytes would not fit in size - 1 bytes, so the result is always
// terminated and no character is split.
void tk_convUnicodeToChar(char* dst, int size, const char* src, bool unicode);

// Upper-cases src into dst byte by byte (toupper), at most min(dstSize, srcSize) - 1 characters,
// then writes a terminating zero; only the terminator when that limit is 0 or less. dst may equal
// src. Does nothing when either pointer is null. The flag is not consulted: both strings are 8-bit.
void tk_strupr(char* dst, int dstSize, const char* src, int srcSize, bool unicode);

// Size in bytes of the named file (stat), or -1 when it cannot be read. A UTF-16 name is converted
// to UTF-8 first.
long long tk_filesize(const char* path, bool unicode);

// fopen with an 8-bit path; null when the file cannot be opened.
FILE* tk_fopen(const char* path, const char* mode);
// As above, converting a UTF-16 path to UTF-8 first when unicode is set.
FILE* tk_fopen(const char* path, const char* mode, bool unicode);

// The UTF-8 form of a terminated UTF-16 string (unpaired surrogates become U+FFFD).
std::string tk_utf16ToUtf8(const char* src);

// A name of either kind as an 8-bit (UTF-8) file-system path; empty for null.
std::string tk_pathToUtf8(const char* path, bool unicode);
