// SilenceAnalyzer: the end of the leading silence (forward pass) and the start of the trailing
// silence (backward pass, chunks coming from the end of the sound), both in ms. A frame ends a
// silence when the level of the chunk so far, on either channel, rises above silenceTargetDB.
#pragma once

#include "IWaveAnalyzerTask.h"

namespace com_tarvenkolm_analysis_calc {

class SilenceAnalyzer : public IWaveAnalyzerTask {
public:
    SilenceAnalyzer();
    long init(unsigned* chunkBytes) override;
    // -28 without data; else 1. Sets `done` at the first loud frame of a phase.
    long processData(void* data, unsigned bytes, unsigned chunkIndex) override;
    long postProcess() override;
    long getMeanPause() override;

    unsigned frameCount;  // frames examined in the current phase
    bool leading;         // still looking for the end of the leading silence
};

}  // namespace com_tarvenkolm_analysis_calc
