// Whether a FLAC file holds the frames its header gives, read from the header of its last frame:
// a file cut short (an interrupted copy or download) keeps the sample count of the whole file,
// and its last frame ends far before it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pw::decode {

struct FlacFrameHeader {
    uint64_t firstSample = 0;
    uint32_t blockSize = 0;
};

// Parses the frame header at `p` (`size` bytes readable) of a stream with `channels` channels and
// a fixed block size of `fixedBlockSize` (the stream information's largest block); false for
// anything that is not a frame header of that stream, a failed checksum included.
bool parseFlacFrameHeader(const unsigned char* p, size_t size, int channels, uint32_t fixedBlockSize,
                          FlacFrameHeader* out);

// False when the file starts with FLAC stream information and its last frame header lies before
// the end of `frames`; true otherwise (nothing found that says the file was cut).
bool flacDataHoldsLength(const std::string& path, uint64_t frames);

// The frames a decode of the file gives, read from the headers of its last frames instead of
// decoding it: the end of the last frame whose checksum holds (a frame cut off by the end of the
// file decodes to nothing). 0 when the tail shows no chain of frame headers to go by.
uint64_t flacFramesInData(const std::string& path);

}  // namespace pw::decode
