// PrefetchService: keeps the rings of a system's playing streams full, so that the mixer thread
// never reads a file.
//
// Every stream playback gets a worker thread of its own. A stream's decode or seek can take long
// (a seek in a long AAC file, a slow disk, a network mount), and a worker shared by several
// streams would let that one stream starve the others' rings until they run dry; with one worker
// each, a slow stream only delays itself.
//
// A worker produces, then sleeps until its feed is woken (a seek, a loop change, the channel
// gone) or its poll interval passes.
//
// Thread safety: add() and stop() from any thread. A worker holds a reference to its feed until
// the feed's source marks it dead, so the feed (and a released sound it keeps alive) is freed on
// the worker, not on the thread that drops the source.
#pragma once

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "sound_stream_source.hpp"

namespace pw::sound {

class PrefetchService {
public:
    PrefetchService() = default;
    ~PrefetchService();
    PrefetchService(const PrefetchService&) = delete;
    PrefetchService& operator=(const PrefetchService&) = delete;

    // Accepts feeds again (after stop()). Always true; kept for the callers' start-up check.
    bool start();
    // Starts a worker for a primed feed. false when the thread cannot be created: the caller
    // must not start the playback then.
    bool add(std::shared_ptr<StreamFeed> feed);
    // Stops and joins every worker and forgets every feed. Idempotent.
    void stop();

private:
    struct Worker {
        std::shared_ptr<StreamFeed> feed;
        std::thread thread;
        std::atomic<bool> finished{false};
    };
    void run(Worker* worker);
    // mutex_ held: joins workers whose feed has gone (they have returned or are returning).
    void reapFinished();

    std::mutex mutex_;
    bool running_ = true;                  // under mutex_: add() accepts feeds
    std::atomic<bool> stopping_{false};    // workers leave
    std::list<std::unique_ptr<Worker>> workers_;
};

}  // namespace pw::sound
