// FFT_sse2: the same window and transform entry points as FFT, for callers that pick an
// implementation by type. Its results are exactly FFT's.
//
// Thread safety: as FFT's entry points of the same names (no state).
#pragma once

#include "com/tarvenkolm/analysis/fft/FFT.h"

namespace com_tarvenkolm_analysis_fft {

class FFT_sse2 {
public:
    static void applyWindow(double* data, unsigned n, const double* window, unsigned m) {
        FFT::applyWindow(data, n, window, m);
    }
    static void magnitudePhaseFFT(double* re, unsigned n, double* im, unsigned m) {
        FFT::magnitudePhaseFFT(re, n, im, m);
    }
    static double* makeWindow(int type, int size, int support) {
        return FFT::makeWindow(type, size, support);
    }
};

}  // namespace com_tarvenkolm_analysis_fft
