// CMixDown: records engine audio to a 16-bit PCM WAV file.
//
// Capture side: setup makes one or two capture DSP units ("first Mixdown", "second Mixdown") that
// pass their audio through unchanged and queue the speaker pair their role code selects (or all
// channels folded to two) as stereo blocks. The caller attaches the units (FMODSystem::addDSP for
// the master recording, FMOD::Channel::addDSP for a deck). Writer side: a thread started by start
// drains the queues every millisecond, applies the source gains, mixes two sources into one,
// converts to 16-bit and appends to the file. File side alone (conversion): openFile with custom
// values, writeToFileEx, close.
//
// Owners: the engine's master recorder, one per deck channel, and a temporary one per conversion.
//
// Order of use: setup, attach the units, openFile, start, any number of pause and start, close.
// close leaves the recorder idle: openFile and start begin a new recording on the same units.
//
// Thread safety
// - Control operations (setup, openFile, start, pause, close, setGain, getLevels, the queries,
//   writeToFileEx for conversion) run on the caller's thread; the caller keeps the control
//   operations of one recorder from overlapping. close and setup join the writer after it has
//   written everything captured so far, so they block for as long as that takes: a millisecond
//   or two on a healthy disk, seconds on a stalled one. Callers must not hold a lock others need
//   meanwhile (the master recording's entry points do not hold "Coreglobal" for it).
// - The writer thread and the capture callbacks never take an engine lock; the only lock they
//   share is the process-wide "SampleQueue", held just long enough to move a queue index.
// - Gains, levels, the block length and the running flag are atomics read without a lock.
//
// Callback safety
// - DSPCallback runs on the mixer thread of the system that holds its unit (two mixer threads when
//   the sources are on two cards). It never allocates, never touches the file, and takes only
//   "SampleQueue", once per queued block. The queue storage is made by setup, sized from the
//   system's DSP buffer length and rate; a block longer than a queue slot is queued in pieces, and
//   when the writer falls behind by several seconds new blocks are dropped rather than allocated.
//
// Unit lifetime
// - A repeated setup, and the destructor, release the recorder's earlier units (which detaches
//   them from wherever the caller attached them) before the storage they feed goes away. The systems
//   the units were made on must therefore outlive the recorder's units.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "fmod.hpp"

class FMODSystem;
class CMixDown;
class MixDownSampleQueue;
struct MixDownTestPeer;

// Results of the recorder beyond the engine's common codes (StatusCodes.h: -16 unsupported format,
// -30 no output system).
constexpr int kMixDownErrNoSource = -28;    // no source system, no file record, no buffer
constexpr int kMixDownErrCreateFile = -29;  // output file cannot be created or written

// File formats of openFile.
constexpr int kMixDownFormatWav = 1;
constexpr int kMixDownFormatEncoder = 2;
constexpr int kMixDownFormatMemory = -1;

// Capture blocks are stereo; gains are clamped to this range.
constexpr float kMixDownMaxGain = 2.0f;

// The recorder's output file. Changed only by openFile and close (and the writer's appends, which
// happen only between start and close); the capture callback reads just `capturing` and
// `channels` and writes `blockFrames`.
struct MIXDOWN_FILE {
    FILE* file = nullptr;           // open output file, null when none
    uint32_t dataBytes = 0;         // sample-data bytes written since the file opened
    int32_t channels = 0;           // channels per frame in the file
    int32_t bits = 0;               // bits per sample in the header
    float sampleRate = 0.0f;        // frames per second
    std::atomic<uint32_t> blockFrames{0};  // frames of the most recently captured block
    int32_t format = 0;             // 1 WAV, 2 encoder, -1 memory; other values make writes do nothing
    unsigned long encoderStream = 0;
    unsigned long encoderOutputSize = 0;
    unsigned char* encoderOutputBuffer = nullptr;
    unsigned long encoderValue = 0;
    int32_t encoderLoaded = 0;      // ucLoadEncoder's answer at construction
    // Format -1: the most recent block written, as floats. Nothing reads the memory format's data,
    // so each block replaces the one before (its storage reused) and memory stays bounded
    // whatever the length.
    std::vector<std::vector<float>> memoryBlocks;
    CMixDown* owner = nullptr;      // the recorder writing this file; set by setup
    // The data size at which the file stops growing: whole frames whose RIFF size still fits 32
    // bits. Set by openFile.
    uint32_t dataLimit = 0;
    // Set while a 2-channel WAV file is open: the capture callback queues only then.
    std::atomic<bool> capturing{false};
    // Capture callbacks between their test of `capturing` and the end of their queueing, so that
    // close can wait until every block captured before capture stopped is in the queue.
    std::atomic<int> capturesInFlight{0};
    // A write to the file failed (a full disk, say): the file stops growing, so that it holds an
    // unbroken start of the recording, and close answers -29.
    bool writeFailed = false;
};

// User data of one capture unit. Filled by setup before the unit is made and left alone until the
// unit has been released.
struct MIXDOWN_CAPTURE {
    MIXDOWN_FILE* file = nullptr;
    MixDownSampleQueue* queue1 = nullptr;
    MixDownSampleQueue* queue2 = nullptr;  // null with one source
    uint8_t source = 0;                    // 1 or 2: the queue this unit feeds
    std::atomic<float>* gain1 = nullptr;
    std::atomic<float>* gain2 = nullptr;
    std::atomic<float>* levels = nullptr;  // two values
    int32_t role = 0;                      // role code of the output whose pair is captured
};

class CMixDown {
public:
    // Idle recorder: the three texts, unity gains, no file, no units, no writer.
    CMixDown();
    // close, then releases the units, the queues and the memory blocks.
    ~CMixDown();

    CMixDown(const CMixDown&) = delete;
    CMixDown& operator=(const CMixDown&) = delete;

    // Makes the capture units: one for system 1 with role 1 (system 2 null or equal to system 1),
    // or one per system when both are set and differ. New units are bypassed and handed back
    // through the non-null out pointers (null for a unit not made). With only system 2 set nothing
    // is made and the current units are handed back. Stops a running writer (the file stays open;
    // start resumes) and releases the earlier units. 1, or -28 when both systems are null.
    int setup(FMODSystem* system1, int role1, FMOD::DSP** unit1, FMODSystem* system2, int role2,
              FMOD::DSP** unit2);

    // Opens the output. custom: channels, bits and rate from the arguments; otherwise from system
    // 1's mixer (rate) with 2 channels (-30 without system 1). Format 1 writes a 16-bit PCM WAV
    // file (-29 when it cannot be created, -16 for a channel count or rate no WAV header can
    // carry); -1 keeps the data in memory; any other format is stored, refused with -16 and makes
    // later writes do nothing. A recording still open is closed first. The bitrate and the last
    // three arguments are not used.
    int openFile(const char* path, unsigned int format, unsigned int bitrate, bool custom, int channels,
                 int bits, float sampleRate, int extra = -1, const char* text1 = nullptr,
                 const char* text2 = nullptr);

    // Starts the writer if none runs (a start after pause keeps it), then un-bypasses the units.
    // 1, or -5 when the writer thread cannot be created.
    int start();
    // Bypasses the units and zeroes the levels; the file stays open and the writer keeps polling.
    int pause();
    // Stops capture, lets the writer write every block captured before that and joins it, then
    // finishes the WAV file: flushes it, counts the whole frames it really holds (a full disk may
    // have kept less than was written), cuts off a partial frame, rewrites the header with that
    // size and closes it. 1 only when all data reached the file and the header was written; -29
    // otherwise, with the header still describing what the file holds. Idle recorder: 1.
    // Blocks for as long as the writer needs to write what is queued (a slow disk: seconds).
    int close();

    // Each gain clamped to 0..2.0 (a NaN passes and records silence). Returns 1.
    int setGain(float gain1, float gain2);
    // Gain 1, for the master bus's recorder level report.
    float getGain1() const { return m_fGain1.load(std::memory_order_relaxed); }

    // For left and right: 10000 x |fourth root of (gain 1 x level x gain 2 x 0.5)|, truncated
    // (0 where the root is not a number). 1, or -28 for a null pointer.
    int getLevels(unsigned int* levels) const;

    // Texts owned by the recorder, valid while it exists.
    const char* queryFormats() const { return m_szFormats; }
    const char* queryBitrates() const { return m_szBitrates; }
    const char* queryXMLDescription() const { return m_szDescription; }

    // Appends `frameCount` interleaved 16-bit frames of the file's channel count. Format 1: to the
    // file, counting the bytes fwrite reports, never beyond the 32-bit size limit; after a failed
    // write nothing more (close then answers -29). Format -1: as floats (value / 131072) in place
    // of the previous memory block. Anything else: nothing. Returns 1.
    int writeToFileEx(const short* frames, unsigned int frameCount);

    // Writes the 44-byte header at offset 0 (then returns to the end of the file). 1; -28 for a
    // null record or one without a file; -29 when the write fails.
    static int WriteWavHeader(MIXDOWN_FILE* file);
    // Sample-data bytes in the open file so far (what fwrite reported written).
    uint32_t writtenBytes() const { return m_file.dataBytes; }

    // The capture units' read callback (mixer thread). Passes min(in, out) x length floats
    // through, then queues the selected pair while a WAV file is open. 0, or 44 when the unit's
    // context has no file record.
    static FMOD_RESULT DSPCallback(FMOD_DSP_STATE* state, float* in, float* out, unsigned int length,
                                   int inChannels, int outChannels);

    // Writer thread body; the argument is the recorder. Returns null.
    static void* writeDownThread(void* recorder);

    // Lowers the file's data limit (never raises it beyond what 32-bit sizes allow), so the size
    // cap can be tested without gigabytes of data. Call after openFile.
    void setDataLimitForTesting(uint32_t bytes);
    // Called on the writer thread before each append to the file, so a test can stall the writer
    // as a slow disk would. Set it only while no writer runs; empty (the default) does nothing.
    void setWriteHookForTesting(std::function<void()> hook) { m_writeHookForTesting = std::move(hook); }

private:
    friend struct MixDownTestPeer;

    // Writer state that lives across passes: the 16-bit buffer and, with two sources, how far
    // the front block of each queue has been consumed.
    struct WriterState {
        std::unique_ptr<int16_t[]> buffer;
        std::unique_ptr<float[]> silence;  // bufferFrames stereo frames of 0, two sources only
        uint32_t bufferFrames = 0;
        uint32_t offset1 = 0;
        uint32_t offset2 = 0;
    };
    bool prepareWriter(WriterState& state) const;
    // One pass over whatever is queued; returns the frames written.
    size_t writerPass(WriterState& state);
    size_t writeOneSource(WriterState& state);
    size_t writeTwoSources(WriterState& state);
    // Two sources, one queue empty: the other's blocks against silence.
    size_t writeUnpaired(WriterState& state);
    // Passes until the queues are empty; only once nothing feeds them any more.
    void writeRemaining(WriterState& state);
    void appendToFile(const int16_t* frames, uint32_t frameCount);
    // Clears `capturing` and waits until no capture callback is still queueing.
    void stopCapture();
    int finishWavFile();
    void stopWriter();
    void releaseUnits();
    void setUnitsBypass(bool bypass);
    void zeroLevels();
    FMOD::DSP* createUnit(FMODSystem* system, const char* name, MIXDOWN_CAPTURE* context);
    bool allocateQueue(MixDownSampleQueue& queue, FMODSystem* system);

    char m_szFormats[255];
    char m_szBitrates[255];
    char m_szDescription[8194];
    MIXDOWN_FILE m_file;
    MIXDOWN_CAPTURE m_capture1;
    MIXDOWN_CAPTURE m_capture2;
    std::unique_ptr<MixDownSampleQueue> m_queue1;
    std::unique_ptr<MixDownSampleQueue> m_queue2;
    FMOD::DSP* m_pUnit1 = nullptr;
    FMOD::DSP* m_pUnit2 = nullptr;
    FMODSystem* m_pSystem1 = nullptr;
    FMODSystem* m_pSystem2 = nullptr;
    std::atomic<float> m_fGain1{1.0f};
    std::atomic<float> m_fGain2{1.0f};
    std::atomic<float> m_fLevels[2];
    pthread_t m_writer{};
    bool m_bWriterExists = false;  // a writer was created and not yet joined
    std::atomic<bool> m_bRunning{false};
    std::function<void()> m_writeHookForTesting;
};

// Forwards to the owner's writeToFileEx; -28 for a null record or one without owner.
int writeToFile(MIXDOWN_FILE* file, const short* frames, unsigned int frameCount);
