// CTKCore: the engine's facade. Exactly one instance exists, the global `t_core`, built by the
// library's static initialisation and destroyed when the library is unloaded. The instance holds
// only its three locks and the master recorder; everything else the engine knows lives in the class
// statics below and in a few file globals, all with their defaults at library load.
//
// Lock order: the engine gate (EngineCalls.h; shutdown closes it first), the load lock before
// "Coreglobal"; "LoopLock" is never taken while "Coreglobal" is
// held; the debug log's lock is the innermost lock of all.
//
// Thread safety
// - Java threads call the members concurrently. Start-up, shutdown and deck loading hold the load
//   lock; "Coreglobal" guards the statics, the deck registry and the per-deck lookup.
// - The buffer setters and setupBeatOptions take no lock and write plain values: Java calls them
//   before start-up, and they take effect at the next start-up or the next deck channel created.
// - g_bDebug and g_fMasterGain are read on mixer threads: they are atomics, read without a lock.
#pragma once

#include <jni.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "CritSect.h"
#include "StatusCodes.h"
#include "fmod.hpp"

class FMODSystem;
class CMixDown;
class CPlayer;

// Output slots and sampler slots: fixed tables of this many entries.
constexpr int kTKSlotCount = 65;
// Master equaliser bands per output slot.
constexpr int kTKMasterEqBands = 32;

class CTKCore {
public:
    // Builds "Coreglobal", the load lock and "LoopLock" in that order; zeroes the use counts, the
    // output slots and the master and sampler tables; no master recorder yet.
    CTKCore();

    // Runs CleanUp once more (at process exit: unless calls are still running a second later), then
    // the three locks go.
    ~CTKCore();

    CTKCore(const CTKCore&) = delete;
    CTKCore& operator=(const CTKCore&) = delete;

    // ---- Start-up and shutdown ----
    // Starts the engine: the silent system, the AAC plug-in, the version check, the output slots
    // (mode 0 or 1 enumerates the sound cards; any other mode starts without outputs), a MasterGain
    // unit per slot and the master recorder. 1 (also when already started), -31 when a driver is
    // hardware-emulated (started all the same), -14 for a wrong audio-library version, -13 when a
    // name table cannot be allocated. A failed start-up leaves nothing behind.
    int InitPlayer(unsigned int mode, unsigned int resampler, unsigned int rate);
    // Undoes InitPlayer in order: recorder, decks, MasterGain units, silent system, name tables,
    // output slots (each card's system closed once), master lists. Safe at any time; waits for the
    // engine calls running on other threads, and does nothing when called from inside a call.
    void CleanUp();

    // The deck of that index, created on first use; null before start-up and for an index below 0
    // or above 64. Takes no lock; logs "Init the library first! \n" before start-up.
    CPlayer* getPlayerObject(int index);

    // ---- Per-deck entry points (TKCoreDecks*.cpp) ----
    // Each checks the started flag, takes its lock, writes its banner, looks the deck up (creating
    // it on first use) and hands the call on. A negative index never reaches the registry. Lock
    // kinds: "Coreglobal" for the lookup only, held through the call, or the lookup followed by
    // "LoopLock" around the call; Load holds the load lock throughout.
    int Load(int deck, char* path, int mainSlot, int cueSlot, bool unicode);
    int Unload(int deck);
    int Play(int deck, bool play);
    int Stop(int deck);
    bool IsPlaying(int deck);
    int GetPosition(int deck);
    int SetPosition(int deck, int ms);
    int GetLength(int deck);
    int CalcSongLengthRaw(int deck, unsigned int* out);
    int GetWaveForm(int deck, unsigned char* buffer, unsigned int size);
    int SetMute(int deck, bool mute);
    int SetMuteMonitor(int deck, bool mute);
    int SetVolume(int deck, int value);
    int SetVolumeMonitor(int deck, int value);
    int GetVolume(int deck);
    int GetVolumeMonitor(int deck);
    int SetPan(int deck, int value);
    int SetGain(int deck, int value);
    int GetLevels(int deck, unsigned int* out);
    int GetTone(int deck, char* out);
    int SetFrequencyPitch(int deck, double value);
    int SetFrequencyPitchEx(int deck, double value);
    int SetTimeStretcher(int deck, int value);
    int SetPitchShifter(int deck, float value);
    int SetIsReverse(int deck, bool reverse);
    int SetLoop(int deck, bool on, bool flag);
    int SetLoopPoints(int deck, int start, int end);
    bool IsLooping(int deck);
    int AddPlaybackSnippet(int deck, unsigned int start, unsigned int end);
    int FrameSearchForward(int deck, int step);
    int FrameSearchBackward(int deck, int step);
    int SetFrameSearchLength(int deck, unsigned int ms);
    int SetBufferSize(int deck, int size);
    int DefineBeatCallback(int deck, void* callback);
    int64_t GetChannelHandle(int deck);
    float GetBPM(int deck);
    int startBeatTracking(int deck, bool on);
    int SetEqLow(int deck, int value);
    int SetEqMid(int deck, int value);
    int SetEqHigh(int deck, int value);
    int GetEqLow(int deck);
    int GetEqMid(int deck);
    int GetEqHigh(int deck);
    int SetEqBandWidth(int deck, float width);
    int SetCutOff(int deck, int value);
    int SetResonance(int deck, int value);
    int SetHighPassCutOff(int deck, int value);
    int SetHighPassResonance(int deck, int value);
    int EnableLowPass(int deck, bool on);
    int EnableHighPass(int deck, bool on);
    int SetEcho(int deck, bool on, double delay, double decay, double dryMix, double wetMix);
    int SetFlanger(int deck, bool on, double dryMix, double wetMix, double depth, double rate);
    int enableVirtualVinyl(int deck, bool on);
    int setVirtualVelocity(int deck, int64_t position, double time);
    int setVirtualVTMode(int deck, double mode);
    double getVirtualVTMode(int deck);
    int setVirtualVTInertia(int deck, double inertia);
    int enableAGC(int deck, bool on);
    int setAGCGainOutputLevel(int deck, float level);
    int setAGCAttackDelay(int deck, unsigned int attack, unsigned int delay);
    int PlayerMixDown_openFile(int deck, char* path, int format, int bitrate);
    int PlayerMixDown_start(int deck);
    int PlayerMixDown_close(int deck);
    // All decks at once, under "Coreglobal" for the whole call.
    int SetNormalizerCompressor(float attack, float release, float threshold, float gainMakeup);
    int SetNormalizer(float fadeTime, float threshold, float maxAmp);
    int EnableNormalizer(bool on);

    // ---- Master recording and conversion (src/recording) ----
    // The master recorder records the output slots on which two decks play: setup makes a capture
    // unit per slot (one when both decks share a slot) and attaches it after the slot's whole mix.
    // 1; -1 before start-up; -28 for a deck that does not exist or without recorder; -30 for a
    // deck's main slot outside the slots in use.
    int MixDown_setup(int deckA, int deckB);
    // The recorder's openFile (the mixer's format, 16-bit WAV), start, pause, close and setGain,
    // under "Coreglobal". The recorder's result; -1 before start-up; -28 without recorder. extra,
    // text1 and text2 are handed on and not read.
    int MixDown_openFile(char* path, int format, int bitrate, int extra, char* text1, char* text2);
    int MixDown_start();
    int MixDown_pause();
    int MixDown_close();
    int MixDown_setGain(float gain1, float gain2);
    // The master recorder's texts; null without recorder. No lock.
    const char* MixDown_queryFormats();
    const char* MixDown_queryBitrates();
    const char* MixDown_queryXMLDescription();
    // Decodes the UTF-16-named source and writes it to the UTF-16-named destination as 16-bit WAV
    // (format 1), or to memory (format -1), on the calling thread. listener: the address of a Java
    // object whose setValue(int) receives the percentage (may be null, as may env); cancel: a
    // word that, set to 1 by any thread, stops the conversion after the current block and is reset
    // to 0. 1 (also when cancelled: the file holds what was converted); -1 without silent system;
    // the opener's code for the source; -29 for a destination that cannot be named or written
    // (nothing left behind); -16 for another format; -5 when decoding fails part way.
    int ConvertFile(char* source, char* destination, JNIEnv* env, jobject* listener, int* cancel, int format,
                    int bitrate);

    // ---- Output slots ----
    // Fills the output slots, role codes and names, and the recorder names. 1, or -31.
    int EnumerateSoundcards(FMOD_OUTPUTTYPE type, char* typeName, unsigned int resampler, unsigned int rate);
    // The slot name table and its count; null (count untouched) before start-up.
    char** GetSoundcards(int* count);
    // The recorder name table and its count; null (count untouched) before start-up.
    char** GetRecorderDevices(int* count);
    int setPreferredASIODriver(unsigned int driver);
    char** getAvailableASIODrivers(int* count);
    int ASIOControlPanel();
    // The DSP buffer length, in samples, that millisecond mode gives ms milliseconds at rate Hz:
    // the next power of two, within 128..262144.
    static unsigned int DSPBufferLengthForMS(unsigned int rate, unsigned int ms);

    // ---- Master bus ----
    // The band lists, the band gains and switches and the MasterGain units are guarded by the
    // master bus's own leaf lock (g_csMasterBus), which SetMasterEq, the refresh, AddMasterEq and
    // SetMasterGain take; the gains the mixer threads read are atomics.
    //
    // Stores a band's gain (value / 5000, 0.05 for 0), switch and raw value, then refreshes.
    // -12 for a band that does not exist.
    static int SetMasterEq(int band, int value, bool on);
    // Per card run: switches the master bands and bypasses the MasterGain unit of an idle card.
    static int RefreshMasterEffects();
    // Adds one parametric band (centre in Hz, bandwidth in octaves) on the last slot of every card
    // run, bypassed and unconnected at unity gain. 1; -1 before start-up; -13 when a unit cannot be
    // made or 32 bands exist (units made by the failed call are released again).
    int AddMasterEq(float centreHz, float bandwidth);
    // Master gain 0..10000 (5000 unity, clamped): every used slot's MasterGain unit applies it.
    int SetMasterGain(int value);
    // The normaliser factor the MasterGain units apply while the normaliser is on; not clamped.
    int SetNormalizerGain(float factor);
    // Volume 0..10000 (clamped) of every slot's master channel group. 1; -1; -5 when the audio
    // library refuses a volume (later slots keep theirs).
    int SetMasterVolume(int value);
    // The master level meter: left and right, 0..10000 and more, of the main slots of decks 1 to 3
    // (each slot measured once), scaled by factor. Writes nothing before start-up. Always 1.
    int GetMasterLevels(unsigned int* levels, float factor);
    // GetMasterLevels scaled by the master recorder's first gain. 1; -1; -28 without recorder.
    int MixDown_getLevels(unsigned int* levels);
    // One side's meter value for a spectrum sum (sum of |bin| / 64 over 63 bins): the value
    // GetMasterLevels writes.
    static unsigned int MasterLevelOfSum(float sum, float factor);

    // ---- Sampler ----
    // 65 sample slots on one output slot (g_iSamplerSoundcard). A slot outside 0..64 answers -23;
    // -24 for an empty slot; -30 without a system on the sampler output slot. Only LoadSample
    // takes "Coreglobal"; calls for one slot must come from one thread at a time, and SetupSampler
    // must not overlap other sampler calls. Shutdown forgets the slots' sounds and channels.
    //
    // Loads a file as a compressed sample (stream: as a stream) after unloading the slot. 1; -1;
    // -30; -16 missing or unsupported file; -20 no disc.
    int LoadSample(int slot, char* path, bool unicode, bool stream);
    int UnloadSample(int slot);
    // (Re)starts the slot from 0 with its volume, pitch and the output slot's speaker routing.
    int PlaySample(int slot, bool paused);
    // value / 10000, stored unclamped, applied to a playing slot.
    int SetSampleVolume(int slot, int value);
    // The channel plays at factor x the sound's default frequency.
    int SetSampleFrequencyPitch(int slot, float factor);
    // Loop or play once, from the next PlaySample on.
    int SetSampleMode(int slot, bool loop);
    int SetSamplePosition(int slot, int ms);
    // The position in ms of a playing slot; a slot that stopped playing reports its length.
    int GetSamplePosition(int slot, unsigned int* ms);
    int GetSampleLength(int slot, unsigned int* ms);
    // Moves every loaded slot to another output slot (reloaded as compressed samples, play once).
    // The first call of the library's life sets every volume and pitch to 1.0. -5 for an output
    // slot outside 0..64.
    int SetupSampler(int outputSlot);

    // ---- Sound files ----
    // Names come with the unicode flag: false for 8-bit (UTF-8) text, true for UTF-16 units. Every
    // sound opened here is a decode-only stream on the silent system. None of these takes an
    // engine lock; they may run on Java threads and workers at once. A sound handle is the
    // sound's address as a 64-bit integer, 0 meaning none; handles are checked against the sounds
    // opened here and not yet closed (SoundHandles.h), so an unknown or closed one gets -3.
    //
    // 1 when the name's last five characters hold a supported extension ("m4a" and "aac" only
    // with the AAC plug-in), or the name holds "cd://" or "record://"; else -16.
    static int IsValidFileType(char* name, bool unicode);
    // 1 for a "://" name or a readable file of more than 128 bytes; -3 missing, empty or
    // unreadable; -16 for 128 bytes or less.
    static int IsFileAvailable(char* name, bool unicode);
    // False for CD audio (".cda", ".CDA", "cd://", "CD://" anywhere in the name).
    static bool isWaveDataAccessAllowed(char* name, bool unicode);
    // The one opener: a file, a ".cda" track or a "cd://device/discid/track" track. 1 and the
    // sound in *out; else a negative code and *out untouched by a sound. accurate: exact length
    // and seeking; withRecord: a SoundUserData record becomes the sound's user data.
    static int _openFmodSound(char* name, FMOD::Sound** out, bool unicode, bool accurate, bool withRecord);
    // Closes a sound the opener handed out: frees its record, releases it (and the CD stream it
    // came from). 1; -1 before start-up; -3 for null or a sound that is not open.
    static int _closeFmodSound(FMOD::Sound* sound);
    // Closes every sound still open, as _closeFmodSound does, waiting for users that hold one.
    // Shutdown calls it before it releases the silent system: the system would free the sounds
    // but not their records, and the handles would outlive them.
    static void _closeAllFmodSounds();
    // Opens accurately with a record and stores the handle (0 on failure). -1 before start-up.
    int OpenFile(char* name, bool unicode, int64_t* handle);
    // Length in milliseconds of an open handle. 1; -3 for 0, an unknown or a closed handle.
    int GetSongLength(uint64_t handle, unsigned int* ms);
    // 1; -1 before start-up; -3 for 0, an unknown or a closed handle.
    int CloseFile(int64_t handle);
    // Quick open, length in milliseconds, close. 1; -1 before start-up; the opener's code.
    int CalcSongLength(char* name, unsigned int* ms, bool unicode);

    // ---- Whole-file analysis (src/analysis/TKCoreAnalysis.cpp) ----
    // Each runs on the calling thread to completion, takes no engine lock, and answers -1 before
    // start-up. A Java listener (the address of a reference, may be null) hears setValue(int)
    // progress; a cancel word set to 1 by any thread ends the run early, and what was analysed is
    // reported. Handles are looked up first: an unknown or closed one is -3.
    //
    // Waveform overview (4 bytes per point) of an open sound from startMs to its end into buffer.
    // 1 when the buffer was filled, 0 when the sound ended first, -3 no sound, the analyzer's code.
    int CalcWaveForm(long sound, unsigned int startMs, char* buffer, unsigned int bufferSize, double msPerPoint);
    // The tasks a Java options object asks for over an open sound, reported through the setters
    // of a Java result object. -28 without env, caller, sound, options or result; -25 when one of
    // their members is missing (nothing decoded); 1, or the analyzer's code (no setter called).
    int AnalyzeData(JNIEnv* env, jobject caller, jobject listener, int* cancel, long long sound, jobject options,
                    jobject result, bool throttle);
    // Tempo of a file into *bpm, and its beats as BeatEvent objects added to *beatList when given.
    // 1; 0 when beat detection failed; -28 without env; the opener's or the analyzer's code.
    int CalcBPM(char* path, float* bpm, JNIEnv* env, jobject* listener, bool unicode, int* cancel,
                unsigned int precision, jobject* beatList);
    // End of the leading and start of the trailing silence (ms) of a file against a threshold.
    // 1; 0 when no trailing point was found; the opener's code.
    int CalcSilenceDB(char* path, unsigned int* start, unsigned int* end, float silenceDB, bool unicode);
    // ReplayGain title gain (dB) of a file. 1; 0 when unopenable or no gain; the analyzer's code.
    int CalcReplayGain(char* path, float* gain, JNIEnv* env, jobject* listener, bool unicode, int* cancel);

    // ---- CD drives ----
    // Both hold "Coreglobal" for their whole run and ask output slot 0, not the silent system.
    //
    // Drive names into names[0..count-1], 256 bytes each (at most 256 drives). 1;
    // -1 before start-up; -30 without output slot 0; -20 when the audio library reports no disc.
    int GetCDDrives(int* count, char** names);
    // Track count, disc identifier text ("%08x") and query text of the disc in a drive; both
    // texts go into caller buffers of 2048 bytes and are left alone without a table of
    // contents. 1; -5 without output slot 0; -20 for an empty drive.
    int GetCDInfo(char* drive, unsigned int* tracks, char* idText, char* queryText);

    // Sample-count buffer mode: DSP buffer of dsp samples (at least 512) in count buffers (at
    // least 2). Returns 1, or -21 when a value was corrected or the stream size is below 1024;
    // the settings are stored either way and take effect at the next start-up.
    int SetBufferSizes(unsigned int stream, unsigned int dsp, unsigned int count);
    // Millisecond buffer mode: DSP buffer of ms milliseconds (at least 1). Returns 1, or -21 when
    // ms was 0 or stream is 0; the settings are stored either way.
    int SetBufferSizesMS(unsigned int stream, unsigned int ms);
    // Scratch quality for deck channels created from now on. -1 before start-up (nothing changes).
    int setScratchQuality(int quality);
    // Beat-detection precision and BPM range; each bound clamped to 20..250. Returns 1.
    int setupBeatOptions(int precision, float minBPM, float maxBPM);
    // Does nothing; returns 1.
    int increaseProcessPriority();
    // No sound on this platform comes from a platform media decoder: always false.
    bool _hasQuickTime(FMOD::Sound* sound);

    // ---- Global state (class statics) ----
    static FMODSystem* g_Systems[kTKSlotCount];     // output slots, several may wrap one card
    static int g_soundcardcount;                    // output slots in use
    static int g_outputstate[kTKSlotCount];         // role code of each slot
    static int g_SystemsUseCount[kTKSlotCount];     // decks loaded on each slot; g_csMasterBus
    static char** g_soundcards;                     // 65 buffers of 255 bytes: slot names
    static char** g_recorderdevices;                // 65 buffers of 255 bytes: recorder names
    static int g_recordercount;
    static FMODSystem* g_SilentSystem;              // no-sound system for decoding and analysis

    static std::atomic<bool> g_bDebug;              // debug-log switch, set from Java
    static FILE* g_fDebugFile;                      // the open debug log; under g_cDebugLock
    static CritSect g_cDebugLock;                   // unnamed: never logs itself

    static std::atomic<float> g_fMasterGain;        // user data of every MasterGain unit
    static unsigned int g_uiTimeStretcherQuality;
    static unsigned int g_uiScratchQuality;
    static unsigned int g_stream_buffer_size;       // PCM bytes; no setter changes it
    static unsigned int g_usebuffersizesMS;         // non-zero: millisecond mode
    static unsigned int g_dsp_buffer_size;          // samples (sample-count mode)
    static unsigned int g_dsp_buffer_count;
    static unsigned int g_dsp_buffer_sizeMS;        // milliseconds (millisecond mode)

    static int m_iBPMCalcPrecision;
    static float m_fBPMCalcMininmalBPM;
    static float m_fBPMCalcMaximalBPM;

    static bool g_bHaveAACPlugin;
    static int g_asioSoundcardIndex;                // never changed: recorders list through slot 0
    static unsigned int g_uiPreferredASIODriver;    // stored, never read
    static char** g_asiodevices;                    // never filled on this platform
    static int g_asiodevicecount;

    static bool g_masterEQSupposedToEnable[kTKMasterEqBands];   // band switched on by SetMasterEq
    static int g_masterEQSupposedToEnableDb[kTKMasterEqBands];  // raw value last given to it

    // ---- The instance ----
    CritSect m_csCoreGlobal;  // "Coreglobal"
    CritSect m_csLoad;        // unnamed: start-up, shutdown and deck loading
    CritSect m_csLoop;        // "LoopLock": deck transport and loop entry points
    CMixDown* m_pMixDown;     // master recorder, owned; null until start-up

private:
    // CleanUp's work once the engine gate is closed.
    void tearDown();
    // Runs call(recorder) on the master recorder under its own lock, "Coreglobal" held only to
    // find it (TKCoreMixDown.cpp).
    template <typename Call>
    int withMixDown(Call call);
};

extern CTKCore t_core;

// File globals created, cleared or freed by the engine core; used by the master bus and sampler.
extern std::vector<FMOD::DSP*>* g_masterGainList;   // 65 lists: slot i's MasterGain unit
extern std::vector<FMOD::DSP*>* g_masterEQList;     // 65 lists: the master EQ band units
extern std::vector<float>* g_masterEQValues;        // the master band gains
extern bool g_masterEQAddedDSP[kTKSlotCount][kTKMasterEqBands];
extern FMOD::Sound* g_samplerSounds[kTKSlotCount];
extern FMOD::Channel* g_samplerChannels[kTKSlotCount];
// The master bus's leaf lock (unnamed: it never logs). Guards the master lists, the band flags,
// the use counts (g_SystemsUseCount) and, for the level meter, each deck's main slot as a load
// sets it. Taken after "Coreglobal" and the deck locks, before an FMODSystem lock and the debug
// log's lock; never held across a Java call.
extern CritSect g_csMasterBus;
// The last slot of the card run that starts at `first` (< g_soundcardcount): consecutive slots
// whose wrappers hold one system; a null slot is a run of its own.
int masterCardRunLast(int first);

// The sampler's slots (sampler/): volumes (value / 10000), pitch factors, stored paths (8-bit,
// or UTF-16 units with their terminator; empty when not stored) and the output slot.
constexpr int kTKSamplerPathBytes = 256;
extern float g_fSamplerVolumes[kTKSlotCount];
extern float g_fSamplerFrequencyPitches[kTKSlotCount];
extern char g_sSamplerFileNames[kTKSlotCount][kTKSamplerPathBytes];
extern bool g_bSamplerFileNameUnicode[kTKSlotCount];
extern int g_iSamplerSoundcard;
// Shutdown: forgets every slot's sound and channel (the systems that own them are going away).
void forgetSamplerSlots();

// The normaliser of the master bus: MasterGain units multiply by m_fNormalizerGain while
// m_bEnableNormalizer is set. Read on mixer threads.
extern std::atomic<bool> m_bEnableNormalizer;
extern std::atomic<float> m_fNormalizerGain;

// Read callback of the "MasterGain" unit on every output slot. Its user data is the address of a
// std::atomic<float> gain (CTKCore::g_fMasterGain). Mixer thread; takes no lock.
FMOD_RESULT MasterGainFactor(FMOD_DSP_STATE* state, float* in, float* out, unsigned int length, int inChannels,
                             int outChannels);
