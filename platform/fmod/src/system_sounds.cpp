// The System calls of the sound half: creating and playing sounds, recording, CD drives.
#include <algorithm>
#include <cstring>
#include <new>

#include "record_registry.hpp"
#include "services.hpp"
#include "sound_cd.hpp"
#include "sound_memory_source.hpp"
#include "sound_open.hpp"
#include "sound_prefetch.hpp"
#include "sound_registry.hpp"
#include "sound_stream_source.hpp"

using pw::sound::SoundImpl;

namespace FMOD {

FMOD_RESULT System::createSound(const char* name_or_data, FMOD_MODE mode, FMOD_CREATESOUNDEXINFO* exinfo,
                                Sound** sound) {
    return pw::sound::createSound(this, name_or_data, mode, exinfo, sound);
}

FMOD_RESULT System::createStream(const char* name_or_data, FMOD_MODE mode, FMOD_CREATESOUNDEXINFO* exinfo,
                                 Sound** sound) {
    return pw::sound::createSound(this, name_or_data, mode | FMOD_CREATESTREAM, exinfo, sound);
}

FMOD_RESULT System::playSound(FMOD_CHANNELINDEX channelid, Sound* sound, bool paused, Channel** channel) {
    return pw::guarded([&] {
        std::shared_ptr<SoundImpl> impl = pw::sound::lookup(sound);
        if (!impl) {
            // The channel handed in for reuse is left as it is.
            return FMOD_ERR_INVALID_PARAM;
        }
        if (impl->kind() == SoundImpl::Kind::Container) return FMOD_ERR_UNSUPPORTED;  // play its sub-sounds
        if (impl->kind() == SoundImpl::Kind::Memory)
            return pw::systemPlaySource(this, channelid, std::make_unique<pw::sound::MemorySource>(impl), paused,
                                        channel);

        std::shared_ptr<pw::sound::PrefetchService> prefetch = pw::sound::prefetchFor(this);
        if (!prefetch) return FMOD_ERR_MEMORY;
        std::shared_ptr<pw::sound::StreamFeed> feed;
        // The ring is sized from the sound's rate and channels.
        std::unique_ptr<pw::sound::StreamSource> source = pw::sound::makeStreamSource(impl, &feed);
        // The worker gets the feed first, so that the feed outlives the source however the
        // channel ends (the source only marks it dead).
        if (!prefetch->add(feed)) return FMOD_ERR_MEMORY;
        return pw::systemPlaySource(this, channelid, std::move(source), paused, channel);
    });
}

FMOD_RESULT System::recordStart(int id, Sound* sound, bool loop) {
    return pw::guarded([&] {
        std::shared_ptr<SoundImpl> impl = pw::sound::lookup(sound);
        if (!impl) return FMOD_ERR_INVALID_PARAM;
        return pw::sound::recordStart(this, id, impl, loop);
    });
}

FMOD_RESULT System::recordStop(int id) { return pw::sound::recordStop(this, id); }

FMOD_RESULT System::isRecording(int id, bool* recording) { return pw::sound::isRecording(this, id, recording); }

FMOD_RESULT System::getRecordPosition(int id, unsigned int* position) {
    return pw::sound::recordPosition(this, id, position);
}

FMOD_RESULT System::getNumCDROMDrives(int* numdrives) {
    if (numdrives) *numdrives = 0;
    return pw::guarded([&] {
        const size_t n = pw::sound::drivesOf(this).size();
        if (numdrives) *numdrives = static_cast<int>(n);
        return FMOD_OK;
    });
}

FMOD_RESULT System::getCDROMDriveName(int drive, char* drivename, int drivenamelen, char* scsiname, int scsinamelen,
                                      char* devicename, int devicenamelen) {
    return pw::guarded([&] {
        const std::vector<pw::cd::DriveEntry> drives = pw::sound::drivesOf(this);
        if (drive < 0 || static_cast<size_t>(drive) >= drives.size()) return FMOD_ERR_INVALID_PARAM;
        const pw::cd::DriveEntry& d = drives[static_cast<size_t>(drive)];
        pw::copyName(d.name, drivename, drivenamelen);
        pw::copyName(d.name, scsiname, scsinamelen);
        pw::copyName(d.devicePath, devicename, devicenamelen);
        return FMOD_OK;
    });
}

}  // namespace FMOD
