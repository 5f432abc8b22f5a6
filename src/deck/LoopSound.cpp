#include "LoopSound.h"

#include "fmod_sample_format.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <thread>

#include "DebugLog.h"

LoopSound::LoopSound(FMOD::Sound* sound)
    : m_pBuffer(nullptr),
      m_uiPosition(0),
      m_bPendingSeek(false),
      m_fRate(44100.0f),
      m_uiChannels(1),
      m_uiBits(8),
      m_uiBytesPerSample(1),
      m_bFloatSamples(false),
      m_uiLength(0),
      m_uiChunkSize(kChunkBytes),
      m_bEnableLoop(false),
      m_uiLoopStart(0),
      m_uiLoopEnd(0),
      m_bPlannedLoop(false),
      m_uiPlannedStart(0),
      m_uiPlannedEnd(0),
      m_fLastA(0.0f),
      m_fLastB(0.0f),
      m_bFadeNext(false),
      m_bStarted(false),
      m_uiFadeFrame(0),
      m_fFadeA(0.0f),
      m_fFadeB(0.0f) {
    m_pBuffer = new BufferingSound(sound);
    float rate = 44100.0f;
    if (m_pBuffer->getDefaults(&rate, nullptr, nullptr, nullptr) == FMOD_OK && rate > 0.0f) m_fRate = rate;
    FMOD_SOUND_TYPE type = FMOD_SOUND_TYPE_UNKNOWN;
    FMOD_SOUND_FORMAT format = FMOD_SOUND_FORMAT_NONE;
    int channels = 1;
    int bits = 8;
    if (m_pBuffer->getFormat(&type, &format, &channels, &bits) == FMOD_OK) {
        m_uiChannels = channels > 0 ? static_cast<unsigned int>(channels) : 1u;
        m_uiBits = bits > 0 ? static_cast<unsigned int>(bits) : 8u;
        m_bFloatSamples = format == FMOD_SOUND_FORMAT_PCMFLOAT;
    }
    if (m_uiBits > 15) m_uiBytesPerSample = m_uiBits / 8;
    // Chunks of whole frames and whole ring words (a chunk that split a frame would shift the
    // position count and every sample after a jump), long enough to hold the whole fade after a
    // jump: 64 bytes for 8- and 16-bit mono and stereo, 72 for 24-bit stereo, 80 for 32-bit stereo.
    const unsigned int stride = m_pBuffer->strideBytes();
    const unsigned int fadeBytes = kCrossFadeFrames * frameBytes();
    unsigned int chunk = stride <= kChunkBytes ? kChunkBytes - kChunkBytes % stride : stride;
    if (chunk < fadeBytes) chunk = (fadeBytes + stride - 1) / stride * stride;
    m_uiChunkSize = chunk;
    unsigned int length = 0;
    if (m_pBuffer->getLength(&length, FMOD_TIMEUNIT_PCM) == FMOD_OK) m_uiLength = length;
    m_uiLoopEnd.store(m_uiLength, std::memory_order_release);
    m_reader = std::make_unique<StrideReader>(*m_pBuffer, frameBytes(), std::max(kWorkBytes, m_uiChunkSize));
}

LoopSound::~LoopSound() {
    m_reader.reset();
    delete m_pBuffer;  // stops and joins its worker
    m_pBuffer = nullptr;
}

unsigned int LoopSound::bound() const {
    return m_bEnableLoop.load(std::memory_order_acquire) ? m_uiLoopEnd.load(std::memory_order_acquire) : m_uiLength;
}

unsigned int LoopSound::ConvertMS2PCM(unsigned int ms) const {
    return static_cast<unsigned int>(static_cast<float>(ms) * m_fRate / 1000.0f + 0.5f);
}

unsigned int LoopSound::ConvertPCM2MS(unsigned int pcm) const {
    return static_cast<unsigned int>(static_cast<float>(pcm) / m_fRate * 1000.0f + 0.5f);
}

int LoopSound::readData(void* dst, unsigned int bytes, unsigned int* read, TimeStretchCorrector& corrector) {
    if (read) *read = 0;
    if (!m_pBuffer) return FMOD_ERR_INTERNAL;
    if (!dst && bytes > 0) return FMOD_ERR_INVALID_PARAM;
    bool jumped = false;
    if (m_bPendingSeek.exchange(false, std::memory_order_acq_rel)) {
        const unsigned int target = m_uiPosition.load(std::memory_order_acquire);
        m_pBuffer->seekData(target);
        m_reader->seek(target);
        // The seek crosses from the last frame produced, the old place's audio (from silence
        // before anything was produced: the loop path fades in, the plain path starts as is).
        jumped = true;
        if (m_bHeardSet.exchange(false, std::memory_order_acq_rel)) {
            m_fLastA = m_fHeardA.load(std::memory_order_relaxed);
            m_fLastB = m_fHeardB.load(std::memory_order_relaxed);
            if (m_uiChannels == 1) m_fLastA = m_fLastB;  // a mono fade starts from the last sample
        }
    }
    if (!m_bEnableLoop.load(std::memory_order_acquire) && !isPositionsAvailable()) {
        if (jumped && m_bStarted) startFade();
        return readPlain(dst, bytes, read, corrector);
    }
    return readLoop(dst, bytes, read, corrector, jumped);
}

int LoopSound::advance(unsigned int from, unsigned int frames) {
    const uint64_t next = static_cast<uint64_t>(from) + frames;
    if (next <= bound()) {
        m_uiPosition.store(static_cast<unsigned int>(next), std::memory_order_release);
        return FMOD_OK;
    }
    m_uiPosition.store(from, std::memory_order_release);
    return FMOD_ERR_BADCOMMAND;  // 2: past the bound; the position stays at from
}

int LoopSound::readPlain(void* dst, unsigned int bytes, unsigned int* read, TimeStretchCorrector& corrector) {
    // While a far seek is pending the prefetch gives silence and stands still: nothing to carry
    // or skip yet.
    const bool reverse = m_pBuffer->isReverse();
    const bool silent = m_pBuffer->isSeekPending();
    // The first data after a far seek's silence fades in from it.
    if (!silent && m_bFadeNext && m_uiFadeFrame == 0) startFade();
    m_bFadeNext = silent && dst;
    if (!reverse && dst && !silent)
        return readPlainForward(static_cast<unsigned char*>(dst), bytes, read, corrector);
    if (reverse) m_reader->dropForward();
    const unsigned int from = m_pBuffer->GetPositionPCM();
    const int r = m_pBuffer->readData(dst, bytes, read);
    if (r != FMOD_OK && r != FMOD_ERR_FILE_EOF) return r;
    const unsigned int n = read ? *read : bytes;
    const int result = advance(from, n / frameBytes());
    corrector.putSamplesPCM(from, m_pBuffer->GetPositionPCM(), !m_pBuffer->isReverse());
    if (dst) {
        // A seek beyond the prefetch reads silence: the fade takes the old audio out into it.
        crossFade(static_cast<unsigned char*>(dst), n);
        rememberLastFrame(static_cast<const unsigned char*>(dst), n);
    }
    return result;
}

int LoopSound::readPlainForward(unsigned char* dst, unsigned int bytes, unsigned int* read,
                                TimeStretchCorrector& corrector) {
    unsigned int produced = 0;
    unsigned int from = 0;
    const int r = m_reader->readForward(dst, bytes, &produced, &from);
    if (r != FMOD_OK && r != FMOD_ERR_FILE_EOF) return r;
    if (read) *read = produced;
    const unsigned int frames = produced / frameBytes();
    const int result = advance(from, frames);
    corrector.putSamplesPCM(from, from + frames, true);
    crossFade(dst, produced);
    rememberLastFrame(dst, produced);
    return result;
}

void LoopSound::rememberLastFrame(const unsigned char* out, unsigned int produced) {
    const unsigned int bps = m_uiBytesPerSample;
    if (produced < bps) return;
    m_bStarted = true;
    m_fLastA = produced >= 2 * bps ? sampleAt(out + produced - 2 * bps) : 0.0f;
    m_fLastB = sampleAt(out + produced - bps);
}

void LoopSound::jumpTo(unsigned int start) {
    if (start <= bound()) m_uiPosition.store(start, std::memory_order_release);
    m_pBuffer->seekData(start);
    m_reader->seek(start);
}

// The fade reads and writes samples at full scale 1.0. A blend of two integer samples lies between
// them and keeps its whole steps (truncated toward zero); scaling by the power of two of the width
// is exact, so no step is lost on the way.
float LoopSound::sampleAt(const unsigned char* p) const { return pw::sound::sampleToFloat(p, sampleFormat()); }

void LoopSound::storeSample(unsigned char* p, float v) const {
    if (!m_bFloatSamples) {
        const float steps = std::ldexp(1.0f, static_cast<int>(8 * m_uiBytesPerSample - 1));
        v = std::trunc(v * steps) / steps;
    }
    pw::sound::floatToSample(v, sampleFormat(), p);
}

void LoopSound::startFade() {
    m_uiFadeFrame = 1;
    m_fFadeA = m_fLastA;
    m_fFadeB = m_fLastB;
}

void LoopSound::crossFade(unsigned char* buf, unsigned int gotBytes) {
    const unsigned int frames = gotBytes / frameBytes();
    unsigned int k = 0;
    for (; k < frames && m_uiFadeFrame >= 1 && m_uiFadeFrame <= kCrossFadeFrames; ++k, ++m_uiFadeFrame) {
        const float w = static_cast<float>(m_uiFadeFrame) / 10.0f;
        for (unsigned int c = 0; c < m_uiChannels; ++c) {
            // Channels above 1 fade from the last sample written, as channel 1 does.
            const float prev = c == 0 ? m_fFadeA : m_fFadeB;
            unsigned char* at = buf + (static_cast<size_t>(k) * m_uiChannels + c) * m_uiBytesPerSample;
            storeSample(at, prev * (1.0f - w) + sampleAt(at) * w);
        }
    }
    if (m_uiFadeFrame > kCrossFadeFrames) m_uiFadeFrame = 0;
}

int LoopSound::readLoop(void* dst, unsigned int bytes, unsigned int* read, TimeStretchCorrector& corrector,
                        bool jumped) {
    debugMsg("m_bEnableLoop = true\n");
    unsigned char* out = static_cast<unsigned char*>(dst);
    jumped = jumped || m_bFadeNext;
    m_bFadeNext = false;
    const unsigned int fb = frameBytes();
    Region region;
    {
        CRITSECT_SCOPE(m_loopLock);
        if (isPositionsAvailable()) {
            const PositionSnippet s = getCurrentPositionSnippet();
            region = {s.start, s.end};
        } else {
            region = {m_uiLoopStart.load(std::memory_order_acquire), m_uiLoopEnd.load(std::memory_order_acquire)};
        }
    }
    auto regionBytes = [&]() -> uint64_t {
        return region.end > region.start ? static_cast<uint64_t>(fb) * (region.end - region.start) : 0;
    };
    uint64_t regionLength = regionBytes();
    unsigned int produced = 0;
    unsigned int emptyReads = 0;
    int result = FMOD_OK;

    while (produced < bytes && result == FMOD_OK) {
        // 1. Region end reached: next snippet, back to the loop window, or back to its start. A
        // region that holds no frames (a snippet ending before it starts, a zero-length loop)
        // counts as reached: nothing could ever be copied from it.
        if (region.end <= m_uiPosition.load(std::memory_order_acquire) || regionLength == 0) {
            if (isPositionsAvailable()) {
                removeCurrentPositionSnippet();
                if (isPositionsAvailable()) {
                    const PositionSnippet s = getCurrentPositionSnippet();
                    region = {s.start, s.end};
                    jumpTo(region.start);
                    jumped = true;
                } else {
                    CRITSECT_SCOPE(m_loopLock);
                    region = {m_uiLoopStart.load(std::memory_order_acquire),
                              m_uiLoopEnd.load(std::memory_order_acquire)};
                }
            } else {
                jumpTo(region.start);
                jumped = true;
            }
            regionLength = regionBytes();
        }
        // 2. A planned loop change, once play is at the region start or not past the new end.
        {
            CRITSECT_SCOPE(m_loopLock);
            const unsigned int position = m_uiPosition.load(std::memory_order_acquire);
            if (m_bPlannedLoop && (position == region.start || position <= m_uiPlannedEnd)) {
                debugMsg("m_bPlannedLoop = true\n");
                m_uiLoopStart.store(m_uiPlannedStart, std::memory_order_release);
                m_uiLoopEnd.store(m_uiPlannedEnd, std::memory_order_release);
                region = {m_uiPlannedStart, m_uiPlannedEnd};
                regionLength = regionBytes();
                m_bPlannedLoop = false;
            }
        }
        // An empty region left after step 1 (a zero-length loop window, or the next snippet
        // empty too) ends the call with what it has, silence after it, rather than spinning on
        // copies of nothing; the next call goes on from there.
        if (regionLength == 0) break;
        // A region start the prefetch has not loaded yet: the call ends here, and the caller plays
        // silence for the rest without counting it as played; the region plays whole once loaded.
        if (m_pBuffer->isSeekPending()) {
            m_bFadeNext = m_bFadeNext || jumped;  // the fade-in waits for the region's first data
            // The old audio fades out into that silence over the fade's frames (not counted as
            // played: the position stays on the region start); the fade-in then starts from the
            // silence, not from the frame played before the jump, a step at full height.
            if (jumped && m_bStarted && (m_fLastA != 0.0f || m_fLastB != 0.0f)) startFade();
            jumped = false;
            if (m_uiFadeFrame) {
                const unsigned int frames =
                    std::min((bytes - produced) / fb, kCrossFadeFrames + 1 - m_uiFadeFrame);
                std::memset(out + produced, 0, static_cast<size_t>(frames) * fb);
                crossFade(out + produced, frames * fb);
                produced += frames * fb;
            }
            m_fLastA = m_fLastB = 0.0f;
            break;
        }
        // 3. From the prefetch source only what this call still takes from this region, in whole
        // strides: the rest of a longer read would be lost, and the next read would skip it. The
        // unused rest of a last stride is the carry.
        const unsigned int position = m_uiPosition.load(std::memory_order_acquire);
        const uint64_t toEnd = region.end > position ? static_cast<uint64_t>(fb) * (region.end - position) : 0;
        const unsigned int stride = strideBytes();
        uint64_t want = std::min<uint64_t>({static_cast<uint64_t>(bytes - produced), toEnd,
                                            static_cast<uint64_t>(m_uiChunkSize)});
        want = want >= stride ? want - want % stride : stride;
        const bool forward = !m_pBuffer->isReverse();
        unsigned int from = 0;
        unsigned int got = 0;
        bool carried = false;
        debugMsg("readData %d\n", static_cast<int>(want));
        const int r = m_reader->fill(static_cast<unsigned int>(want), forward, &got, &from, &carried);
        unsigned char* work = m_reader->work();
        if (r == FMOD_ERR_FILE_EOF && got == 0) {
            result = r;
            break;
        }
        if (got == 0) {
            // 9. No data in the middle of the sound: read again until the prefetch delivers, but
            // not forever (a backward reader below a ring bottom that never grows gets nothing).
            if (++emptyReads >= kMaxEmptyReads) break;
            std::this_thread::yield();
            continue;
        }
        emptyReads = 0;
        // 5. After a jump, fade the chunk in from the last output frame. The fade waits for a
        // chunk that holds data, so a dropout right after a jump does not swallow it.
        if (jumped) {
            startFade();
            jumped = false;
        }
        // Reads shorter than the fade (a call's end) carry it on into the next ones.
        if (m_uiFadeFrame && !carried) crossFade(work, got);
        // 6. Copy, never past the region end.
        uint64_t n = std::min<uint64_t>({static_cast<uint64_t>(bytes - produced), regionLength,
                                         static_cast<uint64_t>(m_uiChunkSize), static_cast<uint64_t>(got)});
        const uint64_t positionBytes = static_cast<uint64_t>(fb) * m_uiPosition.load(std::memory_order_acquire);
        const uint64_t endBytes = static_cast<uint64_t>(fb) * region.end;
        if (positionBytes + n > endBytes) n = endBytes > positionBytes ? endBytes - positionBytes : 0;
        std::memcpy(out + produced, work, static_cast<size_t>(n));
        produced += static_cast<unsigned int>(n);
        // 4. The frames used are one segment for the corrector.
        const unsigned int used = static_cast<unsigned int>(n / fb);
        const unsigned int after = forward ? from + used : from - std::min(from, used);
        corrector.putSamplesPCM(from, after, forward);
        // Frames read but not used are kept for the next copy, also at the region's end: play
        // that goes on without a jump (the loop switched off, the last snippet done) starts
        // with them. A jump drops them.
        if (n < got) m_reader->keep(static_cast<unsigned int>(n), got, after, forward);
        // 7. The position counts up by the frames copied, in reverse play too. A snippet may end
        // beyond the loop's end and must still reach its end.
        if (r == FMOD_OK || r == FMOD_ERR_FILE_EOF) {
            const uint64_t next = m_uiPosition.load(std::memory_order_acquire) + n / m_uiChannels / m_uiBytesPerSample;
            if (next <= std::max(bound(), region.end))
                m_uiPosition.store(static_cast<unsigned int>(next), std::memory_order_release);
        }
        // 8. Remember the last output frame for the next fade, also across calls.
        rememberLastFrame(out, produced);
        if (r != FMOD_OK) result = r;
    }
    if (read) *read = produced;
    return result;
}

int LoopSound::seekData(unsigned int pcm, bool seekPrefetch) {
    if (!m_pBuffer) return FMOD_ERR_INTERNAL;
    if (pcm > bound()) return FMOD_ERR_BADCOMMAND;
    m_uiPosition.store(pcm, std::memory_order_release);
    if (seekPrefetch) m_bPendingSeek.store(true, std::memory_order_release);
    return FMOD_OK;
}

void LoopSound::setHeardFrame(float first, float second) {
    m_fHeardA.store(first, std::memory_order_relaxed);
    m_fHeardB.store(second, std::memory_order_relaxed);
    m_bHeardSet.store(true, std::memory_order_release);
}

int LoopSound::setPositionPCM(unsigned int pcm) { return seekData(pcm, true); }

int LoopSound::setPositionMs(unsigned int ms) { return setPositionPCM(ConvertMS2PCM(ms)); }

void LoopSound::applyLoopPoints(unsigned int start, unsigned int end) {
    m_uiLoopStart.store(start, std::memory_order_release);
    m_uiLoopEnd.store(end, std::memory_order_release);
    m_uiPlannedEnd = end;
    m_bPlannedLoop = false;
}

int LoopSound::setLoopPointsPCM(unsigned int start, unsigned int end) {
    if (end < start || static_cast<int32_t>(start) < 0 || static_cast<int32_t>(end) < 0 || start > m_uiLength ||
        end > m_uiLength)
        return FMOD_ERR_INVALID_PARAM;
    CRITSECT_SCOPE(m_loopLock);
    const unsigned int loopStart = m_uiLoopStart.load(std::memory_order_acquire);
    const unsigned int loopEnd = m_uiLoopEnd.load(std::memory_order_acquire);
    if (start == loopStart && (end == loopEnd || end == m_uiPlannedEnd)) return FMOD_OK;
    // Only the end moves while looping, and the loop does not end at the end of the sound: the
    // reader applies the change at a safe point. The margin is 88 frames, and the unsigned
    // subtraction is intended (a sound under 88 frames always plans).
    if (m_bEnableLoop.load(std::memory_order_acquire) && m_uiPlannedEnd != 0 && start == loopStart &&
        loopEnd < m_uiLength - kPlannedLoopMargin) {
        m_bPlannedLoop = true;
        m_uiPlannedStart = start;
        m_uiPlannedEnd = end;
        return FMOD_OK;
    }
    applyLoopPoints(start, end);
    return FMOD_OK;
}

int LoopSound::setLoopPoints(unsigned int startMs, unsigned int endMs) {
    unsigned int end = ConvertMS2PCM(endMs);
    const unsigned int start = ConvertMS2PCM(startMs);
    // The end is the first frame not played; the length in milliseconds, rounded, may name a
    // frame just past the last one, and it means the end of the sound.
    if (end > m_uiLength && end - m_uiLength <= ConvertMS2PCM(1)) end = m_uiLength;
    return setLoopPointsPCM(start, end);
}

void LoopSound::setLoop(bool enable) {
    if (m_bEnableLoop.load(std::memory_order_acquire) == enable) return;
    debugMsg("LoopSound::setLoop %s\n", enable ? "true" : "false");
    m_bEnableLoop.store(enable, std::memory_order_release);
    if (enable) return;
    bool whole;
    {
        CRITSECT_SCOPE(m_loopLock);
        whole = m_uiLoopStart.load(std::memory_order_acquire) == 0 &&
                (m_uiLoopEnd.load(std::memory_order_acquire) == m_uiLength || m_uiPlannedEnd == m_uiLength);
    }
    if (!whole) setLoopPointsPCM(0, m_uiLength);
}

int LoopSound::addPlaybackSnippetMs(unsigned int startMs, unsigned int endMs) {
    addSnippet(ConvertMS2PCM(startMs), ConvertMS2PCM(endMs));
    return FMOD_OK;
}

unsigned int LoopSound::getPositionPCM() { return m_pBuffer ? m_pBuffer->GetPositionPCM() : 0; }

bool LoopSound::isReverse() { return m_pBuffer ? m_pBuffer->isReverse() : false; }

int LoopSound::setReverse(bool reverse) { return m_pBuffer ? m_pBuffer->setReverse(reverse) : FMOD_ERR_INTERNAL; }

FMOD_RESULT LoopSound::getLength(unsigned int* length, unsigned int unit) {
    return m_pBuffer ? m_pBuffer->getLength(length, unit) : FMOD_ERR_INTERNAL;
}

int LoopSound::stopBuffering() {
    if (m_pBuffer) m_pBuffer->stopBuffering();
    return FMOD_OK;
}

bool LoopSound::isLoopPlanned() {
    CRITSECT_SCOPE(m_loopLock);
    return m_bPlannedLoop;
}

void LoopSound::getLoopWindow(unsigned int* start, unsigned int* end) {
    CRITSECT_SCOPE(m_loopLock);
    if (start) *start = m_uiLoopStart.load(std::memory_order_acquire);
    if (end) *end = m_uiLoopEnd.load(std::memory_order_acquire);
}
