// Decoder over libsndfile: WAV, AIFF, FLAC, Ogg Vorbis, Opus and CAF.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "decoder.hpp"

typedef struct sf_private_tag SNDFILE;

namespace pw::decode {

class FlacCutView;

class SndfileDecoder final : public Decoder {
public:
    // Returns null when libsndfile does not take the file, or when the file is MPEG audio
    // (that goes to the mpg123 decoder, which is gapless and sample-exact): then *isMpeg is set.
    static std::unique_ptr<Decoder> open(const std::string& path, bool* isMpeg = nullptr);
    ~SndfileDecoder() override;

    const StreamInfo& info() const override { return info_; }
    long read(void* dst, unsigned long frames) override;
    bool seek(uint64_t frame) override;

private:
    SndfileDecoder(SNDFILE* file, const StreamInfo& info, const std::string& path);
    bool seekVorbis(uint64_t frame);

    SNDFILE* file_;
    StreamInfo info_;
    std::vector<int> scratch_;  // 8- and 24-bit reads go through 32-bit samples
    uint64_t position_ = 0;
    std::string path_;
    uint64_t vorbisLastPage_ = 0;  // first frame of the final Ogg page (Vorbis only)
    bool lengthCounted_ = false;   // the length is the data's, not the header's
    std::unique_ptr<FlacCutView> view_;  // what file_ reads through, for a FLAC file cut short
};

}  // namespace pw::decode
