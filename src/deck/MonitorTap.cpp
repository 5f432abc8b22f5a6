// The cue tap of a deck's main monitor: the ring that the main channel's audio is copied into on
// the main system's mixer thread, and that a cue on another system plays from on its own mixer
// thread. See Monitor.h for the thread contracts.
#include "Monitor.h"

#include <cstring>
#include <new>

#include "DebugLog.h"
#include "FMODSystem.h"
#include "TKCore.h"
#include "TimestretchedChannel.h"

MonitorTap::MonitorTap()
    : ring(new (std::nothrow) CLABuffer<float>()),
      lock(),
      channels(0),
      length(0),
      sampleRate(44100),
      scratch(new (std::nothrow) float[CMonitor::kScratchFloats]),
      clearRequested(false),
      clearPending(false),
      primed(false) {}

MonitorTap::~MonitorTap() {
    delete ring;
    delete[] scratch;
}

// ---- The tap ------------------------------------------------------------------------------------

int CMonitor::ActivateMonitoring() {
    if (m_iCue != 0 || m_bSameSystem) return 1;
    DeActivateMonitoring();
    FMODSystem* system = systemOfSlot(m_iSlot);
    if (!system) return 1;
    FMOD_DSP_DESCRIPTION description;
    std::memset(&description, 0, sizeof description);
    std::strncpy(description.name, "Monitor DSPRecordCallback", sizeof description.name - 1);
    description.version = 1;
    description.channels = 0;
    description.read = &CMonitor::DSPRecordCallback;
    description.userdata = m_pTap;
    FMOD::DSP* dsp = nullptr;
    ERRCHECK_HERE(system->createDSP(&description, &dsp));
    if (!dsp) return 1;
    m_pTapDSP = dsp;
    if (m_pTSChannel) {
        ERRCHECK_HERE(static_cast<FMOD_RESULT>(m_pTSChannel->addDSP(dsp, nullptr)));
    } else if (m_pChannel) {
        ERRCHECK_HERE(m_pChannel->addDSP(dsp, nullptr));
    }
    ERRCHECK_HERE(dsp->setBypass(false));
    return 1;
}

int CMonitor::DeActivateMonitoring() {
    if (m_iCue != 0 || !m_pTapDSP) return 1;
    ERRCHECK_HERE(m_pTapDSP->setBypass(true));
    ERRCHECK_HERE(m_pTapDSP->disconnectAll(true, true));
    ERRCHECK_HERE(m_pTapDSP->remove());
    ERRCHECK_HERE(m_pTapDSP->release());
    m_pTapDSP = nullptr;
    return 1;
}

int CMonitor::ClearMonitoring() {
    if (m_bBorrowedTap || !m_pTap || !m_pTap->ring) return 1;
    m_pTap->clearRequested.store(true, std::memory_order_release);
    return 1;
}

FMOD_RESULT CMonitor::DSPRecordCallback(FMOD_DSP_STATE* state, float* in, float* out, unsigned int length,
                                        int inChannels, int outChannels) {
    void* userData = nullptr;
    if (state && state->instance) ERRCHECK_HERE(state->instance->getUserData(&userData));
    MonitorTap* tap = static_cast<MonitorTap*>(userData);
    if (tap && tap->ring && in && inChannels > 0) {
        // The ring holds the input's own layout; the reader spreads it to the cue's channels.
        tap->channels.store(inChannels, std::memory_order_release);
        tap->length.store(static_cast<int>(length), std::memory_order_release);
        tap->ring->FillBufferForward(in, static_cast<uint64_t>(inChannels) * length);  // a full ring drops the block
    }
    if (out && in && outChannels > 0) {
        if (outChannels == inChannels) {
            std::memcpy(out, in, sizeof(float) * static_cast<size_t>(outChannels) * length);
        } else {
            for (unsigned int f = 0; f < length; ++f)
                for (int c = 0; c < outChannels; ++c)
                    out[f * outChannels + c] = c < inChannels ? in[f * inChannels + c] : 0.0f;
        }
    }
    return FMOD_OK;
}

FMOD_RESULT CMonitor::DSPReadCallback(FMOD_DSP_STATE* state, float* /*in*/, float* out, unsigned int length,
                                      int /*inChannels*/, int outChannels) {
    void* userData = nullptr;
    if (state && state->instance) ERRCHECK_HERE(state->instance->getUserData(&userData));
    MonitorTap* tap = static_cast<MonitorTap*>(userData);
    if (!out || outChannels <= 0) return FMOD_OK;
    const size_t outFloats = static_cast<size_t>(outChannels) * length;
    if (!tap || !tap->ring || !tap->scratch) {
        std::memset(out, 0, sizeof(float) * outFloats);
        return FMOD_OK;
    }
    if (tap->clearRequested.exchange(false, std::memory_order_acq_rel)) {
        // What the filler stored up to now is from before a seek or a load: dropped below, all
        // but the newest cushion, so the cue goes on a cushion behind the main output instead
        // of running dry and dropping a block.
        tap->clearPending = true;
    }
    const int tapChannels = tap->channels.load(std::memory_order_acquire);
    const uint64_t wanted = static_cast<uint64_t>(tapChannels > 0 ? tapChannels : outChannels) * length;
    if (tapChannels <= 0 || wanted > kScratchFloats) {
        std::memset(out, 0, sizeof(float) * outFloats);
        return FMOD_OK;
    }
    // The two cards' mixers run on their own clocks, so a block can arrive just after the cue's
    // mixer wanted it. The reader starts (and restarts after running dry) only once the ring
    // holds its block plus a cushion of kCueCushionBlocks of the filler's blocks.
    const uint64_t fillerBlock = static_cast<uint64_t>(tap->length.load(std::memory_order_acquire)) * tapChannels;
    const uint64_t cushion = static_cast<uint64_t>(kCueCushionBlocks) * (fillerBlock > wanted ? fillerBlock : wanted);
    if (tap->clearPending) {
        tap->clearPending = false;
        tap->ring->LockMutex();
        const uint64_t stale = tap->ring->_GetUsedBufferSizeForward();
        tap->ring->UnlockMutex();
        uint64_t drop = stale > wanted + cushion ? stale - wanted - cushion : 0;
        drop -= drop % static_cast<uint64_t>(tapChannels);
        if (drop > 0) tap->ring->ReadBufferForward(nullptr, drop, false);
    }
    // Drift between two cards' clocks: drop the oldest whole frames beyond the lag bound.
    const int rate = tap->sampleRate.load(std::memory_order_acquire);
    const uint64_t maxLagFloats =
        static_cast<uint64_t>(kMaxCueLagSeconds * static_cast<float>(rate > 0 ? rate : 44100)) * tapChannels;
    tap->ring->LockMutex();
    const uint64_t ahead = tap->ring->_GetUsedBufferSizeForward();
    tap->ring->UnlockMutex();
    if (!tap->primed) {
        if (ahead < wanted + cushion) {
            std::memset(out, 0, sizeof(float) * outFloats);
            return FMOD_OK;
        }
        tap->primed = true;
    }
    if (ahead > maxLagFloats + wanted) {
        uint64_t excess = ahead - maxLagFloats - wanted;
        excess -= excess % static_cast<uint64_t>(tapChannels);
        if (excess > 0) tap->ring->ReadBufferForward(nullptr, excess, false);
    }
    if (tap->ring->ReadBufferForward(tap->scratch, wanted, true) != 1) {
        tap->primed = false;  // ran dry: the deck paused or stopped
        std::memset(out, 0, sizeof(float) * outFloats);
        return FMOD_OK;
    }
    const float* src = tap->scratch;
    for (unsigned int f = 0; f < length; ++f) {
        for (int c = 0; c < outChannels; ++c) {
            // Mono is spread to every speaker, never read as stereo pairs.
            float v = 0.0f;
            if (tapChannels == 1) v = src[f];
            else if (c < tapChannels) v = src[f * tapChannels + c];
            out[f * outChannels + c] = v;
        }
    }
    return FMOD_OK;
}
