// openFile: which decoder takes a file. Content decides, not the extension: the containers
// libsndfile knows go there, MPEG audio goes to mpg123, then each codec plug-in in the order given.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "decoder.hpp"
#include "mpeg_sniff.hpp"
#include "mpg123_decoder.hpp"
#include "plugin_decoder.hpp"
#include "sndfile_decoder.hpp"

namespace pw::decode {

namespace {

// Containers with a magic number of their own never go through the MPEG frame search, whose
// sync pattern can appear by chance inside PCM data.
bool hasContainerMagic(const std::string& path) {
    unsigned char head[4] = {0, 0, 0, 0};
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    const size_t got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    if (got < 4)
        return false;
    static const char* const kMagics[] = {"RIFF", "RIFX", "RF64", "FORM", "fLaC", "OggS", "caff"};
    for (const char* magic : kMagics) {
        if (std::memcmp(head, magic, 4) == 0)
            return true;
    }
    return false;
}

}  // namespace

FMOD_RESULT openFile(const std::string& path, bool accurate, const std::vector<const PWCodecDescription*>& plugins,
                     std::unique_ptr<Decoder>* out) {
    if (!out)
        return FMOD_ERR_INVALID_PARAM;
    out->reset();
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return FMOD_ERR_FILE_NOTFOUND;
    if (!S_ISREG(st.st_mode))
        return FMOD_ERR_FORMAT;  // a FIFO or device: opening it could block, and it holds no file
    FILE* probe = std::fopen(path.c_str(), "rb");
    if (!probe)
        return FMOD_ERR_FILE_NOTFOUND;  // unreadable is as good as missing to the caller
    std::fclose(probe);

    std::unique_ptr<Decoder> decoder;
    const bool container = hasContainerMagic(path);
    const bool sniffedMpeg = !container && looksLikeMpegAudio(path);
    if (sniffedMpeg)
        decoder = Mpg123Decoder::open(path, accurate);
    if (!decoder) {
        // libsndfile's own MPEG detection reaches further into damaged files than the sniffer.
        bool sndfileSaysMpeg = false;
        decoder = SndfileDecoder::open(path, &sndfileSaysMpeg);
        if (!decoder && sndfileSaysMpeg && !sniffedMpeg)
            decoder = Mpg123Decoder::open(path, accurate);
    }
    for (size_t i = 0; !decoder && i < plugins.size(); ++i) {
        if (plugins[i])
            decoder = PluginDecoder::open(*plugins[i], path);
    }
    if (!decoder)
        return FMOD_ERR_FORMAT;
    *out = std::move(decoder);
    return FMOD_OK;
}

}  // namespace pw::decode
