#include "TimeStretchCorrector.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

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

void TimeStretchCorrector::dropFront() {
    m_segments.erase(m_segments.begin());
    if (!m_segments.empty()) m_dCursor = m_segments.front().from;
}

int64_t TimeStretchCorrector::getSamplePCMPos(double ratio, unsigned int frames) {
    CRITSECT_SCOPE(m_lock);
    double remaining = static_cast<double>(frames) * ratio;
    while (remaining > 0.0 && !m_segments.empty()) {
        const Segment seg = m_segments.front();
        const double from = seg.from;
        const double to = seg.to;
        if (seg.forward && m_dCursor == to) m_dCursor = from;  // the same region read again (a loop)

        // Frames between the cursor and the segment's end, in 32-bit signed arithmetic on the
        // truncated cursor, as the walk has always counted them.
        const int32_t span = std::abs(static_cast<int32_t>(seg.to) - static_cast<int32_t>(seg.from));
        const int32_t done = std::abs(static_cast<int32_t>(std::trunc(m_dCursor)) - static_cast<int32_t>(seg.from));
        const int32_t left = std::max<int32_t>(0, span - done);

        if (seg.forward) {
            if (m_dCursor < from || m_dCursor > to || left == 0) {
                dropFront();  // a jump: frames of a segment that does not hold the cursor don't count
                continue;
            }
            const double step = std::min(static_cast<double>(left), remaining);
            m_dCursor += step;
            remaining -= step;
            if (m_dCursor == to) m_segments.erase(m_segments.begin());
        } else {
            if (m_dCursor > from || m_dCursor < to || left == 0) {
                dropFront();
                continue;
            }
            const double step = std::min(static_cast<double>(left), remaining);
            m_dCursor -= step;
            remaining -= step;
            // A finished reverse segment stays; the next pass finds left == 0 and drops it.
        }
    }
    return static_cast<int64_t>(std::trunc(m_dCursor));
}
