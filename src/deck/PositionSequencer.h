// PositionSequencer: the queue of play-once snippets of a deck; the first record is the one
// playing. Base of LoopSound.
//
// Thread safety
// - Every operation takes the queue's own unnamed lock; Java threads append while the render
//   thread reads the front and removes it. LoopSound takes its loop lock before this lock.
// - Only the render thread removes records, so a front read after isPositionsAvailable() on that
//   thread cannot find the queue emptied in between.
#pragma once

#include <vector>

#include "CritSect.h"

// One snippet, in source PCM frames.
struct PositionSnippet {
    unsigned int start;
    unsigned int end;
};

class PositionSequencer {
public:
    PositionSequencer();
    ~PositionSequencer();

    PositionSequencer(const PositionSequencer&) = delete;
    PositionSequencer& operator=(const PositionSequencer&) = delete;

    // Appends a record; no bounds test (an end before the start is queued too). Always true.
    bool addSnippet(unsigned int start, unsigned int end);
    bool isPositionsAvailable();
    // The front record, left in place. Throws std::out_of_range on an empty queue: ask
    // isPositionsAvailable first.
    PositionSnippet getCurrentPositionSnippet();
    // Removes and returns the front record; std::out_of_range on an empty queue.
    PositionSnippet removeCurrentPositionSnippet();

private:
    std::vector<PositionSnippet> m_snippets;
    CritSect m_sequencerLock;
};
