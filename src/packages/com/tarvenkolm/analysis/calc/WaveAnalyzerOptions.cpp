#include "WaveAnalyzerOptions.h"

namespace com_tarvenkolm_analysis_calc {

WaveAnalyzerOptions::WaveAnalyzerOptions(TK_WAVEANALYZER_OPTIONS bits)
    : startPosition(0),
      endPosition(0),
      msPerPixel(0.0),
      silenceTargetDB(0.0f),
      bpmPrecision(0),
      minBPM(80.0f),
      maxBPM(160.0f),
      activeCalcOptions(bits) {}

WaveAnalyzerResult::WaveAnalyzerResult()
    : waveDataCalculated(false),
      targetBuffer(nullptr),
      targetBufferSize(0),
      silenceCalculated(false),
      silenceStartPoint(0),
      silenceEndPoint(0),
      replayGainCalculated(false),
      replayGain(1.0f),
      beatTrackerCalculated(false),
      bpm(0.0f) {}

}  // namespace com_tarvenkolm_analysis_calc
