#include "TimeStretchCorrector.h"

#include <cmath>

namespace {
// Generous for one rendered block per walk: a block reads one segment, or one per 64-byte chunk
// on the loop path (1024 frames of 16-bit stereo are 64 chunks).
constexpr size_t kReservedSegments = 1024;
}  // namespace

TimeStretchCorrector::TimeStretchCorrector() : m_dCursor(0.0) {
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
}

size_t TimeStretchCorrector::pendingSegments() {
    CRITSECT_SCOPE(m_lock);
    return m_segments.size();
}

int64_t TimeStretchCorrector::getSamplePCMPos(double ratio, unsigned int frames) {
    CRITSECT_SCOPE(m_lock);
    double remaining = static_cast<double>(frames) * ratio;
    while (remaining > 0.0 && !m_segments.empty()) {
        const Segment seg = m_segments.front();
        const double from = seg.from;
        const double to = seg.to;
        // A segment that does not hold the cursor is a jump the source made (a loop wrap, a
        // snippet, a seek): its audio follows what was walked, so the cursor moves to its start
        // and its frames count. Skipping it would put the report a whole read away from the audio
        // at every wrap.
        const bool holds = seg.forward ? (m_dCursor >= from && m_dCursor < to) : (m_dCursor <= from && m_dCursor > to);
        if (!holds) m_dCursor = from;
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
    return static_cast<int64_t>(std::trunc(m_dCursor));
}
