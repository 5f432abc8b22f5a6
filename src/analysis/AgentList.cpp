#include "AgentList.h"

#include <unistd.h>

#include <cmath>

double AgentList::thresholdBI = 0.02;
double AgentList::thresholdBT = 0.04;

namespace {

// An agent whose first beat came at 0 s would divide by zero; a millisecond bounds its weight.
constexpr double kEarliestFirstBeat = 0.001;

}  // namespace

AgentList::AgentList(Agent* agent, AgentList* nextNode) : ag(agent), next(nextNode), size(0) {
    thresholdBI = 0.02;
    thresholdBT = 0.04;
    if (!next && ag) next = new AgentList(nullptr, nullptr);
}

AgentList::~AgentList() { delete ag; }

void AgentList::add(Agent* agent) { add(agent, true); }

void AgentList::add(Agent* agent, bool sorted) {
    if (!agent) return;
    ++size;
    AgentList* ptr = this;
    for (; ptr->ag; ptr = ptr->next) {
        if (sorted && ptr->ag->period >= agent->period) {
            // Insert in front of ptr: ptr takes the new agent, its old agent moves one node on.
            ptr->next = new AgentList(ptr->ag, ptr->next);
            ptr->ag = agent;
            return;
        }
        if (!ptr->next) {
            // After RemoveAll the head holds the last agent and no terminating node.
            ptr->next = new AgentList(agent, nullptr);
            return;
        }
    }
    ptr->ag = agent;
    ptr->next = new AgentList(nullptr, nullptr);
    thresholdBI = 0.02;
    thresholdBT = 0.04;
}

void AgentList::sort() {
    bool swapped = true;
    while (swapped) {
        swapped = false;
        for (AgentList* p = this; p && p->ag && p->next && p->next->ag; p = p->next) {
            if (p->ag->period > p->next->ag->period) {
                Agent* t = p->ag;
                p->ag = p->next->ag;
                p->next->ag = t;
                swapped = true;
            }
        }
    }
}

void AgentList::remove(AgentList* node) {
    if (!node || !node->ag) return;
    --size;
    delete node->ag;
    node->ag = nullptr;
    if (!node->next) return;
    AgentList* gone = node->next;
    node->ag = gone->ag;
    node->next = gone->next;
    gone->ag = nullptr;  // moved, not to be deleted with its node
    delete gone;
}

void AgentList::markDuplicates() {
    for (AgentList* a = this; a && a->ag; a = a->next) {
        if (a->ag->beatScore == -1.0) continue;
        for (AgentList* b = a->next; b && b->ag; b = b->next) {
            if (b->ag->period - a->ag->period > thresholdBI) break;
            if (std::fabs(a->ag->lastBeatTime - b->ag->lastBeatTime) > thresholdBT) continue;
            const double aux = std::fmax(a->ag->auxScore, b->ag->auxScore);
            if (a->ag->beatScore < b->ag->beatScore) {
                a->ag->beatScore = -1.0;
                b->ag->auxScore = aux;
                break;
            }
            b->ag->beatScore = -1.0;
            a->ag->auxScore = aux;
        }
    }
}

void AgentList::removeScoresBelowZero() {
    AgentList* p = this;
    while (p && p->ag) {
        if (p->ag->beatScore < 0.0) remove(p);  // p now holds the next agent
        else p = p->next;
    }
}

void AgentList::removeDuplicates() {
    sort();
    markDuplicates();
    removeScoresBelowZero();
}

void AgentList::RemoveAll() {
    AgentList* p = next;
    while (p) {
        AgentList* following = p->next;
        delete p;
        p = following;
    }
    // The head may now hold an agent and no terminating node; every walk stops at a null next,
    // and `delete` on the head frees the rest.
    next = nullptr;
    size = ag ? 1 : 0;
}

Agent* AgentList::bestAgent() {
    double best = -1.0;
    Agent* found = nullptr;
    for (AgentList* p = this; p && p->ag; p = p->next) {
        const double score = p->ag->baseScore + p->ag->beatScore;
        if (score > best) {
            best = score;
            found = p->ag;
        }
    }
    return found;
}

Agent* AgentList::semibestAgent() {
    Agent* found = nullptr;
    double best = 0.0;
    for (AgentList* p = this; p && p->ag; p = p->next) {
        const Agent* a = p->ag;
        if (!a->acceptedBeats || a->acceptedBeats->empty()) continue;
        const double first = std::fmax(a->acceptedBeats->front()->time, kEarliestFirstBeat);
        const double score = 10000.0 / first * (a->beatScore + a->baseScore);
        if (!found || score > best) {
            best = score;
            found = p->ag;
        }
    }
    return found;
}

int AgentList::beatTrack(std::vector<Event*>* events) { return beatTrack(events, -1.0, 1); }

int AgentList::beatTrack(std::vector<Event*>* events, double stop, int sleepMs) {
    if (!events) return 0;
    const bool phaseGiven = ag && ag->lastBeatTime >= 0.0;
    const int count = static_cast<int>(events->size());
    std::vector<Agent*> walk;
    for (int index = 0; index + 1 < count; ++index) {
        Event* e = (*events)[static_cast<size_t>(index)];
        if (sleepMs > 0) usleep(static_cast<useconds_t>(sleepMs) * 1000u);
        if (stop > 0.0 && e->time > stop) return index;
        // The agents present now consider e, each once; agents added meanwhile (copies left
        // behind, new phases) start with the next event.
        walk.clear();
        for (AgentList* p = this; p && p->ag; p = p->next) walk.push_back(p->ag);
        double prevInterval = -1.0;
        bool created = phaseGiven;
        for (Agent* agent : walk) {
            if (agent->period != prevInterval) {
                if (prevInterval >= 0.0 && !created && e->time < 5.0) {
                    // No agent of the previous period took e: start one in e's phase.
                    Agent* fresh = new Agent(prevInterval);
                    fresh->considerAsBeat(e, this);
                    add(fresh);
                }
                prevInterval = agent->period;
                created = phaseGiven;
            }
            if (agent->considerAsBeat(e, this)) created = true;
        }
        sort();
        markDuplicates();
        removeScoresBelowZero();
    }
    return count;
}
