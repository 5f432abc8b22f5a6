#include "StrideReader.h"

#include <algorithm>
#include <cstring>

StrideReader::StrideReader(BufferingSound& source, unsigned int frameBytes, unsigned int workBytes)
    : m_source(source), m_frameBytes(frameBytes), m_work(new unsigned char[workBytes]()) {}

StrideReader::~StrideReader() { delete[] m_work; }

void StrideReader::seek(unsigned int pcm) {
    m_carryBytes = 0;
    m_skipBytes = m_source.isReverse() ? 0 : (pcm - m_source.landingFrame(pcm)) * m_frameBytes;
}

void StrideReader::dropForward() {
    m_carryBytes = 0;
    m_skipBytes = 0;
}

int StrideReader::readForward(unsigned char* dst, unsigned int bytes, unsigned int* produced, unsigned int* from) {
    const unsigned int stride = m_source.strideBytes();
    const bool carry = m_carryBytes > 0 && m_carryForward;
    if (!carry) m_carryBytes = 0;
    const unsigned int first = carry ? m_carryFrom : m_source.GetPositionPCM() + m_skipBytes / m_frameBytes;
    unsigned int done = 0;
    // Copies what the request still takes of the stride in the work buffer, from offset up to
    // end; the rest is the carry.
    auto fromWork = [&](unsigned int offset, unsigned int end) {
        const unsigned int n = std::min(end - offset, bytes - done);
        std::memcpy(dst + done, m_work + offset, n);
        done += n;
        m_carryOffset = offset + n;
        m_carryBytes = end - offset - n;
        m_carryFrom = first + done / m_frameBytes;
        m_carryForward = true;
    };
    int r = 0;
    if (carry) {
        fromWork(m_carryOffset, m_carryOffset + m_carryBytes);
    } else if (m_skipBytes > 0 && bytes > 0) {
        unsigned int got = 0;
        r = m_source.readData(m_work, stride, &got);
        if (got == stride) {
            fromWork(m_skipBytes, stride);
            m_skipBytes = 0;
        }
    }
    if (m_carryBytes == 0 && m_skipBytes == 0 && done < bytes) {
        const unsigned int whole = (bytes - done) - (bytes - done) % stride;
        unsigned int got = whole;
        if (whole > 0) {
            r = m_source.readData(dst + done, whole, &got);
            done += got;
        }
        if (got == whole && done < bytes) {
            got = 0;
            r = m_source.readData(m_work, stride, &got);
            if (got == stride) fromWork(0, stride);
        }
    }
    *produced = done;
    *from = first;
    return r;
}

int StrideReader::fill(unsigned int want, bool forward, unsigned int* got, unsigned int* from, bool* carried) {
    *carried = m_carryBytes > 0 && m_carryForward == forward;
    int r = 0;
    if (*carried) {
        std::memmove(m_work, m_work + m_carryOffset, m_carryBytes);
        *got = m_carryBytes;
        *from = m_carryFrom;
    } else {
        *from = m_source.GetPositionPCM();
        *got = 0;
        r = m_source.readData(m_work, want, got);
        // The first read after a seek starts on the stride the prefetch landed on: the frames
        // before the target go (want is at least one stride, the skip less than one).
        if (*got > m_skipBytes && m_skipBytes > 0 && forward) {
            *got -= m_skipBytes;
            std::memmove(m_work, m_work + m_skipBytes, *got);
            *from += m_skipBytes / m_frameBytes;
            m_skipBytes = 0;
        }
    }
    m_carryBytes = 0;
    return r;
}

void StrideReader::keep(unsigned int used, unsigned int got, unsigned int from, bool forward) {
    m_carryOffset = used;
    m_carryBytes = got - used;
    m_carryFrom = from;
    m_carryForward = forward;
}
