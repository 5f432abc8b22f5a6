#include "plugin_decoder.hpp"

#include <cstring>

namespace pw::decode {

namespace {

FMOD_SOUND_TYPE typeOf(const PWCodecDescription& codec) {
    if (codec.name && std::strcmp(codec.name, "AAC") == 0)
        return FMOD_SOUND_TYPE_AAC;
    return FMOD_SOUND_TYPE_UNKNOWN;
}

}  // namespace

std::unique_ptr<Decoder> PluginDecoder::open(const PWCodecDescription& codec, const std::string& path) {
    if (!codec.open || !codec.read || !codec.seek || !codec.close)
        return nullptr;
    PWCodecStream* stream = nullptr;
    PWCodecInfo pinfo;
    std::memset(&pinfo, 0, sizeof pinfo);
    if (codec.open(path.c_str(), &stream, &pinfo) != 0)
        return nullptr;  // a refusing plug-in owns nothing to close
    if (!stream)
        return nullptr;
    if (pinfo.channels <= 0 || pinfo.channels > 32 || pinfo.rate <= 0) {
        codec.close(stream);
        return nullptr;
    }
    StreamInfo info;
    info.channels = pinfo.channels;
    info.rate = pinfo.rate;
    info.bits = 16;
    info.format = FMOD_SOUND_FORMAT_PCM16;
    info.type = typeOf(codec);
    info.lengthFrames = pinfo.lengthFrames;
    info.lengthExact = true;
    info.cutShort = pinfo.cutShort != 0;
    return std::unique_ptr<Decoder>(new PluginDecoder(codec, stream, info));
}

PluginDecoder::~PluginDecoder() { codec_.close(stream_); }

long PluginDecoder::read(void* dst, unsigned long frames) {
    if (frames == 0)
        return 0;
    const long got = codec_.read(stream_, static_cast<short*>(dst), frames);
    if (got < 0)
        return -1;
    return got > static_cast<long>(frames) ? static_cast<long>(frames) : got;
}

bool PluginDecoder::seek(uint64_t frame) {
    if (frame > info_.lengthFrames)
        return false;
    return codec_.seek(stream_, frame) == 0;
}

}  // namespace pw::decode
