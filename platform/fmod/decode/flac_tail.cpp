#include "flac_tail.hpp"

#include <sys/types.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace pw::decode {

namespace {

// Frames of 16-bit stereo in blocks of 4096 take up to 16 KiB; the tail read holds several.
constexpr off_t kTailBytes = 256 * 1024;

uint8_t crc8(const unsigned char* p, size_t n) {
    uint8_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b)
            crc = static_cast<uint8_t>((crc & 0x80) ? (crc << 1) ^ 0x07 : crc << 1);
    }
    return crc;
}

}  // namespace

bool parseFlacFrameHeader(const unsigned char* p, size_t size, int channels, uint32_t fixedBlockSize,
                          FlacFrameHeader* out) {
    if (size < 6 || p[0] != 0xFF || (p[1] & 0xFE) != 0xF8 || (p[3] & 1) != 0)
        return false;
    const bool variable = (p[1] & 1) != 0;
    const int blockCode = p[2] >> 4;
    const int rateCode = p[2] & 0x0F;
    const int channelCode = p[3] >> 4;
    const int depthCode = (p[3] >> 1) & 7;
    if (blockCode == 0 || rateCode == 15 || channelCode > 10 || depthCode == 3)
        return false;
    if ((channelCode < 8 ? channelCode + 1 : 2) != channels)
        return false;
    // The frame (or sample) number, coded as UTF-8 extended to 36 bits.
    size_t at = 4;
    int extra = 0;
    uint64_t number = p[at];
    if (p[at] >= 0x80) {
        int lead = 0;
        while (lead < 8 && (p[at] & (0x80 >> lead)))
            ++lead;
        if (lead < 2 || lead > 7)
            return false;
        extra = lead - 1;
        number = lead == 7 ? 0 : (p[at] & (0x7F >> lead));
    }
    ++at;
    if (at + static_cast<size_t>(extra) > size)
        return false;
    for (int i = 0; i < extra; ++i, ++at) {
        if ((p[at] & 0xC0) != 0x80)
            return false;
        number = number << 6 | (p[at] & 0x3F);
    }
    uint32_t blockSize = 0;
    if (blockCode == 1)
        blockSize = 192;
    else if (blockCode <= 5)
        blockSize = 576u << (blockCode - 2);
    else if (blockCode >= 8)
        blockSize = 256u << (blockCode - 8);
    const size_t sizeBytes = blockCode == 6 ? 1 : blockCode == 7 ? 2 : 0;
    const size_t rateBytes = rateCode == 12 ? 1 : (rateCode == 13 || rateCode == 14) ? 2 : 0;
    if (at + sizeBytes + rateBytes + 1 > size)
        return false;
    if (sizeBytes == 1)
        blockSize = p[at] + 1u;
    else if (sizeBytes == 2)
        blockSize = (static_cast<uint32_t>(p[at]) << 8 | p[at + 1]) + 1u;
    at += sizeBytes + rateBytes;
    if (crc8(p, at) != p[at])
        return false;
    out->firstSample = variable ? number : number * fixedBlockSize;
    out->blockSize = blockSize;
    return true;
}

bool flacDataHoldsLength(const std::string& path, uint64_t frames) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return true;
    // "fLaC", the stream information's block header, then its body: the largest block size in
    // bytes 2 and 3, the channel count in bits 4 to 6 of byte 12 (minus one).
    unsigned char head[8 + 34];
    std::vector<unsigned char> tail(static_cast<size_t>(kTailBytes));
    size_t got = 0;
    const bool flac = std::fread(head, 1, sizeof head, f) == sizeof head && std::memcmp(head, "fLaC", 4) == 0 &&
                      (head[4] & 0x7F) == 0;
    // off_t, not long: the size of a file past 2 GiB fits no long in the 32-bit library.
    off_t start = 0;
    if (flac && ::fseeko(f, 0, SEEK_END) == 0) {
        const off_t fileSize = ::ftello(f);
        start = fileSize > kTailBytes ? fileSize - kTailBytes : 0;
        if (::fseeko(f, start, SEEK_SET) == 0)
            got = std::fread(tail.data(), 1, tail.size(), f);
    }
    std::fclose(f);
    if (!flac)
        return true;
    const uint32_t fixedBlockSize = static_cast<uint32_t>(head[8 + 2]) << 8 | head[8 + 3];
    const int channels = ((head[8 + 12] >> 1) & 7) + 1;
    const size_t first = start == 0 ? sizeof head : 0;  // a short file's tail starts with its header
    for (size_t i = got; i-- > first;) {
        FlacFrameHeader frame;
        if (parseFlacFrameHeader(tail.data() + i, got - i, channels, fixedBlockSize, &frame) &&
            frame.firstSample < frames)
            return frame.firstSample + frame.blockSize >= frames;
    }
    return true;
}

}  // namespace pw::decode
