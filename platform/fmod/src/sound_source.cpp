#include "sound_source.hpp"

#include <algorithm>

namespace pw::sound {

SoundSource::SoundSource(std::shared_ptr<SoundImpl> sound)
    : sound_(std::move(sound)), ctl_(std::make_shared<PlayControl>()) {
    // A playback starts with the sound's loop mode and loop points as they are now; later
    // Sound::setMode calls change the next playback, not this one.
    ctl_->mode.store(sound_->mode() & (FMOD_LOOP_OFF | FMOD_LOOP_NORMAL | FMOD_LOOP_BIDI));
    uint32_t s = 0;
    uint32_t e = 0;
    sound_->loopPoints(&s, &e);
    ctl_->loopPoints.store(PlayControl::pack(s, e));
}

FMOD_RESULT SoundSource::setPosition(unsigned int position, FMOD_TIMEUNIT unit) {
    uint64_t frame = 0;
    if (!sound_->toFrames(position, unit, &frame)) return FMOD_ERR_INVALID_PARAM;
    const uint64_t length = sound_->lengthFrames();
    if (frame > length) {
        // Streams with an estimated length may run past it; everything else refuses.
        if (sound_->lengthExact()) return FMOD_ERR_INVALID_POSITION;
    }
    const auto target = static_cast<uint32_t>(std::min<uint64_t>(frame, 0xffffffffu));
    // Moving to where the channel already is changes nothing; for a stream a seek would drop the
    // queued audio and leave a gap (the sampler sets position 0 right after every start).
    if (target == ctl_->reportedPosition()) return FMOD_OK;
    ctl_->requestSeek(target);
    seekRequested();
    return FMOD_OK;
}

FMOD_RESULT SoundSource::getPosition(unsigned int* position, FMOD_TIMEUNIT unit) {
    unsigned value = 0;
    if (!sound_->fromFrames(ctl_->reportedPosition(), unit, &value)) return FMOD_ERR_INVALID_PARAM;
    if (position) *position = value;
    return FMOD_OK;
}

FMOD_RESULT SoundSource::setLoopPoints(unsigned int start, FMOD_TIMEUNIT startUnit, unsigned int end,
                                       FMOD_TIMEUNIT endUnit) {
    uint64_t s = 0;
    uint64_t e = 0;
    if (!sound_->toFrames(start, startUnit, &s) || !sound_->toFrames(end, endUnit, &e)) return FMOD_ERR_INVALID_PARAM;
    const uint64_t length = sound_->lengthFrames();
    if (length > 0) e = std::min<uint64_t>(e, length - 1);
    if (s >= e) return FMOD_ERR_INVALID_PARAM;
    ctl_->loopPoints.store(PlayControl::pack(static_cast<uint32_t>(s), static_cast<uint32_t>(e)),
                           std::memory_order_release);
    settingsChanged();
    return FMOD_OK;
}

FMOD_RESULT SoundSource::setLoopCount(int count) {
    if (count < -1) return FMOD_ERR_INVALID_PARAM;
    ctl_->loopCount.store(count, std::memory_order_relaxed);
    settingsChanged();
    return FMOD_OK;
}

FMOD_RESULT SoundSource::getLoopCount(int* count) {
    if (count) *count = ctl_->loopCount.load(std::memory_order_relaxed);
    return FMOD_OK;
}

FMOD_RESULT SoundSource::setMode(FMOD_MODE mode) {
    const FMOD_MODE loop = mode & (FMOD_LOOP_OFF | FMOD_LOOP_NORMAL | FMOD_LOOP_BIDI);
    if (loop) {
        ctl_->mode.store(loop, std::memory_order_relaxed);
        settingsChanged();
    }
    return FMOD_OK;
}

FMOD_RESULT SoundSource::getMode(FMOD_MODE* mode) {
    if (mode) *mode = (sound_->mode() & ~(FMOD_LOOP_OFF | FMOD_LOOP_NORMAL | FMOD_LOOP_BIDI)) |
                      ctl_->mode.load(std::memory_order_relaxed);
    return FMOD_OK;
}

}  // namespace pw::sound
