// Decoders: one per container family, behind one interface. A Sound reads its audio through a
// Decoder; the mixer never calls a decoder directly (no file I/O on the mixer thread).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec_plugin.h"
#include "fmod.hpp"

namespace pw::decode {

struct StreamInfo {
    int channels = 0;
    int rate = 0;
    int bits = 16;                                      // 16 for decoded formats, own depth for PCM
    FMOD_SOUND_FORMAT format = FMOD_SOUND_FORMAT_PCM16; // format of what read() returns
    FMOD_SOUND_TYPE type = FMOD_SOUND_TYPE_UNKNOWN;
    uint64_t lengthFrames = 0;
    bool lengthExact = true;                            // false: an estimate (MP3 without scan)
    bool cutShort = false;                              // the file ends before its header's length
};

class Decoder {
public:
    virtual ~Decoder() = default;
    virtual const StreamInfo& info() const = 0;
    // Reads up to `frames` frames of interleaved little-endian PCM in info().format into `dst`:
    // PCM8 is signed (two's complement, as AIFF stores it; WAV's unsigned bytes are converted),
    // PCM24 is packed in 3 bytes, PCMFLOAT is 32-bit IEEE.
    // Returns frames read; 0 at the end; -1 on a read error. Not thread-safe: the Sound serialises.
    virtual long read(void* dst, unsigned long frames) = 0;
    // Sample-exact seek to `frame` (0..lengthFrames). false when the stream cannot get there.
    virtual bool seek(uint64_t frame) = 0;
};

// Opens a file by its UTF-8 path. `accurate` asks for an exact length (a full scan where the
// format needs one). Plug-in codecs (codec_plugin.h) are tried after the built-in decoders.
// Results: FMOD_OK with a decoder; FMOD_ERR_FILE_NOTFOUND (23); FMOD_ERR_FORMAT (25) for
// anything that no decoder accepts, garbage and tiny files included. Never a decoder together
// with a failure.
FMOD_RESULT openFile(const std::string& path, bool accurate, const std::vector<const PWCodecDescription*>& plugins,
                     std::unique_ptr<Decoder>* out);

}  // namespace pw::decode
