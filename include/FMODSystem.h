// FMODSystem: one audio-library system behind a lock of its own.
//
// The engine keeps no bare FMOD::System in its global state: the silent system and every output
// slot are FMODSystem wrappers, and each method forwards to the system method of the same name
// under the wrapper's lock ("FMODSystem", named, so every call logs an Enter and a Leave line while
// debugging is on) and returns the audio library's result unchanged. A wrapper that holds no
// system answers every forwarding call with 44 (FMOD_ERR_MEMORY) and touches no out-argument.
//
// Several output slots of one multichannel card each have their own wrapper over the same system;
// their locks are separate. Exactly one of them may close and release the system: the others are
// detached first (detach), which makes them forget the pointer without closing it.
//
// Thread safety
// - Forwarding calls may come from any thread; calls through one wrapper are serialised.
// - getFMODSystem takes no lock: the pointer changes only at construction, detach and destruction,
//   which happen during start-up and shutdown under the engine's locks.
#pragma once

#include "CritSect.h"
#include "fmod.hpp"

class FMODSystem {
public:
    explicit FMODSystem(FMOD::System* system);
    // Closes and releases the system when the wrapper still holds one (results ignored).
    ~FMODSystem();

    FMODSystem(const FMODSystem&) = delete;
    FMODSystem& operator=(const FMODSystem&) = delete;

    FMOD::System* getFMODSystem();
    // Forgets the system without closing it: used for the further wrappers of a shared system.
    void detach();

    FMOD_RESULT getNumCDROMDrives(int* count);
    FMOD_RESULT getCDROMDriveName(int drive, char* driveName, int driveNameSize, char* scsiName, int scsiNameSize,
                                  char* deviceName, int deviceNameSize);
    FMOD_RESULT createStream(const char* name, FMOD_MODE mode, FMOD_CREATESOUNDEXINFO* extra, FMOD::Sound** out);
    FMOD_RESULT createSound(const char* name, FMOD_MODE mode, FMOD_CREATESOUNDEXINFO* extra, FMOD::Sound** out);
    FMOD_RESULT getMasterChannelGroup(FMOD::ChannelGroup** out);
    FMOD_RESULT createDSP(FMOD_DSP_DESCRIPTION* description, FMOD::DSP** out);
    FMOD_RESULT createDSPByType(FMOD_DSP_TYPE type, FMOD::DSP** out);
    FMOD_RESULT addDSP(FMOD::DSP* dsp, FMOD::DSPConnection** out);
    FMOD_RESULT getVersion(unsigned int* version);
    FMOD_RESULT playSound(FMOD_CHANNELINDEX index, FMOD::Sound* sound, bool paused, FMOD::Channel** out);
    FMOD_RESULT playDSP(FMOD_CHANNELINDEX index, FMOD::DSP* dsp, bool paused, FMOD::Channel** out);
    FMOD_RESULT getDriverInfo(int driver, char* name, int nameSize, FMOD_GUID* guid);
    FMOD_RESULT setDSPBufferSize(unsigned int length, int count);
    FMOD_RESULT getDSPBufferSize(unsigned int* length, int* count);
    FMOD_RESULT setPluginPath(const char* path);
    FMOD_RESULT loadPlugin(const char* fileName, unsigned int* handle, unsigned int priority);
    FMOD_RESULT getPluginInfo(unsigned int handle, FMOD_PLUGINTYPE* type, char* name, int nameSize,
                              unsigned int* version);
    FMOD_RESULT unloadPlugin(unsigned int handle);
    FMOD_RESULT createDSPByPlugin(unsigned int handle, FMOD::DSP** out);
    FMOD_RESULT setOutput(FMOD_OUTPUTTYPE output);
    FMOD_RESULT setStreamBufferSize(unsigned int size, FMOD_TIMEUNIT unit);
    FMOD_RESULT init(int channels, FMOD_INITFLAGS flags, void* extraDriverData);
    FMOD_RESULT getSpectrum(float* values, int count, int channelOffset, FMOD_DSP_FFT_WINDOW window);
    FMOD_RESULT getSoftwareFormat(int* rate, FMOD_SOUND_FORMAT* format, int* outputChannels, int* maxInputChannels,
                                  FMOD_DSP_RESAMPLER* resampler, int* bits);
    FMOD_RESULT recordStart(int device, FMOD::Sound* sound, bool loop);
    FMOD_RESULT recordStop(int device);
    FMOD_RESULT getRecordDriverInfo(int device, char* name, int nameSize, FMOD_GUID* guid);
    FMOD_RESULT getRecordNumDrivers(int* count);

private:
    FMOD::System* m_system;
    CritSect m_lock;
};
