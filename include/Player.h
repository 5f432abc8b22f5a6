// CPlayer: a deck. It holds one source at a time, plays it through its main CMonitor (which owns
// the time-stretched channel) and offers it to its cue CMonitor, and keeps every control value in
// its settings block DeckConfig, so the values outlive the source and are applied again at the next
// load. The registry (CPlayerList) creates a deck on first use and deletes it at shutdown.
//
// Thread safety
// - Java threads call the deck's operations. "CPlayer::load" makes them exclusive per deck;
//   "origstream" (the FMOD sounds) and "position" are taken inside it ("origstream" also alone).
//   The monitors' and the channel's locks come after these. Mixer and worker threads never take
//   a deck lock.
// - GetConfig hands out the settings block itself; other subsystems read the output slots and the
//   file name from it on Java threads.
#pragma once

#include "AGC.h"
#include "BeatTracker.h"
#include "CritSect.h"
#include "fmod.hpp"

class CMonitor;

// The settings block. Sliders run 0..10000 with 5000 neutral unless said otherwise.
struct DeckConfig {
    DeckConfig();

    char m_szFileName[2048];          // the source name given to the load; 8-bit or UTF-16
    bool m_bRecording;                // the source is a line-in recording
    bool m_bPlaying;
    unsigned int m_uiSavedLoopStart;  // ms: the loop restored when frame search ends
    unsigned int m_uiSavedLoopEnd;
    bool m_bSavedLoopOn;
    unsigned int m_uiLoopStart;       // ms: the loop given to the channel
    unsigned int m_uiLoopEnd;
    bool m_bLoopOn;
    double m_dSpeed;                  // 0.0..2.0, 1.0 neutral
    double m_dPitchSlider;
    int m_iTempoSlider;               // 0..9900 as stored
    double m_dPan;                    // -1.0..1.0
    int m_iPanSlider;
    float m_fVolume;                  // 0.0..1.0
    unsigned int m_uiFrameSearchLength;    // ms
    unsigned int m_uiFrameSearchPosition;  // ms
    bool m_bFrameSearching;
    int m_iMainOutput;                // output slot of the main output
    int m_iCueOutput;                 // output slot of the cue output
    int m_iRecorder;                  // recording driver of a line-in source
    FMOD::Sound* m_pSound;            // the playing sound (file stream, CD track or line-in sound)
    FMOD::Sound* m_pCDStream;         // parent stream of a CD track
    FMOD::DSP* m_pEcho;
    FMOD::DSP* m_pFlanger;
    bool m_bFlangerOn;
    double m_dFlangerDryMix;
    double m_dFlangerWetMix;
    double m_dFlangerDepth;
    double m_dFlangerRate;
    FMOD::DSP* m_pLowPass;
    bool m_bLowPassOn;
    int m_iLowPassResonance;
    int m_iLowPassCutoff;
    FMOD::DSP* m_pHighPass;
    bool m_bHighPassOn;
    int m_iHighPassResonance;
    int m_iHighPassCutoff;
    FMOD::DSP* m_pNormalizer;
    bool m_bNormalizerOn;             // switches normaliser and compressor together
    float m_fNormalizerFadeTime;      // ms
    float m_fNormalizerThreshold;
    float m_fNormalizerMaxAmp;
    FMOD::DSP* m_pCompressor;
    float m_fCompressorThreshold;     // dB
    float m_fCompressorAttack;        // ms
    float m_fCompressorRelease;       // ms
    float m_fCompressorGainMakeup;    // dB
    CMonitor* m_pCueOutput;           // owned by the deck
    CMonitor* m_pMainOutput;          // owned by the deck
    float m_fGain;                    // 0.0..2.0, 1.0 neutral
    int m_iGainSlider;
    FMOD::DSP* m_pEqHigh;
    FMOD::DSP* m_pEqMid;
    FMOD::DSP* m_pEqLow;
    float m_fEqBandWidth;
    int m_iEqHigh;
    int m_iEqMid;
    int m_iEqLow;
    unsigned int m_uiLength;          // ms
    float m_fTempoFactor;             // 1.0 neutral
    int m_iLastPosition;              // ms; -1 right after a position change
};

class CPlayer : public CAutoGainControl {
public:
    explicit CPlayer(int index);
    virtual ~CPlayer();

    CPlayer(const CPlayer&) = delete;
    CPlayer& operator=(const CPlayer&) = delete;

    DeckConfig* GetConfig() { return m_pConfig; }

    // ---- Loading (PlayerLoad.cpp) ----
    // Unloads, then puts a file, a CD track (".cda" or "cd://device/discid/track") or a line-in
    // source ("record://N") on the deck, routed to the two slots, builds the effect chain and
    // applies every stored setting again. 1, or a negative status.
    int Load(char* path, int mainSlot, int cueSlot, bool unicode);
    // Opens the source named by path into the settings block. 1, or a negative status.
    int LoadFile(char* path, bool unicode);
    // Releases the source, the effect units and the outputs' channels; the settings stay.
    // 1; -5 when an output is missing.
    int Unload();

    // ---- Transport, position, loops and tempo (PlayerTransport.cpp, PlayerLoops.cpp,
    // PlayerTempo.cpp) ----
    int Play(bool on, bool keepPosition);
    int Stop();
    int GetPosition();
    int SetPosition(int position, bool unused);
    int SetLoop(bool on, bool unused, bool save);
    int SetLoopPoints(int start, int end, bool save);
    bool IsLooping();
    bool IsPlaying();
    int FrameSearchForward(unsigned int step);
    int FrameSearchBackward(unsigned int step);
    int SetFrameSearchLength(unsigned int length);
    int SetFrequencyPitch(double slider);
    int SetFrequencyPitchEx(double percent);
    int SetIsReverse(bool reverse);
    int SetTimeStretcher(int slider);
    int setVirtualVTMode(double mode);
    double getVirtualVTMode();
    int enableVirtualVinyl(bool on);
    int setVirtualVTInertia(double inertia);
    int setVirtualVelocity(long position, double time);
    int GetLength();
    int CalcSongLengthRaw(unsigned int* out);
    int GetWaveForm(unsigned char* buffer, unsigned int length);
    int AddPlaybackSnippet(unsigned int start, unsigned int end);
    int PlayerMixDown_openFile(char* path, int format, int bitrate);
    int PlayerMixDown_start();
    int PlayerMixDown_close();
    int startBeatTracking(int deckIndex, bool on, float minBPM, float maxBPM, int precision);
    float GetBPM();
    int SetBufferSize(int size);
    int DefineBeatCallback(void* callback, int deckIndex);
    int setAGCAttackDelay(unsigned int attack, unsigned int delay);

    // ---- Effects, levels and tone (PlayerEffects.cpp, PlayerOutputs.cpp, PlayerMeter.cpp) ----
    int SetEqHigh(int slider);
    int SetEqMid(int slider);
    int SetEqLow(int slider);
    unsigned int GetEqHigh();
    unsigned int GetEqMid();
    unsigned int GetEqLow();
    int SetEqBandWidth(float width);
    int SetEcho(bool on, double delay, double decay, double dryMix, double wetMix);
    int SetFlanger(bool on, double dryMix, double wetMix, double depth, double rate);
    int EnableLowPass(bool on);
    int SetResonance(int slider);
    int SetCutOff(int slider);
    int EnableHighPass(bool on);
    int SetHighPassResonance(int slider);
    int SetHighPassCutOff(int slider);
    int EnableNormalizer(bool on);
    int SetNormalizer(float fadeTime, float threshold, float maxAmp);
    int SetNormalizerCompressor(float attack, float release, float threshold, float gainMakeup);
    int SetPitchShifter(float shift);
    int SetVolume(int slider);
    unsigned int GetVolume();
    int SetVolumeMonitor(int slider);
    unsigned int GetVolumeMonitor();
    int SetMute(bool mute);
    int SetMuteMonitor(bool mute);
    int SetGain(int slider);
    int SetPan(int slider);
    int GetLevels(unsigned int* out);
    int GetTone(char* text);

    int getIndex() const { return m_iIndex; }
    BeatTracker& getBeatTracker() { return m_beatTracker; }

    CritSect m_csPosition;          // "position"
    CritSect m_csBpm;               // "bpm" (never entered)
    CritSect m_csPrebuffer;         // "prebuffer" (never entered)
    CritSect m_csPrebufferStartStop;  // "prebufferstartstop" (never entered)
    CritSect m_csOrigStream;        // "origstream"
    CritSect m_csLoad;              // "CPlayer::load"

private:
    // The channel loop rule: hands the loop window (or the whole sound) and the loop count to the
    // main output after every change of the window or of the loop switch.
    void applyChannelLoop();

    BeatTracker m_beatTracker;
    CritSect m_csUnnamed;           // never entered
    bool m_bUnicodeName;            // m_szFileName holds UTF-16 units (set by LoadFile)
    DeckConfig* m_pConfig;
    unsigned int m_uiLevelHoldLeft;
    unsigned int m_uiLevelHoldRight;
    int m_iIndex;
};
