#include "SilenceAnalyzer.h"

#include <cmath>

#include "TaskSamples.h"

namespace com_tarvenkolm_analysis_calc {

namespace {

constexpr float kNoLevel = -9999999.0f;
constexpr double kScale = 1.0 / 32768.0;

// The level of the running sum of squares. The divisor is the frame's place in the chunk plus 2,
// not a root-mean-square divisor: thresholds in use were chosen against this measure.
float level(float sumOfSquares, unsigned k) {
    if (!(sumOfSquares > 0.0f)) return kNoLevel;
    return 20.0f * log10f(sqrtf(sumOfSquares) / static_cast<float>(k + 2));
}

unsigned toMs(unsigned frames, float rate) {
    return static_cast<unsigned>(static_cast<int>(static_cast<float>(frames) * 1000.0f / rate));
}

}  // namespace

SilenceAnalyzer::SilenceAnalyzer() : frameCount(0), leading(true) { kind = WAVEANALYZER_SILENCE; }

long SilenceAnalyzer::init(unsigned* /*chunkBytes*/) { return 1; }

long SilenceAnalyzer::processData(void* data, unsigned bytes, unsigned /*chunkIndex*/) {
    if (!data || bytes == 0) return -28;
    if (done) {
        // The first chunk after the leading silence was found comes from the backward pass.
        if (!leading) return 1;
        leading = false;
        frameCount = 0;
    }
    done = false;
    const unsigned frames = bytes / static_cast<unsigned>(bytesPerSample * channels);
    const unsigned char* pcm = static_cast<const unsigned char*>(data);
    const bool stereo = channels == 2;
    const float threshold = options ? options->silenceTargetDB : 0.0f;
    float sL = 0.0f, sR = 0.0f;
    for (unsigned k = 0; k < frames && !done; ++k) {
        const double x = taskSample(pcm, k * static_cast<unsigned>(channels), bytesPerSample);
        sL += static_cast<float>(x * (x * kScale) * kScale);
        float levelR = kNoLevel;
        if (stereo) {
            const double y = taskSample(pcm, k * 2u + 1u, bytesPerSample);
            sR += static_cast<float>(y * (y * kScale) * kScale);
            levelR = level(sR, k);
        }
        const float levelL = level(sL, k);
        ++frameCount;
        if (levelL > threshold || levelR > threshold) done = true;
    }
    if (done && result) {
        if (leading) {
            result->silenceStartPoint = toMs(frameCount, sampleRate);
        } else {
            result->silenceEndPoint = toMs(lengthFrames, sampleRate) - toMs(frameCount, sampleRate);
            result->silenceCalculated = true;
        }
    }
    return 1;
}

long SilenceAnalyzer::postProcess() { return 1; }

long SilenceAnalyzer::getMeanPause() { return 0; }

}  // namespace com_tarvenkolm_analysis_calc
