// The C face of the AAC codec plug-in: the description the host looks up by name, and thin
// wrappers that turn every C++ failure into a return code (nothing may unwind into the host).
extern "C" {
#include <libavutil/log.h>
}

#include <mutex>
#include <new>

#include "aac_stream.hpp"
#include "codec_plugin.h"

struct PWCodecStream {
    trellisco::AacStream stream;
};

namespace {

int aacOpen(const char* path, PWCodecStream** out, PWCodecInfo* info) {
    if (!path || !out || !info)
        return -1;
    *out = nullptr;
    try {
        // FFmpeg reports every file it cannot parse on stderr; refusing a file is routine here.
        // The level is a process global: set once, whichever thread opens first.
        static std::once_flag quiet;
        std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
        auto* s = new PWCodecStream;
        if (!s->stream.open(path)) {
            delete s;
            return 1;
        }
        info->channels = s->stream.channels();
        info->rate = s->stream.rate();
        info->lengthFrames = s->stream.length();
        info->cutShort = s->stream.cutShort() ? 1 : 0;
        *out = s;
        return 0;
    } catch (...) {
        return -1;
    }
}

long aacRead(PWCodecStream* s, short* dst, unsigned long frames) {
    if (!s || (!dst && frames > 0))
        return -1;
    try {
        return s->stream.read(dst, frames);
    } catch (...) {
        return -1;
    }
}

int aacSeek(PWCodecStream* s, unsigned long long frame) {
    if (!s)
        return -1;
    try {
        return s->stream.seek(frame) ? 0 : -1;
    } catch (...) {
        return -1;
    }
}

void aacClose(PWCodecStream* s) { delete s; }

const PWCodecDescription kDescription = {
    "AAC", 0x10003, "m4a aac", aacOpen, aacRead, aacSeek, aacClose,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const PWCodecDescription* PWCodecPluginDescription(void) {
    return &kDescription;
}
