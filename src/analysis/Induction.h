// Induction: tempo induction for the multi-agent beat tracker. It clusters the intervals between
// onsets (up to 2.5 s apart), scores the clusters by size and by how they relate to each other
// (multiples of one another), and starts one agent for each of the ten best tempo hypotheses.
#pragma once

#include <vector>

#include "AgentList.h"
#include "Event.h"

class Induction {
public:
    Induction() = default;
    ~Induction() = default;

    // The starting agents for an onset list, sorted by period; the caller owns the list (an empty
    // list when no two onsets lie 0.07 s to 2.5 s apart). sleepMs > 0 sleeps that long per step.
    static AgentList* beatInduction(std::vector<Event*>* events, int sleepMs);
};
