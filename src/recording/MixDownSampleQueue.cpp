#include "MixDownSampleQueue.h"

#include <new>

// Named, so that while debugging is on each Enter and Leave is logged, on the mixer thread too.
CritSect csLockSampleQueue("SampleQueue");

bool MixDownSampleQueue::allocate(uint32_t blockFrames, uint32_t blockCount) {
    release();
    if (blockFrames == 0 || blockCount == 0) return false;
    const size_t slots = static_cast<size_t>(blockCount) + 1;  // + the producer's spare
    try {
        m_samples.assign(slots * blockFrames * kChannels, 0.0f);
        m_frames.assign(slots, 0);
    } catch (const std::bad_alloc&) {
        release();
        return false;
    }
    m_slots = static_cast<uint32_t>(slots);
    m_blockFrames = blockFrames;
    return true;
}

void MixDownSampleQueue::release() {
    std::vector<float>().swap(m_samples);
    std::vector<uint32_t>().swap(m_frames);
    m_blockFrames = 0;
    m_slots = 1;
    m_head = 0;
    m_tail = 0;
    m_dropped.store(0, std::memory_order_relaxed);
}

bool MixDownSampleQueue::append(uint32_t frames) {
    if (m_blockFrames == 0) return false;
    if (frames > m_blockFrames) frames = m_blockFrames;
    m_frames[m_tail] = frames;
    bool appended = false;
    CRITSECT_ENTER(csLockSampleQueue);
    if (countLocked() + 1 < m_slots) {
        m_tail = (m_tail + 1) % m_slots;
        appended = true;
    }
    CRITSECT_LEAVE(csLockSampleQueue);
    if (!appended) m_dropped.fetch_add(1, std::memory_order_relaxed);
    return appended;
}

size_t MixDownSampleQueue::size() {
    CRITSECT_ENTER(csLockSampleQueue);
    const size_t count = countLocked();
    CRITSECT_LEAVE(csLockSampleQueue);
    return count;
}

MixDownSampleQueue::Block MixDownSampleQueue::front() {
    CRITSECT_ENTER(csLockSampleQueue);
    const uint32_t slot = m_head;
    CRITSECT_LEAVE(csLockSampleQueue);
    return Block{m_frames[slot], &m_samples[static_cast<size_t>(slot) * m_blockFrames * kChannels]};
}

void MixDownSampleQueue::popFront() {
    CRITSECT_ENTER(csLockSampleQueue);
    if (countLocked() > 0) m_head = (m_head + 1) % m_slots;
    CRITSECT_LEAVE(csLockSampleQueue);
}

void MixDownSampleQueue::clear() {
    CRITSECT_ENTER(csLockSampleQueue);
    m_head = m_tail;
    CRITSECT_LEAVE(csLockSampleQueue);
}
