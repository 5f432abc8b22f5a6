// Speaker layouts of the mix: which speaker of FMOD_SPEAKER order lands on which mix channel.
//
// The mix carries the speaker mode's channels in speaker order (stereo FL FR; quad FL FR BL BR;
// surround FL FR C BL BR; 5.1 FL FR C LFE BL BR; 7.1 all eight; raw: speaker i is channel i).
// The device then gets the first min(mix, device) channels, which is how a 4-channel controller
// run in 5.1 gets C and LFE on its channels 3 and 4.
#pragma once

#include "fmod.hpp"

namespace pw::mix {

constexpr int kMaxSpeakers = 16;     // rows of a channel's speaker matrix (raw cards beyond 7.1)
constexpr int kMaxInputs = 8;        // columns: channels of what a channel plays
constexpr int kMaxMixChannels = 16;  // channels of a system's mix

struct SpeakerLayout {
    int channels = 2;
    // speaker -> mix channel, -1 when the layout has no such speaker
    int channelOf[kMaxSpeakers];
};

// The layout of `mode`; `rawChannels` is the device's channel count, used by raw mode only.
// Unknown modes and Pro Logic mix in stereo.
SpeakerLayout layoutFor(FMOD_SPEAKERMODE mode, int rawChannels);

}  // namespace pw::mix
