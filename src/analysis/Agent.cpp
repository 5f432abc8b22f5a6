#include "Agent.h"

#include <cmath>
#include <cstdio>

#include "AgentList.h"
#include "Util.h"

double Agent::innerMargin = 0.04;
double Agent::correctionFactor = 50.0;
double Agent::expiryTime = 10.0;
double Agent::decayFactor = 0.0;
int Agent::idCounter = 0;

Agent::Agent(double interval) : acceptedBeats(nullptr) { init(interval); }

Agent::Agent(const Agent* other)
    : id(idCounter++),
      earlyWindow(other->earlyWindow),
      lateWindow(other->lateWindow),
      baseScore(other->baseScore),
      beatScore(other->beatScore),
      auxScore(other->auxScore),
      beatsCounted(other->beatsCounted),
      period(other->period),
      startPeriod(other->startPeriod),
      lastBeatTime(other->lastBeatTime),
      acceptedBeats(new std::vector<Event*>()) {
    acceptedBeats->reserve(other->acceptedBeats->size());
    for (const Event* e : *other->acceptedBeats) {
        Event* copy = new Event(e->time, e->score);
        copy->salience = e->salience;
        acceptedBeats->push_back(copy);
    }
}

Agent::~Agent() { releaseBeats(); }

void Agent::releaseBeats() {
    if (!acceptedBeats) return;
    for (Event* e : *acceptedBeats) delete e;
    delete acceptedBeats;
    acceptedBeats = nullptr;
}

void Agent::init(double interval) {
    innerMargin = 0.04;
    correctionFactor = 50.0;
    expiryTime = 10.0;
    decayFactor = 0.0;
    period = startPeriod = interval;
    earlyWindow = 0.15 * interval;
    lateWindow = 0.3 * interval;
    id = idCounter++;
    baseScore = beatScore = auxScore = 0.0;
    beatsCounted = 0;
    lastBeatTime = -1.0;
    releaseBeats();
    acceptedBeats = new std::vector<Event*>();
}

bool Agent::considerAsBeat(Event* e, AgentList* list) {
    if (acceptedBeats->empty()) {
        accept(e, 0.0, 1);
        return true;
    }
    if (e->time - lastBeatTime > expiryTime) {
        beatScore = -1.0;
        return false;
    }
    const int beats = static_cast<int>((e->time - lastBeatTime) / period + 0.5);
    const double err = e->time - lastBeatTime - beats * period;
    if (beats > 0 && err >= -earlyWindow && err <= lateWindow) {
        // Off-centre: keep the unchanged hypothesis alive beside the one that takes e.
        if (std::fabs(err) > innerMargin && list) list->add(new Agent(this));
        accept(e, err, beats);
        return true;
    }
    return false;
}

void Agent::accept(Event* e, double err, int beats) {
    lastBeatTime = e->time;
    Event* copy = new Event(e->time, e->score);
    copy->salience = e->salience;
    acceptedBeats->push_back(copy);
    // The period follows the onsets, but never strays more than 20 % from where it started.
    if (std::fabs(startPeriod - period - err / correctionFactor) < 0.2 * startPeriod) period += err / correctionFactor;
    beatsCounted += beats;
    const double conFactor = 1.0 - 0.5 * err / (err > 0.0 ? lateWindow : -earlyWindow);
    if (decayFactor > 0.0) {
        const double memFactor = 1.0 - 1.0 / Util::threshold(beatsCounted, 1.0, decayFactor);
        beatScore = memFactor * beatScore + (1.0 - memFactor) * conFactor * e->salience;
    } else {
        beatScore += conFactor * e->salience;
    }
}

void Agent::fillBeats(double start) {
    const size_t present = acceptedBeats->size();
    if (present < 2) return;
    // By index: the list grows while it is walked.
    for (size_t i = 1; i < present; ++i) {
        const double prev = (*acceptedBeats)[i - 1]->time;
        const double time = (*acceptedBeats)[i]->time;
        const double gap = time - prev;
        const int n = static_cast<int>(gap / period - 0.01 + 0.5);
        if (time > start && n > 1.5) {
            const double step = gap / n;
            for (int k = 1; k < n; ++k) acceptedBeats->push_back(new Event(prev + k * step, 0.0));
        }
    }
}

void Agent::fillBeats2() { fillBeats(-1.0); }

void Agent::print(int level) {
    std::printf("\tAg#%4d: %5.3f", id, period);
    if (level >= 1)
        std::printf("  Beat#%3d  Time=%7.3f  Score=%4.2f:P%4.2f:%3.1f", beatsCounted, lastBeatTime, baseScore,
                    beatScore, auxScore);
    if (level >= 2) std::printf("\n");
}
