// Agent: one tempo-and-phase hypothesis of the multi-agent beat tracker. Starting from a beat
// period, it walks through an onset list, accepts the onsets that fall near its predicted beats
// (within an early and a late window), nudges its period toward them and scores them by their
// salience and closeness. An onset accepted off-centre first leaves a copy of the agent behind,
// so both readings of the rhythm stay in the race.
//
// Ownership: an agent owns `acceptedBeats` and every event in it (copies of the onsets it
// accepted, and the beats fillBeats makes up).
//
// Thread safety: none. The class data (innerMargin ... idCounter) is process-wide and rewritten
// by every Agent(double) and init: one tracking run at a time.
#pragma once

#include <vector>

#include "Event.h"

class AgentList;

class Agent {
public:
    static double innerMargin;       // s: an accepted onset further off than this leaves a copy behind
    static double correctionFactor;  // the period moves by error / correctionFactor per accepted onset
    static double expiryTime;        // s: an agent with no onset for this long gives up
    static double decayFactor;       // 0: scores add up without decay
    static int idCounter;

    explicit Agent(double interval);
    // A copy under a new id: scores, beat count, periods, last beat time, windows and a copy of
    // every accepted event.
    explicit Agent(const Agent* other);
    ~Agent();
    Agent(const Agent&) = delete;
    Agent& operator=(const Agent&) = delete;

    // Starts the agent afresh with the given period (and resets the class data).
    void init(double interval);
    // Whether e is one of this agent's beats; accepts it when so. May add a copy of the agent to
    // `list` first; marks the agent for removal (beatScore -1) when e comes after its expiry.
    bool considerAsBeat(Event* e, AgentList* list);
    // Takes e as a beat, `beats` periods after the last one and `err` seconds off the prediction.
    void accept(Event* e, double err, int beats);
    // Makes up the beats missing between accepted ones after `start` seconds (appended at the end,
    // not in time order). fillBeats2: all of them.
    void fillBeats(double start);
    void fillBeats2();
    // Prints the agent to standard output; more detail from level 1 on, a newline from level 2.
    void print(int level);

    int id;
    double earlyWindow;  // tolerance before a predicted beat, s
    double lateWindow;   // tolerance after a predicted beat, s
    double baseScore;
    double beatScore;    // -1 marks the agent for removal
    double auxScore;
    int beatsCounted;    // beats accounted for, skipped ones included
    double period;       // current beat period, s
    double startPeriod;
    double lastBeatTime;  // -1 before the first beat
    std::vector<Event*>* acceptedBeats;

private:
    void releaseBeats();
};
