#include "flac_tail.hpp"

#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace pw::decode {

namespace {

// Frames of 16-bit stereo in blocks of 4096 take up to 16 KiB; the tail read holds several.
constexpr long kTailBytes = 256 * 1024;

uint8_t crc8(const unsigned char* p, size_t n) {
    uint8_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b)
            crc = static_cast<uint8_t>((crc & 0x80) ? (crc << 1) ^ 0x07 : crc << 1);
    }
    return crc;
}

// The frame checksum: CRC-16, polynomial 0x8005, over the frame including its header. Run over
// a whole frame together with its stored checksum it gives 0.
uint16_t crc16(const unsigned char* p, size_t n) {
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc = static_cast<uint16_t>(crc ^ (p[i] << 8));
        for (int b = 0; b < 8; ++b)
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x8005 : crc << 1);
    }
    return crc;
}

// The stream information and the file's last bytes, as both tail checks read them.
struct Tail {
    bool flac = false;
    uint32_t fixedBlockSize = 0;
    int channels = 0;
    std::vector<unsigned char> bytes;
    size_t first = 0;  // where frames may start in `bytes` (after the header in a short file)
};

Tail readTail(const std::string& path) {
    Tail t;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return t;
    // "fLaC", the stream information's block header, then its body: the largest block size in
    // bytes 2 and 3, the channel count in bits 4 to 6 of byte 12 (minus one).
    unsigned char head[8 + 34];
    t.flac = std::fread(head, 1, sizeof head, f) == sizeof head && std::memcmp(head, "fLaC", 4) == 0 &&
             (head[4] & 0x7F) == 0;
    // off_t, not long: the size of a file past 2 GiB fits no long in the 32-bit library.
    if (t.flac && ::fseeko(f, 0, SEEK_END) == 0) {
        const off_t fileSize = ::ftello(f);
        const off_t start = fileSize > kTailBytes ? fileSize - kTailBytes : 0;
        t.bytes.resize(static_cast<size_t>(std::clamp<off_t>(fileSize, 0, kTailBytes)));
        if (::fseeko(f, start, SEEK_SET) == 0)
            t.bytes.resize(std::fread(t.bytes.data(), 1, t.bytes.size(), f));
        else
            t.bytes.clear();
        t.first = start == 0 ? sizeof head : 0;
    }
    std::fclose(f);
    t.fixedBlockSize = static_cast<uint32_t>(head[8 + 2]) << 8 | head[8 + 3];
    t.channels = ((head[8 + 12] >> 1) & 7) + 1;
    return t;
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
    const Tail t = readTail(path);
    if (!t.flac)
        return true;
    const size_t got = t.bytes.size();
    for (size_t i = got; i-- > t.first;) {
        FlacFrameHeader frame;
        if (parseFlacFrameHeader(t.bytes.data() + i, got - i, t.channels, t.fixedBlockSize, &frame) &&
            frame.firstSample < frames)
            return frame.firstSample + frame.blockSize >= frames;
    }
    return true;
}

uint64_t flacFramesInData(const std::string& path) {
    const Tail t = readTail(path);
    if (!t.flac)
        return 0;
    const unsigned char* p = t.bytes.data();
    const size_t got = t.bytes.size();
    // The last header, taken as one only when the frame before it ends where it starts: a sync
    // pattern with a good header checksum also turns up by chance inside compressed audio.
    for (size_t last = got; last-- > t.first;) {
        FlacFrameHeader tail;
        if (!parseFlacFrameHeader(p + last, got - last, t.channels, t.fixedBlockSize, &tail))
            continue;
        for (size_t before = last; before-- > t.first;) {
            FlacFrameHeader prior;
            if (!parseFlacFrameHeader(p + before, got - before, t.channels, t.fixedBlockSize, &prior) ||
                prior.firstSample + prior.blockSize != tail.firstSample)
                continue;
            if (crc16(p + before, last - before) != 0)
                break;  // not the frame before after all
            // The last frame counts when it runs whole to the end of the file.
            return crc16(p + last, got - last) == 0 ? tail.firstSample + tail.blockSize : tail.firstSample;
        }
    }
    return 0;
}

}  // namespace pw::decode
