#include "sound_name.hpp"

#include <cstdint>
#include <cstring>

namespace pw::sound {

namespace {
void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}
}  // namespace

std::string utf16ToUtf8(const void* data, size_t maxUnits) {
    std::string out;
    if (!data) return out;
    const auto* bytes = static_cast<const unsigned char*>(data);
    auto unitAt = [bytes](size_t i) {
        uint16_t u;
        std::memcpy(&u, bytes + 2 * i, 2);
        return u;
    };
    for (size_t i = 0; i < maxUnits; ++i) {
        const uint16_t u = unitAt(i);
        if (u == 0) break;
        if (u >= 0xD800 && u <= 0xDBFF) {
            const uint16_t next = (i + 1 < maxUnits) ? unitAt(i + 1) : 0;
            if (next >= 0xDC00 && next <= 0xDFFF) {
                appendUtf8(out, 0x10000u + ((static_cast<uint32_t>(u) - 0xD800u) << 10) + (next - 0xDC00u));
                ++i;
            } else {
                appendUtf8(out, 0xFFFD);
            }
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            appendUtf8(out, 0xFFFD);
        } else {
            appendUtf8(out, u);
        }
    }
    return out;
}

}  // namespace pw::sound
