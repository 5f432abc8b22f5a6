// The DSP unit calls. Parameters of built-in units are clamped to their published ranges (an
// out-of-range value is no error); custom units get their value clamped to their own parameter
// descriptions before their callback sees it.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "system_impl.hpp"

using pw::mix::DSPImpl;

namespace {

bool structuralCallAllowed(DSPImpl* unit) { return !unit->system->onMixerThread(); }

}  // namespace

FMOD_RESULT FMOD::DSP::release() {
    auto* unit = DSPImpl::cast(this);
    auto* s = unit->system;
    if (!structuralCallAllowed(unit)) return FMOD_ERR_INVALID_THREAD;
    std::lock_guard<std::mutex> lock(s->graphLock);
    pw::mix::destroyUnit(s, unit);  // returns once no callback of it runs
    return FMOD_OK;
}

FMOD_RESULT FMOD::DSP::getSystemObject(System** system) {
    if (!system) return FMOD_ERR_INVALID_PARAM;
    *system = DSPImpl::cast(this)->system;
    return FMOD_OK;
}

FMOD_RESULT FMOD::DSP::remove() {
    auto* unit = DSPImpl::cast(this);
    if (!structuralCallAllowed(unit)) return FMOD_ERR_INVALID_THREAD;
    std::lock_guard<std::mutex> lock(unit->system->graphLock);
    pw::mix::detachUnit(unit->system, unit);
    return FMOD_OK;
}

FMOD_RESULT FMOD::DSP::disconnectAll(bool inputs, bool outputs) {
    // Our chains are lines: a unit cut from both sides leaves its neighbours joined, exactly as
    // remove() does, so the channel behind it keeps sounding.
    if (!inputs && !outputs) return FMOD_OK;
    return remove();
}

FMOD_RESULT FMOD::DSP::setActive(bool active) {
    DSPImpl::cast(this)->active.store(active, std::memory_order_relaxed);
    return FMOD_OK;
}

FMOD_RESULT FMOD::DSP::getActive(bool* active) {
    if (!active) return FMOD_ERR_INVALID_PARAM;
    *active = DSPImpl::cast(this)->active.load(std::memory_order_relaxed);
    return FMOD_OK;
}

FMOD_RESULT FMOD::DSP::setBypass(bool bypass) {
    DSPImpl::cast(this)->bypass.store(bypass, std::memory_order_relaxed);
    return FMOD_OK;
}

FMOD_RESULT FMOD::DSP::getBypass(bool* bypass) {
    if (!bypass) return FMOD_ERR_INVALID_PARAM;
    *bypass = DSPImpl::cast(this)->bypass.load(std::memory_order_relaxed);
    return FMOD_OK;
}

FMOD_RESULT FMOD::DSP::reset() {
    auto* unit = DSPImpl::cast(this);
    if (unit->effect) {
        unit->resetPending.store(true, std::memory_order_release);  // done by the mixer, before its next block
        return FMOD_OK;
    }
    return unit->description.reset ? unit->description.reset(&unit->state) : FMOD_OK;
}

FMOD_RESULT FMOD::DSP::setParameter(int index, float value) {
    auto* unit = DSPImpl::cast(this);
    if (index < 0 || index >= unit->description.numparameters) return FMOD_ERR_INVALID_PARAM;
    if (std::isnan(value)) return FMOD_ERR_INVALID_FLOAT;
    if (unit->effect) {
        const pw::fx::ParamInfo info = unit->effect->parameterInfo(index);
        unit->effect->setParameter(index, std::clamp(value, info.min, info.max));
        return FMOD_OK;
    }
    const FMOD_DSP_PARAMETERDESC& desc = unit->description.paramdesc[index];
    if (desc.min <= desc.max) value = std::clamp(value, desc.min, desc.max);
    return unit->description.setparameter ? unit->description.setparameter(&unit->state, index, value) : FMOD_OK;
}

FMOD_RESULT FMOD::DSP::getParameter(int index, float* value, char* valuestr, int valuestrlen) {
    auto* unit = DSPImpl::cast(this);
    if (index < 0 || index >= unit->description.numparameters) return FMOD_ERR_INVALID_PARAM;
    if (valuestr && valuestrlen <= 0) return FMOD_ERR_INVALID_PARAM;
    float v = 0.0f;
    char text[32] = {0};
    if (unit->effect) {
        v = unit->effect->getParameter(index);
        std::snprintf(text, sizeof(text), "%.2f", static_cast<double>(v));
    } else if (unit->description.getparameter) {
        const FMOD_RESULT result = unit->description.getparameter(&unit->state, index, &v, text);
        text[sizeof(text) - 1] = '\0';
        if (result != FMOD_OK) return result;
    }
    if (value) *value = v;
    if (valuestr) {
        std::strncpy(valuestr, text, static_cast<size_t>(valuestrlen) - 1);
        valuestr[valuestrlen - 1] = '\0';
    }
    return FMOD_OK;
}

FMOD_RESULT FMOD::DSP::getNumParameters(int* numparams) {
    if (!numparams) return FMOD_ERR_INVALID_PARAM;
    *numparams = DSPImpl::cast(this)->description.numparameters;
    return FMOD_OK;
}

FMOD_RESULT FMOD::DSP::getInfo(char* name, unsigned int* version, int* channels, int* configwidth,
                               int* configheight) {
    auto* unit = DSPImpl::cast(this);
    if (name) std::memcpy(name, unit->description.name, sizeof(unit->description.name));  // 32 bytes, terminated
    if (version) *version = unit->description.version;
    if (channels) *channels = unit->description.channels;
    if (configwidth) *configwidth = unit->description.configwidth;
    if (configheight) *configheight = unit->description.configheight;
    return FMOD_OK;
}

FMOD_RESULT FMOD::DSP::getType(FMOD_DSP_TYPE* type) {
    if (!type) return FMOD_ERR_INVALID_PARAM;
    *type = DSPImpl::cast(this)->type;
    return FMOD_OK;
}

FMOD_RESULT FMOD::DSP::setDefaults(float frequency, float volume, float pan, int priority) {
    if (std::isnan(frequency) || std::isnan(volume) || std::isnan(pan)) return FMOD_ERR_INVALID_FLOAT;
    auto* unit = DSPImpl::cast(this);
    unit->defaultFrequency.store(frequency, std::memory_order_relaxed);
    unit->defaultVolume.store(volume, std::memory_order_relaxed);
    unit->defaultPan.store(std::clamp(pan, -1.0f, 1.0f), std::memory_order_relaxed);
    unit->defaultPriority.store(priority, std::memory_order_relaxed);
    return FMOD_OK;
}

FMOD_RESULT FMOD::DSP::getDefaults(float* frequency, float* volume, float* pan, int* priority) {
    auto* unit = DSPImpl::cast(this);
    if (frequency) *frequency = unit->defaultFrequency.load(std::memory_order_relaxed);
    if (volume) *volume = unit->defaultVolume.load(std::memory_order_relaxed);
    if (pan) *pan = unit->defaultPan.load(std::memory_order_relaxed);
    if (priority) *priority = unit->defaultPriority.load(std::memory_order_relaxed);
    return FMOD_OK;
}

FMOD_RESULT FMOD::DSP::setUserData(void* userdata) {
    DSPImpl::cast(this)->userData.store(userdata, std::memory_order_relaxed);
    return FMOD_OK;
}

FMOD_RESULT FMOD::DSP::getUserData(void** userdata) {
    if (!userdata) return FMOD_ERR_INVALID_PARAM;
    *userdata = DSPImpl::cast(this)->userData.load(std::memory_order_relaxed);
    return FMOD_OK;
}

FMOD_RESULT FMOD::DSPConnection::getInput(DSP** input) {
    if (!input) return FMOD_ERR_INVALID_PARAM;
    *input = static_cast<pw::mix::ConnectionImpl*>(this)->unit;
    return FMOD_OK;
}

FMOD_RESULT FMOD::DSPConnection::getOutput(DSP** output) {
    // The unit nearer the output in the same chain, or null at the end of the chain.
    if (!output) return FMOD_ERR_INVALID_PARAM;
    *output = nullptr;
    DSPImpl* unit = static_cast<pw::mix::ConnectionImpl*>(this)->unit;
    auto lock = pw::mix::queryLock(unit->system->graphLock);
    if (!lock.owns_lock()) return FMOD_ERR_NOTREADY;
    if (unit->chain) {
        auto& units = unit->chain->units;
        auto it = std::find(units.begin(), units.end(), unit);
        if (it != units.end() && it + 1 != units.end()) *output = *(it + 1);
    }
    return FMOD_OK;
}

FMOD_RESULT FMOD::DSPConnection::setMix(float volume) {
    if (std::isnan(volume)) return FMOD_ERR_INVALID_FLOAT;
    static_cast<pw::mix::ConnectionImpl*>(this)->mix.store(volume, std::memory_order_relaxed);
    return FMOD_OK;
}

FMOD_RESULT FMOD::DSPConnection::getMix(float* volume) {
    if (!volume) return FMOD_ERR_INVALID_PARAM;
    *volume = static_cast<pw::mix::ConnectionImpl*>(this)->mix.load(std::memory_order_relaxed);
    return FMOD_OK;
}
