// Helpers of the mixer tests: deterministic generator units, simple custom effect units, and a
// system factory.
#pragma once

#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

#include "fmod.hpp"

namespace pw::mixtest {

// The generator's sample n of channel c: exact in float, never 0, different per channel.
inline float genValue(unsigned long n, int c) {
    return (static_cast<float>((n * 7 + static_cast<unsigned long>(c) * 3) % 2001) - 1000.5f) / 1024.0f;
}

struct GenState {
    std::atomic<unsigned long> frames{0};
    std::atomic<int> calls{0};
    std::atomic<unsigned> lastLength{0};
    float constant[8] = {0};  // used by the constant generator
    double phase = 0.0;       // used by the sine generator
    double hz = 0.0;
    double rate = 44100.0;
    float amplitude = 1.0f;
};

// Writes genValue for each frame and channel.
inline FMOD_RESULT genRead(FMOD_DSP_STATE* state, float*, float* out, unsigned length, int, int outch) {
    void* ud = nullptr;
    state->instance->getUserData(&ud);
    auto* g = static_cast<GenState*>(ud);
    const unsigned long start = g->frames.fetch_add(length);
    for (unsigned f = 0; f < length; ++f)
        for (int c = 0; c < outch; ++c) out[f * outch + c] = genValue(start + f, c);
    g->calls.fetch_add(1);
    g->lastLength.store(length);
    return FMOD_OK;
}

// Writes the constant of each channel (DC): exact through any matrix gain.
inline FMOD_RESULT constantRead(FMOD_DSP_STATE* state, float*, float* out, unsigned length, int, int outch) {
    void* ud = nullptr;
    state->instance->getUserData(&ud);
    auto* g = static_cast<GenState*>(ud);
    for (unsigned f = 0; f < length; ++f)
        for (int c = 0; c < outch; ++c) out[f * outch + c] = g->constant[c];
    g->calls.fetch_add(1);
    return FMOD_OK;
}

// A sine of g->hz at g->rate, amplitude g->amplitude, on every channel.
inline FMOD_RESULT sineRead(FMOD_DSP_STATE* state, float*, float* out, unsigned length, int, int outch) {
    void* ud = nullptr;
    state->instance->getUserData(&ud);
    auto* g = static_cast<GenState*>(ud);
    for (unsigned f = 0; f < length; ++f) {
        const float v = g->amplitude * static_cast<float>(std::sin(g->phase));
        g->phase += 2 * M_PI * g->hz / g->rate;
        for (int c = 0; c < outch; ++c) out[f * outch + c] = v;
    }
    g->calls.fetch_add(1);
    return FMOD_OK;
}

// Effect units: out = in * user float, out = in + 1, out = 0.
inline FMOD_RESULT scaleRead(FMOD_DSP_STATE* state, float* in, float* out, unsigned length, int inch, int) {
    void* ud = nullptr;
    state->instance->getUserData(&ud);
    const float g = ud ? *static_cast<float*>(ud) : 1.0f;
    for (unsigned k = 0; k < length * static_cast<unsigned>(inch); ++k) out[k] = in[k] * g;
    return FMOD_OK;
}

inline FMOD_RESULT addOneRead(FMOD_DSP_STATE*, float* in, float* out, unsigned length, int inch, int) {
    for (unsigned k = 0; k < length * static_cast<unsigned>(inch); ++k) out[k] = in[k] + 1.0f;
    return FMOD_OK;
}

inline FMOD_RESULT zeroRead(FMOD_DSP_STATE*, float*, float* out, unsigned length, int inch, int) {
    std::memset(out, 0, sizeof(float) * length * inch);
    return FMOD_OK;
}

inline FMOD_DSP_DESCRIPTION describe(const char* name, int channels, FMOD_DSP_READCALLBACK read, void* userdata) {
    FMOD_DSP_DESCRIPTION d;
    std::memset(&d, 0, sizeof(d));
    std::strncpy(d.name, name, sizeof(d.name) - 1);
    d.version = 1;
    d.channels = channels;
    d.read = read;
    d.userdata = userdata;
    return d;
}

// A no-sound system (no thread) in `mode`, mixed by pw::mix::renderBlocks.
inline FMOD::System* makeOfflineSystem(unsigned block = 256, FMOD_SPEAKERMODE mode = FMOD_SPEAKERMODE_STEREO,
                                       int rate = 44100) {
    FMOD::System* s = nullptr;
    if (FMOD_System_Create(&s) != FMOD_OK) return nullptr;
    s->setOutput(FMOD_OUTPUTTYPE_NOSOUND_NRT);
    s->setSoftwareFormat(rate, FMOD_SOUND_FORMAT_PCMFLOAT, 0, 6, FMOD_DSP_RESAMPLER_LINEAR);
    s->setDSPBufferSize(block, 4);
    s->setSpeakerMode(mode);
    if (s->init(32, FMOD_INIT_NORMAL, nullptr) != FMOD_OK) {
        s->release();
        return nullptr;
    }
    return s;
}

inline double rms(const float* x, size_t n, size_t stride) {
    double sum = 0.0;
    for (size_t i = 0; i < n; ++i) sum += static_cast<double>(x[i * stride]) * x[i * stride];
    return std::sqrt(sum / static_cast<double>(n));
}

}  // namespace pw::mixtest
