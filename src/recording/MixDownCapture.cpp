// CMixDown's capture side: setup of the capture units and their queues, bypass switching, and the
// read callback that runs on the mixer thread.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "DebugLog.h"
#include "FMODSystem.h"
#include "MixDown.h"
#include "MixDownSampleQueue.h"
#include "MixDownSamples.h"

namespace {

// Queue sizing. A slot holds one mixer block (cut to these bounds; a longer block is queued in
// pieces) and a queue holds at least this many seconds at any block size and rate, so the writer
// may stall on a slow disk for that long before capture has to drop blocks (counted, and logged
// at close).
constexpr uint32_t kMinSlotFrames = 64;
constexpr uint32_t kMaxSlotFrames = 16384;
constexpr uint32_t kFallbackSlotFrames = 1024;
constexpr int kFallbackRate = 48000;
constexpr double kQueueSeconds = 30.0;
constexpr uint32_t kMinQueueBlocks = 16;
// 30 s of the smallest blocks at 768 kHz.
constexpr uint32_t kMaxQueueBlocks = 360000;

constexpr const char* kUnit1Name = "first Mixdown";
constexpr const char* kUnit2Name = "second Mixdown";

}  // namespace

int CMixDown::setup(FMODSystem* system1, int role1, FMOD::DSP** unit1, FMODSystem* system2, int role2,
                    FMOD::DSP** unit2) {
    if (system1 == nullptr && system2 == nullptr) return kMixDownErrNoSource;
    m_file.owner = this;

    if (system1 != nullptr) {
        // The earlier units go first, so that only the new ones feed the queues and none can
        // call into storage that is replaced below. Then the writer, which reads the queues that
        // are about to be rebuilt, writes what they hold and stops (the file stays open and start
        // resumes).
        releaseUnits();
        stopWriter();

        const bool twoSources = system2 != nullptr && system2 != system1;
        if (!m_queue1) m_queue1 = std::make_unique<MixDownSampleQueue>();
        if (!allocateQueue(*m_queue1, system1)) debugMsg("Memory allocation error!");
        if (twoSources) {
            if (!m_queue2) m_queue2 = std::make_unique<MixDownSampleQueue>();
            if (!allocateQueue(*m_queue2, system2)) debugMsg("Memory allocation error!");
        } else {
            m_queue2.reset();
        }

        m_capture1 = MIXDOWN_CAPTURE{};
        m_capture1.file = &m_file;
        m_capture1.queue1 = m_queue1.get();
        m_capture1.queue2 = twoSources ? m_queue2.get() : nullptr;
        m_capture1.source = 1;
        m_capture1.gain1 = &m_fGain1;
        m_capture1.gain2 = twoSources ? &m_fGain2 : nullptr;
        m_capture1.levels = m_fLevels;
        m_capture1.role = role1;
        m_capture2 = MIXDOWN_CAPTURE{};
        if (twoSources) {
            m_capture2 = m_capture1;
            m_capture2.source = 2;
            m_capture2.role = role2;
        }

        m_pSystem1 = system1;
        m_pSystem2 = twoSources ? system2 : nullptr;
        m_pUnit1 = createUnit(system1, kUnit1Name, &m_capture1);
        m_pUnit2 = twoSources ? createUnit(system2, kUnit2Name, &m_capture2) : nullptr;
    }

    if (unit1 != nullptr) *unit1 = m_pUnit1;
    if (unit2 != nullptr) *unit2 = m_pUnit2;
    return 1;
}

bool CMixDown::allocateQueue(MixDownSampleQueue& queue, FMODSystem* system) {
    unsigned int dspFrames = 0;
    int rate = 0;
    if (system->getDSPBufferSize(&dspFrames, nullptr) != FMOD_OK || dspFrames == 0) {
        dspFrames = kFallbackSlotFrames;
    }
    if (system->getSoftwareFormat(&rate, nullptr, nullptr, nullptr, nullptr, nullptr) != FMOD_OK || rate <= 0) {
        rate = kFallbackRate;
    }
    const uint32_t slotFrames = std::clamp<uint32_t>(dspFrames, kMinSlotFrames, kMaxSlotFrames);
    const double blocks = std::ceil(kQueueSeconds * rate / slotFrames);
    const uint32_t blockCount =
        static_cast<uint32_t>(std::clamp(blocks, double(kMinQueueBlocks), double(kMaxQueueBlocks)));
    return queue.allocate(slotFrames, blockCount);
}

FMOD::DSP* CMixDown::createUnit(FMODSystem* system, const char* name, MIXDOWN_CAPTURE* context) {
    FMOD_DSP_DESCRIPTION description;
    std::memset(&description, 0, sizeof description);
    std::strncpy(description.name, name, sizeof description.name - 1);
    description.read = &CMixDown::DSPCallback;
    description.userdata = context;
    // channels 0: the unit takes as many channels as its input has.

    FMOD::DSP* unit = nullptr;
    FMOD_RESULT result = system->createDSP(&description, &unit);
    ERRCHECK_HERE(result);
    if (result != FMOD_OK || unit == nullptr) return nullptr;
    ERRCHECK_HERE(unit->setBypass(true));
    return unit;
}

void CMixDown::releaseUnits() {
    for (FMOD::DSP** unit : {&m_pUnit1, &m_pUnit2}) {
        if (*unit == nullptr) continue;
        // remove detaches it from wherever the caller attached it; release then frees it. Both
        // return only once no callback of the unit runs.
        (*unit)->remove();
        ERRCHECK_HERE((*unit)->release());
        *unit = nullptr;
    }
}

void CMixDown::setUnitsBypass(bool bypass) {
    if (m_pUnit1 != nullptr) ERRCHECK_HERE(m_pUnit1->setBypass(bypass));
    if (m_pUnit2 != nullptr) ERRCHECK_HERE(m_pUnit2->setBypass(bypass));
}

FMOD_RESULT CMixDown::DSPCallback(FMOD_DSP_STATE* state, float* in, float* out, unsigned int length,
                                  int inChannels, int outChannels) {
    // The audio continues unchanged, whatever happens to the capture.
    if (in != nullptr && out != nullptr && in != out && inChannels > 0 && outChannels > 0) {
        const size_t floats = static_cast<size_t>(std::min(inChannels, outChannels)) * length;
        std::memmove(out, in, floats * sizeof(float));
    }

    if (state == nullptr || state->instance == nullptr) return FMOD_OK;
    void* userData = nullptr;
    const FMOD_RESULT result = state->instance->getUserData(&userData);
    if (result != FMOD_OK) ERRCHECK_HERE(result);
    MIXDOWN_CAPTURE* context = static_cast<MIXDOWN_CAPTURE*>(userData);
    if (context == nullptr) return FMOD_OK;
    if (context->file == nullptr) return FMOD_ERR_MEMORY;
    MIXDOWN_FILE& file = *context->file;
    // Counted in flight before the test, so that close, once it has cleared the flag, can wait
    // for a block this callback is still queueing (see CMixDown::stopCapture).
    file.capturesInFlight.fetch_add(1, std::memory_order_seq_cst);
    // Nothing is captured before openFile or after close.
    MixDownSampleQueue* queue = context->source == 2 ? context->queue2 : context->queue1;
    if (!file.capturing.load(std::memory_order_seq_cst) || queue == nullptr || !queue->isAllocated()) {
        file.capturesInFlight.fetch_sub(1, std::memory_order_release);
        return FMOD_OK;
    }

    // Fold into the queue's spare slot and publish it; a block longer than a slot goes in pieces,
    // each carrying its own length.
    const bool haveInput = in != nullptr && inChannels > 0;
    unsigned int done = 0;
    while (done < length) {
        const uint32_t frames = std::min<uint32_t>(length - done, queue->blockFrames());
        const float* source = haveInput ? in + static_cast<size_t>(done) * inChannels : nullptr;
        mixDownFoldFrames(source, frames, inChannels, context->role, queue->spare());
        queue->append(frames);
        done += frames;
    }
    file.blockFrames.store(length, std::memory_order_relaxed);
    file.capturesInFlight.fetch_sub(1, std::memory_order_release);
    return FMOD_OK;
}
