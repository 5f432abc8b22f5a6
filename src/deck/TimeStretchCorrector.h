// TimeStretchCorrector: maps frames the time-stretched channel has rendered back to positions in
// the deck's source. Every source read is recorded as a segment (from, to, direction); the channel
// walks a cursor through the segments by the source frames each rendered block stands for.
//
// Thread safety
// - Every operation takes the corrector's own unnamed lock for its whole run, so a walk never sees
//   a half-reset list. It takes no other lock: callers may hold the channel's position lock or the
//   loop source's locks around it.
// - putSamplesPCM and getSamplePCMPos run on the render thread (the output buffer's worker, or
//   the mixer thread while the output buffer is bypassed); reset runs on control threads.
//
// Callback safety
// - A walk allocates nothing. An append grows the list only when its capacity is exhausted; the
//   list is reserved at construction so steady play never allocates.
#pragma once

#include <cstdint>
#include <vector>

#include "CritSect.h"

class TimeStretchCorrector {
public:
    // One source read: from and to are source PCM frames; forward reads have from below to.
    struct Segment {
        unsigned int from;
        unsigned int to;
        bool forward;
    };

    TimeStretchCorrector();
    ~TimeStretchCorrector();

    TimeStretchCorrector(const TimeStretchCorrector&) = delete;
    TimeStretchCorrector& operator=(const TimeStretchCorrector&) = delete;

    // Records a read. from == to records nothing and returns 0 (without the lock); else 1.
    int putSamplesPCM(unsigned int from, unsigned int to, bool forward);

    // Empties the list and puts the cursor at a source position.
    void reset(double position);

    // Walks the cursor by frames x ratio source frames and returns it truncated toward zero. A
    // segment that does not hold the cursor (a jump) moves the cursor to its start and is walked.
    int64_t getSamplePCMPos(double ratio, unsigned int frames);

    // Segments not yet walked (diagnostics and tests).
    size_t pendingSegments();

private:
    std::vector<Segment> m_segments;
    double m_dCursor;
    CritSect m_lock;
};
