// Decoder over libmpg123 for MPEG audio layers I-III: gapless (encoder delay and padding removed
// when the file says them), 16-bit signed output at the stream's own rate and channel count.
#pragma once

#include <memory>
#include <string>

#include "decoder.hpp"

struct mpg123_handle_struct;

namespace pw::decode {

class Mpg123Decoder final : public Decoder {
public:
    // `accurate` scans the whole file for an exact length; otherwise the length is the library's
    // estimate (exact only when the file carries a frame count). A file cut short (fewer bytes than
    // its first frame declares) is decoded once to count its frames. Null when mpg123 refuses it.
    static std::unique_ptr<Decoder> open(const std::string& path, bool accurate);
    ~Mpg123Decoder() override;

    const StreamInfo& info() const override { return info_; }
    long read(void* dst, unsigned long frames) override;
    bool seek(uint64_t frame) override;

private:
    Mpg123Decoder(mpg123_handle_struct* handle, const StreamInfo& info, const std::string& path)
        : handle_(handle), info_(info), path_(path) {}

    mpg123_handle_struct* handle_;
    StreamInfo info_;
    std::string path_;
    bool ended_ = false;
};

}  // namespace pw::decode
