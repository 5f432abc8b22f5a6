// Event: one onset (from the onset detector) or one beat (found or made up by beat detection).
//
// Ownership, the one rule every holder follows: onset events belong to the AudioProcessor's
// `onsets` list. A beat list holds pointers to some of those and to synthetic beats (`synthetic`
// true), and only the synthetic ones belong to the beat list. Whoever takes an event out of a beat
// list deletes it only when it is synthetic; the holder of a beat list deletes its synthetic
// events when done and never the others.
//
// Thread safety: a plain record; it belongs to the thread of the list that owns it.
#pragma once

#include <vector>

class Event {
public:
    Event(double time, double score);
    // Copies all six fields, `synthetic` included.
    explicit Event(const Event* other);

    double time;        // seconds from the start of the track
    double score;       // beat score: the candidate's local/peak energy ratio
    double salience;    // onset strength; only events with salience > 0 are reported as beats
    bool synthetic;     // made up by beat detection; owned by the beat list
    double phase;       // time modulo the beat interval; negative = not computed
    double energyPeak;  // largest normalised energy shortly after the onset; negative = not computed
};

typedef std::vector<Event*> EventList;

// Deletes the synthetic events of `beats` and empties it; the onsets it pointed at stay alive.
void deleteSyntheticEvents(EventList& beats);
