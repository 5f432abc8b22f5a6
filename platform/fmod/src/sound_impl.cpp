#include "sound_impl.hpp"

#include <algorithm>
#include <climits>
#include <cstring>

#include "services.hpp"
#include "sound_format.hpp"

namespace pw::sound {

namespace {
constexpr FMOD_MODE kLoopBits = FMOD_LOOP_OFF | FMOD_LOOP_NORMAL | FMOD_LOOP_BIDI;

uint64_t packLoop(uint64_t start, uint64_t end) { return start << 32 | (end & 0xffffffffu); }

unsigned clampToUnsigned(uint64_t v) { return v > UINT_MAX ? UINT_MAX : static_cast<unsigned>(v); }
}  // namespace

SoundImpl::SoundImpl(FMOD::System* system, Kind kind, const Format& format, FMOD_MODE mode)
    : system_(system), kind_(kind), format_(format), mode_(mode), loopPoints_(0) {
    format_.frameBytes = static_cast<unsigned>(format_.channels) * bytesPerSample(format_.format);
    liveCounter(testhooks::Kind::Sound).fetch_add(1, std::memory_order_relaxed);
}

SoundImpl::~SoundImpl() {
    // A sound that was never published (a failed open) is counted here; published ones were
    // counted down by markReleased().
    if (!released_.load(std::memory_order_relaxed)) liveCounter(testhooks::Kind::Sound).fetch_sub(1);
}

void SoundImpl::setDecoder(std::unique_ptr<decode::Decoder> decoder) {
    decoder_ = std::move(decoder);
    lengthFrames_ = decoder_->info().lengthFrames;
    lengthExact_ = decoder_->info().lengthExact;
    loopPoints_.store(packLoop(0, lengthFrames_ ? clampToUnsigned(lengthFrames_ - 1) : 0));
}

void SoundImpl::setMemory(std::vector<unsigned char> pcm, bool userSound) {
    memory_ = std::move(pcm);
    user_ = userSound;
    lengthFrames_ = format_.frameBytes ? memory_.size() / format_.frameBytes : 0;
    loopPoints_.store(packLoop(0, lengthFrames_ ? clampToUnsigned(lengthFrames_ - 1) : 0));
}

void SoundImpl::addSubSound(std::shared_ptr<SoundImpl> sub) {
    sub->parent_ = this;
    subs_.push_back(std::move(sub));
}

void SoundImpl::addTag(SoundTag tag) {
    std::lock_guard<std::mutex> lock(tagMutex_);
    tags_.push_back(std::move(tag));
}

void SoundImpl::loopPoints(uint32_t* start, uint32_t* end) const {
    const uint64_t v = loopPoints_.load(std::memory_order_acquire);
    *start = static_cast<uint32_t>(v >> 32);
    *end = static_cast<uint32_t>(v & 0xffffffffu);
}

void SoundImpl::markReleased() {
    for (auto& sub : subs_) sub->markReleased();
    if (!released_.exchange(true, std::memory_order_acq_rel))
        liveCounter(testhooks::Kind::Sound).fetch_sub(1, std::memory_order_relaxed);
}

bool SoundImpl::toFrames(unsigned value, FMOD_TIMEUNIT unit, uint64_t* frames) const {
    switch (unit) {
    case FMOD_TIMEUNIT_MS: *frames = static_cast<uint64_t>(value) * static_cast<uint64_t>(format_.rate) / 1000; return true;
    case FMOD_TIMEUNIT_PCM: *frames = value; return true;
    case FMOD_TIMEUNIT_PCMBYTES:
        if (!format_.frameBytes) return false;
        *frames = value / format_.frameBytes;
        return true;
    default: return false;
    }
}

bool SoundImpl::fromFrames(uint64_t frames, FMOD_TIMEUNIT unit, unsigned* value) const {
    switch (unit) {
    case FMOD_TIMEUNIT_MS:
        *value = format_.rate > 0 ? clampToUnsigned(frames * 1000 / static_cast<uint64_t>(format_.rate)) : 0;
        return true;
    case FMOD_TIMEUNIT_PCM: *value = clampToUnsigned(frames); return true;
    case FMOD_TIMEUNIT_PCMBYTES: *value = clampToUnsigned(frames * format_.frameBytes); return true;
    default: return false;
    }
}

// ---- reading ----------------------------------------------------------------------------------

long SoundImpl::readLocked(uint64_t frame, void* dst, unsigned long frames) {
    if (kind_ == Kind::Memory) {
        if (frame >= lengthFrames_) return 0;
        const uint64_t n = std::min<uint64_t>(frames, lengthFrames_ - frame);
        const size_t offset = static_cast<size_t>(frame) * format_.frameBytes;
        const size_t bytes = static_cast<size_t>(n) * format_.frameBytes;
        // A user sound may be written by a recording thread right now.
        if (user_)
            atomicCopyOut(static_cast<unsigned char*>(dst), memory_.data() + offset, bytes);
        else
            std::memcpy(dst, memory_.data() + offset, bytes);
        return static_cast<long>(n);
    }
    if (kind_ != Kind::Stream || !decoder_) return 0;
    if (decoderPos_ != frame) {
        if (!decoder_->seek(frame)) return -1;
        decoderPos_ = frame;
    }
    const long got = decoder_->read(dst, frames);
    if (got > 0) decoderPos_ += static_cast<uint64_t>(got);
    return got;
}

long SoundImpl::readAt(uint64_t frame, void* dst, unsigned long frames) {
    std::lock_guard<std::mutex> lock(ioMutex_);
    return readLocked(frame, dst, frames);
}

FMOD_RESULT SoundImpl::readData(void* buffer, unsigned bytes, unsigned* read) {
    if (read) *read = 0;
    if (!buffer) return FMOD_ERR_INVALID_PARAM;
    if (kind_ == Kind::Container) return FMOD_ERR_FILE_EOF;
    if (bytes == 0) return FMOD_OK;
    const unsigned frameBytes = format_.frameBytes;
    const unsigned long wanted = bytes / frameBytes;
    if (wanted == 0) return FMOD_ERR_INVALID_PARAM;  // less than one frame asked for

    std::lock_guard<std::mutex> lock(ioMutex_);
    if (endReached_) return FMOD_ERR_FILE_EOF;
    auto* out = static_cast<unsigned char*>(buffer);
    unsigned long done = 0;
    FMOD_RESULT result = FMOD_OK;
    while (done < wanted) {
        const long got = readLocked(cursor_, out + done * frameBytes, wanted - done);
        if (got < 0) {
            result = FMOD_ERR_FILE_BAD;
            break;
        }
        if (got == 0) {
            result = FMOD_ERR_FILE_EOF;
            endReached_ = true;
            break;
        }
        done += static_cast<unsigned long>(got);
        cursor_ += static_cast<uint64_t>(got);
    }
    // A read that lands exactly on the end reports a full count; the next one reports the end.
    if (read) *read = static_cast<unsigned>(done * frameBytes);
    if (result == FMOD_ERR_FILE_EOF && done == 0) return FMOD_ERR_FILE_EOF;
    return result;
}

FMOD_RESULT SoundImpl::seekData(unsigned frame) {
    if (kind_ == Kind::Container) return FMOD_ERR_UNSUPPORTED;
    std::lock_guard<std::mutex> lock(ioMutex_);
    if (lengthExact_ && frame > lengthFrames_) return FMOD_ERR_INVALID_POSITION;
    if (kind_ == Kind::Stream && decoder_) {
        if (!decoder_->seek(frame)) return FMOD_ERR_INVALID_POSITION;
        decoderPos_ = frame;
    }
    cursor_ = frame;
    endReached_ = false;
    return FMOD_OK;
}

FMOD_RESULT SoundImpl::getLength(unsigned* length, FMOD_TIMEUNIT unit) {
    // The length is fixed at creation: no lock, so that a query never waits for a decode or a
    // seek in progress on this sound.
    unsigned value = 0;
    if (unit == FMOD_TIMEUNIT_RAWBYTES) {
        // Raw bytes are what a stream reads from its medium; for the PCM we keep or decode from
        // PCM media this is the PCM size. Compressed files have no meaningful figure here.
        if (kind_ == Kind::Stream && format_.type != FMOD_SOUND_TYPE_WAV && format_.type != FMOD_SOUND_TYPE_AIFF &&
            format_.type != FMOD_SOUND_TYPE_CDDA)
            return FMOD_ERR_UNSUPPORTED;
        unit = FMOD_TIMEUNIT_PCMBYTES;
    }
    if (!fromFrames(lengthFrames_, unit, &value)) return FMOD_ERR_INVALID_PARAM;
    if (length) *length = value;
    return FMOD_OK;
}

// ---- structure --------------------------------------------------------------------------------

FMOD_RESULT SoundImpl::getNumSubSounds(int* n) const {
    if (n) *n = static_cast<int>(subs_.size());
    return FMOD_OK;
}

FMOD_RESULT SoundImpl::getSubSound(int index, FMOD::Sound** sub) {
    if (sub) *sub = nullptr;
    if (index < 0 || static_cast<size_t>(index) >= subs_.size()) return FMOD_ERR_INVALID_PARAM;
    if (sub) *sub = subs_[static_cast<size_t>(index)].get();
    return FMOD_OK;
}

FMOD_RESULT SoundImpl::getNumTags(int* numtags, int* numupdated) {
    std::lock_guard<std::mutex> lock(tagMutex_);
    if (numtags) *numtags = static_cast<int>(tags_.size());
    if (numupdated) *numupdated = static_cast<int>(tags_.size() - nextTag_);
    return FMOD_OK;
}

FMOD_RESULT SoundImpl::getTag(const char* name, int index, FMOD_TAG* tag) {
    std::lock_guard<std::mutex> lock(tagMutex_);
    SoundTag* found = nullptr;
    if (index < 0) {
        // The next tag not read yet (with a name: the next unread one of that name).
        while (nextTag_ < tags_.size()) {
            SoundTag& t = tags_[nextTag_++];
            if (!name || t.name == name) {
                found = &t;
                break;
            }
        }
    } else {
        int seen = 0;
        for (auto& t : tags_) {
            if (name && t.name != name) continue;
            if (seen++ == index) {
                found = &t;
                break;
            }
        }
    }
    if (!found) return FMOD_ERR_TAGNOTFOUND;
    if (tag) {
        tag->type = found->type;
        tag->datatype = found->datatype;
        tag->name = &found->name[0];
        tag->data = found->data.data();
        tag->datalen = static_cast<unsigned>(found->data.size());
        tag->updated = false;
    }
    return FMOD_OK;
}

// ---- settings ---------------------------------------------------------------------------------

FMOD_RESULT SoundImpl::setMode(FMOD_MODE mode) {
    // Only the loop bits change after creation; they apply to the next playSound.
    const FMOD_MODE loop = mode & kLoopBits;
    if (!loop) return FMOD_OK;
    FMOD_MODE cur = mode_.load(std::memory_order_relaxed);
    while (!mode_.compare_exchange_weak(cur, (cur & ~kLoopBits) | loop, std::memory_order_relaxed)) {
    }
    return FMOD_OK;
}

FMOD_RESULT SoundImpl::setLoopPoints(unsigned start, FMOD_TIMEUNIT startUnit, unsigned end, FMOD_TIMEUNIT endUnit) {
    uint64_t s = 0;
    uint64_t e = 0;
    if (!toFrames(start, startUnit, &s) || !toFrames(end, endUnit, &e)) return FMOD_ERR_INVALID_PARAM;
    if (lengthFrames_ > 0) e = std::min<uint64_t>(e, lengthFrames_ - 1);
    if (s >= e) return FMOD_ERR_INVALID_PARAM;
    loopPoints_.store(packLoop(s, e), std::memory_order_release);
    return FMOD_OK;
}

FMOD_RESULT SoundImpl::getLoopPoints(unsigned* start, FMOD_TIMEUNIT startUnit, unsigned* end, FMOD_TIMEUNIT endUnit) {
    uint32_t s = 0;
    uint32_t e = 0;
    loopPoints(&s, &e);
    unsigned sv = 0;
    unsigned ev = 0;
    if (!fromFrames(s, startUnit, &sv) || !fromFrames(e, endUnit, &ev)) return FMOD_ERR_INVALID_PARAM;
    if (start) *start = sv;
    if (end) *end = ev;
    return FMOD_OK;
}

FMOD_RESULT SoundImpl::lock(unsigned offset, unsigned length, void** p1, void** p2, unsigned* l1, unsigned* l2) {
    if (p1) *p1 = nullptr;
    if (p2) *p2 = nullptr;
    if (l1) *l1 = 0;
    if (l2) *l2 = 0;
    if (kind_ != Kind::Memory) return FMOD_ERR_UNSUPPORTED;
    const size_t size = memory_.size();
    if (offset >= size || length == 0 || length > size) return FMOD_ERR_INVALID_PARAM;
    // The buffer is a ring: a span past the end continues at the start.
    const size_t first = std::min<size_t>(length, size - offset);
    if (p1) *p1 = memory_.data() + offset;
    if (l1) *l1 = static_cast<unsigned>(first);
    if (first < length) {
        if (p2) *p2 = memory_.data();
        if (l2) *l2 = static_cast<unsigned>(length - first);
    }
    return FMOD_OK;
}

FMOD_RESULT SoundImpl::unlock(void* p1, void* p2, unsigned l1, unsigned l2) {
    if (kind_ != Kind::Memory) return FMOD_ERR_UNSUPPORTED;
    auto inside = [this](void* p, unsigned len) {
        if (!p) return len == 0;
        auto* b = static_cast<unsigned char*>(p);
        return b >= memory_.data() && b + len <= memory_.data() + memory_.size();
    };
    if (!p1 || !inside(p1, l1) || !inside(p2, l2)) return FMOD_ERR_INVALID_PARAM;
    return FMOD_OK;
}

}  // namespace pw::sound
