#include "Event.h"

Event::Event(double t, double s)
    : time(t), score(s), salience(0.0), synthetic(false), phase(-1.0), energyPeak(-1.0) {}

Event::Event(const Event* other)
    : time(other->time),
      score(other->score),
      salience(other->salience),
      synthetic(other->synthetic),
      phase(other->phase),
      energyPeak(other->energyPeak) {}

void deleteSyntheticEvents(EventList& beats) {
    for (Event* e : beats) {
        if (e && e->synthetic) delete e;
    }
    beats.clear();
}
