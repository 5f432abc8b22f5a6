#include "mpeg_info_frame.hpp"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "mpeg_sniff.hpp"

namespace pw::decode {

namespace {

uint32_t bigEndian32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           static_cast<uint32_t>(p[3]);
}

// The first frame comes right after the ID3v2 tag; junk before it is searched this far.
constexpr size_t kSearchBytes = 64 * 1024;

}  // namespace

uint64_t declaredStreamBytes(const unsigned char* frame, size_t size) {
    MpegFrameHeader header;
    if (size < 4 || !parseMpegHeader(frame, &header) || header.layer != 3)
        return 0;
    // The Xing record follows the side information, whose size depends on version and mode.
    const bool mono = (frame[3] >> 6) == 3;
    const size_t xing = 4 + (header.version == 1 ? (mono ? 17 : 32) : (mono ? 9 : 17));
    if (xing + 8 <= size && (std::memcmp(frame + xing, "Xing", 4) == 0 || std::memcmp(frame + xing, "Info", 4) == 0)) {
        const uint32_t flags = bigEndian32(frame + xing + 4);
        const size_t bytesAt = xing + 8 + ((flags & 1) ? 4 : 0);  // after the frame count, if present
        return (flags & 2) && bytesAt + 4 <= size ? bigEndian32(frame + bytesAt) : 0;
    }
    // VBRI: tag, version, delay and quality (2 bytes each), then the byte count.
    const size_t vbri = 4 + 32;
    if (vbri + 14 <= size && std::memcmp(frame + vbri, "VBRI", 4) == 0)
        return bigEndian32(frame + vbri + 10);
    return 0;
}

bool mpegFileCutShort(const std::string& path) {
    struct stat st {};
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    if (::fstat(fileno(f), &st) != 0) {
        std::fclose(f);
        return false;
    }
    unsigned char head[10] = {0};
    const size_t tag = std::fread(head, 1, sizeof head, f) == sizeof head ? id3v2TagBytes(head) : 0;
    std::vector<unsigned char> data(kSearchBytes);
    size_t got = 0;
    if (std::fseek(f, static_cast<long>(tag), SEEK_SET) == 0)
        got = std::fread(data.data(), 1, data.size(), f);
    std::fclose(f);
    for (size_t at = 0; at + 4 <= got; ++at) {
        const uint64_t declared = declaredStreamBytes(data.data() + at, got - at);
        if (declared > 0)
            return static_cast<uint64_t>(st.st_size) < tag + at + declared;
    }
    return false;
}

}  // namespace pw::decode
