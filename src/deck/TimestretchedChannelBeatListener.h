// BeatResultListener: what a beat tracker may hand its results to. The deck channel derives from
// it so a deck can pass its channel to the tracker. BeatTracker.h only forward-declares it, so the
// interface lives here, next to its one implementer.
#pragma once

#include <vector>

#include "Event.h"

#ifndef PW_BEAT_RESULT_LISTENER_DEFINED
#define PW_BEAT_RESULT_LISTENER_DEFINED
class BeatResultListener {
public:
    // Takes a beat list; the listener copies what it keeps. 1, or a negative status.
    virtual int setBeatEvents(std::vector<Event*>* events) = 0;

protected:
    // Never deleted through this interface.
    ~BeatResultListener() = default;
};
#endif
