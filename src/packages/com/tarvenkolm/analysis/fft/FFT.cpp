// Radix-2 decimation-in-time transforms. See FFT.h for the accuracy trade-offs; the constants
// below are part of the numbers the onset detector is tuned on.
#include "com/tarvenkolm/analysis/fft/FFT.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

namespace com_tarvenkolm_analysis_fft {

namespace {

const double kTwoPi = 6.283185307179586476925286766559;

bool isPowerOfTwo(unsigned n) { return n != 0 && (n & (n - 1)) == 0; }

// Refuses lengths the transforms cannot take; prints why.
bool checkLength(unsigned n) {
    if (isPowerOfTwo(n)) return true;
    std::printf("fft length %u is not a power of two, frame left unchanged\n", n);
    return false;
}

// sin(theta) from theta - theta^3/6 + theta^5/120. 0.45 % high at pi/2, i.e. in the L = 4 stage.
inline double polySin(double theta) {
    const double t = theta * theta;
    return ((t / 20.0 - 1.0) * t / 6.0 + 1.0) * theta;
}

// cos(theta) from a minimax-style polynomial in theta^2, by Horner's rule.
inline double polyCos(double theta) {
    const double t = theta * theta;
    return 1.0 + t * (-0.4999999963 + t * (0.0416666418 + t * (-0.0013888397 +
                 t * (0.0000247609 + t * -0.0000002605))));
}

unsigned reverseBits(unsigned i, int bits) {
    unsigned j = 0;
    for (int b = 0; b < bits; ++b) {
        j = (j << 1) | (i & 1u);
        i >>= 1;
    }
    return j;
}

// Bit-reversal permutation of re, and of im too when given.
void bitReverse(double* re, double* im, unsigned n, int bits) {
    for (unsigned i = 0; i < n; ++i) {
        const unsigned j = reverseBits(i, bits);
        if (j > i) {
            std::swap(re[i], re[j]);
            if (im) std::swap(im[i], im[j]);
        }
    }
}

// The butterfly stages. sign -1: the twiddle turns by -theta per group (forward); +1: inverse.
void butterflies(double* re, double* im, unsigned n, int stages, int sign) {
    for (int s = 1; s <= stages; ++s) {
        const unsigned L = 1u << s;
        const unsigned half = L / 2;
        const double theta = kTwoPi / static_cast<double>(L);
        const double sn = sign * polySin(theta);
        const double cs = polyCos(theta);
        double wr = 1.0;
        double wi = 0.0;
        for (unsigned k = 0; k < half; ++k) {
            for (unsigned j = k; j < n; j += L) {
                const unsigned p = j + half;
                const double tr = re[p] * wr - im[p] * wi;
                const double ti = im[p] * wr + re[p] * wi;
                re[p] = re[j] - tr;
                im[p] = im[j] - ti;
                re[j] += tr;
                im[j] += ti;
            }
            const double oldWr = wr;
            wr = wr * cs - wi * sn;
            wi = wi * cs + oldWr * sn;
        }
    }
}

}  // namespace

int FFT::stageCount(unsigned n) {
    const float fn = static_cast<float>(n);
    uint32_t bits;
    std::memcpy(&bits, &fn, sizeof bits);
    const int e = static_cast<int>((bits >> 23) & 0xffu);
    uint32_t mantissaBits = (bits & 0x007fffffu) | 0x3f800000u;  // scaled into [1, 2)
    float f;
    std::memcpy(&f, &mantissaBits, sizeof f);
    const float log2 = (-f / 3.0f + 2.0f) * f - 2.0f / 3.0f + static_cast<float>(e - 128);
    return static_cast<int>(std::lround(log2));
}

double FFT::estimateSqrt(double value) {
    const float r = static_cast<float>(value);
    uint32_t bits;
    std::memcpy(&bits, &r, sizeof bits);
    bits = 0x5f3759d5u - (bits >> 1);
    float y;
    std::memcpy(&y, &bits, sizeof y);
    y = y * (1.5f - 0.5f * r * y * y);
    return static_cast<double>(1.0f / y);
}

void FFT::applyWindow(double* data, unsigned n, const double* window, unsigned /*m*/) {
    if (!data || !window) return;
    for (unsigned i = 0; i < n; ++i) data[i] *= window[i];
}

void FFT::magnitudePhaseFFT(double* re, unsigned n, double* im, unsigned m) {
    if (n != m) std::printf("different fft length not yet supported!\n");
    if (!re || !im || !checkLength(n)) return;
    const int stages = stageCount(n);
    // The frame is real: im is all zeros, so only re needs the permutation.
    bitReverse(re, nullptr, n, stages);
    butterflies(re, im, n, stages, -1);
    for (unsigned i = 0; i < n; ++i) re[i] = estimateSqrt(re[i] * re[i] + im[i] * im[i]);
}

int FFT::fft(double* re, unsigned n, double* im, unsigned /*m*/, int sign) {
    if (!re || !im || !checkLength(n)) return 1;
    const int stages = stageCount(n);
    bitReverse(re, im, n, stages);
    butterflies(re, im, n, stages, sign < 0 ? -1 : 1);
    return 1;
}

int FFT::fft_faster(double* re, unsigned n, double* im, unsigned /*m*/) {
    // Loop temporaries live in static storage: one caller at a time.
    static unsigned s_L, s_half, s_k, s_j, s_p;
    static double s_wr, s_wi, s_tr, s_ti, s_cs, s_sn, s_oldWr;
    if (!re || !im || !checkLength(n)) return 1;
    const int stages = stageCount(n);
    bitReverse(re, im, n, stages);
    for (int s = 1; s <= stages; ++s) {
        s_L = 1u << s;
        s_half = s_L / 2;
        const double theta = kTwoPi / static_cast<double>(s_L);
        s_sn = -polySin(theta);
        s_cs = polyCos(theta);
        s_wr = 1.0;
        s_wi = 0.0;
        for (s_k = 0; s_k < s_half; ++s_k) {
            for (s_j = s_k; s_j < n; s_j += s_L) {
                s_p = s_j + s_half;
                s_tr = re[s_p] * s_wr - im[s_p] * s_wi;
                s_ti = im[s_p] * s_wr + re[s_p] * s_wi;
                re[s_p] = re[s_j] - s_tr;
                im[s_p] = im[s_j] - s_ti;
                re[s_j] += s_tr;
                im[s_j] += s_ti;
            }
            s_oldWr = s_wr;
            s_wr = s_wr * s_cs - s_wi * s_sn;
            s_wi = s_wi * s_cs + s_oldWr * s_sn;
        }
    }
    return 1;
}

void FFT::powerPhaseFFT(double* re, unsigned n, double* im, unsigned m) {
    if (!re || !im || !isPowerOfTwo(n)) {
        checkLength(n);
        return;
    }
    fft(re, n, im, m, -1);
    for (unsigned i = 0; i < n; ++i) {
        const double power = re[i] * re[i] + im[i] * im[i];
        im[i] = std::atan2(im[i], re[i]);
        re[i] = power;
    }
}

namespace {
double s_sharedImag[FFT::kStaticFrameCapacity];

bool realFrameToPower(double* re, unsigned n) {
    if (!re) return false;
    if (n >= FFT::kStaticFrameCapacity) {
        std::printf("fft length %u too long for the static frame (below %u)\n", n,
                    FFT::kStaticFrameCapacity);
        return false;
    }
    if (!checkLength(n)) return false;
    std::memset(s_sharedImag, 0, n * sizeof(double));
    FFT::fft(re, n, s_sharedImag, n, -1);
    for (unsigned i = 0; i < n; ++i) re[i] = re[i] * re[i] + s_sharedImag[i] * s_sharedImag[i];
    return true;
}
}  // namespace

void FFT::powerFFT(double* re, unsigned n) { realFrameToPower(re, n); }

void FFT::magnitudeFFT(double* re, unsigned n) {
    if (realFrameToPower(re, n)) toMagnitude(re, n);
}

void FFT::powerPhaseIFFT(double* re, unsigned n, double* im, unsigned m) {
    if (!re || !im || !isPowerOfTwo(n)) {
        checkLength(n);
        return;
    }
    for (unsigned i = 0; i < n; ++i) {
        const double magnitude = estimateSqrt(re[i]);
        re[i] = magnitude * std::cos(im[i]);
        im[i] = magnitude * std::sin(im[i]);
    }
    fft(re, n, im, m, 1);
}

void FFT::toMagnitude(double* x, unsigned n) {
    if (!x) return;
    for (unsigned i = 0; i < n; ++i) x[i] = estimateSqrt(x[i]);
}

}  // namespace com_tarvenkolm_analysis_fft
