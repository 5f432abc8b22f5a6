#include "record_registry.hpp"

#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "record_session.hpp"
#include "services.hpp"

namespace pw::sound {

namespace {

using Key = std::pair<FMOD::System*, int>;

// Never destroyed, like the sound table: systems may be released during static destruction.
std::mutex& mutex() {
    static auto* m = new std::mutex;
    return *m;
}

std::map<Key, std::unique_ptr<RecordSession>>& sessions() {
    static auto* s = new std::map<Key, std::unique_ptr<RecordSession>>;
    return *s;
}

int recordDriverCount(FMOD::System* system) {
    dev::Backend* backend = systemBackend(system);
    return backend ? static_cast<int>(backend->recordDrivers().size()) : 0;
}

// Stops the matching sessions one by one, each taken out of the table first and stopped without
// the lock. Allocates nothing, so that releasing a system or a sound always stops its recordings.
template <typename Pred>
void stopIf(Pred pred) {
    for (;;) {
        std::unique_ptr<RecordSession> taken;
        {
            std::lock_guard<std::mutex> lock(mutex());
            auto it = sessions().begin();
            while (it != sessions().end() && !pred(it->first, *it->second)) ++it;
            if (it == sessions().end()) return;
            taken = std::move(it->second);
            sessions().erase(it);
        }
        taken->stop();
    }
}

}  // namespace

FMOD_RESULT recordStart(FMOD::System* system, int id, const std::shared_ptr<SoundImpl>& sound, bool loop) {
    if (!sound || sound->kind() != SoundImpl::Kind::Memory || sound->lengthFrames() == 0) return FMOD_ERR_INVALID_PARAM;
    dev::Backend* backend = systemBackend(system);
    if (!backend || id < 0 || id >= recordDriverCount(system)) return FMOD_ERR_INVALID_PARAM;

    // A driver records into one sound at a time: a new start replaces the running recording.
    recordStop(system, id);
    auto session = std::make_unique<RecordSession>(sound, loop);
    const FMOD_RESULT r = session->start(*backend, id);
    if (r != FMOD_OK) return r;
    std::unique_ptr<RecordSession> replaced;
    {
        std::lock_guard<std::mutex> lock(mutex());
        auto& slot = sessions()[Key(system, id)];
        replaced = std::move(slot);
        slot = std::move(session);
    }
    if (replaced) replaced->stop();  // a start that raced with ours
    return FMOD_OK;
}

FMOD_RESULT recordStop(FMOD::System* system, int id) {
    if (id < 0) return FMOD_ERR_INVALID_PARAM;
    stopIf([&](const Key& k, const RecordSession&) { return k.first == system && k.second == id; });
    return FMOD_OK;
}

FMOD_RESULT isRecording(FMOD::System* system, int id, bool* recording) {
    if (recording) *recording = false;
    if (id < 0) return FMOD_ERR_INVALID_PARAM;
    std::lock_guard<std::mutex> lock(mutex());
    auto it = sessions().find(Key(system, id));
    if (recording) *recording = it != sessions().end() && it->second->running();
    return FMOD_OK;
}

FMOD_RESULT recordPosition(FMOD::System* system, int id, unsigned* position) {
    if (position) *position = 0;
    if (id < 0) return FMOD_ERR_INVALID_PARAM;
    std::lock_guard<std::mutex> lock(mutex());
    auto it = sessions().find(Key(system, id));
    if (position && it != sessions().end()) *position = it->second->position();
    return FMOD_OK;
}

void stopRecordingsOf(FMOD::System* system) {
    stopIf([&](const Key& k, const RecordSession&) { return k.first == system; });
}

void stopRecordingsInto(const SoundImpl* sound) {
    stopIf([&](const Key&, const RecordSession& s) { return s.sound() == sound; });
}

}  // namespace pw::sound
