// PeakFinder: locates the peak of a curve (a spectrum, an autocorrelation) with sub-sample
// precision: the mass centre of the part of the peak above 70 % of the way from its ground level
// to its top.
//
// Thread safety: an instance keeps the search range of its last detectPeak; one thread at a time
// per instance.
#pragma once

class PeakFinder {
public:
    PeakFinder() : minPos(0), maxPos(0) {}

    // The peak position within [minPos, maxPos) as a float, or 0 when there is no clear peak
    // (a ground level below 1e-6, a peak under 1.3 times its ground, a crossing outside the
    // range, or a bad range).
    float detectPeak(const float* data, int minPos, int maxPos);

protected:
    // Walks from peakPos in steps of `direction` and returns the position of the lowest value
    // seen; the walk ends after more than 5 net rising steps or at the edge of the range.
    int findGround(const float* data, int peakPos, int direction) const;
    // The last position before data falls below level, walking from peakPos in `direction`;
    // -1 when the walk leaves the range (or the peak itself is below level).
    int findCrossingLevel(const float* data, float level, int peakPos, int direction) const;
    // Sum of position * value over sum of value, both ends included; NaN when first > last.
    double calcMassCenter(const float* data, int first, int last) const;

private:
    int minPos;
    int maxPos;
};
