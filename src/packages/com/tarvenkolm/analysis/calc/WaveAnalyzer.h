// WaveAnalyzer: decodes one sound once, from a start frame to an end frame, and hands every chunk
// to the tasks its options ask for (waveform overview, silence, ReplayGain, beat tracking). It
// seeks over data no task needs, pauses between chunks on request, reports progress to a Java
// listener, honours a cancel word and, for the silence task, runs a second pass from the end of
// the sound backwards.
//
// Calling order: options, result (with targetBuffer/targetBufferSize for the waveform), analyzer,
// one doProcessing, read the result, destroy the analyzer, delete the result's events.
//
// Thread safety: everything runs on the thread that calls doProcessing (a Java thread when a
// listener is given: progress is reported on it). No lock is taken. Nobody else may read or seek
// the sound meanwhile. The cancel word may be written by another thread at any time; it is read
// atomically once per chunk and reset to 0 when acted on.
#pragma once

#include <jni.h>

#include <vector>

#include "fmod.hpp"

#include "IWaveAnalyzerTask.h"
#include "WaveAnalyzerOptions.h"

namespace com_tarvenkolm_analysis_calc {

class WaveAnalyzer {
public:
    // Stores the pointers (none owned) and, when options and result are both given, creates one
    // task per set bit in the order 1, 2, 4, 8.
    WaveAnalyzer(WaveAnalyzerOptions* options, WaveAnalyzerResult* result, FMOD::Sound* sound);
    ~WaveAnalyzer();
    WaveAnalyzer(const WaveAnalyzer&) = delete;
    WaveAnalyzer& operator=(const WaveAnalyzer&) = delete;

    // Runs the analysis once. env and listener (both needed for progress), cancel and throttle are
    // optional. Returns -4 for a request or sound it refuses (no options, no task bit, no sound,
    // more than 2 channels or 16 bits), the first init result other than 1 (nothing read then),
    // else the result of the last processData call (1 when none was made).
    long doProcessing(JNIEnv* env, jobject listener, int* cancel, bool throttle);

    WaveAnalyzerOptions* options;
    WaveAnalyzerResult* result;
    FMOD::Sound* sound;
    std::vector<IWaveAnalyzerTask*> tasks;
};

}  // namespace com_tarvenkolm_analysis_calc
