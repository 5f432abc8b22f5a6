#include "TimeStretchCorrector.h"

#include <cmath>

namespace {
// Generous for one rendered block per walk: a block reads one segment, or one per 64-byte chunk
// on the loop path (1024 frames of 16-bit stereo are 64 chunks).
constexpr size_t kReservedSegments = 1024;
}  // namespace

TimeStretchCorrector::TimeStretchCorrector() : m_dCursor(0.0), m_jumps{}, m_uiJumps(0) {
    m_segments.reserve(kReservedSegments);
    CRITSECT_SCOPE(m_lock);
    m_dCursor = 0.0;
    m_segments.clear();
}

TimeStretchCorrector::~TimeStretchCorrector() = default;

int TimeStretchCorrector::putSamplesPCM(unsigned int from, unsigned int to, bool forward) {
    if (from == to) return 0;
    CRITSECT_SCOPE(m_lock);
    m_segments.push_back(Segment{from, to, forward});
    return 1;
}

void TimeStretchCorrector::reset(double position) {
    CRITSECT_SCOPE(m_lock);
    m_segments.clear();
    m_dCursor = position;
    m_uiJumps = 0;
}

bool TimeStretchCorrector::findJump(double leftFrom, double leftTo, double landedFrom, double landedTo, bool wait,
                                    Jump* jump) {
    CRITSECT_TRY_SCOPE(lock, m_lock, wait);
    if (!lock.owns()) return false;
    const size_t kept = m_uiJumps < kJumpHistory ? m_uiJumps : kJumpHistory;
    for (size_t i = 0; i < kept; ++i) {
        const Jump& j = m_jumps[(m_uiJumps - 1 - i) % kJumpHistory];
        if (j.left >= leftFrom && j.left <= leftTo && j.landed >= landedFrom && j.landed <= landedTo) {
            if (jump) *jump = j;
            return true;
        }
    }
    return false;
}

size_t TimeStretchCorrector::pendingSegments() {
    CRITSECT_SCOPE(m_lock);
    return m_segments.size();
}

int64_t TimeStretchCorrector::getSamplePCMPos(double ratio, unsigned int frames) {
    CRITSECT_SCOPE(m_lock);
    walk(static_cast<double>(frames) * ratio);
    return static_cast<int64_t>(std::trunc(m_dCursor));
}

int64_t TimeStretchCorrector::walkToBacklog(double backlog) {
    CRITSECT_SCOPE(m_lock);
    double pending = 0.0;
    for (size_t i = 0; i < m_segments.size(); ++i) {
        const Segment& seg = m_segments[i];
        const double from = seg.from;
        const double to = seg.to;
        const bool holds = seg.forward ? (m_dCursor >= from && m_dCursor < to) : (m_dCursor <= from && m_dCursor > to);
        const double start = i == 0 && holds ? m_dCursor : from;
        pending += seg.forward ? to - start : start - to;
    }
    if (pending > backlog) walk(pending - backlog);
    return static_cast<int64_t>(std::trunc(m_dCursor));
}

void TimeStretchCorrector::walk(double remaining) {
    while (remaining > 0.0 && !m_segments.empty()) {
        const Segment seg = m_segments.front();
        const double from = seg.from;
        const double to = seg.to;
        // A segment that does not hold the cursor is a jump the source made (a loop wrap, a
        // snippet, a seek): its audio follows what was walked, so the cursor moves to its start
        // and its frames count. Skipping it would put the report a whole read away from the audio
        // at every wrap.
        const bool holds = seg.forward ? (m_dCursor >= from && m_dCursor < to) : (m_dCursor <= from && m_dCursor > to);
        if (!holds) {
            // Kept so that the report can place the jump inside the block that holds it.
            m_jumps[m_uiJumps % kJumpHistory] = Jump{m_dCursor, from};
            ++m_uiJumps;
            m_dCursor = from;
        }
        // Walked in double precision: the fraction a step leaves at a segment's end carries on
        // into the next segment instead of being dropped there.
        const double left = seg.forward ? to - m_dCursor : m_dCursor - to;
        if (remaining < left) {
            m_dCursor += seg.forward ? remaining : -remaining;
            remaining = 0.0;
        } else {
            m_dCursor = to;
            remaining -= left;
        }
        // A step that rounds onto the end finishes the segment too: left there, it would no
        // longer hold the cursor and the next walk would take it for a jump back to its start.
        if (seg.forward ? m_dCursor >= to : m_dCursor <= to) {
            m_dCursor = to;
            m_segments.erase(m_segments.begin());
        }
    }
}
