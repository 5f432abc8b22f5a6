// Analysis windows. Every cosine term uses the periodic form (argument over N, not N - 1), and
// each window is divided by N times its nominal constant term so that it sums to about 1.
//
// Placement within the array: the rectangle and the Gauss window sit centred in the array; the
// cosine-sum windows start at entry 0. Only support == size is ever asked for, where both fill the
// whole array; the difference matters only to a caller that pads.
#include <cmath>
#include <cstring>

#include "com/tarvenkolm/analysis/fft/FFT.h"

namespace com_tarvenkolm_analysis_fft {

namespace {

const double kTwoPi = 6.283185307179586476925286766559;

// The support and its centred span [start, end) in an array of `size` entries. Both halvings are
// unsigned, as the placement of odd differences depends on it.
struct Span {
    unsigned support;
    unsigned start;
    unsigned end;
    bool empty() const { return start >= end || support == 0; }
};

Span spanOf(unsigned size, int support) {
    Span s{0, 0, 0};
    if (support <= 0 || size == 0) return s;
    s.support = static_cast<unsigned>(support) < size ? static_cast<unsigned>(support) : size;
    s.start = (size - s.support) / 2u;
    s.end = (size + s.support) / 2u;
    return s;
}

// a0 - a1 cos(x) + a2 cos(2x) - a3 cos(3x), over divisor * N, from entry 0.
void cosineSum(double* w, unsigned size, int support, double a0, double a1, double a2, double a3,
               double divisor) {
    if (!w) return;
    std::memset(w, 0, size * sizeof(double));
    const Span s = spanOf(size, support);
    if (s.empty()) return;
    const double N = static_cast<double>(s.support);
    const unsigned count = s.end - s.start;
    for (unsigned i = 0; i < count; ++i) {
        const double x = kTwoPi * static_cast<double>(i) / N;
        w[i] = (a0 - a1 * std::cos(x) + a2 * std::cos(2.0 * x) - a3 * std::cos(3.0 * x)) /
               (divisor * N);
    }
}

}  // namespace

void FFT::rectangle(double* w, unsigned size, int support) {
    if (!w) return;
    std::memset(w, 0, size * sizeof(double));
    const Span s = spanOf(size, support);
    if (s.empty()) return;
    for (unsigned i = s.start; i < s.end; ++i) w[i] = 1.0 / static_cast<double>(s.support);
}

void FFT::hamming(double* w, unsigned size, int support) {
    // The exact coefficients 25/46 and 21/46 (first sidelobe nulled), over the usual 0.54.
    cosineSum(w, size, support, 25.0 / 46.0, 21.0 / 46.0, 0.0, 0.0, 0.54);
}

void FFT::blackmanHarris3s(double* w, unsigned size, int support) {
    cosineSum(w, size, support, 0.44959, 0.49364, 0.05677, 0.0, 0.45);
}

void FFT::blackmanHarris4s(double* w, unsigned size, int support) {
    // The third coefficient is the published 0.09892; 0.09392 leaves the terms summing to
    // 0.99495 and lifts the highest sidelobe far above -74 dB.
    cosineSum(w, size, support, 0.40217, 0.49703, 0.09892, 0.00183, 0.4);
}

void FFT::blackmanHarris3sMin(double* w, unsigned size, int support) {
    cosineSum(w, size, support, 0.42323, 0.49755, 0.07922, 0.0, 0.42);
}

void FFT::blackmanHarris4sMin(double* w, unsigned size, int support) {
    cosineSum(w, size, support, 0.35875, 0.48829, 0.14128, 0.01168, 0.36);
}

void FFT::gauss(double* w, unsigned size, int support) {
    if (!w) return;
    std::memset(w, 0, size * sizeof(double));
    const Span s = spanOf(size, support);
    if (s.empty()) return;
    const double N = static_cast<double>(s.support);
    const double centre = (N - 1.0) / 2.0;
    double sum = 0.0;
    for (unsigned i = s.start; i < s.end; ++i) {
        const double x = (static_cast<double>(i - s.start) - centre) * 5.0 / N;
        w[i] = std::exp(-0.8539734222673566 * x * x);
        sum += w[i];
    }
    for (unsigned i = s.start; i < s.end; ++i) w[i] /= sum;
}

double* FFT::makeWindow(int type, int size, int support) {
    if (size < 0) return nullptr;
    double* w = new double[static_cast<unsigned>(size) + 1u]();  // +1: a valid array for size 0
    const unsigned n = static_cast<unsigned>(size);
    switch (static_cast<unsigned>(type)) {
        case HAMMING: hamming(w, n, support); break;
        case BLACKMAN_HARRIS_3: blackmanHarris3s(w, n, support); break;
        case BLACKMAN_HARRIS_4: blackmanHarris4s(w, n, support); break;
        case BLACKMAN_HARRIS_3_MIN: blackmanHarris3sMin(w, n, support); break;
        case BLACKMAN_HARRIS_4_MIN: blackmanHarris4sMin(w, n, support); break;
        case GAUSS: gauss(w, n, support); break;
        default: rectangle(w, n, support); break;  // 0, above 6, and negative types
    }
    return w;
}

}  // namespace com_tarvenkolm_analysis_fft
