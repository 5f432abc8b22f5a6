// Version, output spectrum, record drivers, and the services the sound half reads.
#include <cstring>

#include "system_impl.hpp"

using pw::mix::SystemImpl;

namespace pw::mix {
std::atomic<unsigned>& versionOverride() {
    static std::atomic<unsigned> value{0};
    return value;
}
}  // namespace pw::mix

FMOD_RESULT FMOD::System::getVersion(unsigned int* version) {
    if (!version) return FMOD_ERR_INVALID_PARAM;
    const unsigned forced = pw::mix::versionOverride().load(std::memory_order_relaxed);
    *version = forced ? forced : 0x00043202u;
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::getSpectrum(float* spectrumarray, int numvalues, int channeloffset,
                                      FMOD_DSP_FFT_WINDOW windowtype) {
    auto* s = SystemImpl::cast(this);
    auto lock = pw::mix::queryLock(s->configLock);  // the ring changes only at init
    if (!lock.owns_lock()) return FMOD_ERR_NOTREADY;
    if (!s->initialised.load(std::memory_order_acquire)) return FMOD_ERR_UNINITIALIZED;
    return s->outputRing.spectrum(spectrumarray, numvalues, channeloffset, windowtype);
}

FMOD_RESULT FMOD::System::getRecordNumDrivers(int* numdrivers) {
    if (!numdrivers) return FMOD_ERR_INVALID_PARAM;
    *numdrivers = 0;
    auto* s = SystemImpl::cast(this);
    return pw::guarded([&] {
        std::lock_guard<std::mutex> lock(s->configLock);
        pw::dev::Backend* backend = s->backend();
        *numdrivers = backend ? static_cast<int>(backend->recordDrivers().size()) : 0;
        return FMOD_OK;
    });
}

FMOD_RESULT FMOD::System::getRecordDriverInfo(int id, char* name, int namelen, FMOD_GUID* guid) {
    auto* s = SystemImpl::cast(this);
    if (name && namelen <= 0) return FMOD_ERR_INVALID_PARAM;
    return pw::guarded([&] {
        std::lock_guard<std::mutex> lock(s->configLock);
        pw::dev::Backend* backend = s->backend();
        const auto drivers = backend ? backend->recordDrivers() : std::vector<pw::dev::RecordDriverInfo>{};
        if (id < 0 || id >= static_cast<int>(drivers.size())) return FMOD_ERR_INVALID_PARAM;
        pw::copyName(drivers[id].name, name, namelen);
        if (guid) std::memset(guid, 0, sizeof(*guid));
        return FMOD_OK;
    });
}

namespace pw {

int systemMixRate(FMOD::System* system) {
    return system ? SystemImpl::cast(system)->mixRate.load(std::memory_order_relaxed) : 0;
}

dev::Backend* systemBackend(FMOD::System* system) {
    if (!system) return nullptr;
    auto* s = SystemImpl::cast(system);
    std::lock_guard<std::mutex> lock(s->configLock);
    return s->backend();
}

std::atomic<int>& liveCounter(testhooks::Kind kind) {
    static std::atomic<int> counters[4];
    return counters[static_cast<int>(kind)];
}

}  // namespace pw
