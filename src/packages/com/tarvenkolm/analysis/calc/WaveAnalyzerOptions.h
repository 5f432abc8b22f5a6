// The request and the result of one whole-file analysis: which tasks run over which part of the
// sound with which settings, and what they found.
//
// Ownership: both are plain records of the caller, normally on its stack. `targetBuffer` belongs
// to the caller. The events in `beatEvents` are copies that the result owns, but destroying the
// record frees only the list: the caller deletes the events once it has reported them.
#pragma once

#include <vector>

#include "Event.h"

namespace com_tarvenkolm_analysis_calc {

// Task bits; other bits are ignored. The fixed underlying type makes any int a valid value, so
// requests that carry other bits (from Java) stay well defined.
enum TK_WAVEANALYZER_OPTIONS : int {
    WAVEANALYZER_WAVEDATA = 1,     // waveform overview
    WAVEANALYZER_SILENCE = 2,      // leading and trailing silence; also runs the backward pass
    WAVEANALYZER_REPLAYGAIN = 4,   // ReplayGain title gain
    WAVEANALYZER_BEATTRACK = 8     // BPM and beat list
};

struct WaveAnalyzerOptions {
    explicit WaveAnalyzerOptions(TK_WAVEANALYZER_OPTIONS bits);

    unsigned startPosition;  // first sample frame analysed
    unsigned endPosition;    // frame at which the forward pass stops; <= startPosition: the whole length
    double msPerPixel;       // milliseconds of audio per waveform point
    float silenceTargetDB;   // silence threshold in dB
    unsigned bpmPrecision;   // onset front-end precision (values above 2 run as 2)
    float minBPM;            // beat-detection range; 0 and 0 leave the tracker's 80..160
    float maxBPM;
    TK_WAVEANALYZER_OPTIONS activeCalcOptions;
};

struct WaveAnalyzerResult {
    WaveAnalyzerResult();

    bool waveDataCalculated;     // the waveform buffer was filled
    char* targetBuffer;          // the caller's waveform buffer, 4 bytes per point (not owned)
    unsigned targetBufferSize;   // its capacity in bytes
    bool silenceCalculated;      // the trailing silence point was found
    unsigned silenceStartPoint;  // end of the leading silence, ms from the analysis start
    unsigned silenceEndPoint;    // start of the trailing silence, ms
    bool replayGainCalculated;   // a title gain was measured
    float replayGain;            // title gain in dB
    bool beatTrackerCalculated;  // beat detection succeeded
    std::vector<Event*> beatEvents;  // beats, copies owned by the result (see above)
    float bpm;
};

}  // namespace com_tarvenkolm_analysis_calc
