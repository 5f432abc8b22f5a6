#include "cd_track_decoder.hpp"

#include <cdio/cdio.h>

#include <algorithm>
#include <cstring>

namespace pw::cd {

namespace {
// Sectors fetched per read call: big enough to keep a drive streaming, small enough to seek cheaply.
constexpr uint32_t kSectorsPerRead = 26;
}  // namespace

CdTrackDecoder::CdTrackDecoder(CdIo_t* handle, int32_t firstLsn, uint32_t sectors)
    : handle_(handle), firstLsn_(firstLsn), sectors_(sectors), buffer_(kSectorsPerRead * kBytesPerSector) {
    info_.channels = 2;
    info_.rate = 44100;
    info_.bits = 16;
    info_.format = FMOD_SOUND_FORMAT_PCM16;
    info_.type = FMOD_SOUND_TYPE_CDDA;
    info_.lengthFrames = static_cast<uint64_t>(sectors) * kFramesPerSector;
    info_.lengthExact = true;
}

CdTrackDecoder::~CdTrackDecoder() { cdio_destroy(handle_); }

long CdTrackDecoder::read(void* dst, unsigned long frames) {
    auto* out = static_cast<unsigned char*>(dst);
    unsigned long done = 0;
    while (done < frames && position_ < info_.lengthFrames) {
        const uint32_t sector = static_cast<uint32_t>(position_ / kFramesPerSector);
        const uint32_t skip = static_cast<uint32_t>(position_ % kFramesPerSector);
        const uint32_t count = std::min<uint32_t>(kSectorsPerRead, sectors_ - sector);
        if (cdio_read_audio_sectors(handle_, buffer_.data(), firstLsn_ + static_cast<int32_t>(sector), count) !=
            DRIVER_OP_SUCCESS)
            return done > 0 ? static_cast<long>(done) : -1;
        const uint64_t available = static_cast<uint64_t>(count) * kFramesPerSector - skip;
        const unsigned long take = static_cast<unsigned long>(std::min<uint64_t>(available, frames - done));
        std::memcpy(out + done * 4, buffer_.data() + skip * 4, take * 4);
        done += take;
        position_ += take;
    }
    return static_cast<long>(done);
}

bool CdTrackDecoder::seek(uint64_t frame) {
    if (frame > info_.lengthFrames)
        return false;
    position_ = frame;
    return true;
}

}  // namespace pw::cd
