// Decoder of one audio CD track: raw 2352-byte sectors, 588 stereo 16-bit frames each, read with
// the track's own libcdio handle so that several tracks of one disc can be read at once.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "decoder.hpp"

typedef struct _CdIo CdIo_t;

namespace pw::cd {

constexpr unsigned kFramesPerSector = 588;
constexpr unsigned kBytesPerSector = 2352;

class CdTrackDecoder final : public decode::Decoder {
public:
    // Takes ownership of `handle`; the track spans `sectors` sectors from `firstLsn`.
    CdTrackDecoder(CdIo_t* handle, int32_t firstLsn, uint32_t sectors);
    ~CdTrackDecoder() override;

    const decode::StreamInfo& info() const override { return info_; }
    long read(void* dst, unsigned long frames) override;
    bool seek(uint64_t frame) override;

private:
    CdIo_t* handle_;
    int32_t firstLsn_;
    uint32_t sectors_;
    decode::StreamInfo info_;
    uint64_t position_ = 0;  // frames from the track start
    std::vector<unsigned char> buffer_;
};

}  // namespace pw::cd
