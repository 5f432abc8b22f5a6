// Constructors of the built-in effects, one per file; createEffect picks among them.
// Each takes a sample rate already checked by createEffect.
#pragma once

#include <memory>

#include "effect.hpp"

namespace pw::fx {

// Sample rates an effect can be built for; the echo's delay line grows with the rate.
constexpr int kMinSampleRate = 8000;
constexpr int kMaxSampleRate = 192000;

std::unique_ptr<Effect> makeParamEq(int sampleRate);
std::unique_ptr<Effect> makeLowPass(int sampleRate);
std::unique_ptr<Effect> makeHighPass(int sampleRate);
std::unique_ptr<Effect> makeEcho(int sampleRate);
std::unique_ptr<Effect> makeFlange(int sampleRate);
std::unique_ptr<Effect> makeCompressor(int sampleRate);
std::unique_ptr<Effect> makeNormalize(int sampleRate);

}  // namespace pw::fx
