#include "sound_open.hpp"

#include <sys/stat.h>

#include <cstddef>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "decoder.hpp"
#include "services.hpp"
#include "sound_cd.hpp"
#include "sound_format.hpp"
#include "sound_impl.hpp"
#include "sound_name.hpp"
#include "sound_registry.hpp"
#include "speakers.hpp"

namespace pw::sound {

namespace {

// The bounds we accept for user sounds: anything a sound card could produce.
constexpr int kMaxChannels = 32;
constexpr int kMaxRate = 768000;
// The bounds for files: a rate a sound card could play, and no more channels than a channel of the
// mixer takes. A header outside them is damaged or crafted, and its values would size the stream
// ring and the mixer's buffers.
constexpr int kMinFileRate = 1000;
// A decoded sample larger than this is refused (44) rather than exhausting memory.
constexpr uint64_t kMaxSampleBytes = uint64_t{1} << 31;

// True when the caller's record is large enough to hold the field ending at `end`.
bool covers(const FMOD_CREATESOUNDEXINFO* ex, size_t end) {
    return ex && ex->cbsize > 0 && static_cast<size_t>(ex->cbsize) >= end;
}

#define PW_FIELD_END(field) (offsetof(FMOD_CREATESOUNDEXINFO, field) + sizeof(FMOD_CREATESOUNDEXINFO::field))

FMOD_RESULT createUser(FMOD::System* system, FMOD_MODE mode, const FMOD_CREATESOUNDEXINFO* ex,
                       std::shared_ptr<SoundImpl>* out) {
    if (!covers(ex, PW_FIELD_END(format))) return FMOD_ERR_INVALID_PARAM;
    // The format is read as the integer the caller stored: a value outside the enumeration must
    // be refused, not loaded as an enumerator.
    static_assert(sizeof(FMOD_SOUND_FORMAT) == sizeof(int), "the format field is an int");
    int rawFormat = 0;
    std::memcpy(&rawFormat, reinterpret_cast<const unsigned char*>(ex) + offsetof(FMOD_CREATESOUNDEXINFO, format),
                sizeof rawFormat);
    if (rawFormat < FMOD_SOUND_FORMAT_PCM8 || rawFormat > FMOD_SOUND_FORMAT_PCMFLOAT) return FMOD_ERR_INVALID_PARAM;
    const auto format = static_cast<FMOD_SOUND_FORMAT>(rawFormat);
    const unsigned bps = bytesPerSample(format);
    if (bps == 0 || ex->numchannels < 1 || ex->numchannels > kMaxChannels || ex->defaultfrequency < 1 ||
        ex->defaultfrequency > kMaxRate)
        return FMOD_ERR_INVALID_PARAM;
    const unsigned frameBytes = bps * static_cast<unsigned>(ex->numchannels);
    if (ex->length < frameBytes) return FMOD_ERR_INVALID_PARAM;

    SoundImpl::Format f;
    f.channels = ex->numchannels;
    f.rate = ex->defaultfrequency;
    f.bits = static_cast<int>(bps * 8);
    f.format = format;
    f.type = FMOD_SOUND_TYPE_USER;
    std::vector<unsigned char> pcm;
    try {
        pcm.assign(ex->length / frameBytes * frameBytes, 0);  // silence until written
    } catch (const std::bad_alloc&) {
        return FMOD_ERR_MEMORY;
    }
    auto sound = std::make_shared<SoundImpl>(system, SoundImpl::Kind::Memory, f, mode);
    sound->setMemory(std::move(pcm), true);
    *out = std::move(sound);
    return FMOD_OK;
}

// Decodes the whole of `decoder` into memory. The header's length only sizes the first reservation
// when the file could hold it: `fileBytes` x kMaxExpansion bounds what any decoder makes of a
// file (lossless codecs of silence come nearest), so a lying header costs a reallocation, never a
// huge allocation.
FMOD_RESULT decodeAll(decode::Decoder& decoder, unsigned frameBytes, uint64_t fileBytes, std::vector<unsigned char>* pcm) {
    constexpr unsigned long kChunk = 16384;
    constexpr uint64_t kMaxExpansion = 64;
    const uint64_t expected = decoder.info().lengthFrames * frameBytes;
    try {
        if (expected <= kMaxSampleBytes && expected <= fileBytes * kMaxExpansion)
            pcm->reserve(static_cast<size_t>(expected));
        std::vector<unsigned char> chunk(kChunk * frameBytes);
        for (;;) {
            const long got = decoder.read(chunk.data(), kChunk);
            if (got < 0) return FMOD_ERR_FILE_BAD;
            if (got == 0) break;
            const size_t bytes = static_cast<size_t>(got) * frameBytes;
            if (pcm->size() + bytes > kMaxSampleBytes) return FMOD_ERR_MEMORY;
            pcm->insert(pcm->end(), chunk.data(), chunk.data() + bytes);
        }
    } catch (const std::bad_alloc&) {
        return FMOD_ERR_MEMORY;
    }
    return FMOD_OK;
}

bool isRegularFile(const std::string& path, uint64_t* bytes = nullptr) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (bytes) *bytes = static_cast<uint64_t>(st.st_size);
    return true;
}

void markCutShort(SoundImpl& sound) {
    SoundTag tag;
    tag.type = FMOD_TAGTYPE_FMOD;
    tag.name = FMOD_TAG_CUT_SHORT;
    sound.addTag(std::move(tag));
}

FMOD_RESULT createFromName(FMOD::System* system, const std::string& path, FMOD_MODE mode,
                           std::shared_ptr<SoundImpl>* out) {
    // A drive name (or a drive's device node) opens the disc in it. Regular files never do, so
    // the drive list is only consulted for names that are not plain files.
    if (!isRegularFile(path)) {
        cd::DriveEntry drive;
        if (findDrive(system, path, &drive)) return openCd(system, drive, mode, out);
    }

    const bool accurate = (mode & (FMOD_ACCURATETIME | FMOD_MPEGSEARCH)) != 0;
    std::unique_ptr<decode::Decoder> decoder;
    const FMOD_RESULT r = decode::openFile(path, accurate, systemCodecs(system), &decoder);
    if (r != FMOD_OK) return r;
    if (!decoder) return FMOD_ERR_FORMAT;
    const decode::StreamInfo& info = decoder->info();
    if (info.channels < 1 || info.channels > mix::kMaxInputs || info.rate < kMinFileRate || info.rate > kMaxRate ||
        bytesPerSample(info.format) == 0)
        return FMOD_ERR_FORMAT;

    SoundImpl::Format f;
    f.channels = info.channels;
    f.rate = info.rate;
    f.bits = info.bits;
    f.format = info.format;
    f.type = info.type;
    const bool stream = (mode & (FMOD_CREATESTREAM | FMOD_OPENONLY)) != 0;
    if (stream) {
        auto sound = std::make_shared<SoundImpl>(system, SoundImpl::Kind::Stream, f, mode);
        if (info.cutShort) markCutShort(*sound);
        sound->setDecoder(std::move(decoder));
        *out = std::move(sound);
        return FMOD_OK;
    }
    auto sound = std::make_shared<SoundImpl>(system, SoundImpl::Kind::Memory, f, mode);
    if (info.cutShort) markCutShort(*sound);
    std::vector<unsigned char> pcm;
    uint64_t fileBytes = 0;
    isRegularFile(path, &fileBytes);
    const FMOD_RESULT d =
        decodeAll(*decoder, bytesPerSample(f.format) * static_cast<unsigned>(f.channels), fileBytes, &pcm);
    if (d != FMOD_OK) return d;
    sound->setMemory(std::move(pcm), false);
    *out = std::move(sound);
    return FMOD_OK;
}

}  // namespace

FMOD_RESULT createSound(FMOD::System* system, const char* name, FMOD_MODE mode, FMOD_CREATESOUNDEXINFO* exinfo,
                        FMOD::Sound** sound) {
    if (!sound) return FMOD_ERR_INVALID_PARAM;
    *sound = nullptr;
    if (!system) return FMOD_ERR_INVALID_PARAM;
    if (exinfo && exinfo->cbsize <= 0) return FMOD_ERR_INVALID_PARAM;
    // Opening from memory or as headerless raw data is not something this system does.
    if (mode & (FMOD_OPENMEMORY | FMOD_OPENRAW)) return FMOD_ERR_UNSUPPORTED;
    // Without a loop bit a sound plays once.
    if (!(mode & (FMOD_LOOP_OFF | FMOD_LOOP_NORMAL | FMOD_LOOP_BIDI))) mode |= FMOD_LOOP_OFF;

    return guarded([&] {
        std::shared_ptr<SoundImpl> created;
        FMOD_RESULT r;
        if (mode & FMOD_OPENUSER) {
            r = createUser(system, mode, exinfo, &created);
        } else {
            if (!name) return FMOD_ERR_INVALID_PARAM;
            // Decision D1: a UTF-16 name is converted to UTF-8 before any file system call.
            const std::string path = (mode & FMOD_UNICODE) ? utf16ToUtf8(name) : std::string(name);
            r = createFromName(system, path, mode, &created);
        }
        if (r != FMOD_OK) return r;  // `created`, if any, goes with its count
        if (covers(exinfo, PW_FIELD_END(userdata))) created->setUserData(exinfo->userdata);
        publish(created);
        *sound = created.get();
        return FMOD_OK;
    });
}

}  // namespace pw::sound
