#include "JavaText.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool isContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Length and code point of the well-formed UTF-8 sequence at `p` (at most `left` bytes), or 0 when
// the bytes there do not form one.
std::size_t sequenceAt(const unsigned char* p, std::size_t left, std::uint32_t* cp) {
    const unsigned char b0 = p[0];
    if (b0 < 0x80) {
        *cp = b0;
        return 1;
    }
    std::size_t n;
    std::uint32_t value;
    std::uint32_t minimum;
    if ((b0 & 0xE0) == 0xC0) {
        n = 2, value = b0 & 0x1F, minimum = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        n = 3, value = b0 & 0x0F, minimum = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        n = 4, value = b0 & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (left < n) return 0;
    for (std::size_t i = 1; i < n; ++i) {
        if (!isContinuation(p[i])) return 0;
        value = (value << 6) | (p[i] & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *cp = value;
    return n;
}

}  // namespace

bool isPlainModifiedUtf8(const char* text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    std::size_t left = std::strlen(text);
    while (left > 0) {
        std::uint32_t cp = 0;
        const std::size_t n = sequenceAt(p, left, &cp);
        if (n == 0 || n == 4) return false;
        p += n;
        left -= n;
    }
    return true;
}

std::size_t decodeUtf8ToUtf16(const char* text, std::size_t length, char16_t* out) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    std::size_t written = 0;
    while (length > 0) {
        std::uint32_t cp = 0;
        std::size_t n = sequenceAt(p, length, &cp);
        if (n == 0) {
            out[written++] = kReplacement;
            n = 1;
        } else if (cp >= 0x10000) {
            cp -= 0x10000;
            out[written++] = static_cast<char16_t>(0xD800 + (cp >> 10));
            out[written++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out[written++] = static_cast<char16_t>(cp);
        }
        p += n;
        length -= n;
    }
    return written;
}

std::size_t rewriteSurrogatePairs(char* text) {
    auto* s = reinterpret_cast<unsigned char*>(text);
    std::size_t read = 0;
    std::size_t write = 0;
    for (;;) {
        const unsigned char* p = s + read;
        // A high surrogate ED A0-AF xx followed by a low surrogate ED B0-BF xx. The terminator
        // stops every test early: a zero byte is never a continuation byte.
        if (p[0] == 0xED && (p[1] & 0xF0) == 0xA0 && isContinuation(p[2]) && p[3] == 0xED &&
            (p[4] & 0xF0) == 0xB0 && isContinuation(p[5])) {
            const std::uint32_t high = 0xD800 | ((p[1] & 0x0F) << 6) | (p[2] & 0x3F);
            const std::uint32_t low = 0xDC00 | ((p[4] & 0x0F) << 6) | (p[5] & 0x3F);
            const std::uint32_t cp = 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
            s[write++] = static_cast<unsigned char>(0xF0 | (cp >> 18));
            s[write++] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
            s[write++] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
            s[write++] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
            read += 6;
            continue;
        }
        s[write] = p[0];
        if (p[0] == 0) return write;
        ++write;
        ++read;
    }
}
