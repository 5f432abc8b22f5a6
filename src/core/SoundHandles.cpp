// The set of open sound handles; see SoundHandles.h for the contract.
#include "SoundHandles.h"

#include <condition_variable>
#include <mutex>
#include <unordered_map>

namespace {

struct Entry {
    FMOD::Sound* parent = nullptr;
    int pins = 0;
    bool closing = false;
    bool reading = false;  // a reader (acquireReader) holds one of the pins
};

// Function-local statics: other subsystems' static objects may close sounds while the process
// ends, so the set must not depend on the order of static construction.
struct Registry {
    std::mutex mutex;
    std::condition_variable changed;  // a pin let go, a reader done, a handle closing
    std::unordered_map<uint64_t, Entry> entries;
};

Registry& registry() {
    static Registry* instance = new Registry();  // never destroyed: usable during static teardown
    return *instance;
}

uint64_t keyOf(FMOD::Sound* sound) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(sound)); }

}  // namespace

void SoundHandles::add(FMOD::Sound* sound, FMOD::Sound* parent) {
    if (sound == nullptr) return;
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.mutex);
    Entry& e = r.entries[keyOf(sound)];
    // The audio library reuses an address only after the sound at it was released; a stale entry
    // (a sound freed by shutdown) is simply replaced.
    e = Entry();
    e.parent = parent;
}

FMOD::Sound* SoundHandles::acquire(uint64_t handle) {
    if (handle == 0) return nullptr;
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.mutex);
    auto it = r.entries.find(handle);
    if (it == r.entries.end() || it->second.closing) return nullptr;
    ++it->second.pins;
    return reinterpret_cast<FMOD::Sound*>(static_cast<uintptr_t>(handle));
}

FMOD::Sound* SoundHandles::acquireReader(uint64_t handle) {
    if (handle == 0) return nullptr;
    Registry& r = registry();
    std::unique_lock<std::mutex> hold(r.mutex);
    auto it = r.entries.find(handle);
    if (it == r.entries.end() || it->second.closing) return nullptr;
    // Pinned while waiting, so that a close waits for this reader too and wakes it (closing).
    ++it->second.pins;
    r.changed.wait(hold, [&r, handle] {
        auto found = r.entries.find(handle);
        return found == r.entries.end() || found->second.closing || !found->second.reading;
    });
    it = r.entries.find(handle);
    if (it == r.entries.end()) return nullptr;  // clear() forgot it, the pin with it
    if (it->second.closing) {
        --it->second.pins;
        hold.unlock();
        r.changed.notify_all();
        return nullptr;
    }
    it->second.reading = true;
    return reinterpret_cast<FMOD::Sound*>(static_cast<uintptr_t>(handle));
}

void SoundHandles::releaseReader(FMOD::Sound* sound) {
    Registry& r = registry();
    {
        std::lock_guard<std::mutex> hold(r.mutex);
        auto it = r.entries.find(keyOf(sound));
        if (it == r.entries.end() || it->second.pins == 0) return;
        it->second.reading = false;
        --it->second.pins;
    }
    r.changed.notify_all();
}

void SoundHandles::unpin(FMOD::Sound* sound) {
    Registry& r = registry();
    {
        std::lock_guard<std::mutex> hold(r.mutex);
        auto it = r.entries.find(keyOf(sound));
        // Gone already when clear() ran meanwhile.
        if (it == r.entries.end() || it->second.pins == 0) return;
        --it->second.pins;
    }
    r.changed.notify_all();
}

bool SoundHandles::take(uint64_t handle, FMOD::Sound** parent) {
    if (parent) *parent = nullptr;
    if (handle == 0) return false;
    Registry& r = registry();
    std::unique_lock<std::mutex> hold(r.mutex);
    auto it = r.entries.find(handle);
    if (it == r.entries.end() || it->second.closing) return false;
    it->second.closing = true;
    r.changed.notify_all();  // readers waiting for this handle give up
    r.changed.wait(hold, [&r, handle] {
        auto found = r.entries.find(handle);
        return found == r.entries.end() || found->second.pins == 0;
    });
    it = r.entries.find(handle);
    if (it == r.entries.end()) return false;  // clear() forgot it while we waited
    if (parent) *parent = it->second.parent;
    r.entries.erase(it);
    return true;
}

bool SoundHandles::contains(uint64_t handle) {
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.mutex);
    auto it = r.entries.find(handle);
    return it != r.entries.end() && !it->second.closing;
}

size_t SoundHandles::count() {
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.mutex);
    return r.entries.size();
}

std::vector<std::pair<FMOD::Sound*, FMOD::Sound*>> SoundHandles::takeAll() {
    Registry& r = registry();
    std::unique_lock<std::mutex> hold(r.mutex);
    for (auto& entry : r.entries) entry.second.closing = true;
    r.changed.notify_all();
    r.changed.wait(hold, [&r] {
        for (const auto& entry : r.entries)
            if (entry.second.pins > 0) return false;
        return true;
    });
    std::vector<std::pair<FMOD::Sound*, FMOD::Sound*>> taken;
    taken.reserve(r.entries.size());
    for (const auto& entry : r.entries)
        taken.emplace_back(reinterpret_cast<FMOD::Sound*>(static_cast<uintptr_t>(entry.first)), entry.second.parent);
    r.entries.clear();
    return taken;
}

void SoundHandles::clear() {
    Registry& r = registry();
    {
        std::lock_guard<std::mutex> hold(r.mutex);
        r.entries.clear();
    }
    r.changed.notify_all();
}
