// ITKOutputBuffer: renders a deck's audio ahead of the mixer. Its worker asks the source for
// blocks of interleaved float frames and stores them in a float ring; the mixer thread only copies
// blocks out. In bypass mode the worker is stopped and the mixer's read goes straight to the source.
//
// Depth
// - At speed s the mixer takes s blocks per block of its own (a scratch goes up to 25x). The deck
//   tells the buffer its speed; at each wake-up the worker renders until the ring holds two mixer
//   blocks' worth at that speed (at least two blocks): the same time of audio ahead at any speed,
//   so a fast scratch never runs the ring dry and normal play keeps its short lead (what the
//   render step changes, a pause, is heard at most two blocks after a change at the mixer). A
//   block shorter than the worker's wake-ups are reliable gets as many more as cover kWakeMarginMs.
// - The ring is sized once, in startBuffering, for that depth at the top speed: the mixer thread
//   never waits for an allocation, and a scratch never outgrows it.
//
// Thread safety
// - The worker (activePullData) runs the source's whole render step under m_lock, so reset waits
//   for a step in progress and never splits one. m_lock comes before any lock of the source.
// - The mixer thread calls readFromResampledBuffer without m_lock. Its ring read and reset()'s
//   ring reset are kept apart by m_readGuard: the mixer only try-locks it and plays silence when
//   a reset holds it; reset holds it for the reset alone.
// - startBuffering replaces the ring's storage: call it once, on a new object, before the mixer
//   reads. setBypass(true) joins the worker before it returns.
//
// What the mixer took
// - Every block the mixer reads out of the ring is counted, with the time it was read: the deck
//   reports the position of the audio the mixer takes, not of what the worker rendered ahead.
//   The count starts again at every reset, in a new epoch, so a reader can tell a count of the
//   old place from one of the new. The mixer writes the three values under a sequence counter;
//   readers retry a torn read a few times and otherwise give up (never waiting on the mixer).
//
// Callback safety
// - readFromResampledBuffer (not bypassed) is one ring copy: no allocation, no blocking lock. A
//   short ring gives a silent block, counted; the worker writes the "possible dropout!" line to
//   the debug log at its next wake-up (the mixer thread never logs).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "CritSect.h"
#include "LABuffer.h"
#include "WorkerThread.h"
#include "com/tarvenkolm/outputbuffering/ITKOutputBufferSource.h"

namespace com_tarvenkolm_outputbuffering {

class ITKOutputBuffer : public WorkerThread, public ITKOutputBufferSource {
public:
    explicit ITKOutputBuffer(ITKOutputBufferSource* source);
    ~ITKOutputBuffer() override;

    ITKOutputBuffer(const ITKOutputBuffer&) = delete;
    ITKOutputBuffer& operator=(const ITKOutputBuffer&) = delete;

    int objectRunner() override;
    int readFromResampledBuffer(float* out, unsigned int frames, int channels, bool flag) override;

    // Sizes the ring for blocks of frames x channels and starts the worker (start set), or leaves
    // the object bypassed. 0.
    int startBuffering(int frames, int channels, float sampleRate, bool start);
    // Empties the ring at a stream position (a seek). 0.
    int reset(uint64_t position);
    // Switches between pre-rendering and direct reads. 0.
    int setBypass(bool bypass);
    // One render step: one block into the ring. True when a block was stored.
    bool activePullData();
    // One wake-up of the worker: renders blocks until the ring holds what it keeps ahead (or the
    // source renders nothing). The first wake-up after a reset renders one block only.
    void fillStep();
    // Renders until the ring holds what it keeps ahead, now, on the calling thread: after a seek
    // whose new place the source already holds, so the mixer's next take finds it.
    void fillNow();

    bool isBypassed() const { return m_bBypass.load(std::memory_order_acquire); }
    unsigned int getFreeSamples() { return m_ring.GetFreeBufferSize(); }
    int64_t getRingSize() const { return m_ring.GetSize(); }
    // Samples rendered and not yet read by the mixer.
    unsigned int getAheadSamples();
    // The speed the mixer plays the ring at (its magnitude; the deck sets it with its speed). Any
    // thread, the mixer's too: one atomic store.
    void setSpeed(float speed);
    // Samples the worker keeps ahead of the mixer at the present speed: at least two blocks.
    unsigned int getKeptAheadSamples() const;
    // True when the worker has nothing to add now: another block would exceed what it keeps ahead.
    bool holdsKeptAhead();
    // Mixer reads the ring could not serve (silence played), since startBuffering.
    uint64_t getUnderruns() const { return m_uiUnderruns.load(std::memory_order_acquire); }

    // The mixer's reads out of the ring since the last reset.
    struct Taken {
        uint64_t epoch;    // resets so far
        uint64_t frames;   // frames read since the last reset
        int64_t atNs;      // clockNs() of the last read; 0 before the first
    };
    // The steady clock the reads are timed by (ns); a reader compares its own time with atNs on it.
    static int64_t clockNs();
    // Any thread, the mixer's too. False when the mixer was writing the count each time it was
    // tried (take it again later).
    bool getTaken(Taken* taken) const;

    // The last frame the mixer took out of the ring (its first two channels; silence after a
    // read the ring could not serve): what a jump must fade from. Any thread.
    void getLastTaken(float* left, float* right) const;

    // Blocks kept ahead at normal speed, and the top speed the ring is sized for.
    static constexpr unsigned int kAheadBlocks = 2;
    static constexpr unsigned int kTopSpeed = 25;
    // Audio the ring holds beyond the block the mixer takes next, at the least: a worker that
    // sleeps a millisecond is not reliably woken much sooner than this on a busy machine.
    static constexpr double kWakeMarginMs = 4.0;

    // Worker sleep between steps: the block time in whole milliseconds, clamped to 1..10.
    static unsigned int sleepMilliseconds(unsigned int frames, float sampleRate);

private:
    // Renders up to `most` blocks, until the ring holds what it keeps ahead.
    void fillUpTo(unsigned int most);

    std::atomic<ITKOutputBufferSource*> m_pSource;
    std::atomic<bool> m_bBypass;
    CritSect m_lock;
    CLABuffer<float> m_ring;
    std::atomic<int> m_iChannels;
    std::atomic<unsigned int> m_uiFrames;
    std::atomic<float> m_fSampleRate;
    float* m_pWork;                  // under m_lock
    unsigned int m_uiWorkCapacity;   // samples, under m_lock
    std::mutex m_readGuard;          // mixer try-locks; reset locks
    std::atomic<float> m_fSpeed;
    std::atomic<uint64_t> m_uiUnderruns;
    std::atomic<bool> m_bReset;             // a seek emptied the ring since the last wake-up
    // What the mixer took: written by the mixer (and by reset, under m_readGuard) between two
    // increments of m_uiTakenSeq, which is odd while they change.
    std::atomic<uint64_t> m_uiTakenSeq;
    std::atomic<uint64_t> m_uiTakenEpoch;
    std::atomic<uint64_t> m_uiTakenFrames;
    std::atomic<int64_t> m_lTakenAtNs;
    std::atomic<float> m_fLastTakenLeft{0.0f};   // written by the mixer's read
    std::atomic<float> m_fLastTakenRight{0.0f};
};

}  // namespace com_tarvenkolm_outputbuffering
