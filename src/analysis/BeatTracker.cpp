#include "BeatTracker.h"

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "AudioProcessor.h"
#include "BeatReportCourier.h"
#include "DebugLog.h"
#include "JavaVM.h"
#include "TKCore.h"
#include "Util.h"
#include "StatusCodes.h"

namespace {

// Spacing and phase tolerance of the grid, in seconds.
const double kGridTolerance = 0.025;
// Looser phase tolerance for keeping beats that are on the grid.
const double kPhaseKeepTolerance = 0.1;
// Snapping: reach around the target time and the least normalised energy peak (the reference
// part of the track maps to 20).
const double kSnapReach = 0.1;
const double kSnapEnergy = 2.5;
// A candidate needs a normalised energy peak above this.
const double kCandidateEnergy = 5.0;
// Largest BPM bound beatTrack accepts (setMinMaxBPM clamps to 255).
const float kMaxUsableBPM = 1000.0f;

inline bool openWithin(double value, double centre, double tolerance) {
    return value > centre - tolerance && value < centre + tolerance;
}

inline void throttlePause(bool throttle) {
    if (throttle) usleep(1000);
}

// Takes beats[i] out of the list; it is deleted only when synthetic (onsets stay the
// processor's).
void removeBeat(std::vector<Event*>& beats, size_t i) {
    Event* e = beats[i];
    beats.erase(beats.begin() + static_cast<long>(i));
    if (e->synthetic) delete e;
}

Event* makeSynthetic(double time, double salience) {
    Event* e = new Event(time, 0.0);
    e->salience = salience;
    e->synthetic = true;
    return e;
}

// Energy normalisation: the track is cut into ten parts; the part whose peak level (in steps of
// 100) is shared by most parts sets the reference, which maps to 20. Parts still at 0 (audio not
// decoded yet) can share a bucket but never become the reference.
std::vector<double> normalisedEnergy(const double* E, long N) {
    double partMax[10];
    int bucket[10];
    int tally[10] = {0};
    for (int k = 0; k < 10; ++k) {
        const long start = (k * N) / 10;
        double mx = 0.0;
        for (long i = start; i < start + N / 10; ++i) mx = E[i] > mx ? E[i] : mx;
        partMax[k] = mx;
        bucket[k] = static_cast<int>(mx) / 100;
    }
    for (int k = 0; k < 10; ++k) {
        int first = 0;
        while (bucket[first] != bucket[k]) ++first;
        ++tally[first];
    }
    int r = 0;
    int best = partMax[0] > 0.0 ? tally[0] : 0;
    for (int k = 1; k < 10; ++k) {
        if (tally[k] > best && partMax[k] > 0.0) {
            r = k;
            best = tally[k];
        }
    }
    const double reference = partMax[r] > 1.0 ? partMax[r] : 1.0;
    std::vector<double> NE(static_cast<size_t>(N));
    for (long i = 0; i < N; ++i) NE[static_cast<size_t>(i)] = E[i] / (reference / 20.0);
    return NE;
}

// The commonest value of `values` by open clustering: each value joins every cluster it falls
// into, or opens a new one. Returns the mean of the largest cluster (ties: the earlier), or -1.
// lowerFloor: phase clusters keep their edges at or above 0.
template <typename Cluster>
double commonestValue(const std::vector<double>& values, bool lowerFloor) {
    std::vector<Cluster> clusters;
    for (double v : values) {
        bool taken = false;
        for (Cluster& c : clusters) {
            double lo = c.value - kGridTolerance;
            double hi = c.value + kGridTolerance;
            if (lowerFloor) {
                lo = lo > 0.0 ? lo : 0.0;
                hi = hi > 0.0 ? hi : 0.0;
            }
            if (v > lo && v < hi) {
                ++c.count;
                c.sum += v;
                taken = true;
            }
        }
        if (!taken) clusters.push_back(Cluster{v, 1, v});
    }
    if (clusters.empty()) return -1.0;
    size_t winner = 0;
    for (size_t i = 0; i < clusters.size(); ++i) {
        clusters[i].value = clusters[i].sum / clusters[i].count;
        if (clusters[i].count > clusters[winner].count) winner = i;
    }
    return clusters[winner].value;
}

}  // namespace

BeatTracker::BeatTracker()
    : WorkerThread("BeatTracker"),
      readPos(0),
      readFill(0),
      fileNameIsWide(false),
      runningLock("Running"),
      deck(0),
      minBPM(80.0f),
      maxBPM(160.0f),
      precision(2),
      javaCallLock("JavaCall") {
    std::memset(fileName, 0, 1024);
    stopThread();
}

BeatTracker::~BeatTracker() { stopTracking(); }

int BeatTracker::stopTracking() {
    stopThread();
    // Lists of this run not yet in Java stay out of it: a stopped run reports nothing more.
    beat_courier::withdraw(this);
    return 1;
}

int BeatTracker::setMinMaxBPM(float newMin, float newMax) {
    if (!(newMin < newMax)) return TK_ERR_BAD_ARGUMENT;  // also refuses NaN
    auto clamp = [](float v) { return v < 20.0f ? 20.0f : (v > 255.0f ? 255.0f : v); };
    minBPM = clamp(newMin);
    maxBPM = clamp(newMax);
    return 1;
}

int findNextMatchingEvent(int index, double tolerance, double interval,
                          std::vector<Event*>& beats) {
    const int size = static_cast<int>(beats.size());
    if (index < 0 || index >= size) return -1;
    double target = beats[index]->time;
    for (int m = 1; index + m < size; ++m) {
        target += interval;
        for (int j = index; j < size; ++j) {
            if (openWithin(beats[j]->time, target, tolerance)) return j;
        }
    }
    return -1;
}

namespace {
// The walk shared by the two surround tests. withPhase: a neighbour must also share the phase.
bool surrounded(int n, int index, double tolerance, std::vector<Event*>& beats, double interval,
                bool withPhase) {
    const int size = static_cast<int>(beats.size());
    if (index < 0 || index >= size) return false;
    const double p = beats[index]->phase;
    auto neighbourMatches = [&](int a, int b, int neighbour) {
        if (!openWithin(beats[b]->time - beats[a]->time, interval, tolerance)) return false;
        if (!withPhase) return true;
        const double q = beats[neighbour]->phase;
        const double lo = q - tolerance > 0.0 ? q - tolerance : 0.0;
        const double hi = q + tolerance > 0.0 ? q + tolerance : 0.0;
        return p > lo && p < hi;
    };
    int count = 0;
    if (count >= n) return true;
    for (int j = index; j >= 1 && neighbourMatches(j - 1, j, j - 1); --j) {
        if (++count >= n) return true;
    }
    for (int j = index; j + 1 < size; ++j) {
        if (!neighbourMatches(j, j + 1, j + 1)) return false;
        if (++count >= n) return true;
    }
    return false;
}
}  // namespace

bool isSurroundedByBeatsOfTheSameInterval(int n, int index, double tolerance,
                                          std::vector<Event*>& beats, double interval) {
    return surrounded(n, index, tolerance, beats, interval, false);
}

bool isSurroundedByBeatsOfTheSamePhase(int n, int index, double tolerance,
                                       std::vector<Event*>& beats, double interval) {
    return surrounded(n, index, tolerance, beats, interval, true);
}

double findMaximumMagnitude(unsigned centre, int width, const double* data, unsigned size,
                            int factor) {
    if (!data || width <= 0 || factor <= 0) return 0.0;
    long start = static_cast<long>(centre) - width / 2;
    long frames = width;
    if (start < 0) {
        frames += start;
        start = 0;
    }
    double mx = 0.0;
    for (long g = start; g < start + frames; ++g) {
        for (int j = 0; j < factor; ++j) {
            const long i = g * factor + j;
            if (i < static_cast<long>(size) && data[i] > mx) mx = data[i];
        }
    }
    return mx * 0.5;
}

double calcPhaseShift(double time, double interval) { return std::fmod(time, interval); }

Event* findNearestOnset(std::vector<Event*>* onsets, double time, double tolerance,
                        double threshold) {
    if (!onsets) return nullptr;
    const size_t n = onsets->size();
    for (size_t i = 0; i < n; ++i) {
        Event* o = (*onsets)[i];
        if (!(o->time - tolerance <= time && time <= o->time + tolerance)) continue;
        if (i + 1 < n) {
            Event* o2 = (*onsets)[i + 1];
            if (std::fabs(o2->time - time) < std::fabs(o->time - time) &&
                o2->energyPeak > threshold * 0.5) {
                return o2;
            }
        }
        if (o->energyPeak > threshold * 0.5) return o;
    }
    return nullptr;
}

int BeatTracker::beatTrack(AudioProcessor* processor, float& bpm, std::vector<Event*>& beats,
                           const std::atomic<bool>* running, bool throttle) {
    if (!processor) return TK_ERR_NO_DECK_OUTPUT;
    // The fields may be set directly; a range beyond what any music has would make the fills
    // below loop (nearly) forever.
    if (!(minBPM > 0.0f && minBPM <= kMaxUsableBPM) || !(maxBPM > 0.0f && maxBPM <= kMaxUsableBPM))
        return TK_ERR_BAD_ARGUMENT;
    const double minInt = 60.0 / static_cast<double>(maxBPM);
    const double maxInt = 60.0 / static_cast<double>(minBPM);
    const double hop = processor->hopTime;
    std::vector<Event*>& onsets = processor->onsets;
    auto snap = [&](double t) { return findNearestOnset(&onsets, t, kSnapReach, 2.0 * kSnapEnergy); };

    // Stage 1: onsets, and the energy curve normalised against a typical loud part.
    processor->processingFinish(running);
    double* E = nullptr;
    unsigned frames = 0, factorU = 0;
    processor->getEnergy(&E, &frames, &factorU);
    const long factor = static_cast<long>(factorU);
    const long N = E ? static_cast<long>(frames) * factor : 0;
    std::vector<double> NE = normalisedEnergy(E, N);
    throttlePause(throttle);

    // Stage 2: candidates: onsets with a strong energy peak that dominates their surroundings
    // (up to the longest beat interval around them), at least the shortest interval apart.
    const long W = static_cast<long>(0.17 / hop);
    const int M = static_cast<int>(maxInt / hop);
    const int half = M / 2;
    for (Event* o : onsets) {
        const long f = static_cast<long>(static_cast<int>(o->time / hop));
        double peak = 0.0;
        for (long i = factor * f; i < factor * f + W; ++i) {
            if (i >= 0 && i < N && NE[static_cast<size_t>(i)] > peak) peak = NE[static_cast<size_t>(i)];
        }
        o->energyPeak = peak;
        long s = f - half;
        long count = M;
        if (s < 0) {
            count += s;
            s = 0;
        }
        double local = 0.0;
        for (long g = s; g < s + count; ++g) {
            for (long j = 0; j < factor; ++j) {
                const long i = factor * g + j;
                if (i < N && NE[static_cast<size_t>(i)] > local) local = NE[static_cast<size_t>(i)];
            }
        }
        local *= 0.5;
        if (!(peak > kCandidateEnergy && peak >= local)) continue;
        const double ratio = local / peak;
        if (beats.empty() || o->time >= beats.back()->time + minInt) {
            o->score = ratio;
            beats.push_back(o);
            continue;
        }
        const size_t n = beats.size();
        if (n >= 3) {
            const double fromSecondLast = o->time - beats[n - 2]->time;
            const double fromLast = o->time - beats[n - 1]->time;
            if (fromSecondLast > minInt && fromSecondLast < maxInt && fromLast <= minInt &&
                beats[n - 1]->score > ratio) {
                removeBeat(beats, n - 1);
                o->score = ratio;
                beats.push_back(o);
            }
        }
    }
    throttlePause(throttle);

    // Stage 3: the beat interval, folded into the BPM range.
    std::vector<double> values;
    for (size_t i = 0; i + 1 < beats.size(); ++i) values.push_back(beats[i + 1]->time - beats[i]->time);
    double interval = commonestValue<IntervalCounterEvent>(values, false);
    // interval is -1 without spacings: folding would then double it towards -infinity forever.
    if (interval > 0.0 && !(interval > minInt && interval < maxInt)) {
        while (interval < minInt) interval *= 2.0;
        while (interval > maxInt) interval /= 2.0;
    }
    throttlePause(throttle);

    // Stage 4: the phase. Phases do not wrap around the interval.
    values.clear();
    for (Event* b : beats) {
        if (b->phase < 0.0) b->phase = std::fmod(b->time, interval);
        values.push_back(b->phase);
    }
    const double phase = commonestValue<PhasenCounterEvent>(values, true);
    throttlePause(throttle);

    // Stage 5: grid filter.
    if (interval > minInt && !beats.empty()) {
        auto keepsPhase = [&](size_t i) {
            return openWithin(beats[i]->phase, phase, kPhaseKeepTolerance) ||
                   isSurroundedByBeatsOfTheSamePhase(50, static_cast<int>(i), kGridTolerance,
                                                     beats, interval);
        };
        size_t i = 0;
        while (i < beats.size()) {
            Event* b = beats[i];
            const double p = b->phase;
            if (!openWithin(p, phase, kGridTolerance) &&
                !isSurroundedByBeatsOfTheSameInterval(4, static_cast<int>(i), kGridTolerance,
                                                      beats, interval)) {
                removeBeat(beats, i);
                continue;
            }
            const double d = i == 0 ? 0.0 : b->time - beats[i - 1]->time;
            const bool onGrid = i == 0 || (d >= interval - kGridTolerance &&
                                           d <= interval + kGridTolerance) ||
                                d >= 2.0 * interval + kGridTolerance;
            if (onGrid) {
                if (keepsPhase(i)) {
                    ++i;
                } else {
                    removeBeat(beats, i);
                }
                continue;
            }
            if (beats.size() <= 4) {
                ++i;
                continue;
            }
            const int k = findNextMatchingEvent(static_cast<int>(i), kGridTolerance, interval, beats);
            if (k < 0) {
                removeBeat(beats, i);
            } else if (k == static_cast<int>(i) + 1) {
                bool removed = false;
                if (!openWithin(p, phase, kPhaseKeepTolerance)) {
                    removeBeat(beats, i);
                    removed = true;
                }
                if (i + 1 < beats.size() &&
                    !openWithin(beats[i + 1]->phase, phase, kPhaseKeepTolerance)) {
                    removeBeat(beats, i + 1);
                }
                if (!removed) ++i;
            } else {
                for (int r = 0; r < k - static_cast<int>(i) - 1; ++r) removeBeat(beats, i);
            }
        }
    }
    throttlePause(throttle);

    // Stage 6: isolated beats, more than two intervals from both neighbours.
    if (beats.size() > 3 && interval > minInt && interval < maxInt) {
        size_t i = 1;
        while (i + 1 < beats.size()) {
            const double next = (beats[i + 1]->time - beats[i]->time) / interval;
            const double prev = (beats[i]->time - beats[i - 1]->time) / interval;
            if (next > 2.0 && prev > 2.0) {
                removeBeat(beats, i);
            } else {
                ++i;
            }
        }
    }
    throttlePause(throttle);

    // Stage 7: the grid step and the first beat the grid starts from.
    double step = 0.0;
    size_t start = 0;
    if (interval > minInt && interval < maxInt) {
        step = interval;
        for (size_t j = 0; j + 1 < beats.size(); ++j) {
            const double d = beats[j + 1]->time - beats[j]->time;
            if (d > minInt && d < maxInt && openWithin(d, interval, kGridTolerance)) {
                start = j;
                break;
            }
        }
    } else if (beats.size() >= 2) {
        // The interval left the range: take the running mean of the first steady spacings.
        double prev = -1.0, sum = 0.0;
        int count = 0;
        for (size_t j = 1; j < beats.size(); ++j) {
            const double d = beats[j]->time - beats[j - 1]->time;
            if (prev > minInt && prev < maxInt && d > 1.5 * prev) {
                sum = 0.0;
                count = 0;
                start = j;
            } else {
                ++count;
                sum += d;
                prev = d;
                if (count > 5) break;
            }
        }
        step = count > 0 ? sum / count : 0.0;
    }

    // Stage 8: back-fill towards the start of the track, never at or before time 0.
    if (step > minInt) {
        for (size_t r = 0; r < start && !beats.empty(); ++r) removeBeat(beats, 0);
        while (!beats.empty()) {
            const double t = beats[0]->time - step;
            if (t <= 0.0) break;
            Event* onset = snap(t);
            // With any range that setMinMaxBPM accepts the step exceeds the snap reach, so the
            // onset lies before beats[0]; the test keeps a hand-set range from looping forever.
            if (onset && onset->time >= beats[0]->time) onset = nullptr;
            beats.insert(beats.begin(), onset ? onset : makeSynthetic(t, beats[0]->salience));
        }
    }

    // Stage 9: gap fill, from the end backwards.
    if (beats.size() >= 2) {
        double h = interval;
        size_t j = beats.size() - 1;
        while (j >= 1) {
            Event* cur = beats[j];
            Event* prev = beats[j - 1];
            const double gap = cur->time - prev->time;
            if (h > minInt && h < maxInt && gap > 1.5 * h) {
                Event* e = makeSynthetic(cur->time - h, prev->salience);
                Event* onset = snap(e->time);
                if (onset && onset->time > prev->time && onset->time < cur->time) e->time = onset->time;
                beats.insert(beats.begin() + static_cast<long>(j), e);
                continue;  // the new beat is cur for the next test against the same prev
            }
            if (interval < minInt) h = gap;
            --j;
        }
    }

    // Stage 10: tail fill up to the end of the whole track (also in an interim run).
    if (!beats.empty() && interval >= minInt && interval <= maxInt) {
        const double end = hop * static_cast<double>(processor->totalFrames);
        double target = beats.back()->time + interval;
        while (end > target) {
            Event* e = makeSynthetic(beats.back()->time + interval, beats.back()->salience);
            if (Event* onset = snap(e->time)) e->time = onset->time;
            beats.push_back(e);
            target += interval;
        }
    }

    // Stage 11: the tempo, in single precision.
    if (interval > 0.0) bpm = 60.0f * (1.0f / static_cast<float>(interval));
    return 1;
}
