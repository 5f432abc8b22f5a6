// AgentList: the competing agents of the multi-agent beat tracker, as a singly linked list whose
// last node always holds no agent (an empty list is one such node). The head node carries the
// count. beatTrack runs every agent over an onset list, spawning agents of new phases early on,
// and prunes duplicates and expired agents after each onset.
//
// Ownership: each node owns its agent; deleting a node deletes only its own agent. To free a whole
// list: RemoveAll() on the head, then delete the head. After RemoveAll the head may hold an agent
// with no node behind it; every walk also ends at a null `next`.
//
// Thread safety: none; one tracking run at a time (the class data is process-wide).
#pragma once

#include <vector>

#include "Agent.h"
#include "Event.h"

class AgentList {
public:
    static double thresholdBI;  // s: agents closer in period than this may be duplicates
    static double thresholdBT;  // s: ... when their last beats are closer than this

    // A node; with an agent and no next node, a terminating node is made behind it.
    explicit AgentList(Agent* agent = nullptr, AgentList* next = nullptr);
    // Deletes this node's agent only.
    ~AgentList();
    AgentList(const AgentList&) = delete;
    AgentList& operator=(const AgentList&) = delete;

    // Adds an agent (null is ignored): sorted, before the first agent whose period is at least
    // its own; unsorted, at the end.
    void add(Agent* agent, bool sorted);
    void add(Agent* agent);
    // Orders the agents by period, ascending.
    void sort();
    // Deletes the agent of `node` (a node of this list) and unlinks it.
    void remove(AgentList* node);
    // Sorts, then keeps one of each group of agents that agree in period and last beat.
    void removeDuplicates();
    // Deletes every node after the head with its agent; the head keeps its own.
    void RemoveAll();
    // The agent with the largest baseScore + beatScore (only values above -1 count; the first of
    // equals); null when there is none.
    Agent* bestAgent();
    // The agent with the largest score weighted by how early its first beat came (first of
    // equals); agents without beats do not compete. Null when there is none.
    Agent* semibestAgent();
    // Runs the agents over the onsets (all but the last). Returns the number of events, or the
    // index of the first event after `stop` (stop > 0). sleepMs > 0 sleeps that long per event.
    int beatTrack(std::vector<Event*>* events, double stop, int sleepMs);
    int beatTrack(std::vector<Event*>* events);

    Agent* ag;
    AgentList* next;
    int size;

private:
    void markDuplicates();
    void removeScoresBelowZero();
};
