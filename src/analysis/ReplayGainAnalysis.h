// ReplayGainAnalysis: the ReplayGain reference loudness analysis for the nine rates from 48000 down
// to 8000 Hz. Each channel goes through the equal-loudness filter (a 10th-order Yule-Walker IIR,
// then a 2nd-order Butterworth high-pass); the mean square of both filtered channels is taken over
// blocks of 50 ms, and each block's loudness lands in a histogram of 0.01 dB steps. The title gain
// is the pink-noise reference (64.82 dB) minus the loudness that 5 % of the blocks exceed.
//
// Samples are doubles on the 16-bit scale (full scale +-32768); the reference is calibrated for it.
//
// Calling order: InitGainAnalysis once, then per title AnalyzeSamples any number of times (any
// split of the samples gives the same result) and GetTitleGain once; GetAlbumGain at any time.
//
// Thread safety: all state lives in the object, so analyses on different threads never meet;
// one object belongs to one thread at a time. About 180 kB: allocate it, do not put it on a stack.
#pragma once

#include <cstddef>
#include <cstdint>

class ReplayGainAnalysis {
public:
    // What GetTitleGain and GetAlbumGain return when not one 50 ms block was completed.
    static constexpr double kNotEnoughSamples = -24601.0;

    ReplayGainAnalysis();

    // Starts a new analysis and clears both histograms. 1 for the nine rates; 0 for any other,
    // after which the analysis must not be fed.
    int InitGainAnalysis(long sampleRate);
    // As InitGainAnalysis, but keeps the album histogram.
    int ResetSampleFrequency(long sampleRate);
    // Feeds n samples per channel (channels 1: `left` only, `right` may be null). 1, or 0 for a
    // channel count other than 1 or 2 or an analysis that has no valid rate.
    int AnalyzeSamples(const double* left, const double* right, size_t n, int channels);
    // The title gain in dB (kNotEnoughSamples when no block completed); then starts the next
    // title with fresh filter history.
    double GetTitleGain();
    // The gain over every title finished so far, or kNotEnoughSamples.
    double GetAlbumGain();

private:
    static constexpr int kOrder = 10;                   // the longer of the two filters
    static constexpr int kMaxWindow = 2400;             // one block at 48000 Hz
    static constexpr int kBins = 12000;                 // 0 to 119.99 dB in 0.01 dB steps

    void clearHistories();
    void finishBlock();
    static double gainFromHistogram(const uint32_t* histogram);

    double linprebuf[2 * kOrder];
    double rinprebuf[2 * kOrder];
    double lstepbuf[kOrder + kMaxWindow];
    double rstepbuf[kOrder + kMaxWindow];
    double loutbuf[kOrder + kMaxWindow];
    double routbuf[kOrder + kMaxWindow];
    double* linpre;
    double* rinpre;
    double* lstep;
    double* rstep;
    double* lout;
    double* rout;
    double lsum;
    double rsum;
    long totsamp;
    long sampleWindow;
    int freqindex;  // row of the coefficient tables; -1 before a valid rate
    uint32_t A[kBins];  // title histogram
    uint32_t B[kBins];  // album histogram: the finished titles
};
