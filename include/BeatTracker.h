// BeatTracker: a deck's background beat tracker, and the holder of beat detection (beatTrack),
// which whole-file analysis also uses on a private, never-started tracker.
//
// Beat detection fits a regular grid to what an AudioProcessor collected: it picks strong onsets
// as candidates, takes their commonest spacing as the beat interval (folded into the BPM range)
// and their commonest position modulo the interval as the phase, throws out candidates off the
// grid, and fills the grid with made-up (synthetic) beats before the first beat, in gaps and up
// to the end of the track, each snapped to a strong onset close to its place.
//
// Ownership of the beat list: beatTrack appends pointers to the processor's own onset events and
// to synthetic events; only the synthetic ones belong to the list (see Event.h).
//
// Thread safety
// - beatTrack runs on its caller's thread and takes no lock; the processor must not be fed while
//   it runs. `running` may be cleared by another thread; it only shortens the onset list.
// - setMinMaxBPM and the minBPM/maxBPM fields: set them before a run, on the thread that runs it.
// - startTracking and stopTracking may be called from any thread but the worker's own; both
//   block until a running worker has been joined. A stop waits at most for the chunk, the
//   beat-detection run and the report in progress.
// - The worker holds "Running" for a whole run and "JavaCall" while it reports; nothing else
//   takes them.
// - Reports go to Java through the courier (BeatReportCourier.h), whose own thread calls Java; the
//   worker never does, so stopping it never waits for a Java handler (which may call the engine
//   for this deck or load any deck), and the process's exit never waits for the VM. A stop drops
//   the run's lists not yet handed over. A report sink installed by a test takes the courier's place.
#pragma once

#include <atomic>
#include <vector>

#include "fmod.hpp"

#include "CritSect.h"
#include "Event.h"
#include "WorkerThread.h"
#include "tk_string.h"

class AudioProcessor;
class BeatResultListener;

// One beat list as it is reported: the beats with salience > 0 in list order, their times in
// seconds, and which of them is flagged as the first beat (the first one that is not synthetic).
struct BeatReport {
    int deck;
    bool finished;
    double percent;
    std::vector<double> times;
    std::vector<bool> firstBeat;
};

// One cluster of spacings between consecutive candidates (value: the spacing that opened it,
// then the mean).
struct IntervalCounterEvent {
    double value;
    int count;
    double sum;
};

// One cluster of candidate phases.
struct PhasenCounterEvent {
    double value;
    int count;
    double sum;
};

class BeatTracker : public WorkerThread {
public:
    BeatTracker();
    // Stops and joins a running worker before the members go.
    ~BeatTracker();

    // Runs beat detection over the processor's onsets and energy curve. Appends the beats to
    // `beats` (callers pass an empty list) and writes `bpm` only when an interval was found.
    // With throttle the call sleeps 1 ms after each of its first six stages (the deck tracker
    // shares the machine with playback). Returns 1; -28 for a null processor and -4 for a BPM
    // bound outside (0, 1000], both without touching `bpm` or `beats`.
    int beatTrack(AudioProcessor* processor, float& bpm, std::vector<Event*>& beats,
                  const std::atomic<bool>* running, bool throttle);

    // Stores the range clamped to [20, 255] and returns 1; -4 and no change when minBPM is not
    // below maxBPM.
    int setMinMaxBPM(float minBPM, float maxBPM);

    // Stops a running worker, stores the deck and the options (unclamped), and starts a run over
    // the named file, which is copied as 8-bit text whatever `unicode` says. Returns once the
    // worker runs: 1; -3 for a null or empty name (the old run is stopped all the same).
    // `listener` is not used: beat lists go to Java only.
    int startTracking(int deck, char* fileName, bool unicode, float minBPM, float maxBPM,
                      BeatResultListener* listener, int precision);

    // Stops the worker and waits for it (never for Java); its lists not yet in Java are dropped.
    // Returns 1.
    int stopTracking();

    // The worker body: decodes the file hop by hop into an onset front end, reports a beat list
    // every 30 s of decoded audio (at most 31 times) and a final one at the end. A stopped run
    // sends no final list.
    int objectRunner() override;

    // One beat-detection run over what the processor holds, and its report. Afterwards the
    // processor's onsets are gone, so the next run picks them afresh.
    void updateBeatList(bool finished, AudioProcessor* processor, double percent);

    // The report: to the sink when one is installed, else posted to the courier for
    // PlayerNative.updateBeatList. Nothing once the running flag is clear, or without memory.
    void callJava(bool finished, double percent, std::vector<Event*>* beats);

    // Copies `bytes` bytes of the sound's PCM through readBuffer (refilled up to 8192 bytes at a
    // time); at the end of the data the rest of a begun copy is silence. 44 for a null sound or 0
    // bytes; the audio layer's result (or end of file) when nothing could be copied; else 0. *read,
    // when given, is zeroed first (unless the sound is null) and raised by the bytes copied.
    int readDataFromSound(FMOD::Sound* sound, void* dest, unsigned bytes, unsigned* read);

    // Test seam: while a sink is installed, every report goes to it (on the worker thread, under
    // "JavaCall") instead of Java. Install and remove it while no tracker runs.
    typedef void (*ReportSink)(void* context, const BeatReport& report);
    static void setReportSinkForTesting(ReportSink sink, void* context);

    // The beats a report carries (salience > 0) and their first-beat flags, in list order.
    static void selectReportedBeats(const std::vector<Event*>& beats, BeatReport* report);

    unsigned char readBuffer[8192];  // block that the file reads fill
    unsigned readPos;                // next unread byte of readBuffer
    unsigned readFill;               // bytes the last read put in readBuffer; refill when readPos reaches it
    char fileName[2 * kTKPathBytes];  // tracked file, 8-bit, zero-terminated
    bool fileNameIsWide;
    CritSect runningLock;            // "Running": held by the worker for a whole run
    int deck;
    float minBPM;                    // 80 by default
    float maxBPM;                    // 160 by default
    int precision;
    CritSect javaCallLock;           // "JavaCall": held while a beat list goes to Java
};

// Functions over a beat list; positions are indices into `beats`, tolerances are open (a value
// exactly at the edge does not match).

// The first beat after `index` that lies within tolerance of beats[index].time plus m intervals,
// trying m = 1, 2, ... while index + m is a position; -1 when none, or for a bad index.
int findNextMatchingEvent(int index, double tolerance, double interval,
                          std::vector<Event*>& beats);

// Counts spacings within tolerance of `interval` backwards from `index` (to the first mismatch),
// then forwards; true as soon as the count reaches n, false at the first forward mismatch or the
// end of the list.
bool isSurroundedByBeatsOfTheSameInterval(int n, int index, double tolerance,
                                          std::vector<Event*>& beats, double interval);

// As above, but a neighbour also needs a phase q with max(0, q - tol) < p < max(0, q + tol),
// p being the phase of the beat at `index`.
bool isSurroundedByBeatsOfTheSamePhase(int n, int index, double tolerance,
                                       std::vector<Event*>& beats, double interval);

// Half the largest of `width` frames of `factor` values each from centre - width/2 (cut at 0;
// values at or beyond size skipped), at least 0.
double findMaximumMagnitude(unsigned centre, int width, const double* data, unsigned size,
                            int factor);

// fmod(time, interval).
double calcPhaseShift(double time, double interval);

// The snapping search of beat detection: the onset within tolerance of time whose energy peak
// exceeds threshold / 2 (a strictly closer successor is preferred); null when none.
Event* findNearestOnset(std::vector<Event*>* onsets, double time, double tolerance,
                        double threshold);
