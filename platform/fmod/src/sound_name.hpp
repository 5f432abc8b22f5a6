// Sound names as callers pass them: UTF-8 bytes, or with FMOD_UNICODE a zero-terminated string of
// UTF-16 code units.
#pragma once

#include <string>

namespace pw::sound {

// Converts a zero-terminated UTF-16 string (native byte order, as the JNI layer hands it over) to
// UTF-8. Surrogate pairs become one code point; a lone surrogate becomes U+FFFD. Never narrows a
// unit to its low byte: a file system call must see the same name the user chose. `data` need
// not be 2-byte aligned. At most `maxUnits` units are read (a missing terminator stops there).
std::string utf16ToUtf8(const void* data, size_t maxUnits = 32768);

}  // namespace pw::sound
