// CMonitor: one output path of a deck on one output slot. The main monitor owns the deck's
// TimeStretchedChannel and a tap that copies what passes through it into a ring; the cue monitor
// either routes the main channel to its own speaker pair (same card, other slot) or plays the
// tap's ring through a "MonitorPlayer" DSP channel on its own slot's system (another card, or the
// very slot of the main output). SetupSpeakerMixes turns a slot's role code into speaker levels;
// the sampler uses it too.
//
// Thread safety
// - Java threads (through the deck) call Init, Stop, Play, the setters and getLevels; "MonitorStream"
//   serialises channel creation, teardown and the level query. The deck's own locks are taken
//   outside it.
// - DSPRecordCallback runs on the main system's mixer thread, DSPReadCallback on the cue system's.
//   They share only the tap's ring (one filler, one reader) and take no engine lock.
//
// Callback safety
// - Neither callback allocates or waits: the ring's mutex guards only its size queries, and the
//   scratch the reader spreads from is allocated with the tap.
// - The cue never lags the main output by more than kMaxCueLagSeconds: when two cards' clocks
//   drift, the reader drops the oldest audio instead of letting the backlog grow.
// - The cue never runs dry while its deck plays: the reader starts only with kCueCushionBlocks in
//   hand beyond its block, and a seek's clear keeps that much of the newest audio.
#pragma once

#include <atomic>

#include "CritSect.h"
#include "LABuffer.h"
#include "fmod.hpp"

class CPlayer;
class FMODSystem;
class TimeStretchedChannel;
class BeatResultListener;

// The tap shared by a deck's two monitors: owned by the main, borrowed by the cue.
struct MonitorTap {
    CLABuffer<float>* ring;     // interleaved samples of the main channel, `channels` per frame
    CritSect lock;              // unnamed: taken to empty or free the ring
    std::atomic<int> channels;  // channel count of the last block that passed the tap
    std::atomic<int> length;    // frame count of that block
    std::atomic<int> sampleRate;  // output rate of the main slot's system
    float* scratch;             // reader side: one block before it is spread to the cue's channels
    // Set by ClearMonitoring on a Java thread; the reader empties the ring down to its cushion
    // before its next block, so the ring only ever has its one filler and its one reader.
    std::atomic<bool> clearRequested;
    // Reader side only: a clear taken but not yet done (the block length was unknown), and whether
    // the reader has its cushion and plays from the ring.
    bool clearPending;
    bool primed;
    MonitorTap();
    ~MonitorTap();
};

class CMonitor {
public:
    // How far the cue may fall behind the main output before the oldest audio is dropped.
    static constexpr float kMaxCueLagSeconds = 0.25f;
    // Blocks the cue keeps in hand against the two mixers' jitter (see DSPReadCallback).
    static constexpr int kCueCushionBlocks = 2;
    // Floats the reader's scratch holds (a block of up to 8192 frames of 8 channels).
    static constexpr unsigned int kScratchFloats = 8192u * 8u;

    // main null: a main monitor with its own tap; otherwise a cue monitor borrowing main's tap.
    CMonitor(CPlayer* owner, CMonitor* main);
    ~CMonitor();

    CMonitor(const CMonitor&) = delete;
    CMonitor& operator=(const CMonitor&) = delete;

    // Lifecycle and routing ------------------------------------------------------------------
    // Stops what played before, then sets up on the slot. 1; -5 for a slot beyond the slot count.
    int Init(int slot, int isCue, FMOD::Sound* sound, bool loopMode);
    int Stop();
    int Play(bool play);
    int SetVolume(float volume);
    int SetMute(bool mute);
    int SetPan(float pan);
    int _internalSetMonitorVolume(float level, int slot);

    static void SetupSpeakerMixes(int role, FMOD::Channel* channel, TimeStretchedChannel* tsc, float level);
    static FMOD_RESULT SetSpeakerLevels(FMOD::Channel* channel, TimeStretchedChannel* tsc, FMOD_SPEAKER speaker,
                                        float* levels, int count);
    static FMOD_RESULT SetSpeakerMix(FMOD::Channel* channel, TimeStretchedChannel* tsc, float fl, float fr, float c,
                                     float lfe, float bl, float br, float sl, float sr);

    // The tap --------------------------------------------------------------------------------
    int ActivateMonitoring();
    int DeActivateMonitoring();
    int ClearMonitoring();
    static FMOD_RESULT DSPRecordCallback(FMOD_DSP_STATE* state, float* in, float* out, unsigned int length,
                                         int inChannels, int outChannels);
    static FMOD_RESULT DSPReadCallback(FMOD_DSP_STATE* state, float* in, float* out, unsigned int length,
                                       int inChannels, int outChannels);

    int getLevels(float* left, float* right, unsigned int count, int* channels);

    // Forwarders: the time-stretched channel first, else the FMOD channel ---------------------
    int getVolume(float* out);
    FMOD::Channel* GetChannelObject() { return m_pChannel; }
    BeatResultListener* getBeatResultListener();
    double getVirtualVTMode();
    int setVirtualVTInertia(double inertia);
    int setVirtualVTMode(double mode);
    int setVirtualVelocity(long position, double time);
    int enableVirtualVinyl(bool enable);
    int PlayerMixDown_close();
    int PlayerMixDown_start();
    int PlayerMixDown_openFile(char* path, int format, int bitrate);
    int addPlaybackSnippet(unsigned int start, unsigned int end);
    int SetScratchIntensity(float intensity);
    int SetReverse(bool reverse);
    int SetTimeStretch(float factor, bool keepPosition);
    int SetGain(float gain);
    int getSpectrum(float* out, int count, int channelIndex, FMOD_DSP_FFT_WINDOW window);
    unsigned int getPositionRawMs();
    int getPosition(unsigned int* out, unsigned int unit, bool interpolate);
    int setLoopPoints(unsigned int start, unsigned int startUnit, unsigned int end, unsigned int endUnit);
    int setLoopCount(int count);
    int setPosition(unsigned int position, unsigned int unit);
    int addDSP(FMOD::DSP* dsp, FMOD::DSPConnection** connection);
    int setHighResPitch(float factor);
    int setPitch(float factor);
    int setFrequency(float hz);

    // State for the deck and for tests ---------------------------------------------------------
    TimeStretchedChannel* getTimeStretchedChannel() { return m_pTSChannel; }
    int getSlot() const { return m_iSlot; }
    bool isSameSystemMode() const { return m_bSameSystem; }
    MonitorTap* getTap() { return m_pTap; }
    FMOD::DSP* getTapDSP() { return m_pTapDSP; }
    float getBaseFrequency() const { return m_fBaseFrequency; }
    bool isMuted() const { return m_bMute; }
    float getPan() const { return m_fPan; }

private:
    // The slot's wrapper and role; null and -1 for a slot outside the tables (65 included).
    static FMODSystem* systemOfSlot(int slot);
    static int roleOfSlot(int slot);

    CPlayer* m_pOwner;
    int m_iCue;
    FMOD::Sound* m_pSound;
    CritSect m_streamLock;  // "MonitorStream"
    FMOD::Channel* m_pChannel;
    TimeStretchedChannel* m_pTSChannel;
    int m_iSlot;
    float m_fVolume;
    float m_fPan;
    bool m_bMute;
    MonitorTap* m_pTap;
    bool m_bBorrowedTap;
    FMOD::DSP* m_pTapDSP;
    float m_fBaseFrequency;
    CMonitor* m_pMainMonitor;
    bool m_bSameSystem;
    double m_dVTMode;  // last mode given to the channel's setVirtualVTMode; 0 for a new channel
};
