// The audio-library interface the engine is written against: systems, sounds, channels, channel
// groups and DSP units, with the result codes, constants and records the engine uses.
//
// Everything here is implemented by this folder on Linux facilities (libsndfile, libmpg123,
// libcdio, libpulse). Objects are opaque: the layer creates them, owns their memory and frees them
// on release; `System::release` frees everything created on that system.
//
// Conventions
// - Every method returns FMOD_RESULT (FMOD_OK = 0). Every out-pointer may be null and is skipped.
// - Thread safety: any method may be called from any thread. Setting calls (volume, frequency,
//   speaker levels, bypass, parameters, paused, mute) never wait for a mix in progress and may be
//   made from inside a DSP read callback.
// - Callback safety: `DSP::release`, `DSP::remove` and `Channel::stop` return only when no read
//   callback of the units concerned is running, and none runs afterwards.
// - A Sound serialises its own readData, seekData and getLength.
#pragma once

#include <cstddef>

typedef enum {
    FMOD_OK = 0,
    FMOD_ERR_ALREADYLOCKED = 1,
    FMOD_ERR_BADCOMMAND = 2,
    FMOD_ERR_CDDA_DRIVERS = 3,
    FMOD_ERR_CDDA_INIT = 4,
    FMOD_ERR_CDDA_INVALID_DEVICE = 5,
    FMOD_ERR_CDDA_NOAUDIO = 6,
    FMOD_ERR_CDDA_NODEVICES = 7,
    FMOD_ERR_CDDA_NODISC = 8,
    FMOD_ERR_CDDA_READ = 9,
    FMOD_ERR_CHANNEL_ALLOC = 10,
    FMOD_ERR_CHANNEL_STOLEN = 11,
    FMOD_ERR_DSP_CONNECTION = 14,
    FMOD_ERR_DSP_FORMAT = 15,
    FMOD_ERR_DSP_NOTFOUND = 16,
    FMOD_ERR_DSP_RUNNING = 17,
    FMOD_ERR_FILE_BAD = 19,
    FMOD_ERR_FILE_COULDNOTSEEK = 20,
    FMOD_ERR_FILE_DISKEJECTED = 21,
    FMOD_ERR_FILE_EOF = 22,
    FMOD_ERR_FILE_NOTFOUND = 23,
    FMOD_ERR_FILE_UNWANTED = 24,
    FMOD_ERR_FORMAT = 25,
    FMOD_ERR_INITIALIZATION = 31,
    FMOD_ERR_INITIALIZED = 32,
    FMOD_ERR_INTERNAL = 33,
    FMOD_ERR_INVALID_ADDRESS = 34,
    FMOD_ERR_INVALID_FLOAT = 35,
    FMOD_ERR_INVALID_HANDLE = 36,
    FMOD_ERR_INVALID_PARAM = 37,
    FMOD_ERR_INVALID_POSITION = 38,
    FMOD_ERR_INVALID_SPEAKER = 39,
    FMOD_ERR_IRX = 40,
    FMOD_ERR_MAXAUDIBLE = 41,
    FMOD_ERR_MEMORY = 44,
    FMOD_ERR_NEEDS2D = 47,
    FMOD_ERR_NOTREADY = 52,
    FMOD_ERR_OUTPUT_ALLOCATED = 53,
    FMOD_ERR_OUTPUT_CREATEBUFFER = 58,
    FMOD_ERR_OUTPUT_DRIVERCALL = 59,
    FMOD_ERR_OUTPUT_FORMAT = 61,
    FMOD_ERR_OUTPUT_INIT = 62,
    FMOD_ERR_OUTPUT_NOHARDWARE = 63,
    FMOD_ERR_PLUGIN = 66,
    FMOD_ERR_PLUGIN_INSTANCES = 68,
    FMOD_ERR_PLUGIN_MISSING = 69,
    FMOD_ERR_PLUGIN_RESOURCE = 70,
    FMOD_ERR_RECORD = 71,
    FMOD_ERR_TAGNOTFOUND = 78,
    FMOD_ERR_TOOMANYCHANNELS = 79,
    FMOD_ERR_UNIMPLEMENTED = 81,
    FMOD_ERR_UNSUPPORTED = 82,
    FMOD_ERR_UNINITIALIZED = 83,
    FMOD_ERR_VERSION = 84,
    FMOD_ERR_INVALID_THREAD = 97,
} FMOD_RESULT;

// The error text of a result: a sentence ending in ". " for 1..97, "Unknown error." otherwise.
const char* FMOD_ErrorString(FMOD_RESULT result);

typedef enum {
    FMOD_OUTPUTTYPE_AUTODETECT = 0,
    FMOD_OUTPUTTYPE_UNKNOWN = 1,
    FMOD_OUTPUTTYPE_NOSOUND = 2,
    FMOD_OUTPUTTYPE_WAVWRITER = 3,
    FMOD_OUTPUTTYPE_NOSOUND_NRT = 4,
    FMOD_OUTPUTTYPE_WAVWRITER_NRT = 5,
    FMOD_OUTPUTTYPE_ASIO = 9,
    // Linux back-ends.
    FMOD_OUTPUTTYPE_PULSEAUDIO = 20,
    FMOD_OUTPUTTYPE_VIRTUAL = 21,  // the device table named by PELLWARDEN_DEVICE_TABLE
} FMOD_OUTPUTTYPE;

typedef enum {
    FMOD_SPEAKERMODE_RAW = 0,
    FMOD_SPEAKERMODE_MONO = 1,
    FMOD_SPEAKERMODE_STEREO = 2,
    FMOD_SPEAKERMODE_QUAD = 3,
    FMOD_SPEAKERMODE_SURROUND = 4,
    FMOD_SPEAKERMODE_5POINT1 = 5,
    FMOD_SPEAKERMODE_7POINT1 = 6,
    FMOD_SPEAKERMODE_PROLOGIC = 7,
} FMOD_SPEAKERMODE;

typedef enum {
    FMOD_SPEAKER_FRONT_LEFT = 0,
    FMOD_SPEAKER_FRONT_RIGHT = 1,
    FMOD_SPEAKER_FRONT_CENTER = 2,
    FMOD_SPEAKER_LOW_FREQUENCY = 3,
    FMOD_SPEAKER_BACK_LEFT = 4,
    FMOD_SPEAKER_BACK_RIGHT = 5,
    FMOD_SPEAKER_SIDE_LEFT = 6,
    FMOD_SPEAKER_SIDE_RIGHT = 7,
    FMOD_SPEAKER_MAX = 8,
} FMOD_SPEAKER;

typedef enum {
    FMOD_SOUND_FORMAT_NONE = 0,
    FMOD_SOUND_FORMAT_PCM8 = 1,
    FMOD_SOUND_FORMAT_PCM16 = 2,
    FMOD_SOUND_FORMAT_PCM24 = 3,
    FMOD_SOUND_FORMAT_PCM32 = 4,
    FMOD_SOUND_FORMAT_PCMFLOAT = 5,
} FMOD_SOUND_FORMAT;

typedef enum {
    FMOD_SOUND_TYPE_UNKNOWN = 0,
    FMOD_SOUND_TYPE_AIFF,
    FMOD_SOUND_TYPE_CDDA,
    FMOD_SOUND_TYPE_FLAC,
    FMOD_SOUND_TYPE_MPEG,
    FMOD_SOUND_TYPE_OGGVORBIS,
    FMOD_SOUND_TYPE_OPUS,
    FMOD_SOUND_TYPE_RAW,
    FMOD_SOUND_TYPE_USER,
    FMOD_SOUND_TYPE_WAV,
    FMOD_SOUND_TYPE_AAC,
} FMOD_SOUND_TYPE;

typedef enum {
    FMOD_DSP_RESAMPLER_NOINTERP = 0,
    FMOD_DSP_RESAMPLER_LINEAR = 1,
    FMOD_DSP_RESAMPLER_CUBIC = 2,
    FMOD_DSP_RESAMPLER_SPLINE = 3,
} FMOD_DSP_RESAMPLER;

typedef enum {
    FMOD_DSP_FFT_WINDOW_RECT = 0,
    FMOD_DSP_FFT_WINDOW_TRIANGLE = 1,
    FMOD_DSP_FFT_WINDOW_HAMMING = 2,
    FMOD_DSP_FFT_WINDOW_HANNING = 3,
    FMOD_DSP_FFT_WINDOW_BLACKMAN = 4,
    FMOD_DSP_FFT_WINDOW_BLACKMANHARRIS = 5,
} FMOD_DSP_FFT_WINDOW;

typedef enum {
    FMOD_DSP_TYPE_UNKNOWN = 0,
    FMOD_DSP_TYPE_MIXER = 1,
    FMOD_DSP_TYPE_OSCILLATOR = 2,
    FMOD_DSP_TYPE_LOWPASS = 3,
    FMOD_DSP_TYPE_ITLOWPASS = 4,
    FMOD_DSP_TYPE_HIGHPASS = 5,
    FMOD_DSP_TYPE_ECHO = 6,
    FMOD_DSP_TYPE_FLANGE = 7,
    FMOD_DSP_TYPE_DISTORTION = 8,
    FMOD_DSP_TYPE_NORMALIZE = 9,
    FMOD_DSP_TYPE_PARAMEQ = 10,
    FMOD_DSP_TYPE_COMPRESSOR = 17,
} FMOD_DSP_TYPE;

typedef enum {
    FMOD_PLUGINTYPE_OUTPUT = 0,
    FMOD_PLUGINTYPE_CODEC = 1,
    FMOD_PLUGINTYPE_DSP = 2,
} FMOD_PLUGINTYPE;

typedef enum {
    FMOD_TAGTYPE_UNKNOWN = 0,
    FMOD_TAGTYPE_ID3V1,
    FMOD_TAGTYPE_ID3V2,
    FMOD_TAGTYPE_VORBISCOMMENT,
    FMOD_TAGTYPE_SHOUTCAST,
    FMOD_TAGTYPE_ICECAST,
    FMOD_TAGTYPE_ASF,
    FMOD_TAGTYPE_MIDI,
    FMOD_TAGTYPE_PLAYLIST,
    FMOD_TAGTYPE_FMOD,
    FMOD_TAGTYPE_USER,
} FMOD_TAGTYPE;

typedef enum {
    FMOD_TAGDATATYPE_BINARY = 0,
    FMOD_TAGDATATYPE_INT = 1,
    FMOD_TAGDATATYPE_FLOAT = 2,
    FMOD_TAGDATATYPE_STRING = 3,
    FMOD_TAGDATATYPE_STRING_UTF16 = 4,
    FMOD_TAGDATATYPE_STRING_UTF16BE = 5,
    FMOD_TAGDATATYPE_STRING_UTF8 = 6,
    FMOD_TAGDATATYPE_CDTOC = 7,
} FMOD_TAGDATATYPE;

typedef unsigned int FMOD_MODE;
#define FMOD_DEFAULT 0x00000000
#define FMOD_LOOP_OFF 0x00000001
#define FMOD_LOOP_NORMAL 0x00000002
#define FMOD_LOOP_BIDI 0x00000004
#define FMOD_2D 0x00000008
#define FMOD_3D 0x00000010
#define FMOD_HARDWARE 0x00000020
#define FMOD_SOFTWARE 0x00000040
#define FMOD_CREATESTREAM 0x00000080
#define FMOD_CREATESAMPLE 0x00000100
#define FMOD_CREATECOMPRESSEDSAMPLE 0x00000200
#define FMOD_OPENUSER 0x00000400
#define FMOD_OPENMEMORY 0x00000800
#define FMOD_OPENRAW 0x00001000
#define FMOD_OPENONLY 0x00002000
#define FMOD_ACCURATETIME 0x00004000
#define FMOD_MPEGSEARCH 0x00008000
#define FMOD_NONBLOCKING 0x00010000
#define FMOD_UNIQUE 0x00020000
#define FMOD_UNICODE 0x01000000

typedef unsigned int FMOD_TIMEUNIT;
#define FMOD_TIMEUNIT_MS 0x00000001
#define FMOD_TIMEUNIT_PCM 0x00000002
#define FMOD_TIMEUNIT_PCMBYTES 0x00000004
#define FMOD_TIMEUNIT_RAWBYTES 0x00000008

typedef unsigned int FMOD_CAPS;
#define FMOD_CAPS_NONE 0x00000000
#define FMOD_CAPS_HARDWARE 0x00000001
#define FMOD_CAPS_HARDWARE_EMULATED 0x00000002
#define FMOD_CAPS_OUTPUT_MULTICHANNEL 0x00000004

typedef unsigned int FMOD_INITFLAGS;
#define FMOD_INIT_NORMAL 0x00000000

typedef int FMOD_CHANNELINDEX;
#define FMOD_CHANNEL_FREE (-1)
#define FMOD_CHANNEL_REUSE (-2)

namespace FMOD {
class System;
class Sound;
class Channel;
class ChannelGroup;
class DSP;
class DSPConnection;
}  // namespace FMOD

struct FMOD_GUID {
    unsigned int Data1;
    unsigned short Data2;
    unsigned short Data3;
    unsigned char Data4[8];
};

struct FMOD_CREATESOUNDEXINFO {
    int cbsize;                     // size of this record; any size covering the fields read
    unsigned int length;            // user sounds: size in bytes
    unsigned int fileoffset;
    int numchannels;                // user sounds: channels
    int defaultfrequency;           // user sounds: rate
    FMOD_SOUND_FORMAT format;       // user sounds: sample format
    unsigned int decodebuffersize;
    int initialsubsound;
    int numsubsounds;
    int* inclusionlist;
    int inclusionlistnum;
    void* pcmreadcallback;
    void* pcmsetposcallback;
    void* nonblockcallback;
    const char* dlsname;
    const char* encryptionkey;
    int maxpolyphony;
    void* userdata;                 // becomes the sound's user data
    FMOD_SOUND_TYPE suggestedsoundtype;
    void* useropen;
    void* userclose;
    void* userread;
    void* userseek;
    unsigned int speakermap;
    void* initialsoundgroup;
    unsigned int initialseekposition;
    FMOD_TIMEUNIT initialseekpostype;
    char reserved[64];              // keeps the record at least as large as callers expect
};

struct FMOD_CDTOC {
    int numtracks;
    int min[100];    // entries 0..numtracks-1: track starts; entry numtracks: lead-out;
    int sec[100];    // absolute MSF, the 2-second lead-in included
    int frame[100];
};

struct FMOD_TAG {
    FMOD_TAGTYPE type;
    FMOD_TAGDATATYPE datatype;
    char* name;
    void* data;
    unsigned int datalen;
    bool updated;
};

// The layer's own tag (type FMOD_TAGTYPE_FMOD, no data) on a sound whose file ends before the
// length its header gives: a file cut short, opened with the audio it holds.
#define FMOD_TAG_CUT_SHORT "CUT_SHORT"

struct FMOD_ADVANCEDSETTINGS {
    int cbsize;
    int maxMPEGcodecs;
    int maxADPCMcodecs;
    int maxXMAcodecs;
    int maxCELTcodecs;
    int maxPCMcodecs;
    int ASIONumChannels;
    char** ASIOChannelList;
    FMOD_SPEAKER* ASIOSpeakerList;
    int max3DReverbDSPs;
    float HRTFMinAngle;
    float HRTFMaxAngle;
    float HRTFFreq;
    float vol0virtualvol;
    int eventqueuesize;
    unsigned int defaultDecodeBufferSize;
    char* debugLogFilename;
    unsigned short profileport;
    unsigned int geometryMaxFadeTime;
    unsigned int maxSpectrumWaveDataBuffers;
    unsigned int musicSystemCacheDelay;
    float distanceFilterCenterFreq;
};

// DSP units -----------------------------------------------------------------------------------

struct FMOD_DSP_STATE;
typedef FMOD_RESULT (*FMOD_DSP_CREATECALLBACK)(FMOD_DSP_STATE* state);
typedef FMOD_RESULT (*FMOD_DSP_RELEASECALLBACK)(FMOD_DSP_STATE* state);
typedef FMOD_RESULT (*FMOD_DSP_RESETCALLBACK)(FMOD_DSP_STATE* state);
// Interleaved float in and out; `length` frames (the DSP buffer length); runs on the mixer thread.
typedef FMOD_RESULT (*FMOD_DSP_READCALLBACK)(FMOD_DSP_STATE* state, float* inbuffer, float* outbuffer,
                                             unsigned int length, int inchannels, int outchannels);
typedef FMOD_RESULT (*FMOD_DSP_SETPOSITIONCALLBACK)(FMOD_DSP_STATE* state, unsigned int pos);
typedef FMOD_RESULT (*FMOD_DSP_SETPARAMCALLBACK)(FMOD_DSP_STATE* state, int index, float value);
typedef FMOD_RESULT (*FMOD_DSP_GETPARAMCALLBACK)(FMOD_DSP_STATE* state, int index, float* value,
                                                 char* valuestr);
typedef FMOD_RESULT (*FMOD_DSP_DIALOGCALLBACK)(FMOD_DSP_STATE* state, void* hwnd, int show);

struct FMOD_DSP_PARAMETERDESC {
    float min;
    float max;
    float defaultval;
    char name[16];
    char label[16];
    const char* description;
};

struct FMOD_DSP_DESCRIPTION {
    char name[32];
    unsigned int version;
    int channels;  // 0: as many as the input; >0: a generator of that many channels (playDSP)
    FMOD_DSP_CREATECALLBACK create;
    FMOD_DSP_RELEASECALLBACK release;
    FMOD_DSP_RESETCALLBACK reset;
    FMOD_DSP_READCALLBACK read;
    FMOD_DSP_SETPOSITIONCALLBACK setposition;
    int numparameters;
    FMOD_DSP_PARAMETERDESC* paramdesc;
    FMOD_DSP_SETPARAMCALLBACK setparameter;
    FMOD_DSP_GETPARAMCALLBACK getparameter;
    FMOD_DSP_DIALOGCALLBACK config;
    int configwidth;
    int configheight;
    void* userdata;  // becomes the unit's user data
};

struct FMOD_DSP_STATE {
    FMOD::DSP* instance;  // the unit itself
    void* plugindata;
    unsigned short speakermask;
};

// Objects --------------------------------------------------------------------------------------

// Creates a system. Its output type defaults to autodetect.
FMOD_RESULT FMOD_System_Create(FMOD::System** system);

namespace FMOD {

inline FMOD_RESULT System_Create(System** system) { return FMOD_System_Create(system); }

class System {
public:
    // Lifetime
    FMOD_RESULT release();
    FMOD_RESULT init(int maxchannels, FMOD_INITFLAGS flags, void* extradriverdata);
    FMOD_RESULT close();

    // Configuration before init
    FMOD_RESULT setOutput(FMOD_OUTPUTTYPE output);
    FMOD_RESULT getOutput(FMOD_OUTPUTTYPE* output);
    FMOD_RESULT getNumDrivers(int* numdrivers);
    FMOD_RESULT getDriverInfo(int id, char* name, int namelen, FMOD_GUID* guid);
    FMOD_RESULT getDriverCaps(int id, FMOD_CAPS* caps, int* minfrequency, int* maxfrequency,
                              FMOD_SPEAKERMODE* controlpanelspeakermode);
    FMOD_RESULT setDriver(int driver);
    FMOD_RESULT getDriver(int* driver);
    FMOD_RESULT setSoftwareChannels(int numsoftwarechannels);
    FMOD_RESULT setSoftwareFormat(int samplerate, FMOD_SOUND_FORMAT format, int numoutputchannels,
                                  int maxinputchannels, FMOD_DSP_RESAMPLER resamplemethod);
    FMOD_RESULT getSoftwareFormat(int* samplerate, FMOD_SOUND_FORMAT* format, int* numoutputchannels,
                                  int* maxinputchannels, FMOD_DSP_RESAMPLER* resamplemethod, int* bits);
    FMOD_RESULT setDSPBufferSize(unsigned int bufferlength, int numbuffers);
    FMOD_RESULT getDSPBufferSize(unsigned int* bufferlength, int* numbuffers);
    FMOD_RESULT setStreamBufferSize(unsigned int filebuffersize, FMOD_TIMEUNIT filebuffersizetype);
    FMOD_RESULT getStreamBufferSize(unsigned int* filebuffersize, FMOD_TIMEUNIT* filebuffersizetype);
    FMOD_RESULT setSpeakerMode(FMOD_SPEAKERMODE speakermode);
    FMOD_RESULT getSpeakerMode(FMOD_SPEAKERMODE* speakermode);
    FMOD_RESULT setAdvancedSettings(FMOD_ADVANCEDSETTINGS* settings);
    FMOD_RESULT getAdvancedSettings(FMOD_ADVANCEDSETTINGS* settings);

    // Plug-ins
    FMOD_RESULT setPluginPath(const char* path);
    FMOD_RESULT loadPlugin(const char* filename, unsigned int* handle, unsigned int priority);
    FMOD_RESULT unloadPlugin(unsigned int handle);
    FMOD_RESULT getPluginInfo(unsigned int handle, FMOD_PLUGINTYPE* plugintype, char* name, int namelen,
                              unsigned int* version);
    FMOD_RESULT createDSPByPlugin(unsigned int handle, DSP** dsp);

    // Information
    FMOD_RESULT getVersion(unsigned int* version);
    FMOD_RESULT getSpectrum(float* spectrumarray, int numvalues, int channeloffset,
                            FMOD_DSP_FFT_WINDOW windowtype);

    // Sounds, channels and units
    FMOD_RESULT createSound(const char* name_or_data, FMOD_MODE mode, FMOD_CREATESOUNDEXINFO* exinfo,
                            Sound** sound);
    FMOD_RESULT createStream(const char* name_or_data, FMOD_MODE mode, FMOD_CREATESOUNDEXINFO* exinfo,
                             Sound** sound);
    FMOD_RESULT createDSP(FMOD_DSP_DESCRIPTION* description, DSP** dsp);
    FMOD_RESULT createDSPByType(FMOD_DSP_TYPE type, DSP** dsp);
    FMOD_RESULT playSound(FMOD_CHANNELINDEX channelid, Sound* sound, bool paused, Channel** channel);
    FMOD_RESULT playDSP(FMOD_CHANNELINDEX channelid, DSP* dsp, bool paused, Channel** channel);
    FMOD_RESULT getMasterChannelGroup(ChannelGroup** channelgroup);
    FMOD_RESULT addDSP(DSP* dsp, DSPConnection** connection);

    // Recording
    FMOD_RESULT getRecordNumDrivers(int* numdrivers);
    FMOD_RESULT getRecordDriverInfo(int id, char* name, int namelen, FMOD_GUID* guid);
    FMOD_RESULT recordStart(int id, Sound* sound, bool loop);
    FMOD_RESULT recordStop(int id);
    FMOD_RESULT isRecording(int id, bool* recording);
    FMOD_RESULT getRecordPosition(int id, unsigned int* position);

    // CD drives
    FMOD_RESULT getNumCDROMDrives(int* numdrives);
    FMOD_RESULT getCDROMDriveName(int drive, char* drivename, int drivenamelen, char* scsiname,
                                  int scsinamelen, char* devicename, int devicenamelen);

    FMOD_RESULT setUserData(void* userdata);
    FMOD_RESULT getUserData(void** userdata);

protected:
    System() = default;
    ~System() = default;
    System(const System&) = delete;
    System& operator=(const System&) = delete;
};

class Sound {
public:
    FMOD_RESULT release();
    FMOD_RESULT getSystemObject(System** system);
    FMOD_RESULT getLength(unsigned int* length, FMOD_TIMEUNIT lengthtype);
    FMOD_RESULT getFormat(FMOD_SOUND_TYPE* type, FMOD_SOUND_FORMAT* format, int* channels, int* bits);
    FMOD_RESULT getDefaults(float* frequency, float* volume, float* pan, int* priority);
    FMOD_RESULT getNumSubSounds(int* numsubsounds);
    FMOD_RESULT getSubSound(int index, Sound** subsound);
    FMOD_RESULT getNumTags(int* numtags, int* numtagsupdated);
    FMOD_RESULT getTag(const char* name, int index, FMOD_TAG* tag);
    FMOD_RESULT readData(void* buffer, unsigned int lenbytes, unsigned int* read);
    FMOD_RESULT seekData(unsigned int pcm);
    FMOD_RESULT setMode(FMOD_MODE mode);
    FMOD_RESULT getMode(FMOD_MODE* mode);
    FMOD_RESULT setLoopPoints(unsigned int loopstart, FMOD_TIMEUNIT loopstarttype, unsigned int loopend,
                              FMOD_TIMEUNIT loopendtype);
    FMOD_RESULT getLoopPoints(unsigned int* loopstart, FMOD_TIMEUNIT loopstarttype, unsigned int* loopend,
                              FMOD_TIMEUNIT loopendtype);
    // User sounds (FMOD_OPENUSER) give direct access to their PCM buffer.
    FMOD_RESULT lock(unsigned int offset, unsigned int length, void** ptr1, void** ptr2, unsigned int* len1,
                     unsigned int* len2);
    FMOD_RESULT unlock(void* ptr1, void* ptr2, unsigned int len1, unsigned int len2);
    FMOD_RESULT setUserData(void* userdata);
    FMOD_RESULT getUserData(void** userdata);

protected:
    Sound() = default;
    ~Sound() = default;
    Sound(const Sound&) = delete;
    Sound& operator=(const Sound&) = delete;
};

class Channel {
public:
    FMOD_RESULT getSystemObject(System** system);
    FMOD_RESULT stop();
    FMOD_RESULT setPaused(bool paused);
    FMOD_RESULT getPaused(bool* paused);
    FMOD_RESULT setVolume(float volume);
    FMOD_RESULT getVolume(float* volume);
    FMOD_RESULT setFrequency(float frequency);
    FMOD_RESULT getFrequency(float* frequency);
    FMOD_RESULT setPan(float pan);
    FMOD_RESULT getPan(float* pan);
    FMOD_RESULT setMute(bool mute);
    FMOD_RESULT getMute(bool* mute);
    FMOD_RESULT setSpeakerMix(float frontleft, float frontright, float center, float lfe, float backleft,
                              float backright, float sideleft, float sideright);
    FMOD_RESULT setSpeakerLevels(FMOD_SPEAKER speaker, float* levels, int numlevels);
    FMOD_RESULT getSpeakerLevels(FMOD_SPEAKER speaker, float* levels, int numlevels);
    FMOD_RESULT isPlaying(bool* isplaying);
    FMOD_RESULT getSpectrum(float* spectrumarray, int numvalues, int channeloffset,
                            FMOD_DSP_FFT_WINDOW windowtype);
    FMOD_RESULT getCurrentSound(Sound** sound);
    FMOD_RESULT getDSPHead(DSP** dsp);
    FMOD_RESULT addDSP(DSP* dsp, DSPConnection** connection);
    FMOD_RESULT setPosition(unsigned int position, FMOD_TIMEUNIT postype);
    FMOD_RESULT getPosition(unsigned int* position, FMOD_TIMEUNIT postype);
    FMOD_RESULT setLoopPoints(unsigned int loopstart, FMOD_TIMEUNIT loopstarttype, unsigned int loopend,
                              FMOD_TIMEUNIT loopendtype);
    FMOD_RESULT setLoopCount(int loopcount);
    FMOD_RESULT getLoopCount(int* loopcount);
    FMOD_RESULT setMode(FMOD_MODE mode);
    FMOD_RESULT getMode(FMOD_MODE* mode);
    FMOD_RESULT getIndex(int* index);
    FMOD_RESULT setUserData(void* userdata);
    FMOD_RESULT getUserData(void** userdata);

protected:
    Channel() = default;
    ~Channel() = default;
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;
};

class ChannelGroup {
public:
    FMOD_RESULT getSystemObject(System** system);
    FMOD_RESULT setVolume(float volume);
    FMOD_RESULT getVolume(float* volume);
    FMOD_RESULT setMute(bool mute);
    FMOD_RESULT getMute(bool* mute);
    FMOD_RESULT addDSP(DSP* dsp, DSPConnection** connection);
    FMOD_RESULT getDSPHead(DSP** dsp);
    FMOD_RESULT getSpectrum(float* spectrumarray, int numvalues, int channeloffset,
                            FMOD_DSP_FFT_WINDOW windowtype);

protected:
    ChannelGroup() = default;
    ~ChannelGroup() = default;
    ChannelGroup(const ChannelGroup&) = delete;
    ChannelGroup& operator=(const ChannelGroup&) = delete;
};

class DSP {
public:
    FMOD_RESULT release();
    FMOD_RESULT getSystemObject(System** system);
    FMOD_RESULT remove();
    FMOD_RESULT disconnectAll(bool inputs, bool outputs);
    FMOD_RESULT setActive(bool active);
    FMOD_RESULT getActive(bool* active);
    FMOD_RESULT setBypass(bool bypass);
    FMOD_RESULT getBypass(bool* bypass);
    FMOD_RESULT reset();
    FMOD_RESULT setParameter(int index, float value);
    FMOD_RESULT getParameter(int index, float* value, char* valuestr, int valuestrlen);
    FMOD_RESULT getNumParameters(int* numparams);
    FMOD_RESULT getInfo(char* name, unsigned int* version, int* channels, int* configwidth, int* configheight);
    FMOD_RESULT getType(FMOD_DSP_TYPE* type);
    FMOD_RESULT setDefaults(float frequency, float volume, float pan, int priority);
    FMOD_RESULT getDefaults(float* frequency, float* volume, float* pan, int* priority);
    FMOD_RESULT setUserData(void* userdata);
    FMOD_RESULT getUserData(void** userdata);

protected:
    DSP() = default;
    ~DSP() = default;
    DSP(const DSP&) = delete;
    DSP& operator=(const DSP&) = delete;
};

class DSPConnection {
public:
    FMOD_RESULT getInput(DSP** input);
    FMOD_RESULT getOutput(DSP** output);
    FMOD_RESULT setMix(float volume);
    FMOD_RESULT getMix(float* volume);

protected:
    DSPConnection() = default;
    ~DSPConnection() = default;
    DSPConnection(const DSPConnection&) = delete;
    DSPConnection& operator=(const DSPConnection&) = delete;
};

}  // namespace FMOD
