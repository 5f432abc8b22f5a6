// Decoder over a codec plug-in's C interface (codec_plugin.h). The plug-in owns its stream state;
// this class only forwards and closes it once.
#pragma once

#include <memory>
#include <string>

#include "decoder.hpp"

namespace pw::decode {

class PluginDecoder final : public Decoder {
public:
    // Null when the plug-in refuses the file or describes it nonsensically.
    static std::unique_ptr<Decoder> open(const PWCodecDescription& codec, const std::string& path);
    ~PluginDecoder() override;

    const StreamInfo& info() const override { return info_; }
    long read(void* dst, unsigned long frames) override;
    bool seek(uint64_t frame) override;

private:
    PluginDecoder(const PWCodecDescription& codec, PWCodecStream* stream, const StreamInfo& info)
        : codec_(codec), stream_(stream), info_(info) {}

    const PWCodecDescription& codec_;
    PWCodecStream* stream_;
    StreamInfo info_;
};

}  // namespace pw::decode
