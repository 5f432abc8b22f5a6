// WaveDataAnalyzer: the waveform overview. Each point covers msPerPixel ms of audio and becomes
// four signed bytes on the scale of a 16-bit sample / 256: the smallest value (0 when none was
// negative), the largest (0 when none was positive), the mean of the negative values and the
// mean of the values >= 0 (each truncated toward zero, 0 when there were none). Only the first
// channel is looked at. Running alone, the task examines the first 50 ms of each point and asks
// the analyzer to seek over the rest; with other tasks it examines every frame.
#pragma once

#include <cstdint>

#include "IWaveAnalyzerTask.h"

namespace com_tarvenkolm_analysis_calc {

class WaveDataAnalyzer : public IWaveAnalyzerTask {
public:
    WaveDataAnalyzer();
    // Sets the 50 ms examination window; 1. -4 (nothing read) when msPerPixel is not a number,
    // is infinite, or makes a point of more frames than an int holds (about 4.9e7 ms at 44.1 kHz).
    long init(unsigned* chunkBytes) override;
    // -28 without a target buffer or data, -4 for a buffer of capacity 0; else 1. Sets `done`
    // (and waveDataCalculated) once the buffer holds no further whole point.
    long processData(void* data, unsigned bytes, unsigned chunkIndex) override;
    long postProcess() override;
    // msPerPixel / 60 ms: long points leave time between chunks when throttled.
    long getMeanPause() override;
    // The first-channel 16-bit sample of `frame` / 256, truncated toward zero.
    signed char getNormalizedSample(void* data, unsigned frame);

    unsigned writePos;    // next byte of targetBuffer
    unsigned pointFrame;  // frames of the current point examined so far
    int minValue;
    int maxValue;
    int negCount;
    int posCount;
    int64_t negSum;
    int64_t posSum;

private:
    void writePoint();
};

}  // namespace com_tarvenkolm_analysis_calc
