#include "BufferingSound.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "DebugLog.h"

BufferingSound::BufferingSound(FMOD::Sound* sound)
    : WorkerThread("BufferingSound"),
      m_pSound(nullptr),
      m_bReverse(false),
      m_pChunk(nullptr),
      m_uiChunkSize(0),
      m_uiChannels(1),
      m_uiBitsPerSample(8),
      m_uiBytesPerSample(1),
      m_uiLength(0),
      m_uiFilePosition(0),
      m_pendingWords(-1) {
    {
        CRITSECT_SCOPE(m_lock);
        ResizeBuffer(kRingWords);
    }
    attach(sound);
    startThread(false);
}

BufferingSound::~BufferingSound() {
    // The worker goes first: its body uses the ring and the chunk buffer.
    stopThread();
    CRITSECT_SCOPE(m_lock);
    delete[] m_pChunk;
    m_pChunk = nullptr;
}

int BufferingSound::attach(FMOD::Sound* sound) {
    stopThread();
    CRITSECT_SCOPE(m_lock);
    m_pSound.store(sound, std::memory_order_release);
    m_bReverse.store(false, std::memory_order_release);
    m_uiLength.store(0, std::memory_order_release);
    if (!sound) return 1;
    FMOD_SOUND_TYPE type = FMOD_SOUND_TYPE_UNKNOWN;
    FMOD_SOUND_FORMAT format = FMOD_SOUND_FORMAT_NONE;
    int channels = 2;
    int bits = 16;
    if (sound->getFormat(&type, &format, &channels, &bits) == FMOD_OK) {
        // A channel count below 1 would make every frame conversion divide by zero.
        const unsigned int ch = channels > 0 ? static_cast<unsigned int>(channels) : 1u;
        m_uiChannels.store(ch, std::memory_order_release);
        const unsigned int b = bits < 8 ? 8u : static_cast<unsigned int>(bits);
        m_uiBitsPerSample.store(b, std::memory_order_release);
        m_uiBytesPerSample.store(b / 8, std::memory_order_release);
        // Reverse play reverses frame by frame: a group of frames played forwards inside a
        // backward read would be heard as distortion.
        SetFrameBytes(frameBytes());
    }
    unsigned int length = 0;
    sound->getLength(&length, FMOD_TIMEUNIT_PCM);  // a failure leaves the length at 0
    m_uiLength.store(length, std::memory_order_release);
    return 1;
}

unsigned int BufferingSound::frameBytes() const {
    return m_uiBytesPerSample.load(std::memory_order_acquire) * m_uiChannels.load(std::memory_order_acquire);
}
uint64_t BufferingSound::wordsToFrames(uint64_t words) const { return words * 8 / frameBytes(); }
uint64_t BufferingSound::framesToWords(uint64_t frames) const { return frames * frameBytes() / 8; }

int BufferingSound::objectRunner() {
    while (isRunning().load(std::memory_order_acquire)) {
        workerPass();
        usleep(kPollMicroseconds);
    }
    return 0;
}

void BufferingSound::workerPass() {
    int64_t target = m_pendingWords.load(std::memory_order_acquire);
    if (target >= 0) {
        // Reset first, then clear the request: the reader keeps off the ring until it sees the
        // request gone. A newer target written meanwhile makes the exchange fail; it is served
        // on the next pass.
        ResetBuffer(static_cast<uint64_t>(target));
        m_pendingWords.compare_exchange_strong(target, -1, std::memory_order_acq_rel);
    }
    // Whole frames per fill: the ring's top and bottom then always lie on frame boundaries.
    AutoLABuffer(kChunkBytes - kChunkBytes % strideBytes());
}

int BufferingSound::AutoLABuffer(unsigned int chunkBytes) {
    CRITSECT_SCOPE(m_lock);
    if (chunkBytes != m_uiChunkSize) {
        delete[] m_pChunk;
        m_pChunk = nullptr;
    }
    if (chunkBytes != m_uiChunkSize || !m_pChunk) {
        m_uiChunkSize = chunkBytes;
        m_pChunk = new (std::nothrow) uint64_t[chunkBytes / 8 + 1];
        if (!m_pChunk) return -13;
    }
    if (m_uiChunkSize == 0) return -13;
    if (!m_pSound.load(std::memory_order_acquire)) return 1;
    // A seek the reader has asked for invalidates the ring: nothing is filled until it is done.
    if (m_pendingWords.load(std::memory_order_acquire) >= 0) return 1;

    // One snapshot: the reader moves the needle and the absolute position together, and a top or
    // bottom frame computed from a mixed view would fetch the wrong stretch of the sound.
    uint64_t needle = 0;
    unsigned int ahead = 0, behind = 0;
    GetWindow(&needle, &ahead, &behind);

    bool fillAheadSide;
    if (!isReverse())
        fillAheadSide = ahead <= kFillAheadWords || behind > kFillBehindWords;
    else
        fillAheadSide = !(behind <= kFillAheadWords || ahead > kFillBehindWords);

    if (GetFreeBufferSize() < m_uiChunkSize / 8) return 1;
    if (fillAheadSide)
        fillAhead(needle + ahead);
    else
        fillBehind(static_cast<int64_t>(needle) - behind);
    return 1;
}

void BufferingSound::fillAhead(uint64_t topWords) {
    FMOD::Sound* sound = m_pSound.load(std::memory_order_acquire);
    const unsigned int top = static_cast<unsigned int>(wordsToFrames(topWords));
    if (m_uiFilePosition != top || top == 0) {
        ERRCHECK("AutoLABuffer", "BufferingSound", 133, sound->seekData(top));
        m_uiFilePosition = top;
    }
    unsigned int got = 0;
    const FMOD_RESULT r = sound->readData(m_pChunk, m_uiChunkSize, &got);
    if ((r != FMOD_OK && r != FMOD_ERR_FILE_EOF) || got == 0) return;
    if (FillBufferForward(m_pChunk, got / 8) != 1) std::printf("ERROR: FillBufferForward not successfull!\n");
    m_uiFilePosition += got / frameBytes();
}

void BufferingSound::fillBehind(int64_t bottomWords64) {
    FMOD::Sound* sound = m_pSound.load(std::memory_order_acquire);
    const int64_t bottomWords = static_cast<int32_t>(bottomWords64);
    const int64_t bottomFrame = bottomWords < 0 ? -static_cast<int64_t>(wordsToFrames(static_cast<uint64_t>(-bottomWords)))
                                                : static_cast<int64_t>(wordsToFrames(static_cast<uint64_t>(bottomWords)));
    const int64_t target = bottomFrame - static_cast<int64_t>(m_uiChunkSize / frameBytes());
    // Less than one chunk between the start of the sound and the ring's bottom: nothing more is
    // fetched behind (a backward reader below this point gets dropouts; LoopSound gives up).
    if (target < 0) return;
    const unsigned int b = static_cast<unsigned int>(target);
    if (m_uiFilePosition != b || b == 0) {
        const FMOD_RESULT r = sound->seekData(b);
        if (r != FMOD_ERR_FILE_NOTFOUND) ERRCHECK("AutoLABuffer", "BufferingSound", 164, r);
        m_uiFilePosition = b;
    }
    unsigned int got = 0;
    const FMOD_RESULT r = sound->readData(m_pChunk, m_uiChunkSize, &got);
    if (r != FMOD_OK && r != FMOD_ERR_FILE_EOF) return;
    if (FillBufferBackward(m_pChunk, got / 8) != 1) std::printf("ERROR: FillBufferBackward not successfull!\n");
    m_uiFilePosition += got / frameBytes();
}

unsigned int BufferingSound::strideBytes() const {
    const unsigned int fb = frameBytes();
    if (fb == 0) return 8;
    unsigned int common = 8;  // gcd(frame bytes, 8)
    while (fb % common != 0) common /= 2;
    return fb / common * 8;
}

unsigned int BufferingSound::landingFrame(unsigned int pcm) const {
    // A frame of 6 bytes starts on a word boundary only every fourth frame; truncating its word
    // count alone would put the needle inside a frame and shift every sample read after it.
    const unsigned int fb = frameBytes();
    if (fb == 0) return pcm;
    const unsigned int step = strideBytes() / fb;
    return pcm - pcm % step;
}

bool BufferingSound::windowOffset(int64_t words, int64_t* offset) {
    uint64_t absolute = 0;
    unsigned int aheadWords = 0, behindWords = 0;
    GetWindow(&absolute, &aheadWords, &behindWords);
    const int64_t needle = static_cast<uint32_t>(absolute);
    *offset = words - needle;
    // The bottom is the oldest frame held: a target there is inside. Taken for outside, a loop
    // that starts where the ring was reset (a loop from the start of the sound, where nothing is
    // ever fetched behind) would reset the ring at every wrap, and each lap would run long by the
    // silence the worker takes to refill it.
    return *offset < static_cast<int64_t>(aheadWords) && *offset >= -static_cast<int64_t>(behindWords);
}

bool BufferingSound::holds(unsigned int pcm) {
    int64_t offset = 0;
    return !isSeekPending() && windowOffset(static_cast<int64_t>(framesToWords(landingFrame(pcm))), &offset);
}

int BufferingSound::seekData(unsigned int pcm) {
    const int64_t words = static_cast<int64_t>(framesToWords(landingFrame(pcm)));
    if (m_pendingWords.load(std::memory_order_acquire) >= 0) {
        // The ring is about to be reset: only the target changes.
        m_pendingWords.store(words, std::memory_order_release);
        return 0;
    }
    int64_t offset = 0;
    if (!windowOffset(words, &offset))
        m_pendingWords.store(words, std::memory_order_release);
    else if (offset >= 0)
        ReadBufferForward(nullptr, static_cast<uint64_t>(offset), false);
    else
        ReadBufferBackward(nullptr, static_cast<uint64_t>(-offset), false);
    return 0;
}

int BufferingSound::readData(void* dst, unsigned int bytes, unsigned int* read) {
    if (read) *read = bytes;
    if (m_pendingWords.load(std::memory_order_acquire) >= 0) {
        if (dst) std::memset(dst, 0, bytes);
        return 0;
    }
    const unsigned int words = bytes / 8;
    uint64_t* out = static_cast<uint64_t*>(dst);
    const int r = isReverse() ? ReadBufferBackward(out, words, true) : ReadBufferForward(out, words, true);
    if (r == 1) return 0;
    if (r == -3 && dst) std::memset(dst, 0, static_cast<size_t>(words) * 8);  // no storage: silence
    if (read) {
        *read = 0;
        debugMsg("reading from sound failed --> dropout \n");
    }
    const int64_t position = static_cast<int64_t>(wordsToFrames(static_cast<uint32_t>(GetAbsolutePosition())));
    const int64_t request = bytes / frameBytes();
    if (position - request < 0 || position + request >= m_uiLength.load(std::memory_order_acquire))
        return FMOD_ERR_FILE_EOF;
    return 0;
}

unsigned int BufferingSound::GetPositionPCM() {
    if (!m_pSound.load(std::memory_order_acquire)) return 0;
    const int64_t pending = m_pendingWords.load(std::memory_order_acquire);
    const uint64_t words = pending >= 0 ? static_cast<uint64_t>(pending) : static_cast<uint32_t>(GetAbsolutePosition());
    return static_cast<unsigned int>(wordsToFrames(words));
}

int BufferingSound::setReverse(bool reverse) {
    m_bReverse.store(reverse, std::memory_order_release);
    return 0;
}

int BufferingSound::stopBuffering() {
    stopThread();
    return 1;
}

FMOD_RESULT BufferingSound::getLength(unsigned int* length, unsigned int unit) {
    FMOD::Sound* sound = m_pSound.load(std::memory_order_acquire);
    if (!sound) return FMOD_ERR_INTERNAL;
    return sound->getLength(length, unit);
}

FMOD_RESULT BufferingSound::getFormat(FMOD_SOUND_TYPE* type, FMOD_SOUND_FORMAT* format, int* channels, int* bits) {
    FMOD::Sound* sound = m_pSound.load(std::memory_order_acquire);
    if (!sound) return FMOD_ERR_INTERNAL;
    return sound->getFormat(type, format, channels, bits);
}

FMOD_RESULT BufferingSound::getDefaults(float* frequency, float* volume, float* pan, int* priority) {
    FMOD::Sound* sound = m_pSound.load(std::memory_order_acquire);
    if (!sound) return FMOD_ERR_INTERNAL;
    return sound->getDefaults(frequency, volume, pan, priority);
}
