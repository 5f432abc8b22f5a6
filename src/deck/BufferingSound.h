// BufferingSound: keeps the raw PCM bytes of one FMOD sound decoded ahead of time in a large ring
// (2^21 + 9 words of 8 bytes) around a read needle, filled by a worker thread of its own, so that
// LoopSound can read forward or backward and jump inside the buffered window without waiting for
// the decoder. The sound is borrowed: the deck owns and releases it.
//
// Positions are counted in 8-byte words of the raw byte stream; the ring's absolute position is
// the needle. frames = words x 8 / (bytes per sample x channels).
//
// Thread safety
// - The worker runs objectRunner: one workerPass per millisecond. The reader (LoopSound, on the
//   deck's render thread) runs seekData, readData, GetPositionPCM and setReverse and never waits
//   for a fill: m_lock serialises only fill steps against attach and the destructor.
// - A seek outside the window is handed to the worker through m_pendingWords (one atomic, -1 for
//   none). While it is set the reader does not touch the ring; the worker resets the ring first
//   and clears the request only afterwards (compare-exchange, so a newer request from the reader
//   is never lost), which keeps the reset from overlapping a read.
// - The reverse flag is an atomic written by the reader and read by the worker.
//
// Callback safety
// - readData, seekData and GetPositionPCM copy from memory, never decode, never allocate and take
//   only the ring's mutex for a few comparisons. A dropout line goes to the debug log, which is
//   file I/O when debugging is on.
#pragma once

#include <atomic>
#include <cstdint>

#include "LABuffer.h"
#include "WorkerThread.h"
#include "fmod.hpp"

// The ring holds 8-byte words in every build.
class BufferingSound : public CLABuffer<uint64_t>, public WorkerThread {
public:
    static constexpr int64_t kRingWords = 2097161;              // 2^21 + 9
    static constexpr unsigned int kChunkBytes = 32768;          // one fill step of the worker
    static constexpr unsigned int kFillAheadWords = 65536;      // fill ahead first up to this
    static constexpr unsigned int kFillBehindWords = 32767;     // then behind up to this
    static constexpr unsigned int kPollMicroseconds = 1000;

    explicit BufferingSound(FMOD::Sound* sound);
    ~BufferingSound() override;

    // Stops the worker (not restarted) and takes the sound, its format and its length. 1.
    int attach(FMOD::Sound* sound);

    int objectRunner() override;
    // One pass of the worker loop: a pending seek's ring reset, then one fill step.
    void workerPass();
    // One fill step with the given chunk size in bytes. 1; -13 when the chunk buffer can't be
    // had or the chunk size is 0.
    int AutoLABuffer(unsigned int chunkBytes);

    // Moves the needle to a frame inside the window, or asks the worker to reset the ring there.
    // The needle moves in whole words: the target goes down to landingFrame(pcm). Always 0.
    int seekData(unsigned int pcm);
    // True when a seek to pcm would land inside the window held now (no fetch, no silence). Any
    // thread: it only reads the window.
    bool holds(unsigned int pcm);
    // The frame a seek to pcm lands on: the nearest frame at or below it that starts on a word
    // boundary (16-bit stereo: even frames; 24-bit stereo: every fourth frame).
    unsigned int landingFrame(unsigned int pcm) const;
    // The smallest stretch of bytes that is both whole frames and whole ring words: the least
    // common multiple of the frame size and 8 (8 for 16-bit stereo, 24 for 24-bit stereo). Reads
    // and fills in multiples of it keep every frame whole.
    unsigned int strideBytes() const;
    // Copies bytes at the needle (in reverse, frame by frame from the needle down). 0, or 22 when
    // a read lacking data lies at the start or the end of the sound.
    int readData(void* dst, unsigned int bytes, unsigned int* read);
    unsigned int GetPositionPCM();
    int setReverse(bool reverse);
    bool isReverse() const { return m_bReverse.load(std::memory_order_acquire); }
    // Stops the worker. 1.
    int stopBuffering();
    bool isSeekPending() const { return m_pendingWords.load(std::memory_order_acquire) >= 0; }

    FMOD_RESULT getLength(unsigned int* length, unsigned int unit);
    FMOD_RESULT getFormat(FMOD_SOUND_TYPE* type, FMOD_SOUND_FORMAT* format, int* channels, int* bits);
    FMOD_RESULT getDefaults(float* frequency, float* volume, float* pan, int* priority);

private:
    uint64_t wordsToFrames(uint64_t words) const;
    uint64_t framesToWords(uint64_t frames) const;
    unsigned int frameBytes() const;
    // Where `words` lies against the window held: its distance from the needle (negative
    // behind it), or nothing outside the window.
    bool windowOffset(int64_t words, int64_t* offset);
    // The fills, given the stream position of the ring's top or bottom in words.
    void fillAhead(uint64_t topWords);
    void fillBehind(int64_t bottomWords);

    std::atomic<FMOD::Sound*> m_pSound;
    std::atomic<bool> m_bReverse;
    uint64_t* m_pChunk;           // under m_lock
    unsigned int m_uiChunkSize;   // bytes, under m_lock
    std::atomic<unsigned int> m_uiChannels;
    std::atomic<unsigned int> m_uiBitsPerSample;
    std::atomic<unsigned int> m_uiBytesPerSample;
    std::atomic<unsigned int> m_uiLength;  // PCM frames
    unsigned int m_uiFilePosition;         // frame of FMOD's next read, under m_lock
    CritSect m_lock;
    std::atomic<int64_t> m_pendingWords;   // -1: no seek pending
};
