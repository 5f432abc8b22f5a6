// The record an MP3 encoder writes into the stream's first frame (a Xing or Info record, or a
// VBRI record): among other things the number of bytes of the stream. The decoder takes the
// length from the same record, so a file that holds fewer bytes than it declares was cut short
// and its declared length is not what it holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pw::decode {

// Stream bytes declared by the record in the frame at `frame` (`size` bytes readable there);
// 0 when the frame carries no such record or the record gives no byte count.
uint64_t declaredStreamBytes(const unsigned char* frame, size_t size);

// True when the file's first frame declares more stream bytes than the file holds from that
// frame on.
bool mpegFileCutShort(const std::string& path);

}  // namespace pw::decode
