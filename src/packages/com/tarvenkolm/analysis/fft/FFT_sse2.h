// FFT_sse2: the same window and transform entry points as FFT, for callers that pick an
// implementation by type. Its results are exactly FFT's: it is FFT_noop under its own name.
//
// Thread safety: as FFT's entry points of the same names (no state).
#pragma once

#include "com/tarvenkolm/analysis/fft/FFT_noop.h"

namespace com_tarvenkolm_analysis_fft {

class FFT_sse2 : public FFT_noop {};

}  // namespace com_tarvenkolm_analysis_fft
