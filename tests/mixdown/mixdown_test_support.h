// Shared by the recorder tests: little-endian readers, the role table written out independently
// of the recorder's code, and MixDownTestPeer, which reaches the recorder's queues and runs writer
// passes on the test's own thread so that no result depends on the writer thread's timing.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "MixDown.h"
#include "MixDownSampleQueue.h"

namespace mixdowntest {

inline uint32_t u32At(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
inline int s16At(const std::vector<uint8_t>& b, size_t at) { return int16_t(b[at] | b[at + 1] << 8); }

inline std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The stereo frame a capture of `frame` must queue for `role`: selected even channels to the
// left, odd ones to the right, divided by the count when more than one; mono copied to both.
inline void expectedFold(const float* frame, int inChannels, int role, double* left, double* right) {
    std::vector<int> pair;
    if (role == 0 || role == 1 || role == 1000) pair = {0, 1};
    if (role == 2) pair = {4, 5};
    if (role == 3 || role == 1001) pair = {2, 3};
    if (role == 4) pair = {6, 7};
    if (role >= 10 && role <= 17) pair = {2 * (role - 10), 2 * (role - 10) + 1};
    if (role == 5) {
        for (int c = 0; c < inChannels; ++c) pair.push_back(c);
    }
    *left = *right = 0;
    int count = 0;
    for (int c : pair) {
        if (c >= inChannels) continue;
        (c % 2 == 0 ? *left : *right) += frame[c];
        ++count;
    }
    if (count > 1) *left /= count, *right /= count;
    if (inChannels == 1) *right = *left;
}

}  // namespace mixdowntest

struct MixDownTestPeer {
    static MixDownSampleQueue* queue(CMixDown& r, int source) { return source == 2 ? r.m_queue2.get() : r.m_queue1.get(); }
    static MIXDOWN_FILE& file(CMixDown& r) { return r.m_file; }
    static MIXDOWN_CAPTURE& capture(CMixDown& r, int unit) { return unit == 2 ? r.m_capture2 : r.m_capture1; }
    static bool writerRunning(CMixDown& r) { return r.m_bWriterExists; }
    static pthread_t writer(CMixDown& r) { return r.m_writer; }

    // Queues one stereo block, as the capture callback would.
    static bool push(CMixDown& r, int source, const std::vector<float>& lr) {
        MixDownSampleQueue* q = queue(r, source);
        if (q == nullptr || lr.size() / 2 > q->blockFrames()) return false;
        std::copy(lr.begin(), lr.end(), q->spare());
        return q->append(static_cast<uint32_t>(lr.size() / 2));
    }

    // Sizes a queue for a system's block size and rate, as setup does.
    static bool allocateQueue(CMixDown& r, MixDownSampleQueue& q, FMODSystem* system) {
        return r.allocateQueue(q, system);
    }

    // One writer pass over everything queued; returns the frames written.
    static size_t drain(CMixDown& r) {
        CMixDown::WriterState state;
        return r.prepareWriter(state) ? r.writerPass(state) : 0;
    }
};
