// IWaveAnalyzerTask: one analysis that WaveAnalyzer feeds with the decoded chunks of a sound.
//
// The analyzer writes the format fields, `options` and `result` and clears `pointWindow`, `skip`
// and `done` just before `init`; `kind` is the task's own bit, set by its constructor. Then come
// one processData per chunk (interleaved PCM in the sound's own format, 1 or 2 channels, 8- or
// 16-bit) and one postProcess after the passes. Everything runs on the analyzer's thread.
#pragma once

#include "WaveAnalyzerOptions.h"

namespace com_tarvenkolm_analysis_calc {

class IWaveAnalyzerTask {
public:
    virtual ~IWaveAnalyzerTask() = default;

    // Prepares the task: 1 means ready, anything else aborts the run. *chunkBytes is the
    // analyzer's chunk size in bytes; a task may change it (the last init decides).
    virtual long init(unsigned* chunkBytes) = 0;
    // One chunk of `bytes` bytes, chunkIndex = first frame / frames per chunk. 1 means accepted;
    // the task may set `done` (no more data wanted in this pass) and `skip`.
    virtual long processData(void* data, unsigned bytes, unsigned chunkIndex) = 0;
    // Writes the task's findings into `result`; called once after the passes.
    virtual long postProcess() = 0;
    // Milliseconds the task wants the analyzer to pause after each chunk when throttling.
    virtual long getMeanPause() = 0;

    float sampleRate = 0.0f;
    int channels = 0;
    int bytesPerSample = 0;
    unsigned lengthBytes = 0;
    unsigned lengthFrames = 0;
    WaveAnalyzerOptions* options = nullptr;
    WaveAnalyzerResult* result = nullptr;
    unsigned pointWindow = 0;  // frames of each waveform point to examine; 0: every frame
    unsigned skip = 0;         // frames to seek over after the current chunk
    bool done = false;         // no more data wanted in the current pass
    int kind = 0;              // the task's TK_WAVEANALYZER_OPTIONS bit
};

}  // namespace com_tarvenkolm_analysis_calc
