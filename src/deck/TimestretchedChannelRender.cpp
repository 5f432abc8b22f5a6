// The render step of the time-stretched channel: one block of interleaved stereo float, pulled
// from the loop source through the stretcher (or straight through at tempo 1.0), panned, gained
// and accounted in the position queue. Runs on the render thread only (see the header).
#include <algorithm>
#include <SoundTouch.h>

#include <cstring>
#include <new>

#include "DebugLog.h"
#include "MixerThread.h"
#include "fmod_sample_format.hpp"
#include "TimestretchedChannel.h"
#include "StatusCodes.h"

namespace {


float clamp01(float v) { return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v); }

// The overlap the stretcher works with, in frames: its setting in ms at the rate, rounded down to
// whole multiples of 8 frames, never under 16.
double stretcherOverlapFrames(int overlapMs, double rate) {
    int frames = static_cast<int>(rate) * overlapMs / 1000;
    if (frames < 16) frames = 16;
    return static_cast<double>(frames - frames % 8);
}

void zero(float* out, size_t samples) {
    if (out && samples) std::memset(out, 0, samples * sizeof(float));
}

}  // namespace

FMOD_RESULT TimeStretchedChannel::DSPReadCallback(FMOD_DSP_STATE* state, float* /*in*/, float* out,
                                                  unsigned int length, int /*inChannels*/, int outChannels) {
    void* user = nullptr;
    if (!state || !state->instance || state->instance->getUserData(&user) != FMOD_OK || !user)
        return static_cast<FMOD_RESULT>(TK_CHANNEL_NONE);
    auto* self = static_cast<TimeStretchedChannel*>(user);
    pw::rt::MixerThreadScope mixer;
    return static_cast<FMOD_RESULT>(self->readFromBufferedResampledBuffer(out, length, outChannels));
}

int TimeStretchedChannel::readFromBufferedResampledBuffer(float* out, unsigned int frames, int channels) {
    if (!m_bDetached.load(std::memory_order_acquire)) {
        if (pw::rt::onMixerThread()) applyPendingVinylSpeed();
        calculateVinylScratch(true);
    }
    if (auto* ring = m_pOutputBuffer.load(std::memory_order_acquire))
        return ring->readFromResampledBuffer(out, frames, channels, m_bPlaying.load(std::memory_order_acquire));
    return readFromResampledBuffer(out, frames, channels, m_bPlaying.load(std::memory_order_acquire));
}

int TimeStretchedChannel::readFromResampledBuffer(float* out, unsigned int frames, int channels, bool /*flag*/) {
    com_tarvenkolm_resampler::ITKResampler* resampler = m_pResampler.load(std::memory_order_acquire);
    if (resampler) return resampler->readFromBuffer(out, frames, channels);
    return readFromBuffer(out, frames, channels);
}

int TimeStretchedChannel::readFromBuffer(float* out, unsigned int frames, int channels) {
    const size_t samples = static_cast<size_t>(frames) * static_cast<size_t>(channels > 0 ? channels : 0);
    const bool playing = m_bPlaying.load(std::memory_order_acquire);
    const float speed = m_pResampler.load(std::memory_order_acquire) ? m_fHighResPitch.load(std::memory_order_acquire)
                                                                      : m_fSpeed.load(std::memory_order_acquire);
    if (playing && speed != 0.0f) {
        // The ring's worker and a bypassed mixer read may overlap for one block while the ring
        // switches modes; the stretcher is never shared, the loser plays silence.
        std::unique_lock<std::mutex> guard(m_renderGuard, std::try_to_lock);
        if (!guard.owns_lock()) {
            zero(out, samples);
            return TK_CHANNEL_SILENT;
        }
        m_bStepQueued = false;
        if (m_bHandHeardFrame.exchange(false, std::memory_order_acq_rel)) {
            auto* ring = m_pOutputBuffer.load(std::memory_order_acquire);
            if (ring && !ring->isBypassed()) handHeardFrameToSource(*ring);
        }
        readCallback(nullptr, out, frames, 0, channels);
        // Every block rendered takes its place in the queue, a silent one (the end of the
        // source) too, or the blocks after it would be accounted against the mixer's reads one
        // block early.
        if (!m_bStepQueued) queuePosition(m_uiLastQueued, frames);
        // With the output ring running, the block waits in the ring: it is accounted when the
        // mixer takes it. Without it, the mixer takes the block now.
        auto* ring = m_pOutputBuffer.load(std::memory_order_acquire);
        if (!ring || ring->isBypassed()) calculateNewPosition(frames);
        return 0;
    }
    zero(out, samples);
    m_bPositionValid.store(false, std::memory_order_release);
    return TK_CHANNEL_SILENT;
}

int TimeStretchedChannel::readCallback(float* /*in*/, float* out, unsigned int length, int /*inChannels*/,
                                       int /*outChannels*/) {
    if (!m_pLoopSound || !out) {
        // Silence, never whatever the caller's buffer held before (the ring would store it).
        zero(out, static_cast<size_t>(length) * 2);
        return 0;
    }
    if (m_bClearStretcher.exchange(false, std::memory_order_acq_rel)) m_pStretcher->clear();

    const float pan = m_fPan.load(std::memory_order_acquire);
    const float gain = m_fGain.load(std::memory_order_acquire);
    const float left = gain * clamp01(1.0f - pan);
    const float right = gain * clamp01(1.0f + pan);

    // One reading of the tempo per block: the stretcher and the position mapping must agree.
    const float factor = m_fTempoFactor.load(std::memory_order_acquire);
    const int result = factor == 1.0f ? renderDirect(out, length, 1.0f, 1.0f)
                                      : renderStretched(out, length, 1.0f, 1.0f, factor);
    applyLevels(out, length, left, right);
    return result;
}

void TimeStretchedChannel::applyLevels(float* out, unsigned int len, float left, float right) {
    const float fromLeft = m_fLevelLeft < 0.0f ? left : m_fLevelLeft;
    const float fromRight = m_fLevelRight < 0.0f ? right : m_fLevelRight;
    m_fLevelLeft = left;
    m_fLevelRight = right;
    if (fromLeft == left && fromRight == right) {
        if (left == 1.0f && right == 1.0f) return;
        for (unsigned int i = 0; i < len; ++i) {
            out[2 * i] *= left;
            out[2 * i + 1] *= right;
        }
        return;
    }
    // Linear over the block, reaching the new levels on its last frame.
    const float stepLeft = (left - fromLeft) / static_cast<float>(len);
    const float stepRight = (right - fromRight) / static_cast<float>(len);
    for (unsigned int i = 0; i < len; ++i) {
        const float k = static_cast<float>(i + 1);
        out[2 * i] *= i + 1 == len ? left : fromLeft + stepLeft * k;
        out[2 * i + 1] *= i + 1 == len ? right : fromRight + stepRight * k;
    }
}

bool TimeStretchedChannel::growWork(unsigned int floats) {
    if (floats <= m_uiWorkCapacity && m_pWork) return true;
    const unsigned int capacity = floats > kMinWorkFloats ? floats : kMinWorkFloats;
    float* fresh = new (std::nothrow) float[capacity]();
    if (!fresh) return false;
    delete[] m_pWork;
    m_pWork = fresh;
    m_uiWorkCapacity = capacity;
    return true;
}

unsigned int TimeStretchedChannel::requestBytes(unsigned int len) const {
    const unsigned int channels = static_cast<unsigned int>(m_iChannels > 0 ? m_iChannels : 1);
    const unsigned int bps = static_cast<unsigned int>(m_iBytesPerSample);
    unsigned int cap = 0;
    switch (bps) {
        case 1: cap = kStep8Bytes; break;
        case 2: cap = kStep16Bytes; break;
        case 3: cap = kStep24Bytes; break;
        case 4: cap = kStep32Bytes; break;
        default: return 0;
    }
    const uint64_t want = static_cast<uint64_t>(len) * channels * bps;
    const unsigned int bytes = want < cap ? static_cast<unsigned int>(want) : cap;
    // Whole frames that are also whole words of the prefetch ring, which reads only whole words:
    // a request that split a frame would shift every sample read after it.
    const unsigned int stride = m_pLoopSound ? m_pLoopSound->strideBytes() : channels * bps;
    return bytes - bytes % stride;
}

unsigned int TimeStretchedChannel::convertToWork(const unsigned char* bytes, unsigned int count) {
    const unsigned int channels = static_cast<unsigned int>(m_iChannels > 0 ? m_iChannels : 1);
    const unsigned int bps = static_cast<unsigned int>(m_iBytesPerSample);
    if (bps < 1 || bps > 4) return 0;
    const FMOD_SOUND_FORMAT format = pw::sound::sampleFormat(bps, m_bFloatSamples);
    const unsigned int frames = count / bps / channels;
    if (channels == 2) {
        pw::sound::pcmToFloat(bytes, format, m_pWork, static_cast<size_t>(frames) * 2);
        return frames;
    }
    for (unsigned int i = 0; i < frames; ++i) {
        const unsigned char* frame = bytes + static_cast<size_t>(i) * channels * bps;
        const float l = pw::sound::sampleToFloat(frame, format);
        const float r = channels > 1 ? pw::sound::sampleToFloat(frame + bps, format) : l;
        m_pWork[2 * i] = l;
        m_pWork[2 * i + 1] = r;
    }
    return frames;
}

unsigned int TimeStretchedChannel::pullStretched(unsigned int len, bool* fetching) {
    const unsigned int channels = static_cast<unsigned int>(m_iChannels > 0 ? m_iChannels : 1);
    const unsigned int need = 2 * len * (channels > 2 ? channels : 2);
    if ((need > m_uiWorkCapacity && !growWork(need)) || m_uiWorkCapacity == 0 || len == 0) return 0;
    const unsigned int request = requestBytes(len);
    for (unsigned int reads = 0; request && m_pStretcher->numSamples() < len && reads < kMaxReadsPerBlock; ++reads) {
        unsigned int got = 0;
        m_pLoopSound->readData(m_step, request, &got, m_corrector);
        if (got == 0) break;
        if (got > request) got = request;
        const unsigned int frames = convertToWork(m_step, got);
        if (fetching && m_pLoopSound->isFetching() && m_pStretcher->numUnprocessedSamples() == 0 &&
            m_pStretcher->numSamples() == 0) {
            *fetching = true;
            return std::min(frames, len);
        }
        if (frames) m_pStretcher->putSamples(m_pWork, frames);
    }
    return m_pStretcher->receiveSamples(m_pWork, len);
}

int TimeStretchedChannel::renderStretched(float* out, unsigned int len, float left, float right, float factor) {
    const unsigned int channels = static_cast<unsigned int>(m_iChannels > 0 ? m_iChannels : 1);
    // Two floats per work frame whatever the source's channel count, and at least one step
    // buffer's worth of frames.
    const unsigned int need = 2 * len * (channels > 2 ? channels : 2);
    if (need > m_uiWorkCapacity && !growWork(need)) {
        zero(out, static_cast<size_t>(len) * 2);
        return 0;
    }
    if (m_uiWorkCapacity == 0 || len == 0) return 0;

    m_pStretcher->setTempo(1.0 / static_cast<double>(factor));
    const float shift = m_fPitchShift.load(std::memory_order_acquire);
    if (shift != 0.0f) m_pStretcher->setPitchSemiTones(static_cast<double>(shift));

    // While a far seek's new place is fetched the source gives silence that stands still, the
    // old audio's fade out at its start. It plays as read, past the emptied stretcher: fed to
    // it, the silence would fill the stretcher's whole latency ahead of the new audio (a far
    // jump four times as long silent as at tempo 1), and the stretcher would splice back into
    // it just after the new audio's first milliseconds (a stutter). The block stands still.
    bool fetching = false;
    const unsigned int received = pullStretched(len, &fetching);
    for (unsigned int i = 0; i < received; ++i) {
        out[2 * i] = left * m_pWork[2 * i];
        out[2 * i + 1] = right * m_pWork[2 * i + 1];
    }
    // The end of the source: the rest of the block is silence. Leaving it untouched would let
    // the ring store the previous block a second time.
    zero(out + 2 * static_cast<size_t>(received), 2 * static_cast<size_t>(len - received));
    if (received == 0 || fetching) return 0;
    // The report is what was read less what the stretcher still holds, in source frames: its
    // unread input and its unplayed output. Taken from the stretcher's state at every block, it
    // cannot drift, whatever tempo changes and loop wraps came before.
    //
    // Each sequence the stretcher plays is a stretch of source taken at the best match within a
    // seek window past its nominal place and played at the source's own rate, its ends faded
    // into the sequences beside it; successive sequences start `tempo` x their output apart. The
    // sound's own line runs through the middles of the sequences: half a seek window past the
    // nominal place, plus (1 - tempo) half sequences (the part of a sequence's span that its own
    // rate gains or loses on the line). The rate transposer ahead of it holds its filter's
    // latency, which is counted neither as unread input nor in the seek window's middle.
    const double tempo = 1.0 / static_cast<double>(factor);
    // Its settings read back as 0 in automatic mode; the sizes it works with are reported: a
    // sequence is its output plus the overlap, the latency a sequence's input plus the seek
    // window and the transposer's filter.
    const double rate = static_cast<double>(m_fFrequency);
    const double overlap = stretcherOverlapFrames(m_pStretcher->getSetting(SETTING_OVERLAP_MS), rate);
    const double sequence = m_pStretcher->getSetting(SETTING_NOMINAL_OUTPUT_SEQUENCE) + overlap;
    const double input = std::max(m_pStretcher->getSetting(SETTING_NOMINAL_INPUT_SEQUENCE) + overlap, sequence);
    const double filter = m_pStretcher->getSetting(SETTING_USE_AA_FILTER)
                              ? m_pStretcher->getSetting(SETTING_AA_FILTER_LENGTH) / 2.0
                              : 0.0;
    const double seekWindow = std::max(0.0, m_pStretcher->getSetting(SETTING_INITIAL_LATENCY) - input - filter);
    const double lead = seekWindow / 2.0 + (1.0 - tempo) * sequence / 2.0;
    const double backlog = static_cast<double>(m_pStretcher->numUnprocessedSamples()) + filter +
                           tempo * static_cast<double>(m_pStretcher->numSamples()) - lead;
    queuePosition(m_corrector.walkToBacklog(backlog), len);
    return 0;
}

double TimeStretchedChannel::emptyStretcherLag(float factor) {
    if (factor == 1.0f) return 0.0;
    // A sequence plays at the source's own rate, so in steady play the sound's line runs through
    // the sequences' middles (see renderStretched). An emptied stretcher starts its first
    // sequence at the frame it is given: that sequence's middle, and the line from it on, lie
    // (tempo - 1) half sequences behind where the frame's own line would run.
    const double tempo = 1.0 / static_cast<double>(factor);
    m_pStretcher->setTempo(tempo);
    const double overlap =
        stretcherOverlapFrames(m_pStretcher->getSetting(SETTING_OVERLAP_MS), static_cast<double>(m_fFrequency));
    const double sequence = m_pStretcher->getSetting(SETTING_NOMINAL_OUTPUT_SEQUENCE) + overlap;
    return (tempo - 1.0) * sequence / 2.0;
}

int TimeStretchedChannel::renderDirect(float* out, unsigned int len, float left, float right) {
    const unsigned int channels = static_cast<unsigned int>(m_iChannels > 0 ? m_iChannels : 1);
    unsigned int fadeFrames = 0;  // frames of the stretcher's last output, in m_pWork
    if (m_pStretcher->numUnprocessedSamples() != 0) {
        // Stretched playback has just ended: restart the source where the listener is, and drop
        // what the stretcher still held. The walk restarts at the frame the prefetch lands on,
        // not the one asked for: the direction may have turned since the last block, and a
        // reverse read that starts below the walk's cursor is taken for a jump, dropped, and
        // with one read per direct block the cursor would never move again.
        const int64_t p = m_corrector.getSamplePCMPos(1.0, 1);
        // The stretcher's sound goes on for one more block, faded out under the direct one:
        // dropping what it held would step the signal at the switch.
        fadeFrames = pullStretched(len);
        const unsigned int pcm = m_pLoopSound->landingFrame(p < 0 ? 0u : static_cast<unsigned int>(p));
        m_pLoopSound->seekData(pcm, true);
        m_pStretcher->clear();
        m_corrector.reset(static_cast<double>(pcm));
    }

    const unsigned int request = requestBytes(len);
    unsigned int got = 0;
    if (request) m_pLoopSound->readData(m_rawRead, request, &got, m_corrector);
    if (got > request) got = request;

    unsigned int frames = 0;
    const unsigned int bps = static_cast<unsigned int>(m_iBytesPerSample);
    if (request) frames = got / bps / channels;
    const FMOD_SOUND_FORMAT format = pw::sound::sampleFormat(bps, m_bFloatSamples);
    // A stereo block has room for len frames of two samples; wider sources are cut to their
    // first two channels rather than written past the block.
    if (frames > len) frames = len;
    for (unsigned int i = 0; i < frames; ++i) {
        const unsigned char* frame = m_rawRead + static_cast<size_t>(i) * channels * bps;
        float v[2];
        const unsigned int take = channels > 1 ? 2u : 1u;
        for (unsigned int c = 0; c < take; ++c) v[c] = pw::sound::sampleToFloat(frame + c * bps, format);
        if (channels == 1) {
            out[2 * i] = left * v[0];
            out[2 * i + 1] = right * v[0];
        } else {
            out[2 * i] = left * v[0];
            out[2 * i + 1] = right * v[1];
        }
    }
    zero(out + 2 * static_cast<size_t>(frames), 2 * static_cast<size_t>(len - frames));
    for (unsigned int i = 0; i < fadeFrames; ++i) {
        const float in = static_cast<float>(i + 1) / static_cast<float>(len);
        const float outGain = 1.0f - in;
        out[2 * i] = in * out[2 * i] + outGain * left * m_pWork[2 * i];
        out[2 * i + 1] = in * out[2 * i + 1] + outGain * right * m_pWork[2 * i + 1];
    }
    if (frames == 0) return 0;
    queueStep(frames, len, 1.0f);
    return 0;
}

// Direct play maps the block back to the source by walking the frames read x 1 / factor source
// frames from where the reads began; the block queued is the whole block, silence included.
void TimeStretchedChannel::queueStep(unsigned int walked, unsigned int frames, float factor) {
    const float ratio = 1.0f / factor;
    queuePosition(m_corrector.getSamplePCMPos(static_cast<double>(ratio), walked), frames);
}

void TimeStretchedChannel::queuePosition(int64_t position, unsigned int frames) {
    const unsigned int at = static_cast<unsigned int>(position < 0 ? 0 : position);
    {
        CRITSECT_SCOPE(m_positionLock);
        // What the mixer took meanwhile leaves the queue first: it never grows beyond the ring.
        accountTakenLocked();
        m_positionQueue.push_back(PosList{at, frames});
    }
    m_uiLastQueued = at;
    m_bStepQueued = true;
}

FMOD_RESULT TimeStretchedChannel::GainFactor(FMOD_DSP_STATE* state, float* in, float* out, unsigned int length,
                                             int inChannels, int outChannels) {
    if (!state || !state->instance || length == 0 || inChannels <= 0) return static_cast<FMOD_RESULT>(TK_CHANNEL_NONE);
    void* user = nullptr;
    if (state->instance->getUserData(&user) != FMOD_OK || !user) return FMOD_OK;
    auto* self = static_cast<TimeStretchedChannel*>(user);
    pw::rt::MixerThreadScope mixer;
    const float gain = self->m_fGain.load(std::memory_order_acquire);
    if (in && out && gain == 1.0f) {
        // The narrower of the two buffers bounds the copy: taking the wider one would read past
        // the input or write past the output when their widths differ.
        const int width = outChannels > 0 && outChannels < inChannels ? outChannels : inChannels;
        std::memcpy(out, in, static_cast<size_t>(length) * static_cast<size_t>(width) * sizeof(float));
        return FMOD_OK;
    }
    if (in && out) {
        const size_t n = static_cast<size_t>(length) * static_cast<size_t>(inChannels);
        for (size_t k = 0; k < n; ++k) out[k] = in[k] * gain;
        return FMOD_OK;
    }
    debugMsg("gain buffer is not valid! Aborting!\n");
    return FMOD_OK;
}
