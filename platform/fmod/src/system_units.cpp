// Creating units (custom and built in) and attaching them at system level.
#include <cstring>

#include "system_impl.hpp"

using pw::mix::DSPImpl;
using pw::mix::SystemImpl;

namespace pw::mix {

// Graph lock held. Registers a new unit on the system; throws bad_alloc (the unit freed).
DSPImpl* registerUnit(SystemImpl* s, std::unique_ptr<DSPImpl> unit) {
    s->units.push_back(unit.get());
    unit->system = s;
    unit->state.instance = unit.get();
    unit->connection.unit = unit.get();
    unit->defaultFrequency.store(static_cast<float>(s->mixRate.load(std::memory_order_relaxed)),
                                 std::memory_order_relaxed);
    liveCounter(testhooks::Kind::DSP).fetch_add(1, std::memory_order_relaxed);
    return unit.release();
}

}  // namespace pw::mix

FMOD_RESULT FMOD::System::createDSP(FMOD_DSP_DESCRIPTION* description, DSP** dsp) {
    auto* s = SystemImpl::cast(this);
    if (!description || !dsp) return FMOD_ERR_INVALID_PARAM;
    *dsp = nullptr;
    if (description->channels < 0 || description->channels > pw::mix::kMaxInputs) return FMOD_ERR_INVALID_PARAM;
    if (description->numparameters < 0 || (description->numparameters > 0 && !description->paramdesc))
        return FMOD_ERR_INVALID_PARAM;
    DSPImpl* raw = nullptr;
    const FMOD_RESULT made = pw::guarded([&] {
        auto unit = std::make_unique<DSPImpl>();
        unit->description = *description;
        unit->description.name[sizeof(unit->description.name) - 1] = '\0';
        unit->userData.store(description->userdata, std::memory_order_relaxed);
        // Created inactive and not bypassed: it runs once something attaches it.
        std::lock_guard<std::mutex> lock(s->graphLock);
        raw = pw::mix::registerUnit(s, std::move(unit));
        return FMOD_OK;
    });
    if (made != FMOD_OK) return made;
    if (raw->description.create) {
        const FMOD_RESULT result = raw->description.create(&raw->state);
        if (result != FMOD_OK) {
            std::lock_guard<std::mutex> lock(s->graphLock);
            raw->description.release = nullptr;  // nothing was created to release
            pw::mix::destroyUnit(s, raw);
            return result;
        }
    }
    *dsp = raw;
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::createDSPByType(FMOD_DSP_TYPE type, DSP** dsp) {
    auto* s = SystemImpl::cast(this);
    if (!dsp) return FMOD_ERR_INVALID_PARAM;
    *dsp = nullptr;
    const char* name = pw::mix::builtinName(type);
    if (!name) return FMOD_ERR_UNSUPPORTED;
    unsigned maxFrames = 0;
    int rate = 0;
    {
        std::lock_guard<std::mutex> lock(s->configLock);
        maxFrames = s->initialised.load(std::memory_order_acquire) ? s->blockFrames : s->config.dspLength;
        rate = s->mixRate.load(std::memory_order_relaxed);
    }
    return pw::guarded([&, type] {  // `type` by value, as `window` in spectrum.cpp
        auto effect = pw::fx::createEffect(type, rate, maxFrames);
        if (!effect) return FMOD_ERR_UNSUPPORTED;
        auto unit = std::make_unique<DSPImpl>();
        std::strncpy(unit->description.name, name, sizeof(unit->description.name) - 1);
        unit->description.version = 1;
        unit->description.numparameters = effect->numParameters();
        unit->type = type;
        unit->effect = std::move(effect);
        unit->effectMaxFrames = maxFrames;
        std::lock_guard<std::mutex> lock(s->graphLock);
        *dsp = pw::mix::registerUnit(s, std::move(unit));
        return FMOD_OK;
    });
}

FMOD_RESULT FMOD::System::addDSP(DSP* dsp, DSPConnection** connection) {
    auto* s = SystemImpl::cast(this);
    if (!dsp || DSPImpl::cast(dsp)->system != s) return FMOD_ERR_INVALID_PARAM;
    if (s->onMixerThread()) return FMOD_ERR_INVALID_THREAD;
    return pw::guarded([&] {
        std::lock_guard<std::mutex> lock(s->graphLock);
        pw::mix::attachUnit(s, s->systemChain, DSPImpl::cast(dsp));
        if (connection) *connection = &DSPImpl::cast(dsp)->connection;
        return FMOD_OK;
    });
}

FMOD_RESULT FMOD::System::getMasterChannelGroup(ChannelGroup** channelgroup) {
    if (!channelgroup) return FMOD_ERR_INVALID_PARAM;
    *channelgroup = &SystemImpl::cast(this)->master;
    return FMOD_OK;
}
