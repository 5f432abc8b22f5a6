// Fuzz entry point for the decoders: the bytes become a file that openFile opens, reads and
// seeks through every decoder, the AAC plug-in included. Any crash, leak, hang or sanitizer
// report is a finding; refusing the input is the normal outcome.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "decoder.hpp"

namespace {

const PWCodecDescription* plugin() {
    static const PWCodecDescription* codec = []() -> const PWCodecDescription* {
        void* lib = dlopen(PW_PLUGIN_DIR "/Trellisco.dylib", RTLD_NOW | RTLD_LOCAL);
        if (!lib)
            return nullptr;
        auto entry = reinterpret_cast<PWCodecPluginDescriptionFn>(dlsym(lib, PW_CODEC_PLUGIN_ENTRY));
        return entry ? entry() : nullptr;
    }();
    return codec;
}

// One scratch file per process, rewritten for every input.
const std::string& scratchPath() {
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        return std::string(dir && *dir ? dir : "/tmp") + "/pw-decode-fuzz-" + std::to_string(getpid());
    }();
    return path;
}

void exercise(pw::decode::Decoder& d, const uint8_t* data, size_t size) {
    const pw::decode::StreamInfo& info = d.info();
    // Bounded: a lying header must not turn one input into minutes of decoding.
    std::vector<unsigned char> buffer(4096 * 4 * 32);
    const unsigned long maxFrames = buffer.size() / (4 * static_cast<size_t>(info.channels > 0 ? info.channels : 1));
    unsigned long total = 0;
    for (int i = 0; i < 64 && total < (1u << 20); ++i) {
        const long got = d.read(buffer.data(), maxFrames);
        if (got <= 0)
            break;
        total += static_cast<unsigned long>(got);
    }
    // Seek targets taken from the input itself, plus the edges.
    const uint64_t len = info.lengthFrames;
    uint64_t targets[4] = {0, len, len / 2, 0};
    if (size >= 4)
        targets[3] = (uint64_t{data[size - 1]} << 8 | data[size - 2]) % (len + 2);
    for (uint64_t t : targets) {
        if (d.seek(t))
            d.read(buffer.data(), std::min<unsigned long>(maxFrames, 1000));
    }
}

}  // namespace

// libsndfile leaks the Vorbis header state (vorbis_info_init) when sf_open fails part-way into
// a damaged Ogg Vorbis file. It is inside the library's failing open and nothing of ours holds
// it, so LeakSanitizer is told to skip exactly that allocation site.
extern "C" const char* __lsan_default_suppressions() { return "leak:vorbis_info_init\n"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = scratchPath();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return 0;
    if (size > 0)
        std::fwrite(data, 1, size, f);
    std::fclose(f);
    std::vector<const PWCodecDescription*> plugins;
    if (plugin())
        plugins.push_back(plugin());
    std::unique_ptr<pw::decode::Decoder> decoder;
    const bool accurate = size == 0 || (data[0] & 1) != 0;
    const FMOD_RESULT r = pw::decode::openFile(path, accurate, plugins, &decoder);
    if ((r == FMOD_OK) != static_cast<bool>(decoder))
        std::abort();  // a decoder must come exactly with success
    if (r != FMOD_OK && r != FMOD_ERR_FORMAT)
        std::abort();  // the file exists: only "unsupported" is a legal failure
    if (decoder)
        exercise(*decoder, data, size);
    std::remove(path.c_str());
    return 0;
}
