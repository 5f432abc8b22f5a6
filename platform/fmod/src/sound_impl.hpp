// SoundImpl: the object behind every FMOD::Sound handle.
//
// Three kinds share one class because the engine treats them alike through one handle type:
// - Stream: audio is decoded on demand from a decoder (file streams, "open only" files, CD
//   tracks). A stream that plays is fed by the prefetch worker (sound_prefetch.hpp), never by the
//   mixer thread.
// - Memory: the whole audio is PCM in memory in the sound's own format (decoded samples and user
//   sounds). The mixer thread reads it directly.
// - Container: no audio of its own, only sub-sounds and tags (an audio CD: one sub-sound per
//   track and a table-of-contents tag).
//
// Ownership: the registry (sound_registry.hpp) holds top-level sounds by shared_ptr until
// release; a container holds its sub-sounds; a playing source or a recording holds the sound it
// uses, so release never pulls memory from under the mixer. After release the handle is dead for
// the caller; sources see `released()` and end.
//
// Thread safety: every method may be called from any thread. readData and seekData are
// serialised by `ioMutex_` (the prefetch worker and Java threads share a stream); getLength reads
// the length fixed at creation without it, so it never waits for a decode. Settings
// (mode, loop points, user data) are atomics. The mixer thread never calls into this class
// except the lock-free accessors marked "mixer-safe".
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cd.hpp"
#include "decoder.hpp"
#include "fmod.hpp"

namespace pw::sound {

struct SoundTag {
    FMOD_TAGTYPE type = FMOD_TAGTYPE_USER;
    FMOD_TAGDATATYPE datatype = FMOD_TAGDATATYPE_BINARY;
    std::string name;
    std::vector<unsigned char> data;
};

struct SoundImpl : FMOD::Sound, std::enable_shared_from_this<SoundImpl> {
    enum class Kind { Stream, Memory, Container };

    // The shape of the audio. Fixed once the sound is created.
    struct Format {
        int channels = 0;
        int rate = 0;
        int bits = 16;
        FMOD_SOUND_FORMAT format = FMOD_SOUND_FORMAT_PCM16;
        FMOD_SOUND_TYPE type = FMOD_SOUND_TYPE_UNKNOWN;
        unsigned frameBytes = 0;
    };

    SoundImpl(FMOD::System* system, Kind kind, const Format& format, FMOD_MODE mode);
    ~SoundImpl();
    SoundImpl(const SoundImpl&) = delete;
    SoundImpl& operator=(const SoundImpl&) = delete;

    static SoundImpl* from(FMOD::Sound* s) { return static_cast<SoundImpl*>(s); }

    // ---- Construction (before the sound is published) ----
    void setDecoder(std::unique_ptr<decode::Decoder> decoder);     // Stream
    void setMemory(std::vector<unsigned char> pcm, bool userSound);  // Memory
    void addSubSound(std::shared_ptr<SoundImpl> sub);               // Container
    void addTag(SoundTag tag);
    void keepDisc(std::shared_ptr<cd::Disc> disc) { disc_ = std::move(disc); }

    // ---- Queries (any thread; mixer-safe) ----
    FMOD::System* system() const { return system_; }
    Kind kind() const { return kind_; }
    const Format& format() const { return format_; }
    bool isUserSound() const { return user_; }
    bool isSubSound() const { return parent_ != nullptr; }
    // Frames of audio: exact for memory sounds; the decoder's count (exact or estimated) for streams.
    uint64_t lengthFrames() const { return lengthFrames_; }
    // false when the length is the decoder's estimate (an MP3 opened without a scan).
    bool lengthExact() const { return lengthExact_; }
    bool released() const { return released_.load(std::memory_order_acquire); }
    FMOD_MODE mode() const { return mode_.load(std::memory_order_relaxed); }
    // Loop points in frames, inclusive end.
    void loopPoints(uint32_t* start, uint32_t* end) const;
    // Memory sounds: the PCM bytes (size fixed for the sound's life).
    unsigned char* memory() { return memory_.data(); }
    size_t memoryBytes() const { return memory_.size(); }

    // ---- The FMOD::Sound calls ----
    FMOD_RESULT readData(void* buffer, unsigned bytes, unsigned* read);
    FMOD_RESULT seekData(unsigned frame);
    FMOD_RESULT getLength(unsigned* length, FMOD_TIMEUNIT unit);
    FMOD_RESULT getNumSubSounds(int* n) const;
    FMOD_RESULT getSubSound(int index, FMOD::Sound** sub);
    FMOD_RESULT getNumTags(int* numtags, int* numupdated);
    FMOD_RESULT getTag(const char* name, int index, FMOD_TAG* tag);
    FMOD_RESULT setMode(FMOD_MODE mode);
    FMOD_RESULT setLoopPoints(unsigned start, FMOD_TIMEUNIT startUnit, unsigned end, FMOD_TIMEUNIT endUnit);
    FMOD_RESULT getLoopPoints(unsigned* start, FMOD_TIMEUNIT startUnit, unsigned* end, FMOD_TIMEUNIT endUnit);
    FMOD_RESULT lock(unsigned offset, unsigned length, void** p1, void** p2, unsigned* l1, unsigned* l2);
    FMOD_RESULT unlock(void* p1, void* p2, unsigned l1, unsigned l2);
    void setUserData(void* data) { userData_.store(data, std::memory_order_release); }
    void* userData() const { return userData_.load(std::memory_order_acquire); }

    // ---- For the prefetch worker ----
    // Reads up to `frames` frames starting at `frame` without moving the readData cursor.
    // Returns frames read, 0 at the end, -1 on a read error. Takes the I/O lock.
    long readAt(uint64_t frame, void* dst, unsigned long frames);

    // ---- Lifetime ----
    // Marks this sound and its sub-sounds released (counted once each). The registry calls it.
    void markReleased();
    const std::vector<std::shared_ptr<SoundImpl>>& subSounds() const { return subs_; }

    // Time-unit conversion: a length or position in `unit` to frames and back. false: bad unit.
    bool toFrames(unsigned value, FMOD_TIMEUNIT unit, uint64_t* frames) const;
    bool fromFrames(uint64_t frames, FMOD_TIMEUNIT unit, unsigned* value) const;

private:
    long readLocked(uint64_t frame, void* dst, unsigned long frames);

    FMOD::System* const system_;
    const Kind kind_;
    Format format_;
    bool user_ = false;
    uint64_t lengthFrames_ = 0;
    bool lengthExact_ = true;

    std::mutex ioMutex_;                         // guards everything below up to the tags
    std::unique_ptr<decode::Decoder> decoder_;
    uint64_t decoderPos_ = 0;                    // where the decoder's next read starts
    uint64_t cursor_ = 0;                        // where the caller's next readData starts
    bool endReached_ = false;                    // the last readData ended the audio
    std::vector<unsigned char> memory_;

    std::mutex tagMutex_;
    std::vector<SoundTag> tags_;
    size_t nextTag_ = 0;

    std::vector<std::shared_ptr<SoundImpl>> subs_;
    SoundImpl* parent_ = nullptr;
    std::shared_ptr<cd::Disc> disc_;

    std::atomic<FMOD_MODE> mode_;
    std::atomic<uint64_t> loopPoints_;           // start << 32 | end, frames
    std::atomic<void*> userData_{nullptr};
    std::atomic<bool> released_{false};
};

}  // namespace pw::sound
