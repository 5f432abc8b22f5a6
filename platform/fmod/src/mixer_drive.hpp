// Bench and test hook: mixes blocks of a system that runs no mixer thread (a no-sound output type)
// on the calling thread, as fast as it goes. Never used by the engine.
#pragma once

#include <vector>

#include "fmod.hpp"

namespace pw::mix {

// Mixes `blocks` blocks and appends them (interleaved, the mix's channels) to `out` when given.
// FMOD_ERR_UNINITIALIZED before init; FMOD_ERR_UNSUPPORTED for a system with a mixer thread.
FMOD_RESULT renderBlocks(FMOD::System* system, unsigned blocks, std::vector<float>* out);

}  // namespace pw::mix
