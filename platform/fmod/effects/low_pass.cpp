// Resonant low-pass (pass_filter.hpp): at rest, open at the top.
#include "effect_types.hpp"
#include "pass_filter.hpp"

namespace pw::fx {
namespace {

constexpr ParamInfo kParams[PassFilterEffect::kCount] = {
    {10.0f, 22000.0f, 5000.0f, "Cutoff freq", "Hz"},
    {1.0f, 10.0f, 1.0f, "Resonance", ""},
};

constexpr PassFilterKind kLowPass{designLowPass, [](double cutoff, double rate) { return cutoff >= 0.49 * rate; },
                                  1.0};

}  // namespace

std::unique_ptr<Effect> makeLowPass(int sampleRate) {
    return std::make_unique<PassFilterEffect>(kLowPass, kParams, sampleRate);
}

}  // namespace pw::fx
