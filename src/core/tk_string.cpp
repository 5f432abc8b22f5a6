#include "tk_string.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>

namespace {

// UTF-16 strings arrive through char pointers with no alignment promise: read units by copying.
inline uint16_t unitAt(const char* s, size_t index) {
    uint16_t unit;
    std::memcpy(&unit, s + index * 2, sizeof unit);
    return unit;
}

size_t unitLength(const char* s) {
    size_t n = 0;
    while (unitAt(s, n) != 0) ++n;
    return n;
}

constexpr char32_t kReplacement = 0xFFFD;

// Decodes the code point starting at unit index i (not the terminator) and advances i past it.
// A high surrogate followed by a low one is a pair; any other surrogate stands alone and becomes
// U+FFFD, and the unit after it is decoded on its own.
char32_t nextCodePoint(const char* s, size_t& i) {
    const uint16_t first = unitAt(s, i++);
    if (first < 0xD800 || first > 0xDFFF) return first;
    if (first <= 0xDBFF) {
        const uint16_t second = unitAt(s, i);
        if (second >= 0xDC00 && second <= 0xDFFF) {
            ++i;
            return 0x10000 + ((static_cast<char32_t>(first) - 0xD800) << 10) + (second - 0xDC00);
        }
    }
    return kReplacement;
}

// Writes the UTF-8 bytes of cp into out (room for 4); returns how many.
int encodeUtf8(char32_t cp, char* out) {
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

}  // namespace

int tk_strnlen(const char* str, int /*size*/, bool unicode) {
    if (str == nullptr) return 0;
    return static_cast<int>(unicode ? unitLength(str) : std::strlen(str));
}

char* tk_strncpy(char* dst, const char* src, int size, bool unicode) {
    if (dst == nullptr || src == nullptr || size <= 0) return dst;
    if (!unicode) return std::strncpy(dst, src, static_cast<size_t>(size));
    const size_t bytes = (unitLength(src) + 1) * 2;
    // All or nothing: a UTF-16 name cut in the middle could end inside a surrogate pair.
    if (bytes <= static_cast<size_t>(size)) std::memcpy(dst, src, bytes);
    return dst;
}

char* tk_strstr(const char* haystack, const char* needle, unsigned int /*size*/, bool unicode) {
    if (haystack == nullptr || needle == nullptr) return nullptr;
    if (!unicode) return const_cast<char*>(std::strstr(haystack, needle));
    // Compare whole units against the widened needle: each needle byte is one unit.
    const size_t needleLength = std::strlen(needle);
    for (size_t start = 0;; ++start) {
        size_t k = 0;
        while (k < needleLength &&
               unitAt(haystack, start + k) == static_cast<unsigned char>(needle[k])) {
            ++k;
        }
        if (k == needleLength) return const_cast<char*>(haystack + start * 2);
        if (unitAt(haystack, start) == 0) return nullptr;
    }
}

void tk_convUnicodeToChar(char* dst, int size, const char* src, bool unicode) {
    if (dst == nullptr || size <= 0) return;
    if (src == nullptr) {
        std::memset(dst, 0, static_cast<size_t>(size));
        return;
    }
    if (!unicode) {
        std::strncpy(dst, src, static_cast<size_t>(size));
        return;
    }
    std::memset(dst, 0, static_cast<size_t>(size));
    const size_t room = static_cast<size_t>(size) - 1;  // the last byte stays the terminator
    size_t written = 0;
    size_t i = 0;
    while (unitAt(src, i) != 0) {
        char bytes[4];
        const int n = encodeUtf8(nextCodePoint(src, i), bytes);
        if (written + static_cast<size_t>(n) > room) break;
        std::memcpy(dst + written, bytes, static_cast<size_t>(n));
        written += static_cast<size_t>(n);
    }
}

void tk_strupr(char* dst, int dstSize, const char* src, int srcSize, bool /*unicode*/) {
    if (dst == nullptr || src == nullptr) return;
    const int limit = std::min(dstSize, srcSize) - 1;
    int i = 0;
    // Stops at the source's terminator too: nothing past it belongs to the string.
    for (; i < limit && src[i] != '\0'; ++i) {
        dst[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(src[i])));
    }
    if (dstSize > 0) dst[i] = '\0';
}

long long tk_filesize(const char* path, bool unicode) {
    if (path == nullptr) return -1;
    struct stat info;
    if (stat(tk_pathToUtf8(path, unicode).c_str(), &info) != 0) return -1;
    return static_cast<long long>(info.st_size);
}

FILE* tk_fopen(const char* path, const char* mode) {
    if (path == nullptr || mode == nullptr) return nullptr;
    return std::fopen(path, mode);
}

FILE* tk_fopen(const char* path, const char* mode, bool unicode) {
    if (path == nullptr || mode == nullptr) return nullptr;
    return std::fopen(tk_pathToUtf8(path, unicode).c_str(), mode);
}

std::string tk_utf16ToUtf8(const char* src) {
    std::string out;
    if (src == nullptr) return out;
    size_t i = 0;
    while (unitAt(src, i) != 0) {
        char bytes[4];
        const int n = encodeUtf8(nextCodePoint(src, i), bytes);
        out.append(bytes, static_cast<size_t>(n));
    }
    return out;
}

std::string tk_pathToUtf8(const char* path, bool unicode) {
    if (path == nullptr) return std::string();
    return unicode ? tk_utf16ToUtf8(path) : std::string(path);
}
