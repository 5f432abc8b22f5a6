#include "WaveDataAnalyzer.h"

#include <algorithm>
#include <cmath>

#include "TaskSamples.h"

namespace com_tarvenkolm_analysis_calc {

namespace {

constexpr long kRefused = -4;

// A point's length in frames as processData takes it: msPerPixel at the sound's rate, in single
// precision. Converting it to an int is only defined for a value inside the int range, and Java
// easily hands over what is not (infinity from a length divided by a panel width of 0, NaN).
bool pointLengthFits(double msPerPixel, float sampleRate) {
    // Beyond the float range the conversion to float is not defined either.
    if (!std::isfinite(msPerPixel) || std::fabs(msPerPixel) > 1e30) return false;
    const float frames = static_cast<float>(msPerPixel) * sampleRate / 1000.0f;
    return std::fabs(frames) < 2147483648.0f;
}

}  // namespace

WaveDataAnalyzer::WaveDataAnalyzer()
    : writePos(0), pointFrame(0), minValue(0), maxValue(0), negCount(0), posCount(0), negSum(0), posSum(0) {
    kind = WAVEANALYZER_WAVEDATA;
}

long WaveDataAnalyzer::init(unsigned* /*chunkBytes*/) {
    if (!options || !pointLengthFits(options->msPerPixel, sampleRate)) return kRefused;
    pointWindow = static_cast<unsigned>(static_cast<int>(50.0f * sampleRate / 1000.0f));
    return 1;
}

signed char WaveDataAnalyzer::getNormalizedSample(void* data, unsigned frame) {
    const int v = taskSample(static_cast<const unsigned char*>(data), frame * static_cast<unsigned>(channels),
                             bytesPerSample);
    return static_cast<signed char>(v / 256);
}

void WaveDataAnalyzer::writePoint() {
    char* out = result->targetBuffer + writePos;
    out[0] = static_cast<char>(minValue);
    out[1] = static_cast<char>(maxValue);
    out[2] = static_cast<char>(negCount ? negSum / negCount : 0);
    out[3] = static_cast<char>(posCount ? posSum / posCount : 0);
    writePos += 4;
    minValue = maxValue = negCount = posCount = 0;
    negSum = posSum = 0;
}

long WaveDataAnalyzer::processData(void* data, unsigned bytes, unsigned /*chunkIndex*/) {
    if (!result || !result->targetBuffer) return -28;
    if (result->targetBufferSize == 0) return -4;
    if (!data || bytes == 0) return -28;
    skip = 0;
    done = false;
    const unsigned frames = bytes / static_cast<unsigned>(channels * bytesPerSample);
    if (frames == 0) return 1;
    const unsigned char* pcm = static_cast<const unsigned char*>(data);
    // Frames per point. With msPerPixel 0 this is 0 and L - 1 is never reached: only the window
    // closes points then.
    const int L = static_cast<int>(static_cast<float>(options->msPerPixel) * sampleRate / 1000.0f);
    const unsigned lastOfPoint = static_cast<unsigned>(L - 1);

    uint64_t i = 0;
    while (i < frames && !done) {
        const int v = taskSample(pcm, static_cast<unsigned>(i) * static_cast<unsigned>(channels), bytesPerSample) / 256;
        if (v < 0) {
            minValue = std::min(minValue, v);
            ++negCount;
            negSum += v;
        } else {
            maxValue = std::max(maxValue, v);
            ++posCount;
            posSum += v;
        }
        const bool closes = pointFrame == lastOfPoint || (pointWindow > 0 && pointFrame >= pointWindow - 1);
        if (!closes) {
            ++pointFrame;
            ++i;
            continue;
        }
        if (result->targetBufferSize - std::min(writePos, result->targetBufferSize) < 4) {
            result->waveDataCalculated = true;
            done = true;
            break;
        }
        writePoint();
        if (result->targetBufferSize - writePos < 4) {
            result->waveDataCalculated = true;
            done = true;
        }
        // The frames of the point after its window are passed over, in this chunk or by a seek.
        const int64_t rest = std::max<int64_t>(0, static_cast<int64_t>(L) - (static_cast<int64_t>(pointFrame) + 1));
        pointFrame = 0;
        if (done) break;
        if (i + static_cast<uint64_t>(rest) <= frames - 1) {
            i += static_cast<uint64_t>(rest) + 1;
        } else {
            skip = static_cast<unsigned>(i + static_cast<uint64_t>(rest) - (frames - 1));
            break;
        }
    }
    return 1;
}

long WaveDataAnalyzer::postProcess() { return 1; }

// A pause for every 60 ms of a point; the analyzer caps it far below the bound kept here, which
// only keeps the conversion defined.
long WaveDataAnalyzer::getMeanPause() {
    const double pauseMs = options->msPerPixel / 60.0;
    return pauseMs >= 1.0 ? static_cast<long>(std::min(pauseMs, 1000.0)) : 0;
}

}  // namespace com_tarvenkolm_analysis_calc
