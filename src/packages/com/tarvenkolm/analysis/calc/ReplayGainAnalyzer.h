// ReplayGainAnalyzer: the ReplayGain title gain of the analysed range. Each analyzer owns its own
// ReplayGainAnalysis, so analyses on several threads at once never share filter or histogram state.
#pragma once

#include "IWaveAnalyzerTask.h"

class ReplayGainAnalysis;

namespace com_tarvenkolm_analysis_calc {

class ReplayGainAnalyzer : public IWaveAnalyzerTask {
public:
    ReplayGainAnalyzer();
    ~ReplayGainAnalyzer() override;
    ReplayGainAnalyzer(const ReplayGainAnalyzer&) = delete;
    ReplayGainAnalyzer& operator=(const ReplayGainAnalyzer&) = delete;

    // Starts the analysis at the sound's rate: 1, or 0 for a rate the analysis does not support
    // (and -28 when its state cannot be allocated).
    long init(unsigned* chunkBytes) override;
    // Feeds the chunk's samples: 1; -28 without data or memory.
    long processData(void* data, unsigned bytes, unsigned chunkIndex) override;
    // replayGain and replayGainCalculated; under one 50 ms block of audio the gain counts as not
    // calculated (the result keeps its default). 1.
    long postProcess() override;
    long getMeanPause() override;

    double* leftSamples;  // grown to the largest chunk, never shrunk
    unsigned leftCapacity;
    double* rightSamples;  // stereo only
    unsigned rightCapacity;

private:
    ReplayGainAnalysis* analysis_;
};

}  // namespace com_tarvenkolm_analysis_calc
