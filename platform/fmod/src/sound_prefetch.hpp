// PrefetchService: one worker thread per system that keeps the rings of its playing streams
// full, so that the mixer thread never reads a file.
//
// Thread safety: add() and stop() from any thread. The worker holds a reference to each feed
// until the feed's source marks it dead, so the feed (and a released sound it keeps alive) is
// freed on the worker, not on the mixer thread that drops the source.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "sound_stream_source.hpp"

namespace pw::sound {

class PrefetchService {
public:
    PrefetchService() = default;
    ~PrefetchService();
    PrefetchService(const PrefetchService&) = delete;
    PrefetchService& operator=(const PrefetchService&) = delete;

    // Starts the worker. false when the thread cannot be created.
    bool start();
    // Hands a primed feed to the worker and wakes it.
    void add(std::shared_ptr<StreamFeed> feed);
    // Stops and joins the worker and forgets every feed. Idempotent.
    void stop();

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    bool running_ = false;
    bool wakeRequested_ = false;
    std::vector<std::shared_ptr<StreamFeed>> feeds_;
    std::thread thread_;
};

}  // namespace pw::sound
