// SoundHandles: the set of sounds the engine opened and has not yet closed.
//
// Java holds an open sound as a 64-bit integer (the sound's address) and hands it back unchanged.
// A made-up, stale or already closed number must never reach the audio library as a pointer: every
// operation that takes a handle looks it up here first, comparing integers only. The opener adds
// each sound it hands out; the closer takes it out again before releasing it.
//
// A sound cut from a CD stream (one track of the disc) is registered with that stream as its
// parent: the closer releases the parent too, since the opener keeps no other reference to it.
//
// Thread safety
// - Every call may come from any thread; one mutex of its own guards the set (an innermost lock:
//   nothing else is taken while it is held).
// - A user pins a handle (acquire / SoundHandleLease) for the duration of its audio-library calls.
//   take() first marks the handle closing, so that no new pin succeeds, then waits until the
//   pins held are released. A thread must therefore never take() a handle it has pinned itself.
// - A user that reads the sound's audio (seeks and reads: the analyses) pins it as its one reader
//   (acquireReader / SoundHandleReadLease): the sound has a single decoder position, so a second
//   reader waits until the first is done, and gives up (null) when the handle starts closing
//   meanwhile. The wait may last a whole analysis: never from the audio thread, and never while
//   holding a lock that the reader in progress may need.
// - Not for real-time code: it locks and allocates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "fmod.hpp"

class SoundHandles {
public:
    // Registers an open sound (and the CD stream it came from, or null).
    static void add(FMOD::Sound* sound, FMOD::Sound* parent);

    // Pins an open sound and returns it; null for 0, an unknown handle or one being closed.
    // Every non-null result is paired with one unpin().
    static FMOD::Sound* acquire(uint64_t handle);
    static void unpin(FMOD::Sound* sound);

    // As acquire(), as the sound's only reader: waits while another reader has it. Null also when
    // the handle starts closing during the wait. Every non-null result is paired with one
    // releaseReader().
    static FMOD::Sound* acquireReader(uint64_t handle);
    static void releaseReader(FMOD::Sound* sound);

    // Takes an open sound out of the set, waiting until no pin on it remains. False for 0, an
    // unknown handle or one another thread is already closing. *parent gets the CD stream to
    // release with it (null when none).
    static bool take(uint64_t handle, FMOD::Sound** parent);

    static bool contains(uint64_t handle);
    static size_t count();

    // Takes every open sound out of the set, waiting until no pin remains, and returns them with
    // their parents (sound, parent) for the caller to close: for shutdown.
    static std::vector<std::pair<FMOD::Sound*, FMOD::Sound*>> takeAll();

    // Forgets every handle at once without waiting.
    static void clear();
};

// Pins a handle for a scope.
class SoundHandleLease {
public:
    explicit SoundHandleLease(uint64_t handle) : m_sound(SoundHandles::acquire(handle)) {}
    ~SoundHandleLease() {
        if (m_sound) SoundHandles::unpin(m_sound);
    }
    SoundHandleLease(const SoundHandleLease&) = delete;
    SoundHandleLease& operator=(const SoundHandleLease&) = delete;

    // The open sound, or null when the handle is not one.
    FMOD::Sound* get() const { return m_sound; }

private:
    FMOD::Sound* m_sound;
};

// Pins a handle for a scope as its only reader (see acquireReader).
class SoundHandleReadLease {
public:
    explicit SoundHandleReadLease(uint64_t handle) : m_sound(SoundHandles::acquireReader(handle)) {}
    ~SoundHandleReadLease() {
        if (m_sound) SoundHandles::releaseReader(m_sound);
    }
    SoundHandleReadLease(const SoundHandleReadLease&) = delete;
    SoundHandleReadLease& operator=(const SoundHandleReadLease&) = delete;

    // The open sound, or null when the handle is not one (or was closed while waiting).
    FMOD::Sound* get() const { return m_sound; }

private:
    FMOD::Sound* m_sound;
};
