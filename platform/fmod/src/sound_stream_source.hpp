// Streams on a channel: StreamFeed (the prefetch worker's side) and StreamSource (the mixer's
// side), joined by a BlockRing.
//
// The worker decodes ahead into the ring, applying loops and seeks as it produces: each block
// says where in the sound it starts, so the mixer's position follows loops and seeks exactly. A
// seek raises the PlayControl's generation; the mixer discards queued blocks of older
// generations and plays silence until the first block of the new one arrives. An empty ring is
// an underrun: silence with a full count, never a wait, and the channel keeps playing.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "sound_block_ring.hpp"
#include "sound_source.hpp"

namespace pw::sound {

class StreamFeed {
public:
    StreamFeed(std::shared_ptr<SoundImpl> sound, std::shared_ptr<PlayControl> ctl);

    // Producer: the prefetch worker (or the thread that starts the playback, before the worker
    // sees the feed). Fills the ring as far as it has room; reads the file.
    void produce();

    // Set by the source when its channel drops it; the worker then forgets the feed.
    std::atomic<bool> dead{false};
    BlockRing& ring() { return ring_; }

    // Any thread except the mixer's: asks the worker to produce now (a seek, a loop change, the
    // channel gone, the service stopping) instead of at its next poll.
    void wake();
    // Worker: waits until wake() or `timeout`, whichever comes first.
    void waitForWork(std::chrono::milliseconds timeout);
    // Worker, after produce(): true while the current seek has no audio queued yet, because the
    // ring is still full of blocks from before it (the mixer drops those only as it pulls, and a
    // paused channel pulls nothing). The worker must then look again soon: once the mixer has
    // dropped them, nothing else would tell it the ring is empty.
    bool waitingForRoom() const { return !seekAnswered_; }

private:
    void pushEnd(uint32_t gen);

    std::shared_ptr<SoundImpl> sound_;
    std::shared_ptr<PlayControl> ctl_;
    BlockRing ring_;
    std::mutex wakeMutex_;
    std::condition_variable wakeCv_;
    bool wakeRequested_ = false;  // under wakeMutex_
    std::vector<unsigned char> scratch_;  // one block in the sound's format
    uint64_t length_;                     // where the audio ends when not looping
    // Producer state.
    uint32_t producedGen_ = 0;
    uint64_t nextFrame_ = 0;
    bool producerEnded_ = false;
    bool seekAnswered_ = true;  // a block (or the end) of producedGen_ is queued
};

class StreamSource final : public SoundSource {
public:
    explicit StreamSource(std::shared_ptr<SoundImpl> sound);
    ~StreamSource() override;

    const std::shared_ptr<PlayControl>& control() const { return ctl_; }
    void attachFeed(std::shared_ptr<StreamFeed> feed) { feed_ = std::move(feed); }

    // Mixer thread only: takes blocks from the ring; never allocates, never blocks.
    unsigned pull(float* out, unsigned frames) override;

private:
    void settingsChanged() override {
        ctl_->requestSeek(ctl_->reportedPosition());
        seekRequested();
    }
    void seekRequested() override {
        if (feed_) feed_->wake();
    }

    std::shared_ptr<StreamFeed> feed_;
    unsigned offset_ = 0;         // frames already taken from the front block
    uint32_t appliedGen_ = 0;     // mixer thread only
};

// Makes the feed and source of a stream playback, with the ring already filled as far as it goes
// (so a channel started now has audio at once). The caller hands the feed to the prefetch worker.
std::unique_ptr<StreamSource> makeStreamSource(const std::shared_ptr<SoundImpl>& sound,
                                               std::shared_ptr<StreamFeed>* feed);

}  // namespace pw::sound
