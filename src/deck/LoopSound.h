// LoopSound: the source the time-stretched channel pulls raw PCM bytes from. It reads the
// prefetching BufferingSound and adds a loop window with deferred ("planned") end changes, a queue
// of play-once snippets, deferred seeks and a 10-frame linear cross-fade after every jump. Every
// stretch it reads is reported to the channel's TimeStretchCorrector.
//
// Thread safety
// - readData runs on the channel's render thread; the setters run on the thread that drives the
//   channel. Position, the pending-seek flag and the loop switch are atomics written by the
//   setters and read by the reader.
// - The loop lock guards the loop window and the planned fields. The reader takes it when it
//   takes its region, at a region end and when it applies a planned change; setters hold it only
//   for a few stores. Lock order: loop lock, then the snippet queue's lock.
//
// Callback safety
// - readData allocates nothing (one work buffer of 256 bytes or one chunk, allocated at
//   construction). A read that
//   finds no data in the middle of the sound is retried a bounded number of times (yielding in
//   between) and then ends short, so a prefetch source that can never deliver does not hang the
//   render thread.
#pragma once

#include <atomic>
#include <memory>

#include "BufferingSound.h"
#include "CritSect.h"
#include "PositionSequencer.h"
#include "StrideReader.h"
#include "TimeStretchCorrector.h"
#include "fmod.hpp"
#include "fmod_sample_format.hpp"

class LoopSound : public PositionSequencer {
public:
    static constexpr unsigned int kChunkBytes = 64;  // for formats whose fade fits in 64 bytes
    static constexpr unsigned int kWorkBytes = 256;
    static constexpr unsigned int kCrossFadeFrames = 10;
    static constexpr unsigned int kPlannedLoopMargin = 88;   // frames before the end of the sound
    static constexpr unsigned int kMaxEmptyReads = 4096;     // retries of a chunk read that got nothing

    explicit LoopSound(FMOD::Sound* sound);
    ~LoopSound();

    LoopSound(const LoopSound&) = delete;
    LoopSound& operator=(const LoopSound&) = delete;

    // Fills dst with up to bytes bytes. 0; 2 when the new position would pass its bound (plain
    // path); 22 when a chunk read fails at the start or end of the sound (loop path); 33 without
    // a prefetch source. *read gets the bytes produced.
    int readData(void* dst, unsigned int bytes, unsigned int* read, TimeStretchCorrector& corrector);
    int seekData(unsigned int pcm, bool seekPrefetch);
    // The frame the prefetch reads from after a seek to pcm (seeks land on whole words). A
    // position walk reset for a seek must start there: a reverse read that begins below the
    // walk's cursor does not hold it and never counts.
    unsigned int landingFrame(unsigned int pcm) const { return m_pBuffer ? m_pBuffer->landingFrame(pcm) : pcm; }
    // True when the prefetch holds the frame now: a seek there plays at once, without silence.
    bool prefetchHolds(unsigned int pcm) { return m_pBuffer && m_pBuffer->holds(pcm); }
    // True while the prefetch fetches a seek's new place: reads give silence that stands still.
    bool isFetching() const { return m_pBuffer && m_pBuffer->isSeekPending(); }
    // Reads in multiples of this many bytes keep frames whole (BufferingSound::strideBytes).
    unsigned int strideBytes() const { return m_pBuffer ? m_pBuffer->strideBytes() : frameBytes(); }
    // The frame heard last, at full scale (first and second channel), when it is not the last
    // frame this source produced (a ring rendered ahead was emptied): the fade after the next
    // seek starts from it. Any thread; call before the seek.
    void setHeardFrame(float first, float second);
    int setPositionPCM(unsigned int pcm);
    int setPositionMs(unsigned int ms);
    int setLoopPointsPCM(unsigned int start, unsigned int end);
    int setLoopPoints(unsigned int startMs, unsigned int endMs);
    void setLoop(bool enable);
    int addPlaybackSnippetMs(unsigned int startMs, unsigned int endMs);
    unsigned int getPositionPCM();
    unsigned int ConvertMS2PCM(unsigned int ms) const;
    unsigned int ConvertPCM2MS(unsigned int pcm) const;
    bool isReverse();
    int setReverse(bool reverse);
    FMOD_RESULT getLength(unsigned int* length, unsigned int unit);
    int stopBuffering();

    // State queries for the channel and for tests.
    unsigned int getReaderPosition() const { return m_uiPosition.load(std::memory_order_acquire); }
    bool isLoopEnabled() const { return m_bEnableLoop.load(std::memory_order_acquire); }
    bool isLoopPlanned();
    void getLoopWindow(unsigned int* start, unsigned int* end);
    unsigned int getLengthPCM() const { return m_uiLength; }
    // The prefetch source, for the channel's diagnostics and for tests that drive its worker.
    BufferingSound* getBufferingSound() { return m_pBuffer; }

private:
    struct Region {
        unsigned int start;
        unsigned int end;
    };

    unsigned int bound() const;  // loop end while looping, else the length
    unsigned int frameBytes() const { return m_uiBytesPerSample * m_uiChannels; }
    FMOD_SOUND_FORMAT sampleFormat() const { return pw::sound::sampleFormat(m_uiBytesPerSample, m_bFloatSamples); }
    int readPlain(void* dst, unsigned int bytes, unsigned int* read, TimeStretchCorrector& corrector);
    int readLoop(void* dst, unsigned int bytes, unsigned int* read, TimeStretchCorrector& corrector, bool jumped);
    // Forward plain reads through the stride reader (its carry and its skip after a seek).
    int readPlainForward(unsigned char* dst, unsigned int bytes, unsigned int* read, TimeStretchCorrector& corrector);
    // The position after a plain read of frames from `from`: there when within the bound, else it
    // stays at from and the result is 2.
    int advance(unsigned int from, unsigned int frames);
    // Jumps to start: the position (when within the bound) and the prefetch needle move there.
    void jumpTo(unsigned int start);
    // Starts the fade after a jump from the last two samples produced.
    void startFade();
    // Blends the first frames of buf from the two samples written before the jump, in the
    // source's units, going on with the fade frame m_uiFadeFrame. Over silence it is a fade-out.
    void crossFade(unsigned char* buf, unsigned int gotBytes);
    // One sample at p in the source's own width (signed 8, 16, 24 or 32-bit, or float), and back.
    float sampleAt(const unsigned char* p) const;
    void storeSample(unsigned char* p, float v) const;
    // Keeps the last two samples of what a read produced, for the fade after the next jump.
    void rememberLastFrame(const unsigned char* out, unsigned int produced);
    // The applied change of the loop window, under the loop lock.
    void applyLoopPoints(unsigned int start, unsigned int end);

    BufferingSound* m_pBuffer;
    std::atomic<unsigned int> m_uiPosition;
    std::atomic<bool> m_bPendingSeek;
    float m_fRate;
    unsigned int m_uiChannels;
    unsigned int m_uiBits;
    unsigned int m_uiBytesPerSample;
    bool m_bFloatSamples;  // 32-bit samples are floats, not integers
    unsigned int m_uiLength;
    unsigned int m_uiChunkSize;
    std::atomic<bool> m_bEnableLoop;
    std::atomic<unsigned int> m_uiLoopStart;  // written under m_loopLock
    std::atomic<unsigned int> m_uiLoopEnd;    // written under m_loopLock
    bool m_bPlannedLoop;           // under m_loopLock
    unsigned int m_uiPlannedStart; // under m_loopLock
    unsigned int m_uiPlannedEnd;   // under m_loopLock; also the last loop end set
    CritSect m_loopLock;
    // The last two samples produced, in the source's units (render thread only): a jump fades
    // from them, also when it falls at the start of a read.
    float m_fLastA;
    float m_fLastB;
    bool m_bFadeNext;  // a jump whose region was not loaded yet still fades in (render thread)
    bool m_bStarted;   // something was produced: a seek has audio to cross from (render thread)
    // setHeardFrame's frame, taken by the reader at the next seek.
    std::atomic<float> m_fHeardA{0.0f};
    std::atomic<float> m_fHeardB{0.0f};
    std::atomic<bool> m_bHeardSet{false};
    std::unique_ptr<StrideReader> m_reader;  // the prefetch's strides, its carry and seek skip
    unsigned int m_uiFadeFrame;  // next frame (1-10) of a fade after a jump; 0 none
    float m_fFadeA;
    float m_fFadeB;
};
