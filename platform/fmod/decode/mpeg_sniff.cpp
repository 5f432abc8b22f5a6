#include "mpeg_sniff.hpp"

#include <cstdio>
#include <vector>

namespace pw::decode {

namespace {

// kbit/s by [MPEG-1?][layer-1][index]
const int kBitrates[2][3][16] = {
    {
        // MPEG-2 and 2.5
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, -1},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1},
    },
    {
        // MPEG-1
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, -1},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, -1},
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, -1},
    },
};

const int kRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

// A file may start with junk or a long tag; search this far for the first frame.
constexpr size_t kReadLimit = 256 * 1024;
constexpr int kFramesNeeded = 3;

}  // namespace

bool parseMpegHeader(const unsigned char* p, MpegFrameHeader* out) {
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return false;
    const int versionBits = (p[1] >> 3) & 3;
    const int layerBits = (p[1] >> 1) & 3;
    const int bitrateIndex = (p[2] >> 4) & 15;
    const int rateIndex = (p[2] >> 2) & 3;
    const int padding = (p[2] >> 1) & 1;
    if (versionBits == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return false;
    const int layer = 4 - layerBits;
    const bool mpeg1 = versionBits == 3;
    const int version = mpeg1 ? 1 : (versionBits == 2 ? 2 : 25);
    const int rate = kRates[mpeg1 ? 0 : (version == 2 ? 1 : 2)][rateIndex];
    const int kbps = kBitrates[mpeg1 ? 1 : 0][layer - 1][bitrateIndex];
    int bytes;
    if (layer == 1)
        bytes = (12 * kbps * 1000 / rate + padding) * 4;
    else if (layer == 3 && !mpeg1)
        bytes = 72 * kbps * 1000 / rate + padding;
    else
        bytes = 144 * kbps * 1000 / rate + padding;
    if (bytes < 4)
        return false;
    out->version = version;
    out->layer = layer;
    out->rate = rate;
    out->bytes = bytes;
    return true;
}

size_t id3v2TagBytes(const unsigned char* head) {
    if (head[0] != 'I' || head[1] != 'D' || head[2] != '3')
        return 0;
    // A 28-bit synch-safe size after the 10-byte header (plus a footer if flagged).
    size_t bytes = 10 + ((static_cast<size_t>(head[6] & 0x7F) << 21) | (static_cast<size_t>(head[7] & 0x7F) << 14) |
                         (static_cast<size_t>(head[8] & 0x7F) << 7) | static_cast<size_t>(head[9] & 0x7F));
    if (head[5] & 0x10)
        bytes += 10;
    return bytes;
}

bool findMpegFrames(const unsigned char* data, size_t size, size_t searchLimit, int needFrames) {
    for (size_t start = 0; start < searchLimit && start + 4 <= size; ++start) {
        MpegFrameHeader first;
        if (!parseMpegHeader(data + start, &first))
            continue;
        size_t pos = start + static_cast<size_t>(first.bytes);
        int found = 1;
        bool consistent = true;
        while (found < needFrames) {
            if (pos == size)
                break;  // the data ends exactly after a frame: a short file
            MpegFrameHeader next;
            if (pos + 4 > size || !parseMpegHeader(data + pos, &next) || next.version != first.version ||
                next.layer != first.layer || next.rate != first.rate) {
                consistent = false;
                break;
            }
            ++found;
            pos += static_cast<size_t>(next.bytes);
        }
        if (consistent && (found >= needFrames || (found >= 2 && pos == size)))
            return true;
    }
    return false;
}

bool looksLikeMpegAudio(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    unsigned char head[10] = {0};
    const size_t skip = std::fread(head, 1, 10, f) == 10 ? id3v2TagBytes(head) : 0;
    std::vector<unsigned char> data(kReadLimit);
    size_t got = 0;
    if (std::fseek(f, static_cast<long>(skip), SEEK_SET) == 0)
        got = std::fread(data.data(), 1, data.size(), f);
    std::fclose(f);
    data.resize(got);
    return findMpegFrames(data.data(), data.size(), data.size(), kFramesNeeded);
}

}  // namespace pw::decode
