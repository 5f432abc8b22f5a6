// StrideReader: the loop source's reads from the prefetch. The prefetch hands out whole strides
// (ring words); a read that needs fewer frames than a stride holds keeps the rest, the carry, and
// the next read that goes on without a jump starts with it. A seek lands on the stride at or below
// its target, and the frames below the target are skipped by the next forward read. So no frame is
// lost where a loop or snippet ends inside a stride, and a seek to a frame inside a stride starts
// on that frame. Render thread only.
#pragma once

#include "BufferingSound.h"

class StrideReader {
public:
    // workBytes: at least one stride; the work buffer holds one read of the loop path.
    StrideReader(BufferingSound& source, unsigned int frameBytes, unsigned int workBytes);
    ~StrideReader();
    StrideReader(const StrideReader&) = delete;
    StrideReader& operator=(const StrideReader&) = delete;

    // A jump: what was read ahead of it is not played.
    void drop() { m_carryBytes = 0; }
    // After the prefetch was sought to pcm: the carry goes, and a forward read skips the frames
    // between where the prefetch lands and pcm.
    void seek(unsigned int pcm);
    // A backward read: a forward carry or skip means nothing to it.
    void dropForward();

    // A forward read of up to bytes bytes into dst: the carry first, then whole strides, and the
    // request's last frames from one more stride whose rest becomes the carry. *produced gets the
    // bytes written, *from the frame of the first. The prefetch's result.
    int readForward(unsigned char* dst, unsigned int bytes, unsigned int* produced, unsigned int* from);

    // The loop path: fills work() with the carry when it runs in this direction, otherwise with
    // one prefetch read of want bytes (whole strides) less the skip. *got gets the bytes, *from
    // the frame of the first; *carried whether they were the carry. The carry is used up either way.
    int fill(unsigned int want, bool forward, unsigned int* got, unsigned int* from, bool* carried);
    // Keeps work()[used, got) as the carry; its first frame is from.
    void keep(unsigned int used, unsigned int got, unsigned int from, bool forward);
    unsigned char* work() { return m_work; }

private:
    BufferingSound& m_source;
    unsigned int m_frameBytes;
    unsigned char* m_work;
    unsigned int m_carryOffset = 0;
    unsigned int m_carryBytes = 0;
    unsigned int m_carryFrom = 0;
    bool m_carryForward = true;
    unsigned int m_skipBytes = 0;
};
