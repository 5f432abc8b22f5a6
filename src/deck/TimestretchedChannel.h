// TimeStretchedChannel: one deck output on one output slot. In loop mode it plays the deck's
// source through LoopSound, a SoundTouch stretcher (tempo without pitch) and an output ring that
// pre-renders blocks on its own worker; the audio layer plays the result through a generator DSP
// named "Player", whose channel frequency is the turntable speed (tempo and pitch together). In
// line-in mode it plays the line-in sound directly through a gain DSP.
//
// The position it reports is the source frame at the end of the last block the *mixer took* out
// of the output ring (mapped back through the TimeStretchCorrector), not the blocks rendered
// ahead into the ring nor the prefetch position; interpolated, it follows the mixer's pace
// through the ring (TimestretchedChannelPosition.cpp).
//
// Thread safety
// - Render thread: the output ring's worker (or the mixer thread while the ring is bypassed)
//   runs readFromResampledBuffer / readFromBuffer / readCallback / calculateNewPosition. Only
//   that thread ever touches the stretcher and the work buffer; one render step at a time is
//   enforced by m_renderGuard (a second caller gets silence, never a shared stretcher).
// - Mixer thread: DSPReadCallback (vinyl step, then a ring copy) and GainFactor, both with the
//   mixer-thread mark set (MixerThread.h). There the channel lock is only tried: a busy lock
//   gives the vinyl step the previous position report and parks its speed for the next
//   callback. The source's length is read once at construction, never from the sound there.
// - stop() and the destructor stop the FMOD channel outside the channel lock: stopping waits for
//   a callback in progress, and that callback may be trying the lock.
// - Control threads (Java, through CMonitor): everything else. Seeks and tempo resyncs never
//   touch the stretcher themselves: they raise m_bClearStretcher and the next render step
//   clears it before it reads.
// - Locks: the channel lock guards the FMOD channel and its DSPs; the position lock guards the
//   position queue, the blocks the mixer took and its pace. Neither is ever taken inside the
//   other. The mixer's own part is lock-free: the output ring counts what it reads. The render step reads playing, speed, tempo factor, pan, gain and pitch
//   shift as atomics without a lock.
//
// Callback safety
// - A render step in steady state allocates nothing: the work buffer grows only when a block
//   needs more than its capacity (the constructor sizes it for the mixer's block), the step
//   buffers are fixed members, the position queue is reserved at construction, and the
//   stretcher's queues are grown at construction for the deck's whole tempo range, so a tempo
//   change does not allocate either.
#pragma once

#include <sys/time.h>

#include <atomic>
#include <cstdint>
#include <limits>
#include <mutex>
#include <vector>

#include "CritSect.h"
#include "Event.h"
#include "LoopSound.h"
#include "MixDown.h"
#include "TimeStretchCorrector.h"
#include "TimestretchedChannelBeatListener.h"
#include "VirtualVinylController.h"
#include "com/tarvenkolm/outputbuffering/ITKOutputBuffer.h"
#include "com/tarvenkolm/outputbuffering/ITKOutputBufferSource.h"
#include "com/tarvenkolm/resampler/ITKResampler.h"
#include "com/tarvenkolm/resampler/ITKResamplerSource.h"
#include "fmod.hpp"

class FMODSystem;

namespace soundtouch {
class SoundTouch;
}

// One rendered block: the source frame at which it ends and its length in output frames.
struct PosList {
    uint32_t position;
    uint32_t frames;
};

// final: the bases have no virtual destructor (owners delete through this type), and nothing
// derives from the channel.
class TimeStretchedChannel final : public BeatResultListener,
                             public com_tarvenkolm_resampler::ITKResamplerSource,
                             public com_tarvenkolm_outputbuffering::ITKOutputBufferSource,
                             public CVirtualVinylController {
public:
    static constexpr unsigned int kDefaultBlockFrames = 1024;
    static constexpr unsigned int kMinWorkFloats = 8192;
    static constexpr unsigned int kStep8Bytes = 8192;
    static constexpr unsigned int kStep16Bytes = 16384;
    static constexpr unsigned int kStep24Bytes = 24576;
    static constexpr unsigned int kStep32Bytes = 32768;
    static constexpr unsigned int kRawReadBytes = 131072;
    // Source reads one stretched block may make before it gives up on the stretcher producing a
    // whole block (a source that keeps delivering a few bytes must not stall the render thread).
    static constexpr unsigned int kMaxReadsPerBlock = 64;
    static constexpr size_t kSpeakerCount = 8;

    // loopMode true: loop mode over sound; false: line-in mode playing sound. A null system
    // leaves an inert channel (members only).
    TimeStretchedChannel(FMODSystem* system, FMOD::Sound* sound, bool loopMode);
    ~TimeStretchedChannel();

    TimeStretchedChannel(const TimeStretchedChannel&) = delete;
    TimeStretchedChannel& operator=(const TimeStretchedChannel&) = delete;

    // BeatResultListener: keeps a copy of the list, times in ms. 1; -5 for null.
    int setBeatEvents(std::vector<Event*>* events) override;
    // ITKResamplerSource: one render step. 0 after a rendered block, 33 after a silent one.
    int readFromBuffer(float* out, unsigned int frames, int channels) override;
    // ITKOutputBufferSource: the resampler's read or the channel's own render step.
    int readFromResampledBuffer(float* out, unsigned int frames, int channels, bool flag) override;
    // CVirtualVinylController.
    int SetFrequencyHighResPitch(double speed) override;
    unsigned int GetPositionVinylScratch() override;

    // Construction helpers and teardown -------------------------------------------------------
    // Replaces the output ring and starts its worker. The constructor calls it while the FMOD
    // channel is still paused; the mixer reads the ring pointer without a lock, so never call it
    // on a channel that plays.
    int startBuffering(int frames, int channels);
    int stopBuffering();

    // Render entry points ---------------------------------------------------------------------
    static FMOD_RESULT DSPReadCallback(FMOD_DSP_STATE* state, float* in, float* out, unsigned int length,
                                       int inChannels, int outChannels);
    static FMOD_RESULT GainFactor(FMOD_DSP_STATE* state, float* in, float* out, unsigned int length,
                                  int inChannels, int outChannels);
    int readCallback(float* in, float* out, unsigned int length, int inChannels, int outChannels);
    void calculateNewPosition(unsigned int frames);
    int readFromBufferedResampledBuffer(float* out, unsigned int frames, int channels);

    // Transport and position ------------------------------------------------------------------
    int setPaused(bool paused);
    int getPaused(bool* paused);
    int setPosition(unsigned int position, unsigned int unit);
    int getPosition(unsigned int* position, unsigned int unit, bool interpolate);
    unsigned int getPositionRawMs();
    int flushBuffers();
    int stop();

    // Tempo, speed and pitch ------------------------------------------------------------------
    void setTimeStretch(float factor, bool resync);
    float getTimeStretch() const { return m_fTempoFactor.load(std::memory_order_acquire); }
    int setPitch(float speed);
    int setHighResPitch(float speed);
    int setScratchIntensity(float intensity);
    int setPitchShift(float semitones);

    // Loops, snippets, direction --------------------------------------------------------------
    int setLoopCount(int count);
    int setLoopPoints(unsigned int start, unsigned int startUnit, unsigned int end, unsigned int endUnit);
    int addPlaybackSnippet(unsigned int startMs, unsigned int endMs);
    int setReverse(bool reverse);

    // Levels, routing and FMOD-channel forwarders ---------------------------------------------
    int setVolume(float volume);
    int getVolume(float* volume);
    int setMute(bool mute);
    int setFrequency(float hz);
    int setSpeakerMix(float frontLeft, float frontRight, float center, float lfe, float backLeft, float backRight,
                      float sideLeft, float sideRight);
    int setSpeakerLevels(FMOD_SPEAKER speaker, float* levels, int count);
    int getSpectrum(float* values, int count, int channelOffset, FMOD_DSP_FFT_WINDOW window);
    int getCurrentSound(FMOD::Sound** sound);
    int addDSP(FMOD::DSP* dsp, FMOD::DSPConnection** connection);
    int setPan(float pan);
    void setGain(float gain) { m_fGain.store(gain, std::memory_order_release); }
    float getPan() const { return m_fPan.load(std::memory_order_acquire); }
    float getGain() const { return m_fGain.load(std::memory_order_acquire); }

    // Deck recording --------------------------------------------------------------------------
    int PlayerMixDown_openFile(char* path, int format, int bitrate);
    int PlayerMixDown_start();
    int PlayerMixDown_close();

    // The levels CMonitor::SetupSpeakerMixes last gave each speaker; only it reads and writes them.
    float* keptSpeakerLevels() { return m_fKeptSpeakerLevels; }

    // Diagnostics and tests -------------------------------------------------------------------
    LoopSound* getLoopSound() { return m_pLoopSound; }
    com_tarvenkolm_outputbuffering::ITKOutputBuffer* getOutputBuffer() { return m_pOutputBuffer.load(std::memory_order_acquire); }
    FMOD::Channel* getFMODChannel();
    FMOD::DSP* getLowPassDSP();
    unsigned int getBlockFrames() const { return m_uiBlockFrames; }
    size_t getBeatEventCount();
    double getBeatEventTime(size_t index);

private:
    // Render stages (TimestretchedChannelRender.cpp).
    int renderStretched(float* out, unsigned int len, float left, float right, float factor);
    int renderDirect(float* out, unsigned int len, float left, float right);
    // Feeds the stretcher from the source until it has `len` frames out (or the source ends) and
    // takes up to `len` of them into m_pWork; the frames taken. Given `fetching`, an empty
    // stretcher is not fed the silence of a far seek still being fetched: what was read goes
    // into m_pWork as it is, and *fetching is set.
    unsigned int pullStretched(unsigned int len, bool* fetching = nullptr);
    // Scales a rendered block by the sides' levels (gain and pan), ramping from the levels of the
    // block before so that a change never steps.
    void applyLevels(float* out, unsigned int len, float left, float right);
    void queueStep(unsigned int walked, unsigned int frames, float factor);
    void queuePosition(int64_t position, unsigned int frames);
    // Accounts what the mixer has taken out of the output ring against the position queue
    // (TimestretchedChannelPosition.cpp). wait false only tries the position lock; Locked: held.
    void accountTaken(bool wait);
    void accountTakenLocked();
    // A loop change while the ring holds audio rendered past the loop's end, which the mixer
    // has not taken yet: that audio is rendered again from the frame the mixer takes next.
    // renderedBefore: the source reader's place before the change.
    void rerenderPastLoopEnd(unsigned int renderedBefore);
    // Source frames by which an emptied stretcher's sound at this tempo factor lags the line of
    // the frame it starts from (0 on the 1:1 path). Call with m_renderGuard held: it sets the
    // stretcher's tempo to the factor's, as the next render step would.
    double emptyStretcherLag(float factor);
    // setPosition's seek to `heard`, under the render guard: stretcher, position queue, ring and
    // source start again there. The source's result.
    int applySeek(unsigned int position, unsigned int unit, unsigned int heard);
    // After a seek emptied the ring: the source's fade starts from what the mixer took last.
    void handHeardFrameToSource(com_tarvenkolm_outputbuffering::ITKOutputBuffer& ring);
    // Takes the queued blocks that end at or before ring frame `taken`, read by the mixer at atNs.
    void accountLocked(uint64_t taken, int64_t atNs);
    // Feeds one take (the ring frame it began at, and when) to the smoothed pace.
    void observeTake(double ringFrame, int64_t atNs);
    // The source frame of the audio the mixer is taking now; false when there is none to tell.
    bool sourceNowLocked(double* frame);
    // How much earlier, on average, the mixer reads a block than it plays the block's first frame
    // (ns): it reads a block when its resampler needs it, part-way through one of its own blocks.
    int64_t takeLeadNs(double ringRate);
    bool growWork(unsigned int floats);
    // Bytes one read of the source may ask for: len frames of the source's width, capped by the
    // step buffer of that width and cut to whole frames; 0 for a width not played.
    unsigned int requestBytes(unsigned int len) const;
    // The channel lock held by the caller.
    int setPitchLocked(float speed);
    int setHighResPitchLocked(float speed);
    int setScratchIntensityLocked(float intensity);
    // Mixer thread: applies a vinyl speed that an earlier callback had to park.
    void applyPendingVinylSpeed();
    // Grows the stretcher's buffers for the largest backlog a tempo change can leave, so that no
    // render step allocates inside it (TimestretchedChannelPrime.cpp).
    void primeStretcher();
    // Converts n source bytes of the step buffer into stereo work frames; returns the frames.
    unsigned int convertToWork(const unsigned char* bytes, unsigned int count);

    FMOD::Channel* m_pChannel;        // under m_channelLock
    FMOD::DSP* m_pRenderDSP;          // under m_channelLock
    FMOD::DSP* m_pLowPassDSP;         // under m_channelLock
    FMODSystem* m_pSystem;
    CritSect m_channelLock;
    LoopSound* m_pLoopSound;
    FMOD::Sound* m_pLineInSound;
    int m_iChannels;
    int m_iBytesPerSample;
    bool m_bFloatSamples;  // 4-byte samples are IEEE floats (else 32-bit integers)
    std::atomic<float> m_fTempoFactor;
    soundtouch::SoundTouch* m_pStretcher;  // render thread only (see m_bClearStretcher)
    unsigned int m_uiWorkCapacity;         // render thread only
    float* m_pWork;                        // render thread only
    std::atomic<com_tarvenkolm_resampler::ITKResampler*> m_pResampler;
    std::atomic<float> m_fPan;
    std::atomic<float> m_fGain;
    // Render thread only: the sides' levels the last block ended on; negative before the first.
    float m_fLevelLeft = -1.0f;
    float m_fLevelRight = -1.0f;
    float m_fFrequency;
    std::atomic<float> m_fSpeed;
    std::atomic<float> m_fHighResPitch;
    std::atomic<float> m_fPitchShift;
    float m_fKeptSpeakerLevels[kSpeakerCount];
    // Published once the ring runs: the render DSP may already be pulled by the mixer thread.
    std::atomic<com_tarvenkolm_outputbuffering::ITKOutputBuffer*> m_pOutputBuffer;
    std::vector<PosList> m_positionQueue;  // under m_positionLock
    CritSect m_positionLock;
    std::atomic<bool> m_bPlaying;
    // The source frame at the end of the last block the mixer took: the heard position.
    std::atomic<unsigned int> m_uiHeardPosition;
    // Under m_positionLock from here to m_dReportedFrames. The output ring's frame where the
    // queue's front block starts, and the ring's epoch (resets) the queue is counted in.
    uint64_t m_uiQueueRingStart;
    uint64_t m_uiRingEpoch;
    // The last blocks the mixer took, in a circle: where each starts in the ring, the source
    // frames it begins and ends at, its frames.
    struct TakenBlock {
        uint64_t ringStart;
        unsigned int from;
        unsigned int to;
        unsigned int frames;
    };
    static constexpr size_t kTakenHistory = 16;
    TakenBlock m_taken[kTakenHistory];
    size_t m_uiTakenCount;
    size_t m_uiTakenNext;
    // The mixer's pace through the ring, smoothed over its takes: ring frame m_dLineFrames at
    // m_lLineNs (steady clock), advancing at the rate the mixer plays the ring.
    bool m_bLineValid;
    double m_dLineFrames;
    int64_t m_lLineNs;
    // The furthest ring frame a report has stood for since the last seek.
    double m_dReportedFrames;
    // The frame the last seek's prefetch lands on, and whether play still stands there: until it
    // moves on, blocks queued at the landing frame stand for the frame asked.
    unsigned int m_uiSeekLanding = 0;
    bool m_bHoldAtAsked = false;
    // The mixer's rate, read at construction (0: unknown); takeLeadNs's answer for the ring rate
    // it was last asked about.
    int m_iMixRate;
    double m_dLeadRingRate;
    int64_t m_lLeadNs;
    // Render thread (and seeks, which hold the render guard): where the last queued block ends,
    // and whether the present step has queued its block.
    unsigned int m_uiLastQueued;
    bool m_bStepQueued;
    std::atomic<bool> m_bPositionValid;
    TimeStretchCorrector m_corrector;
    std::vector<Event> m_beatEvents;  // under m_eventsLock
    CritSect m_eventsLock;
    unsigned char m_rawRead[kRawReadBytes];  // render thread only
    unsigned char m_step[kStep32Bytes];      // render thread only
    CMixDown m_recorder;

    // Set by seeks and flushes; the render thread clears the stretcher before its next read.
    std::atomic<bool> m_bClearStretcher;
    // Set by a seek that emptied the ring: the next render step hands the source the frame the
    // mixer took last (silence when it found the emptied ring meanwhile) to fade from.
    std::atomic<bool> m_bHandHeardFrame{false};
    // One render step at a time (the ring's worker and a bypassed mixer read could overlap while
    // the ring switches modes). try_lock only: a second renderer gets silence.
    std::mutex m_renderGuard;
    // Set by stop() and the destructor before they stop the FMOD channel outside the channel
    // lock: the callbacks still running until then skip the vinyl step, which has nothing left
    // to steer (and would only report the missing channel from the mixer thread).
    std::atomic<bool> m_bDetached;
    unsigned int m_uiBlockFrames;
    // The source's length in ms, read once at construction (m_bLengthKnown false: none).
    unsigned int m_uiLengthMs;
    bool m_bLengthKnown;
    // The last millisecond report, answered on the mixer thread when the channel lock is busy.
    std::atomic<unsigned int> m_uiLastReportMs;
    // A vinyl speed the mixer thread could not apply (channel lock busy); NaN: none.
    std::atomic<float> m_fPendingVinylSpeed;
    static constexpr float kNoPendingSpeed = std::numeric_limits<float>::quiet_NaN();
};
