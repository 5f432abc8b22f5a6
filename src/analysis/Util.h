// Peaks and Util: static helpers over arrays of doubles for onset picking, and the conversion of
// decoded PCM to the 16-bit samples the onset detector reads.
//
// Thread safety: no state; any thread. `running` flags are read with acquire order and may be
// cleared by another thread while a pick is in progress.
#pragma once

#include <atomic>
#include <vector>

class Peaks {
public:
    // Reach of the local mean around a candidate, in multiples of the peak width.
    static int pre;   // 3 widths before
    static int post;  // 1 width after

    // z-score in place over n values (standard deviation 0 is taken as 1); nothing for n <= 0.
    static void normalise(double* data, int n);

    // Appends, in ascending order, the indices of the peaks of data[0..n). A candidate is the
    // first maximum of its +-width neighbourhood that is not below the decaying running average
    // (decayRate); relative: it must exceed the mean of [i - pre*width, i + post*width) by
    // threshold, absolute: exceed threshold. Stops early once *running turns false.
    static void findPeaksInternal(const double* data, int n, int width, double threshold,
                                  double decayRate, bool isRelative, std::vector<int>* peaks,
                                  const std::atomic<bool>* running);

    // findPeaksInternal with decay 0, an absolute threshold and no stop flag.
    static void findPeaks(const double* data, int n, int width, double threshold,
                          std::vector<int>* peaks);

    // Local maxima (as findPeaksInternal's neighbourhood test) in peaks[], sorted by falling
    // value, at most maxPeaks; equal values keep their order. Returns the count.
    static int findPeaks2(const double* data, int n, int* peaks, int maxPeaks, int width);

    // The running average of findPeaksInternal over data[start..stop), starting from av.
    static double expDecayWithHold(double av, double decayRate, const double* data, int n,
                                   int start, int stop);

    // The peak test of findPeaksInternal for one index; false when av exceeds data[index].
    static bool overThreshold(const double* data, int n, int index, int width, double threshold,
                              bool isRelative, double av);

    // Least-squares slope against time (points hop seconds apart) over a sliding window of
    // `window` points; slope[i] belongs to the window starting at i - window/2, the edges take
    // the first and the last window's slope. slope needs n entries; slopeLength is not read.
    static void getSlope(const double* data, int n, double hop, int window, double* slope,
                         int slopeLength);

    // Index of the first smallest / largest value (0 when n < 2), and the values themselves
    // (data[0] when n < 2; 0 for a null array).
    static int imin(const double* data, int n);
    static int imax(const double* data, int n);
    static double min(const double* data, int n);
    static double max(const double* data, int n);
};

class Util {
public:
    // Smallest / largest value; data[0] when n <= 1 (0 for a null array).
    static double min(const double* data, unsigned n);
    static double max(const double* data, unsigned n);
    // Square root of the mean of the squares; 0 for no values.
    static double rms(const double* data, unsigned n);
    // b when value < b; a when value > a; otherwise value.
    static double threshold(double value, double a, double b);
};

// Converts interleaved little-endian PCM to signed 16-bit so that the onset detector, which reads
// 16-bit samples only, sees every source on the same scale. bits: 8, 16, 24 or 32 (signed
// integers, as the audio layer delivers them: fmod_sample_format.hpp); isFloat with bits 32: floats
// with full scale 1.0, clipped. Converts the whole samples in `bytes`, at most dstSamples of them, and
// returns how many it wrote; -1 for a null buffer or an unsupported format.
int convertToPcm16(const void* src, unsigned bytes, int bits, bool isFloat, short* dst,
                   unsigned dstSamples);
