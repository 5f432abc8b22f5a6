#include "ReplayGainAnalyzer.h"

#include <new>

#include "ReplayGainAnalysis.h"
#include "TaskSamples.h"

namespace com_tarvenkolm_analysis_calc {

namespace {

// Replaces *buffer by one of n doubles when it holds fewer. False when memory runs out.
bool reserve(double** buffer, unsigned* capacity, unsigned n) {
    if (*buffer && n <= *capacity) return true;
    double* grown = new (std::nothrow) double[n];
    if (!grown) return false;
    delete[] *buffer;
    *buffer = grown;
    *capacity = n;
    return true;
}

}  // namespace

ReplayGainAnalyzer::ReplayGainAnalyzer()
    : leftSamples(nullptr), leftCapacity(0), rightSamples(nullptr), rightCapacity(0), analysis_(nullptr) {
    kind = WAVEANALYZER_REPLAYGAIN;
}

ReplayGainAnalyzer::~ReplayGainAnalyzer() {
    delete[] leftSamples;
    delete[] rightSamples;
    delete analysis_;
}

long ReplayGainAnalyzer::init(unsigned* /*chunkBytes*/) {
    if (!analysis_) analysis_ = new (std::nothrow) ReplayGainAnalysis();
    if (!analysis_) return -28;
    return analysis_->InitGainAnalysis(static_cast<long>(sampleRate)) == 1 ? 1 : 0;
}

long ReplayGainAnalyzer::processData(void* data, unsigned bytes, unsigned /*chunkIndex*/) {
    if (!data || bytes == 0 || !analysis_) return -28;
    done = false;
    const unsigned n = bytes / static_cast<unsigned>(channels * bytesPerSample);
    if (n == 0) return 1;
    const bool stereo = channels == 2;
    if (!reserve(&leftSamples, &leftCapacity, n)) return -28;
    if (stereo && !reserve(&rightSamples, &rightCapacity, n)) return -28;
    const unsigned char* pcm = static_cast<const unsigned char*>(data);
    for (unsigned j = 0; j < n; ++j) {
        leftSamples[j] = taskSample(pcm, j * static_cast<unsigned>(channels), bytesPerSample);
        if (stereo) rightSamples[j] = taskSample(pcm, j * 2u + 1u, bytesPerSample);
    }
    analysis_->AnalyzeSamples(leftSamples, stereo ? rightSamples : nullptr, n, channels);
    return 1;
}

long ReplayGainAnalyzer::postProcess() {
    if (!analysis_ || !result) return 1;
    const double gain = analysis_->GetTitleGain();
    // Less than one 50 ms block gives no gain at all; it must not read as a measured -24601 dB.
    if (gain == ReplayGainAnalysis::kNotEnoughSamples) return 1;
    result->replayGainCalculated = true;
    result->replayGain = static_cast<float>(gain);
    return 1;
}

long ReplayGainAnalyzer::getMeanPause() { return 0; }

}  // namespace com_tarvenkolm_analysis_calc
