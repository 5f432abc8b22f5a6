// What the sampler's files share: its status codes, the slot test and the sampler output's system.
#pragma once

#include "TKCore.h"

constexpr int kSamplerBadSlot = -23;        // sample slot outside 0..64
constexpr int kSamplerEmptySlot = -24;      // no sound, or no channel where one is needed
constexpr int kSamplerBadOutputSlot = -5;   // SetupSampler: output slot outside 0..64

bool samplerSlotValid(int slot);
// The FMODSystem of the sampler output slot; null when the slot has none.
FMODSystem* samplerSystem();
