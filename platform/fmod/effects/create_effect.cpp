#include "effect_types.hpp"

namespace pw::fx {

std::unique_ptr<Effect> createEffect(FMOD_DSP_TYPE type, int sampleRate, unsigned maxFrames) {
    // No effect keeps per-block scratch memory (all work in place, sample by sample), so
    // `maxFrames` only has to be a real block length.
    if (sampleRate < kMinSampleRate || sampleRate > kMaxSampleRate || maxFrames == 0)
        return nullptr;
    switch (type) {
        case FMOD_DSP_TYPE_PARAMEQ: return makeParamEq(sampleRate);
        case FMOD_DSP_TYPE_LOWPASS: return makeLowPass(sampleRate);
        case FMOD_DSP_TYPE_HIGHPASS: return makeHighPass(sampleRate);
        case FMOD_DSP_TYPE_ECHO: return makeEcho(sampleRate);
        case FMOD_DSP_TYPE_FLANGE: return makeFlange(sampleRate);
        case FMOD_DSP_TYPE_COMPRESSOR: return makeCompressor(sampleRate);
        case FMOD_DSP_TYPE_NORMALIZE: return makeNormalize(sampleRate);
        default: return nullptr;
    }
}

}  // namespace pw::fx
