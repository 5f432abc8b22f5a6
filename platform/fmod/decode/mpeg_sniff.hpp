// Recognises MPEG audio (layers I-III) by content: an optional ID3v2 tag, then a run of frame
// headers each found exactly where the previous frame's length says. libsndfile also reads MP3,
// but mpg123 is gapless and seeks to the sample, so MPEG audio is routed by this test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pw::decode {

struct MpegFrameHeader {
    int version = 0;  // 1 = MPEG-1, 2 = MPEG-2, 25 = MPEG-2.5
    int layer = 0;    // 1..3
    int rate = 0;
    int bytes = 0;    // whole frame length, header included
};

// Parses four header bytes; false for anything not a usable frame header (free format included).
bool parseMpegHeader(const unsigned char* p, MpegFrameHeader* out);

// Bytes of the ID3v2 tag that starts with the ten bytes at `head`, header and footer included;
// 0 when they start no tag.
size_t id3v2TagBytes(const unsigned char* head);

// True when `data` holds, from some offset in its first `searchLimit` bytes, `needFrames`
// consecutive consistent frames (fewer when the data ends cleanly after the last one).
bool findMpegFrames(const unsigned char* data, size_t size, size_t searchLimit, int needFrames);

// Reads the start of a file and applies the tests above after skipping any ID3v2 tag.
bool looksLikeMpegAudio(const std::string& path);

}  // namespace pw::decode
