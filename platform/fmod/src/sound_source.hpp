// SoundSource: what a channel started by System::playSound pulls. The base keeps the playback's
// settings (PlayControl) and answers the channel's position, loop and mode calls; the two kinds
// of sound differ only in how audio reaches pull():
// - MemorySource (sound_memory_source.hpp): samples and user sounds, read from memory on the
//   mixer thread;
// - StreamSource (sound_stream_source.hpp): streams, read from a ring the prefetch worker fills.
//
// Thread safety: pull() runs on the mixer thread only; every other call may come from any thread
// and only touches atomics.
#pragma once

#include <memory>

#include "services.hpp"
#include "sound_impl.hpp"
#include "sound_play_control.hpp"

namespace pw::sound {

class SoundSource : public ChannelSource {
public:
    explicit SoundSource(std::shared_ptr<SoundImpl> sound);

    int channels() const override { return sound_->format().channels; }
    float defaultFrequency() const override { return static_cast<float>(sound_->format().rate); }
    FMOD::Sound* currentSound() override { return sound_->released() ? nullptr : sound_.get(); }

    FMOD_RESULT setPosition(unsigned int position, FMOD_TIMEUNIT unit) override;
    FMOD_RESULT getPosition(unsigned int* position, FMOD_TIMEUNIT unit) override;
    FMOD_RESULT setLoopPoints(unsigned int start, FMOD_TIMEUNIT startUnit, unsigned int end,
                              FMOD_TIMEUNIT endUnit) override;
    FMOD_RESULT setLoopCount(int count) override;
    FMOD_RESULT getLoopCount(int* count) override;
    FMOD_RESULT setMode(FMOD_MODE mode) override;
    FMOD_RESULT getMode(FMOD_MODE* mode) override;

protected:
    // A loop setting changed. Streams re-produce their queued audio from the play position so
    // that the change is heard at once; memory sources read the settings live.
    virtual void settingsChanged() {}
    // A seek was just requested (any thread). Streams wake their prefetch worker.
    virtual void seekRequested() {}

    std::shared_ptr<SoundImpl> sound_;
    std::shared_ptr<PlayControl> ctl_;
};

}  // namespace pw::sound
