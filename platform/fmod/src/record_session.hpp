// RecordSession: one recording from a record driver into a memory sound (a user sound), on a
// thread of its own.
//
// The sound's buffer is used as a ring: the thread writes each block the input delivers at the
// record position and moves on; while looping it wraps to the start, otherwise it stops at the
// end of the buffer. The same sound may play on a channel meanwhile: both sides copy the shared
// bytes with relaxed atomics (sound_format.hpp).
//
// Thread safety: start() and stop() from one controlling thread (the record registry);
// running() and position() from any thread.
#pragma once

#include <atomic>
#include <memory>
#include <thread>

#include "device.hpp"
#include "sound_impl.hpp"

namespace pw::sound {

class RecordSession {
public:
    RecordSession(std::shared_ptr<SoundImpl> sound, bool loop);
    ~RecordSession();
    RecordSession(const RecordSession&) = delete;
    RecordSession& operator=(const RecordSession&) = delete;

    // Opens record driver `id` of `backend` in the sound's channels and rate and starts the
    // thread. FMOD_ERR_RECORD when the input cannot open, FMOD_ERR_MEMORY when no thread starts.
    FMOD_RESULT start(dev::Backend& backend, int id);
    // Aborts the input and joins the thread. Idempotent.
    void stop();

    bool running() const { return running_.load(std::memory_order_acquire); }
    // The frame the next block is written at.
    unsigned position() const { return position_.load(std::memory_order_acquire); }
    const SoundImpl* sound() const { return sound_.get(); }

private:
    void run();

    std::shared_ptr<SoundImpl> sound_;
    const bool loop_;
    std::unique_ptr<dev::InputStream> input_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<unsigned> position_{0};
};

}  // namespace pw::sound
