#include "Util.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "fmod_sample_format.hpp"

int Peaks::pre = 3;
int Peaks::post = 1;

namespace {
inline bool stillRunning(const std::atomic<bool>* running) {
    return running == nullptr || running->load(std::memory_order_acquire);
}

// Index of the first largest value in [from, to).
int firstMaxIndex(const double* data, int from, int to) {
    int mx = from;
    for (int j = from + 1; j < to; ++j) {
        if (data[j] > data[mx]) mx = j;
    }
    return mx;
}

bool isLocalMax(const double* data, int n, int i, int width) {
    const int from = i - width > 0 ? i - width : 0;
    const int to = i + width + 1 < n ? i + width + 1 : n;
    return firstMaxIndex(data, from, to) == i;
}
}  // namespace

void Peaks::normalise(double* data, int n) {
    if (!data || n <= 0) return;
    double sum = 0.0, sumSq = 0.0;
    for (int i = 0; i < n; ++i) {
        sum += data[i];
        sumSq += data[i] * data[i];
    }
    const double mean = sum / n;
    const double variance = (sumSq - sum * mean) / n;
    // Rounding can leave a tiny negative variance for a near-constant curve; that is "no spread"
    // too, not a NaN.
    double sd = variance > 0.0 ? std::sqrt(variance) : 0.0;
    if (sd == 0.0) sd = 1.0;
    for (int i = 0; i < n; ++i) data[i] = (data[i] - mean) / sd;
}

bool Peaks::overThreshold(const double* data, int n, int index, int width, double threshold,
                          bool isRelative, double av) {
    if (!data || index < 0 || index >= n) return false;
    if (av > data[index]) return false;
    if (!isRelative) return data[index] > threshold;
    const int from = index - pre * width > 0 ? index - pre * width : 0;
    const int to = index + post * width < n ? index + post * width : n;
    double sum = 0.0;
    for (int j = from; j < to; ++j) sum += data[j];
    const double mean = to > from ? sum / (to - from) : 0.0;
    return data[index] > mean + threshold;
}

void Peaks::findPeaksInternal(const double* data, int n, int width, double threshold,
                              double decayRate, bool isRelative, std::vector<int>* peaks,
                              const std::atomic<bool>* running) {
    if (!data || !peaks || n < 1 || !stillRunning(running)) return;
    double av = data[0];
    for (int i = 0; i < n; ++i) {
        const double decayed = decayRate * av + (1.0 - decayRate) * data[i];
        av = data[i] > decayed ? data[i] : decayed;
        if (isLocalMax(data, n, i, width) && overThreshold(data, n, i, width, threshold,
                                                           isRelative, av)) {
            peaks->push_back(i);
        }
        if (!stillRunning(running)) return;
    }
}

void Peaks::findPeaks(const double* data, int n, int width, double threshold,
                      std::vector<int>* peaks) {
    findPeaksInternal(data, n, width, threshold, 0.0, false, peaks, nullptr);
}

int Peaks::findPeaks2(const double* data, int n, int* peaks, int maxPeaks, int width) {
    if (!data || !peaks || maxPeaks <= 0) return 0;
    int count = 0;
    for (int i = 0; i < n; ++i) {
        if (!isLocalMax(data, n, i, width)) continue;
        // Behind every value that is at least as large: equal values keep their order.
        int pos = count;
        while (pos > 0 && data[peaks[pos - 1]] < data[i]) --pos;
        if (pos >= maxPeaks) continue;
        const int last = count < maxPeaks ? count : maxPeaks - 1;
        for (int j = last; j > pos; --j) peaks[j] = peaks[j - 1];
        peaks[pos] = i;
        if (count < maxPeaks) ++count;
    }
    return count;
}

double Peaks::expDecayWithHold(double av, double decayRate, const double* data, int n, int start,
                               int stop) {
    if (!data) return av;
    if (start < 0) start = 0;
    if (stop > n) stop = n;
    for (int i = start; i < stop; ++i) {
        const double decayed = decayRate * av + (1.0 - decayRate) * data[i];
        av = data[i] > decayed ? data[i] : decayed;
    }
    return av;
}

void Peaks::getSlope(const double* data, int n, double hop, int window, double* slope,
                     int /*slopeLength*/) {
    if (!data || !slope || window < 2 || n < window) return;
    const double W = window;
    double sumI = 0.0, sumII = 0.0, sumY = 0.0, sumIY = 0.0;
    for (int i = 0; i < window; ++i) {
        sumI += i;
        sumII += static_cast<double>(i) * i;
        sumY += data[i];
        sumIY += i * data[i];
    }
    const double denominator = hop * (W * sumII - sumI * sumI);  // same for every window
    const int lead = window / 2;
    double first = 0.0, current = 0.0;
    for (int s = 0; s + window <= n; ++s) {
        if (s > 0) {
            // Slide by one point: the indices shift, so the index sums are those of the first
            // window and the data sums are re-based on the new start.
            const double out = data[s - 1];
            const double in = data[s + window - 1];
            sumIY = sumIY - sumY + out + (W - 1.0) * in;  // sum of (i - s) * y after the slide
            sumY = sumY - out + in;
        }
        current = (W * sumIY - sumI * sumY) / denominator;
        if (s == 0) first = current;
        slope[s + lead] = current;
    }
    for (int i = 0; i < lead; ++i) slope[i] = first;
    for (int i = n - (window + 1) / 2; i < n; ++i) slope[i] = current;
}

int Peaks::imin(const double* data, int n) {
    if (!data || n < 2) return 0;
    int best = 0;
    for (int i = 1; i < n; ++i) {
        if (data[i] < data[best]) best = i;
    }
    return best;
}

int Peaks::imax(const double* data, int n) {
    if (!data || n < 2) return 0;
    return firstMaxIndex(data, 0, n);
}

double Peaks::min(const double* data, int n) { return data ? data[imin(data, n)] : 0.0; }
double Peaks::max(const double* data, int n) { return data ? data[imax(data, n)] : 0.0; }

double Util::min(const double* data, unsigned n) {
    if (!data) return 0.0;
    double m = data[0];
    for (unsigned i = 1; i < n; ++i) m = data[i] < m ? data[i] : m;
    return m;
}

double Util::max(const double* data, unsigned n) {
    if (!data) return 0.0;
    double m = data[0];
    for (unsigned i = 1; i < n; ++i) m = data[i] > m ? data[i] : m;
    return m;
}

double Util::rms(const double* data, unsigned n) {
    if (!data || n == 0) return 0.0;
    double sum = 0.0;
    for (unsigned i = 0; i < n; ++i) sum += data[i] * data[i];
    return std::sqrt(sum / n);
}

double Util::threshold(double value, double a, double b) {
    if (value < b) return b;
    if (value > a) return a;
    return value;
}

int convertToPcm16(const void* src, unsigned bytes, int bits, bool isFloat, short* dst,
                   unsigned dstSamples) {
    if (!src || !dst) return -1;
    if (isFloat ? bits != 32 : (bits != 8 && bits != 16 && bits != 24 && bits != 32)) return -1;
    const unsigned width = static_cast<unsigned>(bits) / 8u;
    const FMOD_SOUND_FORMAT format = pw::sound::sampleFormat(width, isFloat);
    unsigned samples = bytes / width;
    if (samples > dstSamples) samples = dstSamples;
    const unsigned char* p = static_cast<const unsigned char*>(src);
    for (unsigned i = 0; i < samples; ++i) dst[i] = pw::sound::sampleToPcm16(p + i * width, format);
    return static_cast<int>(samples);
}
