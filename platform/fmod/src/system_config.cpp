// System creation and configuration before init; drivers and their capabilities.
#include <algorithm>
#include <cstring>

#include "system_impl.hpp"

using pw::mix::SystemImpl;

namespace pw::mix {

SystemImpl::SystemImpl() {
    master.system = this;
    config.advanced.cbsize = sizeof(FMOD_ADVANCEDSETTINGS);
    config.advanced.maxMPEGcodecs = 32;
    config.advanced.maxADPCMcodecs = 32;
    config.advanced.maxXMAcodecs = 32;
    config.advanced.maxCELTcodecs = 32;
    config.advanced.maxPCMcodecs = 16;
    config.advanced.defaultDecodeBufferSize = 400;
    mixRate.store(config.rate, std::memory_order_relaxed);
}

SystemImpl::~SystemImpl() = default;

dev::Backend* SystemImpl::backend() {
    switch (config.output) {
    case FMOD_OUTPUTTYPE_AUTODETECT: return &dev::autodetectBackend();
    case FMOD_OUTPUTTYPE_PULSEAUDIO: return &dev::pulseBackend();
    case FMOD_OUTPUTTYPE_VIRTUAL: return &dev::tableBackend();
    default: return nullptr;
    }
}

}  // namespace pw::mix

namespace {

// configLock held. The driver list, read once per system (order is stable per process). Throws
// bad_alloc without memory for it; the list is read again on the next call then.
const std::vector<pw::dev::OutputDriverInfo>& driversOf(SystemImpl* s) {
    if (!s->driversListed) {
        pw::dev::Backend* backend = s->backend();
        s->drivers = backend ? backend->outputDrivers() : std::vector<pw::dev::OutputDriverInfo>{};
        s->driversListed = true;
    }
    return s->drivers;
}

#define PW_CONFIGURE(s)                                          \
    std::lock_guard<std::mutex> lock((s)->configLock);           \
    if ((s)->initialised.load(std::memory_order_acquire)) return FMOD_ERR_INITIALIZED

}  // namespace

FMOD_RESULT FMOD_System_Create(FMOD::System** system) {
    if (!system) return FMOD_ERR_INVALID_PARAM;
    *system = nullptr;
    return pw::guarded([&] {
        *system = new SystemImpl();
        pw::liveCounter(pw::testhooks::Kind::System).fetch_add(1, std::memory_order_relaxed);
        return FMOD_OK;
    });
}

FMOD_RESULT FMOD::System::setOutput(FMOD_OUTPUTTYPE output) {
    auto* s = SystemImpl::cast(this);
    switch (output) {
    case FMOD_OUTPUTTYPE_AUTODETECT:
    case FMOD_OUTPUTTYPE_NOSOUND:
    case FMOD_OUTPUTTYPE_NOSOUND_NRT:
    case FMOD_OUTPUTTYPE_PULSEAUDIO:
    case FMOD_OUTPUTTYPE_VIRTUAL: break;
    default: return FMOD_ERR_OUTPUT_INIT;  // no such back-end on this platform
    }
    PW_CONFIGURE(s);
    s->config.output = output;
    s->driversListed = false;
    s->drivers.clear();
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::getOutput(FMOD_OUTPUTTYPE* output) {
    if (!output) return FMOD_ERR_INVALID_PARAM;
    auto* s = SystemImpl::cast(this);
    std::lock_guard<std::mutex> lock(s->configLock);
    *output = s->config.output;
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::getNumDrivers(int* numdrivers) {
    if (!numdrivers) return FMOD_ERR_INVALID_PARAM;
    *numdrivers = 0;
    auto* s = SystemImpl::cast(this);
    return pw::guarded([&] {
        std::lock_guard<std::mutex> lock(s->configLock);
        *numdrivers = static_cast<int>(driversOf(s).size());
        return FMOD_OK;
    });
}

FMOD_RESULT FMOD::System::getDriverInfo(int id, char* name, int namelen, FMOD_GUID* guid) {
    auto* s = SystemImpl::cast(this);
    if (name && namelen <= 0) return FMOD_ERR_INVALID_PARAM;
    return pw::guarded([&] {
        std::lock_guard<std::mutex> lock(s->configLock);
        const auto& drivers = driversOf(s);
        if (id < 0 || id >= static_cast<int>(drivers.size())) return FMOD_ERR_INVALID_PARAM;
        pw::copyName(drivers[id].name, name, namelen);
        if (guid) std::memset(guid, 0, sizeof(*guid));
        return FMOD_OK;
    });
}

FMOD_RESULT FMOD::System::getDriverCaps(int id, FMOD_CAPS* caps, int* minfrequency, int* maxfrequency,
                                        FMOD_SPEAKERMODE* controlpanelspeakermode) {
    auto* s = SystemImpl::cast(this);
    return pw::guarded([&] {
        std::lock_guard<std::mutex> lock(s->configLock);
        const auto& drivers = driversOf(s);
        if (id < 0 || id >= static_cast<int>(drivers.size())) return FMOD_ERR_INVALID_PARAM;
        const auto& d = drivers[id];
        if (caps) *caps = d.caps;
        if (minfrequency) *minfrequency = d.minRate;
        if (maxfrequency) *maxfrequency = d.maxRate;
        if (controlpanelspeakermode) *controlpanelspeakermode = d.controlPanelMode;
        return FMOD_OK;
    });
}

FMOD_RESULT FMOD::System::setDriver(int driver) {
    auto* s = SystemImpl::cast(this);
    return pw::guarded([&] {
        PW_CONFIGURE(s);
        const int count = static_cast<int>(driversOf(s).size());
        if (driver < -1 || (driver >= 0 && driver >= std::max(count, 1))) return FMOD_ERR_INVALID_PARAM;
        s->config.driver = std::max(driver, 0);  // -1: the default, the first
        return FMOD_OK;
    });
}

FMOD_RESULT FMOD::System::getDriver(int* driver) {
    if (!driver) return FMOD_ERR_INVALID_PARAM;
    auto* s = SystemImpl::cast(this);
    std::lock_guard<std::mutex> lock(s->configLock);
    *driver = s->config.driver;
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::setSoftwareChannels(int numsoftwarechannels) {
    if (numsoftwarechannels < 0 || numsoftwarechannels > 4096) return FMOD_ERR_INVALID_PARAM;
    auto* s = SystemImpl::cast(this);
    PW_CONFIGURE(s);
    s->config.softwareChannels = numsoftwarechannels;
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::setSoftwareFormat(int samplerate, FMOD_SOUND_FORMAT format, int numoutputchannels,
                                            int maxinputchannels, FMOD_DSP_RESAMPLER resamplemethod) {
    // 8 kHz to 192 kHz covers every real device; anything else is a mistake, not a format.
    if (samplerate < 8000 || samplerate > 192000) return FMOD_ERR_INVALID_PARAM;
    if (format < FMOD_SOUND_FORMAT_PCM8 || format > FMOD_SOUND_FORMAT_PCMFLOAT) return FMOD_ERR_INVALID_PARAM;
    if (numoutputchannels < 0 || numoutputchannels > pw::mix::kMaxMixChannels) return FMOD_ERR_INVALID_PARAM;
    if (maxinputchannels < 0 || maxinputchannels > pw::mix::kMaxMixChannels) return FMOD_ERR_INVALID_PARAM;
    if (resamplemethod < FMOD_DSP_RESAMPLER_NOINTERP || resamplemethod > FMOD_DSP_RESAMPLER_SPLINE)
        return FMOD_ERR_INVALID_PARAM;
    auto* s = SystemImpl::cast(this);
    PW_CONFIGURE(s);
    s->config.rate = samplerate;
    s->config.format = format;
    s->config.outputChannels = numoutputchannels;
    s->config.maxInputChannels = maxinputchannels;
    s->config.resampler = resamplemethod;
    s->mixRate.store(samplerate, std::memory_order_relaxed);
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::getSoftwareFormat(int* samplerate, FMOD_SOUND_FORMAT* format, int* numoutputchannels,
                                            int* maxinputchannels, FMOD_DSP_RESAMPLER* resamplemethod, int* bits) {
    auto* s = SystemImpl::cast(this);
    auto lock = pw::mix::queryLock(s->configLock);
    if (!lock.owns_lock()) return FMOD_ERR_NOTREADY;
    const bool running = s->initialised.load(std::memory_order_acquire);
    static const int kBits[] = {0, 8, 16, 24, 32, 32};
    if (samplerate) *samplerate = s->config.rate;
    if (format) *format = s->config.format;
    // Before init there is no mix yet: 0 output channels, so that "channels + N" asks for N.
    if (numoutputchannels) *numoutputchannels = running ? s->layout.channels : s->config.outputChannels;
    if (maxinputchannels) *maxinputchannels = s->config.maxInputChannels;
    if (resamplemethod) *resamplemethod = s->config.resampler;
    if (bits) *bits = kBits[s->config.format];
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::setDSPBufferSize(unsigned int bufferlength, int numbuffers) {
    if (bufferlength == 0 || bufferlength > 262144 || numbuffers < 1) return FMOD_ERR_INVALID_PARAM;
    auto* s = SystemImpl::cast(this);
    PW_CONFIGURE(s);
    s->config.dspLength = bufferlength;
    s->config.dspCount = numbuffers;
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::getDSPBufferSize(unsigned int* bufferlength, int* numbuffers) {
    auto* s = SystemImpl::cast(this);
    auto lock = pw::mix::queryLock(s->configLock);
    if (!lock.owns_lock()) return FMOD_ERR_NOTREADY;
    if (bufferlength) *bufferlength = s->config.dspLength;
    if (numbuffers) *numbuffers = s->config.dspCount;
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::setStreamBufferSize(unsigned int filebuffersize, FMOD_TIMEUNIT filebuffersizetype) {
    if (filebuffersize == 0) return FMOD_ERR_INVALID_PARAM;
    if (filebuffersizetype != FMOD_TIMEUNIT_MS && filebuffersizetype != FMOD_TIMEUNIT_PCM &&
        filebuffersizetype != FMOD_TIMEUNIT_PCMBYTES && filebuffersizetype != FMOD_TIMEUNIT_RAWBYTES)
        return FMOD_ERR_INVALID_PARAM;
    auto* s = SystemImpl::cast(this);
    std::lock_guard<std::mutex> lock(s->configLock);  // also legal after init: it sizes later streams
    s->config.streamSize = filebuffersize;
    s->config.streamUnit = filebuffersizetype;
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::getStreamBufferSize(unsigned int* filebuffersize, FMOD_TIMEUNIT* filebuffersizetype) {
    auto* s = SystemImpl::cast(this);
    std::lock_guard<std::mutex> lock(s->configLock);
    if (filebuffersize) *filebuffersize = s->config.streamSize;
    if (filebuffersizetype) *filebuffersizetype = s->config.streamUnit;
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::setSpeakerMode(FMOD_SPEAKERMODE speakermode) {
    if (speakermode < FMOD_SPEAKERMODE_RAW || speakermode > FMOD_SPEAKERMODE_PROLOGIC) return FMOD_ERR_INVALID_PARAM;
    auto* s = SystemImpl::cast(this);
    PW_CONFIGURE(s);
    s->config.speakerMode = speakermode;
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::getSpeakerMode(FMOD_SPEAKERMODE* speakermode) {
    if (!speakermode) return FMOD_ERR_INVALID_PARAM;
    auto* s = SystemImpl::cast(this);
    std::lock_guard<std::mutex> lock(s->configLock);
    *speakermode = s->config.speakerMode;
    return FMOD_OK;
}

// The record is copied as far as the caller's cbsize reaches, so a shorter (older) record works.
FMOD_RESULT FMOD::System::setAdvancedSettings(FMOD_ADVANCEDSETTINGS* settings) {
    if (!settings || settings->cbsize < static_cast<int>(sizeof(int)) * 2) return FMOD_ERR_INVALID_PARAM;
    auto* s = SystemImpl::cast(this);
    std::lock_guard<std::mutex> lock(s->configLock);
    const size_t n = std::min(static_cast<size_t>(settings->cbsize), sizeof(FMOD_ADVANCEDSETTINGS));
    std::memcpy(&s->config.advanced, settings, n);
    s->config.advanced.cbsize = sizeof(FMOD_ADVANCEDSETTINGS);
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::getAdvancedSettings(FMOD_ADVANCEDSETTINGS* settings) {
    if (!settings || settings->cbsize < static_cast<int>(sizeof(int)) * 2) return FMOD_ERR_INVALID_PARAM;
    auto* s = SystemImpl::cast(this);
    std::lock_guard<std::mutex> lock(s->configLock);
    const int cbsize = settings->cbsize;
    const size_t n = std::min(static_cast<size_t>(cbsize), sizeof(FMOD_ADVANCEDSETTINGS));
    std::memcpy(settings, &s->config.advanced, n);
    settings->cbsize = cbsize;
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::setUserData(void* userdata) {
    SystemImpl::cast(this)->userData.store(userdata, std::memory_order_relaxed);
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::getUserData(void** userdata) {
    if (!userdata) return FMOD_ERR_INVALID_PARAM;
    *userdata = SystemImpl::cast(this)->userData.load(std::memory_order_relaxed);
    return FMOD_OK;
}
