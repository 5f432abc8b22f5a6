// FMOD::Sound: each call goes to the SoundImpl behind the handle (sound_impl.hpp).
#include "services.hpp"
#include "sound_impl.hpp"
#include "sound_registry.hpp"

using pw::sound::SoundImpl;

namespace FMOD {

FMOD_RESULT Sound::release() { return pw::sound::release(SoundImpl::from(this)); }

FMOD_RESULT Sound::getSystemObject(System** system) {
    if (system) *system = SoundImpl::from(this)->system();
    return FMOD_OK;
}

FMOD_RESULT Sound::getLength(unsigned int* length, FMOD_TIMEUNIT lengthtype) {
    return SoundImpl::from(this)->getLength(length, lengthtype);
}

FMOD_RESULT Sound::getFormat(FMOD_SOUND_TYPE* type, FMOD_SOUND_FORMAT* format, int* channels, int* bits) {
    const SoundImpl::Format& f = SoundImpl::from(this)->format();
    if (type) *type = f.type;
    if (format) *format = f.format;
    if (channels) *channels = f.channels;
    if (bits) *bits = f.bits;
    return FMOD_OK;
}

FMOD_RESULT Sound::getDefaults(float* frequency, float* volume, float* pan, int* priority) {
    if (frequency) *frequency = static_cast<float>(SoundImpl::from(this)->format().rate);
    if (volume) *volume = 1.0f;
    if (pan) *pan = 0.0f;
    if (priority) *priority = 128;
    return FMOD_OK;
}

FMOD_RESULT Sound::getNumSubSounds(int* numsubsounds) { return SoundImpl::from(this)->getNumSubSounds(numsubsounds); }

FMOD_RESULT Sound::getSubSound(int index, Sound** subsound) { return SoundImpl::from(this)->getSubSound(index, subsound); }

FMOD_RESULT Sound::getNumTags(int* numtags, int* numtagsupdated) {
    return SoundImpl::from(this)->getNumTags(numtags, numtagsupdated);
}

FMOD_RESULT Sound::getTag(const char* name, int index, FMOD_TAG* tag) {
    return SoundImpl::from(this)->getTag(name, index, tag);
}

// The decoders behind a stream may allocate.
FMOD_RESULT Sound::readData(void* buffer, unsigned int lenbytes, unsigned int* read) {
    return pw::guarded([&] { return SoundImpl::from(this)->readData(buffer, lenbytes, read); });
}

FMOD_RESULT Sound::seekData(unsigned int pcm) {
    return pw::guarded([&] { return SoundImpl::from(this)->seekData(pcm); });
}

FMOD_RESULT Sound::setMode(FMOD_MODE mode) { return SoundImpl::from(this)->setMode(mode); }

FMOD_RESULT Sound::getMode(FMOD_MODE* mode) {
    if (mode) *mode = SoundImpl::from(this)->mode();
    return FMOD_OK;
}

FMOD_RESULT Sound::setLoopPoints(unsigned int loopstart, FMOD_TIMEUNIT loopstarttype, unsigned int loopend,
                                 FMOD_TIMEUNIT loopendtype) {
    return SoundImpl::from(this)->setLoopPoints(loopstart, loopstarttype, loopend, loopendtype);
}

FMOD_RESULT Sound::getLoopPoints(unsigned int* loopstart, FMOD_TIMEUNIT loopstarttype, unsigned int* loopend,
                                 FMOD_TIMEUNIT loopendtype) {
    return SoundImpl::from(this)->getLoopPoints(loopstart, loopstarttype, loopend, loopendtype);
}

FMOD_RESULT Sound::lock(unsigned int offset, unsigned int length, void** ptr1, void** ptr2, unsigned int* len1,
                        unsigned int* len2) {
    return SoundImpl::from(this)->lock(offset, length, ptr1, ptr2, len1, len2);
}

FMOD_RESULT Sound::unlock(void* ptr1, void* ptr2, unsigned int len1, unsigned int len2) {
    return SoundImpl::from(this)->unlock(ptr1, ptr2, len1, len2);
}

FMOD_RESULT Sound::setUserData(void* userdata) {
    SoundImpl::from(this)->setUserData(userdata);
    return FMOD_OK;
}

FMOD_RESULT Sound::getUserData(void** userdata) {
    if (userdata) *userdata = SoundImpl::from(this)->userData();
    return FMOD_OK;
}

}  // namespace FMOD
