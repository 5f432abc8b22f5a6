// Resonant high-pass (pass_filter.hpp): at rest at 0 Hz. The deck's slider gives 0 Hz and
// resonance 0 at its bottom; resonance 0 is clamped to 1.
#include "effect_types.hpp"
#include "pass_filter.hpp"

namespace pw::fx {
namespace {

constexpr ParamInfo kParams[PassFilterEffect::kCount] = {
    {0.0f, 22000.0f, 5000.0f, "Cutoff freq", "Hz"},
    {1.0f, 10.0f, 1.0f, "Resonance", ""},
};

constexpr PassFilterKind kHighPass{designHighPass, [](double cutoff, double) { return cutoff <= 0.0; }, 0.0};

}  // namespace

std::unique_ptr<Effect> makeHighPass(int sampleRate) {
    return std::make_unique<PassFilterEffect>(kHighPass, kParams, sampleRate);
}

}  // namespace pw::fx
