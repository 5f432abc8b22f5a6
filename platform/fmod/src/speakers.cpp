#include "speakers.hpp"

#include <algorithm>
#include <initializer_list>
#include <iterator>

namespace pw::mix {

namespace {

SpeakerLayout make(std::initializer_list<int> speakers) {
    SpeakerLayout layout;
    std::fill(std::begin(layout.channelOf), std::end(layout.channelOf), -1);
    int channel = 0;
    for (int speaker : speakers) layout.channelOf[speaker] = channel++;
    layout.channels = channel;
    return layout;
}

}  // namespace

SpeakerLayout layoutFor(FMOD_SPEAKERMODE mode, int rawChannels) {
    switch (mode) {
    case FMOD_SPEAKERMODE_RAW: {
        SpeakerLayout layout;
        std::fill(std::begin(layout.channelOf), std::end(layout.channelOf), -1);
        layout.channels = std::clamp(rawChannels, 1, kMaxMixChannels);
        for (int i = 0; i < layout.channels; ++i) layout.channelOf[i] = i;
        return layout;
    }
    case FMOD_SPEAKERMODE_MONO: {
        // One channel: the front pair and the centre fold into it.
        SpeakerLayout layout = make({FMOD_SPEAKER_FRONT_LEFT});
        layout.channelOf[FMOD_SPEAKER_FRONT_RIGHT] = 0;
        layout.channelOf[FMOD_SPEAKER_FRONT_CENTER] = 0;
        return layout;
    }
    case FMOD_SPEAKERMODE_QUAD:
        return make({FMOD_SPEAKER_FRONT_LEFT, FMOD_SPEAKER_FRONT_RIGHT, FMOD_SPEAKER_BACK_LEFT,
                     FMOD_SPEAKER_BACK_RIGHT});
    case FMOD_SPEAKERMODE_SURROUND:
        return make({FMOD_SPEAKER_FRONT_LEFT, FMOD_SPEAKER_FRONT_RIGHT, FMOD_SPEAKER_FRONT_CENTER,
                     FMOD_SPEAKER_BACK_LEFT, FMOD_SPEAKER_BACK_RIGHT});
    case FMOD_SPEAKERMODE_5POINT1:
        return make({FMOD_SPEAKER_FRONT_LEFT, FMOD_SPEAKER_FRONT_RIGHT, FMOD_SPEAKER_FRONT_CENTER,
                     FMOD_SPEAKER_LOW_FREQUENCY, FMOD_SPEAKER_BACK_LEFT, FMOD_SPEAKER_BACK_RIGHT});
    case FMOD_SPEAKERMODE_7POINT1:
        return make({FMOD_SPEAKER_FRONT_LEFT, FMOD_SPEAKER_FRONT_RIGHT, FMOD_SPEAKER_FRONT_CENTER,
                     FMOD_SPEAKER_LOW_FREQUENCY, FMOD_SPEAKER_BACK_LEFT, FMOD_SPEAKER_BACK_RIGHT,
                     FMOD_SPEAKER_SIDE_LEFT, FMOD_SPEAKER_SIDE_RIGHT});
    default:
        return make({FMOD_SPEAKER_FRONT_LEFT, FMOD_SPEAKER_FRONT_RIGHT});
    }
}

}  // namespace pw::mix
