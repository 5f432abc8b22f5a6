// CMixDown's writer thread: drains the capture queues every millisecond, applies the gains, mixes
// two sources into one, converts to 16-bit and appends to the file. The only thread that writes
// the file between start and close. Asked to stop, it first writes everything still queued: a
// disk that stalled for seconds leaves that much audio waiting, and all of it belongs to the
// recording.
#include <unistd.h>

#include <algorithm>
#include <new>

#include "DebugLog.h"
#include "MixDown.h"
#include "MixDownSampleQueue.h"
#include "MixDownSamples.h"

namespace {

constexpr useconds_t kPollMicroseconds = 1000;

}  // namespace

void* CMixDown::writeDownThread(void* recorder) {
    CMixDown* self = static_cast<CMixDown*>(recorder);
    WriterState state;
    if (!self->prepareWriter(state)) {
        debugMsg("Memory allocation error!");
    } else {
        while (self->m_bRunning.load(std::memory_order_acquire)) {
            self->writerPass(state);
            usleep(kPollMicroseconds);
        }
        // Whoever stopped the writer stopped what feeds the queues first (close stops capture,
        // setup releases the units): what is queued now is the rest of the recording.
        self->writeRemaining(state);
    }
    // Only a writer without its buffer leaves blocks behind; the next recording starts empty.
    if (self->m_queue1) self->m_queue1->clear();
    if (self->m_queue2) self->m_queue2->clear();
    return nullptr;
}

bool CMixDown::prepareWriter(WriterState& state) const {
    // The queues cannot change while a writer exists (setup joins it first), so one buffer sized
    // for the largest slot serves every block, whatever its own length.
    uint32_t frames = 0;
    if (m_queue1) frames = std::max(frames, m_queue1->blockFrames());
    if (m_queue2) frames = std::max(frames, m_queue2->blockFrames());
    state.bufferFrames = 0;
    state.offset1 = 0;
    state.offset2 = 0;
    state.buffer.reset();
    state.silence.reset();
    if (frames == 0) return true;  // before the first setup: the passes only sleep
    const size_t samples = static_cast<size_t>(frames) * MixDownSampleQueue::kChannels;
    state.buffer.reset(new (std::nothrow) int16_t[samples]);
    if (!state.buffer) return false;
    if (m_capture1.queue2 != nullptr) {
        state.silence.reset(new (std::nothrow) float[samples]());
        if (!state.silence) return false;
    }
    state.bufferFrames = frames;
    return true;
}

void CMixDown::writeRemaining(WriterState& state) {
    if (!m_queue1 || !m_queue1->isAllocated() || !state.buffer) return;
    const bool twoSources = m_capture1.queue2 != nullptr;
    // Every pass empties at least one queue, and nothing adds to them any more.
    while (m_queue1->size() > 0 || (twoSources && m_queue2->size() > 0)) {
        if (!twoSources) {
            writeOneSource(state);
            continue;
        }
        writeTwoSources(state);
        // Two cards never stop on the same block: the one ahead ends against silence.
        writeUnpaired(state);
    }
}

void CMixDown::appendToFile(const int16_t* frames, uint32_t frameCount) {
    // Capture blocks are stereo; a file opened for another channel count gets none of them.
    if (m_file.channels != MixDownSampleQueue::kChannels) return;
    if (m_writeHookForTesting) m_writeHookForTesting();
    writeToFile(&m_file, frames, frameCount);
}

size_t CMixDown::writerPass(WriterState& state) {
    if (!m_queue1 || !m_queue1->isAllocated() || !state.buffer) return 0;
    return m_capture1.queue2 != nullptr ? writeTwoSources(state) : writeOneSource(state);
}

size_t CMixDown::writeOneSource(WriterState& state) {
    MixDownSampleQueue& queue = *m_queue1;
    size_t written = 0;
    for (size_t n = queue.size(); n > 0; --n) {
        const MixDownSampleQueue::Block block = queue.front();
        const uint32_t frames = std::min(block.frames, state.bufferFrames);
        float levels[2];
        mixDownConvertOne(block.samples, frames, m_fGain1.load(std::memory_order_relaxed), state.buffer.get(),
                          levels);
        if (frames > 0) {
            m_fLevels[0].store(levels[0], std::memory_order_relaxed);
            m_fLevels[1].store(levels[1], std::memory_order_relaxed);
        }
        appendToFile(state.buffer.get(), frames);
        queue.popFront();
        written += frames;
    }
    return written;
}

size_t CMixDown::writeTwoSources(WriterState& state) {
    MixDownSampleQueue& queue1 = *m_queue1;
    MixDownSampleQueue& queue2 = *m_queue2;
    size_t written = 0;
    // Blocks are consumed as two streams: each chunk is as long as what is left of the shorter
    // front block, so sources whose blocks differ in length are mixed frame against frame and
    // nothing is read beyond a block's end. With equal lengths a chunk is one block of each.
    while (queue1.size() > 0 && queue2.size() > 0) {
        const MixDownSampleQueue::Block a = queue1.front();
        const MixDownSampleQueue::Block b = queue2.front();
        const uint32_t left1 = a.frames > state.offset1 ? a.frames - state.offset1 : 0;
        const uint32_t left2 = b.frames > state.offset2 ? b.frames - state.offset2 : 0;
        const uint32_t frames = std::min({left1, left2, state.bufferFrames});
        if (frames > 0) {
            float levels[2] = {m_fLevels[0].load(std::memory_order_relaxed),
                               m_fLevels[1].load(std::memory_order_relaxed)};
            mixDownConvertTwo(a.samples + static_cast<size_t>(state.offset1) * MixDownSampleQueue::kChannels,
                              b.samples + static_cast<size_t>(state.offset2) * MixDownSampleQueue::kChannels,
                              frames, m_fGain1.load(std::memory_order_relaxed),
                              m_fGain2.load(std::memory_order_relaxed), state.buffer.get(), levels);
            m_fLevels[0].store(levels[0], std::memory_order_relaxed);
            m_fLevels[1].store(levels[1], std::memory_order_relaxed);
            appendToFile(state.buffer.get(), frames);
            written += frames;
        }
        state.offset1 += frames;
        state.offset2 += frames;
        if (state.offset1 >= a.frames) {
            queue1.popFront();
            state.offset1 = 0;
        }
        if (state.offset2 >= b.frames) {
            queue2.popFront();
            state.offset2 = 0;
        }
    }
    return written;
}

size_t CMixDown::writeUnpaired(WriterState& state) {
    const bool first = m_queue1->size() > 0;
    MixDownSampleQueue& queue = first ? *m_queue1 : *m_queue2;
    uint32_t& offset = first ? state.offset1 : state.offset2;
    size_t written = 0;
    while (queue.size() > 0) {
        const MixDownSampleQueue::Block block = queue.front();
        const uint32_t left = block.frames > offset ? block.frames - offset : 0;
        const uint32_t frames = std::min(left, state.bufferFrames);
        if (frames > 0) {
            const float* samples = block.samples + static_cast<size_t>(offset) * MixDownSampleQueue::kChannels;
            float levels[2] = {m_fLevels[0].load(std::memory_order_relaxed),
                               m_fLevels[1].load(std::memory_order_relaxed)};
            mixDownConvertTwo(first ? samples : state.silence.get(), first ? state.silence.get() : samples, frames,
                              m_fGain1.load(std::memory_order_relaxed), m_fGain2.load(std::memory_order_relaxed),
                              state.buffer.get(), levels);
            appendToFile(state.buffer.get(), frames);
            written += frames;
        }
        offset += frames;
        if (offset >= block.frames) {
            queue.popFront();
            offset = 0;
        }
    }
    return written;
}
