// AudioProcessor: the onset front end of beat detection. It takes one track's PCM one hop at a
// time, keeps the latest FFT frame of samples in a ring, and stores two curves indexed by hop
// number: the spectral flux (how much the magnitude spectrum rose since the previous hop) and an
// energy curve with energyOversampleFactor values per hop. processingFinish turns the peaks of
// the flux curve into onset events.
//
// Calling order: construct, setConfig once, processFrame once per hop with consecutive indices
// (0, 1, 2, ...), then processingFinish and getEnergy as often as wanted, destroy.
//
// Input: interleaved signed 16-bit little-endian PCM only. Sources of any other depth are
// converted first (convertToPcm16 in Util.h); 8-bit bytes fed as they are would be read in pairs
// as 16-bit samples.
//
// Ownership: the processor owns its buffers and the events of `onsets`; a beat list may point at
// those events but never deletes them.
//
// Thread safety: none inside. A processor belongs to one thread at a time (the deck tracker's
// worker, or the caller of whole-file analysis). The only value another thread may touch is the
// `running` flag handed to processingFinish, which is only read (acquire order).
//
// Performance: processFrame does one FFT of fftSize points and sums over the frame, and never
// allocates; every buffer is sized by setConfig, the curves for the whole track (one hour when
// the length is not given).
#pragma once

#include <atomic>
#include <vector>

#include "Event.h"

class AudioProcessor {
public:
    // Values per hop in the energy curve.
    static int energyOversampleFactor;

    // precision 0..5 sets the hop and frame times (0.04 s .. 0.00125 s hops); any other value
    // behaves as 2 (0.01 s hop, 0.04644 s frame).
    explicit AudioProcessor(unsigned precision);
    ~AudioProcessor();

    AudioProcessor(const AudioProcessor&) = delete;
    AudioProcessor& operator=(const AudioProcessor&) = delete;

    // Stores the format and sizes everything (init). Returns 1, -4 for a format it cannot analyse
    // (no channels, a rate that is not positive or gives no usable frame) and -5 when a buffer
    // cannot be allocated; after a failure the processor takes no frames.
    int setConfig(int channels, float sampleRate, unsigned lengthFrames, unsigned* chunkBytes);

    // Sizes and allocates for a track of lengthFrames sample frames (0: unknown, one hour is
    // reserved). *chunkBytes, when given, receives the bytes each processFrame call takes:
    // hopSize * channels * 2. Deletes the onsets found so far. Result as setConfig's.
    int init(unsigned lengthFrames, unsigned* chunkBytes);

    // Adds one hop of PCM as frame frameIndex. An index at or beyond totalFrames is ignored; an
    // index that does not follow the previous one restarts the ring and the previous spectrum.
    void processFrame(const char* pcm, unsigned bytes, unsigned frameIndex);

    // Picks the onsets of the flux curve as it stands (frames not fed yet count as 0) and appends
    // one event per peak to `onsets`. Appends on every call: callers that run it again first
    // delete and clear `onsets`. Stops early when *running turns false (null: never stops).
    void processingFinish(const std::atomic<bool>* running);

    // The energy curve (still owned by the processor), totalFrames and energyOversampleFactor;
    // each out-pointer may be null.
    void getEnergy(double** energy, unsigned* frames, unsigned* factor);

    // Matrix helpers: a rows x cols matrix of zeroed doubles unless *out is already set (1 on
    // success or when set, 0 for bad sizes or a failed allocation), and its release (1).
    static int generateDouble2DArray(int rows, int cols, double*** out);
    static int destroyDouble2DArray(int rows, int cols, double** matrix);
    // Does nothing.
    void getFFTFrame(double*** frames, unsigned* count, unsigned* size);

    int channels;
    float sampleRate;
    double hopTime;  // seconds between two frames: hopSize / sampleRate once configured
    double fftTime;  // seconds one FFT frame covers (nominal)
    unsigned hopSize;
    unsigned fftSize;
    unsigned lastFrame;
    double* ring;  // the last fftSize mono samples; ringPos is the next write and the oldest
    unsigned ringCapacity;
    unsigned ringPos;
    double* window;  // Hamming, scaled by sqrt(fftSize)
    double* spectrum;
    unsigned spectrumCapacity;
    double* spectrumIm;
    unsigned spectrumImCapacity;
    double* flux;
    unsigned fluxLength;
    double* prevSpectrum;
    unsigned prevSpectrumCapacity;
    double* energy;
    std::vector<Event*> onsets;
    unsigned totalFrames;

private:
    void putFrame(const char* pcm, unsigned bytes);
    void clearOnsets();
    void releaseCurves();
    void releaseFrameBuffers();
    unsigned windowSize;     // fftSize the window was built for
    double nominalHopTime;   // the precision's grid; hopTime becomes the hop actually taken
};
