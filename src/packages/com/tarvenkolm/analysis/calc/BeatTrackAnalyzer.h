// BeatTrackAnalyzer: BPM and beat list of the analysed range, through the onset front end
// (AudioProcessor, one hop per chunk) and the beat detection of a private, never-started
// BeatTracker. 8-bit sources are converted to 16-bit samples before the onset front end reads them.
#pragma once

#include "IWaveAnalyzerTask.h"

class AudioProcessor;

namespace com_tarvenkolm_analysis_calc {

class BeatTrackAnalyzer : public IWaveAnalyzerTask {
public:
    BeatTrackAnalyzer();
    ~BeatTrackAnalyzer() override;
    BeatTrackAnalyzer(const BeatTrackAnalyzer&) = delete;
    BeatTrackAnalyzer& operator=(const BeatTrackAnalyzer&) = delete;

    // Makes the processor (precision min(bpmPrecision, 2)) and sets the chunk size to one hop of
    // the source's frames. 1, or -28 when the processor cannot be made or configured.
    long init(unsigned* chunkBytes) override;
    // Feeds one hop; chunkIndex is the hop number. 1; -28 without data or processor.
    long processData(void* data, unsigned bytes, unsigned chunkIndex) override;
    // Beat detection over what was fed: bpm, beatTrackerCalculated and copies of the beats in
    // beatEvents. Frees the processor. 1 (also when detection fails); -28 without a result.
    long postProcess() override;
    long getMeanPause() override;

    AudioProcessor* processor;

private:
    short* converted_;  // one hop as 16-bit samples, for 8-bit sources
    unsigned convertedSamples_;
};

}  // namespace com_tarvenkolm_analysis_calc
