// Counts the allocations made on a thread marked as the mixer's (pw::rt::MixerThreadScope). The
// executable that links mixer_allocations.cpp replaces the global operator new for that.
#pragma once

#include <cstdint>

namespace tsc_test {
uint64_t mixerAllocations();
}  // namespace tsc_test
