#include "sndfile_decoder.hpp"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "flac_cut_view.hpp"
#include "flac_tail.hpp"
#include "pcm_chunks.hpp"

namespace pw::decode {

namespace {

// Output format for a libsndfile major/sub type. PCM containers keep their own depth; all
// compressed formats decode to 16 bits.
void describe(int format, StreamInfo* info) {
    const int major = format & SF_FORMAT_TYPEMASK;
    const int sub = format & SF_FORMAT_SUBMASK;
    switch (major) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
    case SF_FORMAT_RF64:
    case SF_FORMAT_W64:
        info->type = FMOD_SOUND_TYPE_WAV;
        break;
    case SF_FORMAT_AIFF:
        info->type = FMOD_SOUND_TYPE_AIFF;
        break;
    case SF_FORMAT_FLAC:
        info->type = FMOD_SOUND_TYPE_FLAC;
        break;
    case SF_FORMAT_OGG:
        info->type = sub == SF_FORMAT_OPUS ? FMOD_SOUND_TYPE_OPUS : FMOD_SOUND_TYPE_OGGVORBIS;
        break;
    default:
        // CAF and the other containers libsndfile reads have no type of their own; they keep
        // their sample depth like WAV and AIFF.
        info->type = FMOD_SOUND_TYPE_UNKNOWN;
        break;
    }
    const bool pcmContainer = info->type == FMOD_SOUND_TYPE_WAV || info->type == FMOD_SOUND_TYPE_AIFF ||
                              info->type == FMOD_SOUND_TYPE_UNKNOWN;
    info->format = FMOD_SOUND_FORMAT_PCM16;
    info->bits = 16;
    if (!pcmContainer)
        return;
    switch (sub) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        info->format = FMOD_SOUND_FORMAT_PCM8;
        info->bits = 8;
        break;
    case SF_FORMAT_PCM_24:
        info->format = FMOD_SOUND_FORMAT_PCM24;
        info->bits = 24;
        break;
    case SF_FORMAT_PCM_32:
        info->format = FMOD_SOUND_FORMAT_PCM32;
        info->bits = 32;
        break;
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
        info->format = FMOD_SOUND_FORMAT_PCMFLOAT;
        info->bits = 32;
        break;
    default:
        break;  // 16-bit PCM, and A-law, mu-law and ADPCM decoded to 16 bits
    }
}

// A failing open writes its message into a buffer shared by the whole process, so opens are
// serialised (reads and seeks on an open handle need no lock). The file is opened here and handed
// over as a descriptor: libsndfile keeps a copy of a path it opens in a buffer of its own, and
// refuses paths longer than that (1024 bytes) that the platform takes.
SNDFILE* openLocked(const std::string& path, SF_INFO* info, FlacCutView* view = nullptr) {
    static std::mutex openMutex;
    std::lock_guard<std::mutex> lock(openMutex);
    std::memset(info, 0, sizeof *info);
    if (view) {
        static SF_VIRTUAL_IO io = FlacCutView::callbacks();
        view->seek(0, SEEK_SET);
        return sf_open_virtual(&io, SFM_READ, info, view);
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    // The descriptor belongs to the handle from here on: sf_close, or a failed open, closes it.
    return sf_open_fd(fd, SFM_READ, info, SF_TRUE);
}

// Granule position (the frame count up to its end) of the second-to-last whole Ogg page, read from
// the file's tail; 0 when the file has fewer than two pages there. A page cut off by the end of
// the file (a file cut short) holds no packet the decoder can finish, so it does not count.
uint64_t penultimateGranule(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return 0;
    std::vector<unsigned char> tail(256 * 1024);
    // Offsets as off_t (64 bits in every build): a long cannot hold the size of a file past 2 GiB
    // in the 32-bit library.
    off_t start = 0;
    if (::fseeko(f, 0, SEEK_END) == 0) {
        const off_t size = ::ftello(f);
        start = size > static_cast<off_t>(tail.size()) ? size - static_cast<off_t>(tail.size()) : 0;
    }
    size_t got = 0;
    if (::fseeko(f, start, SEEK_SET) == 0)
        got = std::fread(tail.data(), 1, tail.size(), f);
    std::fclose(f);
    int64_t last = -1;
    int64_t previous = -1;
    for (size_t i = 0; i + 27 <= got; ++i) {
        if (std::memcmp(&tail[i], "OggS", 4) != 0 || tail[i + 4] != 0)
            continue;
        int64_t granule = 0;
        for (int b = 7; b >= 0; --b)
            granule = (granule << 8) | tail[i + 6 + static_cast<size_t>(b)];
        if (granule < 0)
            continue;  // a page where no packet ends
        const size_t segments = tail[i + 26];
        if (i + 27 + segments > got)
            continue;
        size_t pageBytes = 27 + segments;
        for (size_t k = 0; k < segments; ++k)
            pageBytes += tail[i + 27 + k];
        if (i + pageBytes > got)
            continue;
        previous = last;
        last = granule;
    }
    return previous > 0 ? static_cast<uint64_t>(previous) : 0;
}

// No codec libsndfile reads makes more frames than this out of one byte of file: FLAC's densest
// block (a constant subframe per channel) is about 10 bytes for up to 65535 frames, Vorbis's
// and Opus's silent packets a byte or two per 2048 or 960 frames.
constexpr uint64_t kMaxFramesPerByte = 8192;

uint64_t fileBytes(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// Counts the frames a handle decodes from where it is to the end.
uint64_t countFrames(SNDFILE* file, int channels) {
    std::vector<short> discard(4096 * static_cast<size_t>(channels));
    uint64_t total = 0;
    for (;;) {
        const sf_count_t got = sf_readf_short(file, discard.data(), 4096);
        if (got <= 0)
            return total;
        total += static_cast<uint64_t>(got);
    }
}

}  // namespace

std::unique_ptr<Decoder> SndfileDecoder::open(const std::string& path, bool* isMpeg) {
    if (isMpeg)
        *isMpeg = false;
    SF_INFO sfinfo;
    SNDFILE* file = openLocked(path, &sfinfo);
    if (!file)
        return nullptr;
    const int major = sfinfo.format & SF_FORMAT_TYPEMASK;
    if (major == SF_FORMAT_MPEG && isMpeg)
        *isMpeg = true;
    if (major == SF_FORMAT_MPEG || sfinfo.channels <= 0 || sfinfo.samplerate <= 0 || sfinfo.frames < 0) {
        sf_close(file);
        return nullptr;
    }
    StreamInfo info;
    info.channels = sfinfo.channels;
    info.rate = sfinfo.samplerate;
    info.lengthFrames = static_cast<uint64_t>(sfinfo.frames);
    // The data says how long the stream is when the header cannot: no length at all (an Ogg file
    // cut before its last page, a FLAC file written to a pipe), more than the file could hold, or
    // a FLAC file whose last frame ends before it (a FLAC file cut short keeps its header's
    // length). A FLAC file's frames are counted from the headers of its last frames; the others
    // are decoded to their end on this handle, and a fresh one starts the stream at its first frame.
    const bool flac = major == SF_FORMAT_FLAC;
    const bool noLength = sfinfo.frames == SF_COUNT_MAX;
    const bool countData = noLength || info.lengthFrames > fileBytes(path) * kMaxFramesPerByte ||
                           (flac && !flacDataHoldsLength(path, info.lengthFrames));
    std::unique_ptr<FlacCutView> view;
    if (countData) {
        const uint64_t fromHeaders = flac ? flacFramesInData(path) : 0;
        info.lengthFrames = fromHeaders > 0 ? fromHeaders : countFrames(file, sfinfo.channels);
        // libFLAC seeks by the header's sample count and seek table: a FLAC file cut short is
        // read through a view in which they describe the data that is there.
        if (flac)
            view = FlacCutView::make(path, info.lengthFrames);
        sf_close(file);
        if (!(file = openLocked(path, &sfinfo, view.get())))
            return nullptr;
    }
    // Cut short: the audio falls short of a length the header declares. A FLAC file without a
    // sample count declares none (an encoder writing to a pipe leaves it 0), an Ogg file's last
    // page does; a WAV or AIFF file whose data chunk runs past its end has its length clamped
    // by the library, so only the chunk tells.
    const bool declared = !(flac && noLength);
    const bool pcmCut = (major == SF_FORMAT_WAV || major == SF_FORMAT_AIFF) && pcmDataChunkCut(path);
    info.lengthExact = true;
    info.cutShort = (countData && declared) || pcmCut;
    describe(sfinfo.format, &info);
    auto decoder = std::unique_ptr<SndfileDecoder>(new SndfileDecoder(file, info, path));
    decoder->lengthCounted_ = countData;
    decoder->view_ = std::move(view);
    if (info.type == FMOD_SOUND_TYPE_OGGVORBIS)
        decoder->vorbisLastPage_ = std::min<uint64_t>(penultimateGranule(path), info.lengthFrames);
    return decoder;
}

SndfileDecoder::SndfileDecoder(SNDFILE* file, const StreamInfo& info, const std::string& path)
    : file_(file), info_(info), path_(path) {}

SndfileDecoder::~SndfileDecoder() { sf_close(file_); }

long SndfileDecoder::read(void* dst, unsigned long frames) {
    if (frames == 0 || position_ >= info_.lengthFrames)
        return 0;
    frames = static_cast<unsigned long>(std::min<uint64_t>(frames, info_.lengthFrames - position_));
    const size_t ch = static_cast<size_t>(info_.channels);
    sf_count_t got = 0;
    switch (info_.format) {
    case FMOD_SOUND_FORMAT_PCM16:
        got = sf_readf_short(file_, static_cast<short*>(dst), static_cast<sf_count_t>(frames));
        break;
    case FMOD_SOUND_FORMAT_PCM32:
        got = sf_readf_int(file_, static_cast<int*>(dst), static_cast<sf_count_t>(frames));
        break;
    case FMOD_SOUND_FORMAT_PCMFLOAT:
        got = sf_readf_float(file_, static_cast<float*>(dst), static_cast<sf_count_t>(frames));
        break;
    case FMOD_SOUND_FORMAT_PCM8:
    case FMOD_SOUND_FORMAT_PCM24: {
        // libsndfile left-justifies every depth in an int: the top 8 or 24 bits are the sample.
        scratch_.resize(frames * ch);
        got = sf_readf_int(file_, scratch_.data(), static_cast<sf_count_t>(frames));
        if (got <= 0)
            break;
        const size_t n = static_cast<size_t>(got) * ch;
        auto* out = static_cast<unsigned char*>(dst);
        if (info_.format == FMOD_SOUND_FORMAT_PCM8) {
            for (size_t i = 0; i < n; ++i)
                out[i] = static_cast<unsigned char>(static_cast<uint32_t>(scratch_[i]) >> 24);
        } else {
            for (size_t i = 0; i < n; ++i) {
                const uint32_t v = static_cast<uint32_t>(scratch_[i]);
                out[3 * i] = static_cast<unsigned char>(v >> 8);
                out[3 * i + 1] = static_cast<unsigned char>(v >> 16);
                out[3 * i + 2] = static_cast<unsigned char>(v >> 24);
            }
        }
        break;
    }
    default:
        return -1;
    }
    if (got < 0)
        return -1;
    if (got == 0 && sf_error(file_) != SF_ERR_NO_ERROR)
        return -1;
    position_ += static_cast<uint64_t>(got);
    return static_cast<long>(got);
}

// libsndfile's Vorbis seek lands on wrong samples once the stream has been read to its end, and
// for targets inside the final page. So: a fresh handle for every seek, and targets in the final
// page are reached by seeking before it and decoding forward.
bool SndfileDecoder::seekVorbis(uint64_t frame) {
    SF_INFO sfinfo;
    SNDFILE* fresh = openLocked(path_, &sfinfo);
    if (!fresh)
        return false;
    sf_close(file_);
    file_ = fresh;
    position_ = 0;
    uint64_t landing = frame;
    if (vorbisLastPage_ > 0 && frame >= vorbisLastPage_)
        landing = vorbisLastPage_ - 1;
    if (landing > 0 && sf_seek(file_, static_cast<sf_count_t>(landing), SEEK_SET) < 0)
        return false;
    position_ = landing;
    std::vector<short> discard(4096 * static_cast<size_t>(info_.channels));
    while (position_ < frame) {
        const sf_count_t want = static_cast<sf_count_t>(std::min<uint64_t>(4096, frame - position_));
        const sf_count_t got = sf_readf_short(file_, discard.data(), want);
        if (got <= 0)
            return false;
        position_ += static_cast<uint64_t>(got);
    }
    return true;
}

bool SndfileDecoder::seek(uint64_t frame) {
    if (frame > info_.lengthFrames)
        return false;
    if (info_.type == FMOD_SOUND_TYPE_OGGVORBIS)
        return seekVorbis(frame);
    if (lengthCounted_ && frame == info_.lengthFrames && frame > 0) {
        // The end of a file cut short lies in a block of which only part is there: the library
        // cannot seek into it, so the frame before it is sought and read.
        std::vector<short> last(static_cast<size_t>(info_.channels));
        if (sf_seek(file_, static_cast<sf_count_t>(frame - 1), SEEK_SET) < 0 || sf_readf_short(file_, last.data(), 1) != 1)
            return false;
        position_ = frame;
        return true;
    }
    if (sf_seek(file_, static_cast<sf_count_t>(frame), SEEK_SET) < 0)
        return false;
    position_ = frame;
    return true;
}

}  // namespace pw::decode
