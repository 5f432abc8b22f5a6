#include "FMODSystem.h"

// Every forwarding method has one shape: enter the lock with the method's own name, answer 44
// without a system, else call the system method of the same name and return its result.
#define FORWARD(call)                                           \
    do {                                                        \
        m_lock.Enter(__func__, __FILE__, __LINE__);             \
        FMOD_RESULT result = FMOD_ERR_MEMORY;                   \
        if (m_system) result = m_system->call;                  \
        m_lock.Leave(__func__, __FILE__, __LINE__);             \
        return result;                                          \
    } while (0)

FMODSystem::FMODSystem(FMOD::System* system) : m_system(nullptr), m_lock("FMODSystem") {
    m_lock.Enter(__func__, __FILE__, __LINE__);
    m_system = system;
    m_lock.Leave(__func__, __FILE__, __LINE__);
}

FMODSystem::~FMODSystem() {
    m_lock.Enter(__func__, __FILE__, __LINE__);
    if (m_system) {
        m_system->close();
        m_system->release();
        m_system = nullptr;
    }
    m_lock.Leave(__func__, __FILE__, __LINE__);
}

FMOD::System* FMODSystem::getFMODSystem() { return m_system; }

void FMODSystem::detach() {
    m_lock.Enter(__func__, __FILE__, __LINE__);
    m_system = nullptr;
    m_lock.Leave(__func__, __FILE__, __LINE__);
}

FMOD_RESULT FMODSystem::getNumCDROMDrives(int* count) { FORWARD(getNumCDROMDrives(count)); }

FMOD_RESULT FMODSystem::getCDROMDriveName(int drive, char* driveName, int driveNameSize, char* scsiName,
                                          int scsiNameSize, char* deviceName, int deviceNameSize) {
    FORWARD(getCDROMDriveName(drive, driveName, driveNameSize, scsiName, scsiNameSize, deviceName, deviceNameSize));
}

FMOD_RESULT FMODSystem::createStream(const char* name, FMOD_MODE mode, FMOD_CREATESOUNDEXINFO* extra,
                                     FMOD::Sound** out) {
    FORWARD(createStream(name, mode, extra, out));
}

FMOD_RESULT FMODSystem::createSound(const char* name, FMOD_MODE mode, FMOD_CREATESOUNDEXINFO* extra,
                                    FMOD::Sound** out) {
    FORWARD(createSound(name, mode, extra, out));
}

FMOD_RESULT FMODSystem::getMasterChannelGroup(FMOD::ChannelGroup** out) { FORWARD(getMasterChannelGroup(out)); }

FMOD_RESULT FMODSystem::createDSP(FMOD_DSP_DESCRIPTION* description, FMOD::DSP** out) {
    FORWARD(createDSP(description, out));
}

FMOD_RESULT FMODSystem::createDSPByType(FMOD_DSP_TYPE type, FMOD::DSP** out) { FORWARD(createDSPByType(type, out)); }

FMOD_RESULT FMODSystem::addDSP(FMOD::DSP* dsp, FMOD::DSPConnection** out) { FORWARD(addDSP(dsp, out)); }

FMOD_RESULT FMODSystem::getVersion(unsigned int* version) { FORWARD(getVersion(version)); }

FMOD_RESULT FMODSystem::playSound(FMOD_CHANNELINDEX index, FMOD::Sound* sound, bool paused, FMOD::Channel** out) {
    FORWARD(playSound(index, sound, paused, out));
}

FMOD_RESULT FMODSystem::playDSP(FMOD_CHANNELINDEX index, FMOD::DSP* dsp, bool paused, FMOD::Channel** out) {
    FORWARD(playDSP(index, dsp, paused, out));
}

FMOD_RESULT FMODSystem::getDriverInfo(int driver, char* name, int nameSize, FMOD_GUID* guid) {
    FORWARD(getDriverInfo(driver, name, nameSize, guid));
}

FMOD_RESULT FMODSystem::setDSPBufferSize(unsigned int length, int count) { FORWARD(setDSPBufferSize(length, count)); }

FMOD_RESULT FMODSystem::getDSPBufferSize(unsigned int* length, int* count) { FORWARD(getDSPBufferSize(length, count)); }

FMOD_RESULT FMODSystem::setPluginPath(const char* path) { FORWARD(setPluginPath(path)); }

FMOD_RESULT FMODSystem::loadPlugin(const char* fileName, unsigned int* handle, unsigned int priority) {
    FORWARD(loadPlugin(fileName, handle, priority));
}

FMOD_RESULT FMODSystem::getPluginInfo(unsigned int handle, FMOD_PLUGINTYPE* type, char* name, int nameSize,
                                      unsigned int* version) {
    FORWARD(getPluginInfo(handle, type, name, nameSize, version));
}

FMOD_RESULT FMODSystem::unloadPlugin(unsigned int handle) { FORWARD(unloadPlugin(handle)); }

FMOD_RESULT FMODSystem::createDSPByPlugin(unsigned int handle, FMOD::DSP** out) {
    FORWARD(createDSPByPlugin(handle, out));
}

FMOD_RESULT FMODSystem::setOutput(FMOD_OUTPUTTYPE output) { FORWARD(setOutput(output)); }

FMOD_RESULT FMODSystem::setStreamBufferSize(unsigned int size, FMOD_TIMEUNIT unit) {
    FORWARD(setStreamBufferSize(size, unit));
}

FMOD_RESULT FMODSystem::init(int channels, FMOD_INITFLAGS flags, void* extraDriverData) {
    FORWARD(init(channels, flags, extraDriverData));
}

FMOD_RESULT FMODSystem::getSpectrum(float* values, int count, int channelOffset, FMOD_DSP_FFT_WINDOW window) {
    FORWARD(getSpectrum(values, count, channelOffset, window));
}

FMOD_RESULT FMODSystem::getSoftwareFormat(int* rate, FMOD_SOUND_FORMAT* format, int* outputChannels,
                                          int* maxInputChannels, FMOD_DSP_RESAMPLER* resampler, int* bits) {
    FORWARD(getSoftwareFormat(rate, format, outputChannels, maxInputChannels, resampler, bits));
}

FMOD_RESULT FMODSystem::recordStart(int device, FMOD::Sound* sound, bool loop) {
    FORWARD(recordStart(device, sound, loop));
}

FMOD_RESULT FMODSystem::recordStop(int device) { FORWARD(recordStop(device)); }

FMOD_RESULT FMODSystem::getRecordDriverInfo(int device, char* name, int nameSize, FMOD_GUID* guid) {
    FORWARD(getRecordDriverInfo(device, name, nameSize, guid));
}

FMOD_RESULT FMODSystem::getRecordNumDrivers(int* count) { FORWARD(getRecordNumDrivers(count)); }
