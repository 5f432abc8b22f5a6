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

    // Walks the cursor until `backlog` source frames of the recorded reads are left unwalked (a
    // cursor already within that is left where it is) and returns it truncated toward zero.
    int64_t walkToBacklog(double backlog);

    // Segments not yet walked (diagnostics and tests).
    size_t pendingSegments();

    // A jump a walk made: the source frame it left (a loop's end) and the one it landed on (the
    // loop's start). The last kJumpHistory since the last reset are kept.
    struct Jump {
        double left;
        double landed;
    };
    static constexpr size_t kJumpHistory = 32;

    // The latest jump whose frame left lies in [leftFrom, leftTo] and whose frame landed lies in
    // [landedFrom, landedTo]; false when none. wait false only tries the lock (the mixer thread).
    bool findJump(double leftFrom, double leftTo, double landedFrom, double landedTo, bool wait, Jump* jump);

private:
    // Walks `remaining` source frames through the segments; the lock is held.
    void walk(double remaining);

    std::vector<Segment> m_segments;
    double m_dCursor;
    // Jumps walked, in a circle; m_uiJumps counts them since the last reset.
    Jump m_jumps[kJumpHistory];
    size_t m_uiJumps;
    CritSect m_lock;
};
