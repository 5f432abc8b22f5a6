#include "com/tarvenkolm/outputbuffering/ITKOutputBuffer.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <new>

#include "DebugLog.h"

namespace com_tarvenkolm_outputbuffering {

namespace {
constexpr int kDefaultChannels = 2;
constexpr unsigned int kDefaultFrames = 1024;
// Nothing starts the worker before startBuffering sets the real rate; this keeps the sleep sane.
constexpr float kDefaultSampleRate = 44100.0f;
constexpr int kNoSource = 33;
// A reader gives up after this many torn reads of what the mixer took.
constexpr int kTakenTries = 8;
}  // namespace

int64_t ITKOutputBuffer::clockNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

ITKOutputBuffer::ITKOutputBuffer(ITKOutputBufferSource* source)
    : WorkerThread("ITKOutputBuffer"),
      m_pSource(source),
      m_bBypass(false),
      m_iChannels(kDefaultChannels),
      m_uiFrames(kDefaultFrames),
      m_fSampleRate(kDefaultSampleRate),
      m_pWork(nullptr),
      m_uiWorkCapacity(0),
      m_fSpeed(1.0f),
      m_uiUnderruns(0),
      m_bReset(false),
      m_uiTakenSeq(0),
      m_uiTakenEpoch(0),
      m_uiTakenFrames(0),
      m_lTakenAtNs(0) {}

ITKOutputBuffer::~ITKOutputBuffer() {
    stopThread();
    CRITSECT_SCOPE(m_lock);
    delete[] m_pWork;
    m_pWork = nullptr;
    m_uiWorkCapacity = 0;
    m_pSource.store(nullptr, std::memory_order_release);
}

unsigned int ITKOutputBuffer::sleepMilliseconds(unsigned int frames, float sampleRate) {
    if (!(sampleRate > 0.0f)) return 10;
    const float t = static_cast<float>(frames) / sampleRate * 1000.0f;
    if (t < 1.0f) return 1;
    if (t > 10.0f) return 10;
    return static_cast<unsigned int>(t);
}

int ITKOutputBuffer::startBuffering(int frames, int channels, float sampleRate, bool start) {
    {
        CRITSECT_SCOPE(m_lock);
        // Bad sizes fall back to the defaults rather than sizing a ring of nothing.
        m_iChannels.store(channels > 0 ? channels : kDefaultChannels, std::memory_order_release);
        m_uiFrames.store(frames > 0 ? static_cast<unsigned int>(frames) : kDefaultFrames, std::memory_order_release);
        m_fSampleRate.store(sampleRate, std::memory_order_release);
        delete[] m_pWork;
        m_pWork = nullptr;
        m_uiWorkCapacity = 0;
        const int64_t block = static_cast<int64_t>(m_iChannels.load()) * m_uiFrames.load();
        m_uiUnderruns.store(0, std::memory_order_release);
        // New storage: no mixer read may be copying out of the old one. Twice the most kept ahead:
        // what the mixer has read stays behind the needle up to half the ring.
        std::lock_guard<std::mutex> guard(m_readGuard);
        m_ring.ResizeBuffer(block * kAheadBlocks * kTopSpeed * 2 + 9);
    }
    if (start) startThread(false);
    m_bBypass.store(!start, std::memory_order_release);
    return 0;
}

int ITKOutputBuffer::reset(uint64_t position) {
    CRITSECT_SCOPE(m_lock);
    std::lock_guard<std::mutex> guard(m_readGuard);
    m_ring.ResetBuffer(position);
    m_bReset.store(true, std::memory_order_release);
    // Under the read guard: no mixer read writes the count meanwhile.
    m_uiTakenSeq.fetch_add(1, std::memory_order_acq_rel);
    m_uiTakenEpoch.fetch_add(1, std::memory_order_acq_rel);
    m_uiTakenFrames.store(0, std::memory_order_release);
    m_lTakenAtNs.store(0, std::memory_order_release);
    m_uiTakenSeq.fetch_add(1, std::memory_order_release);
    return 0;
}

bool ITKOutputBuffer::getTaken(Taken* taken) const {
    if (!taken) return false;
    for (int tries = 0; tries < kTakenTries; ++tries) {
        const uint64_t before = m_uiTakenSeq.load(std::memory_order_acquire);
        if (before & 1u) continue;
        taken->epoch = m_uiTakenEpoch.load(std::memory_order_acquire);
        taken->frames = m_uiTakenFrames.load(std::memory_order_acquire);
        taken->atNs = m_lTakenAtNs.load(std::memory_order_acquire);
        // The values are stored with release: one written after `before` makes this load see
        // the counter moved on.
        if (m_uiTakenSeq.load(std::memory_order_acquire) == before) return true;
    }
    return false;
}

int ITKOutputBuffer::setBypass(bool bypass) {
    // Stored first, so mixer reads switch to the source before the worker is joined.
    m_bBypass.store(bypass, std::memory_order_release);
    if (bypass)
        stopThread();
    else
        startThread(false);
    return 0;
}

bool ITKOutputBuffer::activePullData() {
    CRITSECT_SCOPE(m_lock);
    const unsigned int frames = m_uiFrames.load(std::memory_order_acquire);
    const int channels = m_iChannels.load(std::memory_order_acquire);
    const unsigned int n = static_cast<unsigned int>(channels) * frames;
    if (m_uiWorkCapacity < n || !m_pWork) {
        delete[] m_pWork;
        m_uiWorkCapacity = 0;
        m_pWork = new (std::nothrow) float[n];
        if (!m_pWork) return false;
        m_uiWorkCapacity = n;
    }
    ITKOutputBufferSource* source = m_pSource.load(std::memory_order_acquire);
    if (!source || m_ring.GetFreeBufferSize() < n) return false;
    if (source->readFromResampledBuffer(m_pWork, frames, channels, false) != 0) return false;
    return m_ring.FillBufferForward(m_pWork, n) == 1;
}

void ITKOutputBuffer::setSpeed(float speed) {
    m_fSpeed.store(std::isfinite(speed) ? std::fabs(speed) : 1.0f, std::memory_order_release);
}

unsigned int ITKOutputBuffer::getKeptAheadSamples() const {
    const unsigned int frames = m_uiFrames.load(std::memory_order_acquire);
    const unsigned int block = static_cast<unsigned int>(m_iChannels.load(std::memory_order_acquire)) * frames;
    // Two mixer blocks' worth at the present speed, in whole ring blocks: what the mixer takes
    // next, and one more that covers the worker's wake-up meanwhile.
    const float speed = std::min(m_fSpeed.load(std::memory_order_acquire), static_cast<float>(kTopSpeed));
    const long blocks = std::lround(std::ceil(static_cast<double>(kAheadBlocks) * speed));
    // A block shorter than the worker's wake-ups are reliable: as many more as cover kWakeMarginMs.
    const float rate = m_fSampleRate.load(std::memory_order_acquire);
    const double blockMs = rate > 0.0f ? 1000.0 * frames / rate : 0.0;
    const long wake = blockMs > 0.0 ? 1 + std::lround(std::ceil(kWakeMarginMs / blockMs)) : 0;
    const long most = static_cast<long>(kAheadBlocks * kTopSpeed);
    return block * static_cast<unsigned int>(std::min(most, std::max<long>({kAheadBlocks, blocks, wake})));
}

void ITKOutputBuffer::fillStep() {
    // Right after a seek the source's prefetch is still loading the new place: one block now, the
    // rest after a sleep, or the ring would fill with the silence the source gives meanwhile.
    const bool reset = m_bReset.exchange(false, std::memory_order_acq_rel);
    fillUpTo(reset ? 1 : kAheadBlocks * kTopSpeed);
}

void ITKOutputBuffer::fillNow() {
    m_bReset.store(false, std::memory_order_release);
    fillUpTo(kAheadBlocks * kTopSpeed);
}

void ITKOutputBuffer::fillUpTo(unsigned int most) {
    const uint64_t block = static_cast<uint64_t>(m_iChannels.load(std::memory_order_acquire)) *
                           m_uiFrames.load(std::memory_order_acquire);
    if (block == 0) return;
    const uint64_t keep = getKeptAheadSamples();
    for (unsigned int k = 0; k < most; ++k) {
        if (getAheadSamples() + block > keep || !activePullData()) break;
    }
}

unsigned int ITKOutputBuffer::getAheadSamples() {
    unsigned int ahead = 0;
    m_ring.GetWindow(nullptr, &ahead, nullptr);
    return ahead;
}

bool ITKOutputBuffer::holdsKeptAhead() {
    const uint64_t block = static_cast<uint64_t>(m_iChannels.load(std::memory_order_acquire)) *
                           m_uiFrames.load(std::memory_order_acquire);
    return getAheadSamples() + block > getKeptAheadSamples();
}

int ITKOutputBuffer::objectRunner() {
    uint64_t underrunsLogged = m_uiUnderruns.load(std::memory_order_acquire);
    while (isRunning().load(std::memory_order_acquire)) {
        const uint64_t underruns = m_uiUnderruns.load(std::memory_order_acquire);
        if (underruns > underrunsLogged) debugMsg("possible dropout!\n");
        underrunsLogged = underruns;
        fillStep();
        usleep(sleepMilliseconds(m_uiFrames.load(std::memory_order_acquire),
                                 m_fSampleRate.load(std::memory_order_acquire)) *
               1000u);
    }
    return 0;
}

int ITKOutputBuffer::readFromResampledBuffer(float* out, unsigned int frames, int channels, bool flag) {
    if (m_bBypass.load(std::memory_order_acquire)) {
        ITKOutputBufferSource* source = m_pSource.load(std::memory_order_acquire);
        if (!source) return kNoSource;
        return source->readFromResampledBuffer(out, frames, channels, flag);
    }
    if (!out || channels <= 0) return 0;
    const uint32_t samples = frames * static_cast<uint32_t>(channels);
    int r = 0;  // 0: the guard was busy, nothing read
    if (m_readGuard.try_lock()) {
        r = m_ring.ReadBufferForward(out, samples, true);
        if (r == 1) {
            m_uiTakenSeq.fetch_add(1, std::memory_order_acq_rel);
            m_uiTakenFrames.fetch_add(frames, std::memory_order_acq_rel);
            m_lTakenAtNs.store(clockNs(), std::memory_order_release);
            m_uiTakenSeq.fetch_add(1, std::memory_order_release);
        }
        m_readGuard.unlock();
    }
    if (r != 1) {
        // A short ring (-1) has zeroed out; without storage (-3) or with a reset in progress (0)
        // out is untouched: make it silence.
        if (r != -1) std::memset(out, 0, static_cast<size_t>(samples) * sizeof(float));
        m_uiUnderruns.fetch_add(1, std::memory_order_acq_rel);
    }
    if (samples > 0) {
        const float* last = out + samples - static_cast<uint32_t>(channels);
        m_fLastTakenLeft.store(last[0], std::memory_order_relaxed);
        m_fLastTakenRight.store(channels > 1 ? last[1] : last[0], std::memory_order_relaxed);
    }
    return 0;
}

void ITKOutputBuffer::getLastTaken(float* left, float* right) const {
    if (left) *left = m_fLastTakenLeft.load(std::memory_order_relaxed);
    if (right) *right = m_fLastTakenRight.load(std::memory_order_relaxed);
}

}  // namespace com_tarvenkolm_outputbuffering
