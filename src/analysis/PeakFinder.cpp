#include "PeakFinder.h"

#include <limits>

int PeakFinder::findGround(const float* data, int peakPos, int direction) const {
    int climb = 0;
    float lowest = data[peakPos];
    int lowPos = peakPos;
    int pos = peakPos;
    // Every position visited stays strictly inside (minPos, maxPos).
    while (pos + direction > minPos && pos + direction < maxPos) {
        const int prev = pos;
        pos += direction;
        if (data[pos] - data[prev] <= 0.0f) {
            if (climb > 0) --climb;
            if (data[pos] < lowest) {
                lowest = data[pos];
                lowPos = pos;
            }
        } else {
            if (++climb > 5) break;  // climbing the next peak: the ground is behind us
        }
    }
    return lowPos;
}

int PeakFinder::findCrossingLevel(const float* data, float level, int peakPos,
                                  int direction) const {
    if (!(data[peakPos] >= level)) return -1;  // the walk assumes "peaklevel >= level"
    int pos = peakPos;
    for (;;) {
        const int next = pos + direction;
        if (next < minPos || next >= maxPos) return -1;
        if (data[next] < level) return pos;
        pos = next;
    }
}

double PeakFinder::calcMassCenter(const float* data, int first, int last) const {
    if (first > last) return std::numeric_limits<double>::quiet_NaN();
    double weighted = 0.0, sum = 0.0;
    for (int i = first; i <= last; ++i) {
        weighted += static_cast<double>(i) * data[i];
        sum += data[i];
    }
    return weighted / sum;
}

float PeakFinder::detectPeak(const float* data, int minP, int maxP) {
    minPos = minP;
    maxPos = maxP;
    if (!data || minP < 0 || maxP <= minP) return 0.0f;

    int peak = minP;
    for (int i = minP + 1; i < maxP; ++i) {
        if (data[i] > data[peak]) peak = i;
    }
    const float peakLevel = data[peak];

    const float groundLeft = data[findGround(data, peak, -1)];
    const float groundRight = data[findGround(data, peak, 1)];
    const float ground = groundLeft > groundRight ? groundLeft : groundRight;
    if (ground < 1e-6f || peakLevel < 1.3f * ground) return 0.0f;

    const float cut = 0.7f * peakLevel + 0.3f * ground;
    const int left = findCrossingLevel(data, cut, peak, -1);
    const int right = findCrossingLevel(data, cut, peak, 1);
    if (left < 0 || right < 0) return 0.0f;
    return static_cast<float>(calcMassCenter(data, left, right));
}
