// Byte-level text conversions between the engine's 8-bit (UTF-8) text and what the JVM takes or
// gives: modified UTF-8 (NUL as two bytes, supplementary characters as two three-byte surrogate
// sequences) and UTF-16. No JNI here, so the rules are tested without a JVM.
//
// Thread safety: pure functions on caller-owned memory.
#pragma once

#include <cstddef>

// True when NewStringUTF may take `text` as it is: ASCII, or well-formed UTF-8 of one to three
// bytes per character without surrogates or overlong forms. Four-byte sequences, stray
// continuation bytes, truncated sequences and encoded surrogates all give false.
bool isPlainModifiedUtf8(const char* text);

// Decodes `length` bytes of UTF-8 into UTF-16 units. Each byte that does not start a well-formed
// sequence (and each truncated, overlong or surrogate sequence, byte by byte) becomes U+FFFD;
// characters above U+FFFF become surrogate pairs. `out` needs room for `length` units: no input
// byte yields more than one unit. Returns the number of units written.
std::size_t decodeUtf8ToUtf16(const char* text, std::size_t length, char16_t* out);

// Rewrites, in place, each modified-UTF-8 surrogate pair (ED A0-AF xx ED B0-BF xx) as its four-byte
// UTF-8 sequence; everything else, lone surrogates included, stays as it is. The text only ever
// shrinks. Returns the new length; the text stays zero-terminated.
std::size_t rewriteSurrogatePairs(char* text);
