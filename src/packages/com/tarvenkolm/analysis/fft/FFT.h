// FFT: analysis windows and radix-2 transforms over arrays of doubles, all static.
//
// The transforms trade the last digits for speed: per stage the twiddle's sine and cosine come
// from short polynomials and the twiddle then advances by a rotation recurrence, and magnitudes
// come from a single-precision inverse-square-root estimate (within 0.18 %). Do not "fix" these
// by calling sin/cos/sqrt: the onset curves downstream are tuned on exactly these values,
// including the estimate of sqrt(0), which is about 5.05e-20 and not 0.
//
// Lengths: n must be a power of two. Any other length is refused with a line on standard output
// and the data is left as it was (no caller uses such lengths).
//
// Thread safety
// - makeWindow, the window writers, applyWindow, magnitudePhaseFFT, fft, powerPhaseFFT,
//   powerPhaseIFFT and toMagnitude keep no state: any number of threads may call them at once.
// - fft_faster, powerFFT and magnitudeFFT work in static storage: one thread at a time.
// None of them allocates except makeWindow.
#pragma once

namespace com_tarvenkolm_analysis_fft {

class FFT {
public:
    // Window types of makeWindow; any other value (negative ones included) gives the rectangle.
    enum WindowType {
        RECTANGLE = 0,
        HAMMING = 1,
        BLACKMAN_HARRIS_3 = 2,      // 3-term, -61 dB
        BLACKMAN_HARRIS_4 = 3,      // 4-term, -74 dB
        BLACKMAN_HARRIS_3_MIN = 4,  // minimum 3-term, -67 dB
        BLACKMAN_HARRIS_4_MIN = 5,  // minimum 4-term, -92 dB
        GAUSS = 6
    };

    // powerFFT and magnitudeFFT share one static imaginary array of this many doubles and need n
    // below it.
    static const unsigned kStaticFrameCapacity = 8192;

    FFT() {}
    ~FFT() {}

    // A new array of `size` doubles (caller frees with delete[]) holding a window of support
    // min(support, size); entries outside the support are 0. Each window is scaled so that its
    // values sum to about 1. Null for a negative size.
    static double* makeWindow(int type, int size, int support);

    // Window writers: fill all `size` entries of w (0 outside the support) with the values
    // makeWindow gives for that type.
    static void rectangle(double* w, unsigned size, int support);
    static void hamming(double* w, unsigned size, int support);
    static void blackmanHarris3s(double* w, unsigned size, int support);
    static void blackmanHarris4s(double* w, unsigned size, int support);
    static void blackmanHarris3sMin(double* w, unsigned size, int support);
    static void blackmanHarris4sMin(double* w, unsigned size, int support);
    static void gauss(double* w, unsigned size, int support);

    // data[i] *= window[i] for i < n; m is not read.
    static void applyWindow(double* data, unsigned n, const double* window, unsigned m);

    // Forward transform of a real frame (im must hold zeros): magnitudes in re, imaginary parts
    // left in im. n != m prints "different fft length not yet supported!" and transforms n points.
    static void magnitudePhaseFFT(double* re, unsigned n, double* im, unsigned m);

    // Complex transform in place: sign -1 forward, +1 inverse, neither scaled. m is not read.
    // Returns 1.
    static int fft(double* re, unsigned n, double* im, unsigned m, int sign);

    // The forward fft with its temporaries in static storage (one thread at a time). Returns 1.
    static int fft_faster(double* re, unsigned n, double* im, unsigned m);

    // Forward fft, then power re^2 + im^2 in re and phase atan2(im, re) in im.
    static void powerPhaseFFT(double* re, unsigned n, double* im, unsigned m);

    // Power (or estimated magnitude) spectrum of a real frame in place; n below
    // kStaticFrameCapacity, otherwise refused with a line on standard output.
    static void powerFFT(double* re, unsigned n);
    static void magnitudeFFT(double* re, unsigned n);

    // From power in re and phase in im back to a complex frame through the inverse fft.
    static void powerPhaseIFFT(double* re, unsigned n, double* im, unsigned m);

    // x[i] becomes the estimated square root of x[i].
    static void toMagnitude(double* x, unsigned n);

    // The square-root estimate used for every magnitude (exposed for the tests of its error).
    static double estimateSqrt(double r);

    // Stage count of an n-point transform, read from the single-precision form of n
    // (exact for powers of two).
    static int stageCount(unsigned n);
};

}  // namespace com_tarvenkolm_analysis_fft
