#include "sound_registry.hpp"

#include <algorithm>
#include <map>
#include <mutex>
#include <vector>

#include "record_registry.hpp"
#include "services.hpp"
#include "sound_prefetch.hpp"

namespace pw::sound {

namespace {

struct SystemSounds {
    std::vector<std::shared_ptr<SoundImpl>> sounds;  // top-level sounds, until released
    std::shared_ptr<PrefetchService> prefetch;
};

// Never destroyed: a system may be released from a static destructor at process exit, after
// function-local statics of this file would be gone.
std::mutex& tableMutex() {
    static auto* m = new std::mutex;
    return *m;
}

std::map<FMOD::System*, SystemSounds>& table() {
    static auto* t = new std::map<FMOD::System*, SystemSounds>;
    return *t;
}

std::shared_ptr<SoundImpl> findLocked(const SoundImpl* s) {
    for (auto& [system, entry] : table()) {
        for (auto& top : entry.sounds) {
            if (top.get() == s) return top;
            for (auto& sub : top->subSounds())
                if (sub.get() == s) return sub;
        }
    }
    return nullptr;
}

}  // namespace

void publish(const std::shared_ptr<SoundImpl>& sound) {
    std::lock_guard<std::mutex> lock(tableMutex());
    table()[sound->system()].sounds.push_back(sound);
}

std::shared_ptr<SoundImpl> lookup(FMOD::Sound* sound) {
    if (!sound) return nullptr;
    std::lock_guard<std::mutex> lock(tableMutex());
    return findLocked(SoundImpl::from(sound));
}

FMOD_RESULT release(SoundImpl* sound) {
    std::shared_ptr<SoundImpl> keep;
    {
        std::lock_guard<std::mutex> lock(tableMutex());
        auto found = findLocked(sound);
        if (!found) return FMOD_ERR_INVALID_HANDLE;
        if (found->isSubSound()) return FMOD_OK;  // the parent frees it
        auto& list = table()[found->system()].sounds;
        list.erase(std::remove(list.begin(), list.end(), found), list.end());
        keep = std::move(found);
    }
    stopRecordingsInto(keep.get());
    for (auto& sub : keep->subSounds()) stopRecordingsInto(sub.get());
    keep->markReleased();
    return FMOD_OK;  // `keep` goes here unless a channel still plays it
}

std::shared_ptr<PrefetchService> prefetchFor(FMOD::System* system) {
    std::shared_ptr<PrefetchService> service;
    {
        std::lock_guard<std::mutex> lock(tableMutex());
        auto& entry = table()[system];
        if (!entry.prefetch) entry.prefetch = std::make_shared<PrefetchService>();
        service = entry.prefetch;
    }
    return service->start() ? service : nullptr;
}

}  // namespace pw::sound

namespace pw {

void releaseSoundsOf(FMOD::System* system) {
    sound::stopRecordingsOf(system);
    sound::SystemSounds entry;
    {
        std::lock_guard<std::mutex> lock(sound::tableMutex());
        auto it = sound::table().find(system);
        if (it == sound::table().end()) return;
        entry = std::move(it->second);
        sound::table().erase(it);
    }
    if (entry.prefetch) entry.prefetch->stop();
    for (auto& s : entry.sounds) s->markReleased();
}

}  // namespace pw
