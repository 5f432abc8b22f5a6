#include "sound_cd.hpp"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include "services.hpp"

namespace pw::sound {

std::vector<cd::DriveEntry> drivesOf(FMOD::System* system, bool realDrives) {
    std::vector<std::string> names;
    std::vector<std::string> images;
    dev::Backend* backend = systemBackend(system);
    if (!backend && std::getenv("PELLWARDEN_DEVICE_TABLE")) backend = &dev::tableBackend();
    if (backend) {
        for (const dev::CdDriveInfo& d : backend->cdDrives()) {
            names.push_back(d.name);
            images.push_back(d.empty ? std::string() : d.image);
        }
    }
    return cd::listDrives(names, images, realDrives);
}

bool findDrive(FMOD::System* system, const std::string& name, cd::DriveEntry* drive) {
    if (name.empty()) return false;
    // A real drive is named by its device node; any other name can only be a virtual drive, and
    // a file name that does not exist must not cost a probe of the hardware.
    struct stat st {};
    const bool deviceNode = ::stat(name.c_str(), &st) == 0 && (S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode));
    for (const cd::DriveEntry& d : drivesOf(system, deviceNode)) {
        if (d.name == name || (!d.devicePath.empty() && d.devicePath == name)) {
            *drive = d;
            return true;
        }
    }
    return false;
}

FMOD_RESULT openCd(FMOD::System* system, const cd::DriveEntry& drive, FMOD_MODE mode,
                   std::shared_ptr<SoundImpl>* out) {
    out->reset();
    std::unique_ptr<cd::Disc> opened;
    const FMOD_RESULT r = cd::openDisc(drive, &opened);
    if (r != FMOD_OK) return r;
    if (!opened) return FMOD_ERR_CDDA_READ;
    std::shared_ptr<cd::Disc> disc(std::move(opened));

    SoundImpl::Format f;
    f.channels = 2;
    f.rate = 44100;
    f.bits = 16;
    f.format = FMOD_SOUND_FORMAT_PCM16;
    f.type = FMOD_SOUND_TYPE_CDDA;
    auto parent = std::make_shared<SoundImpl>(system, SoundImpl::Kind::Container, f, mode);
    for (int i = 0; i < disc->numTracks(); ++i) {
        std::unique_ptr<decode::Decoder> track = disc->openTrack(i);
        if (!track) return FMOD_ERR_CDDA_READ;
        auto sub = std::make_shared<SoundImpl>(system, SoundImpl::Kind::Stream, f, mode);
        sub->setDecoder(std::move(track));
        sub->keepDisc(disc);
        parent->addSubSound(std::move(sub));
    }
    SoundTag toc;
    toc.type = FMOD_TAGTYPE_USER;
    toc.datatype = FMOD_TAGDATATYPE_CDTOC;
    toc.name = "CD_TOC";
    toc.data.resize(sizeof(FMOD_CDTOC));
    std::memcpy(toc.data.data(), &disc->toc(), sizeof(FMOD_CDTOC));
    parent->addTag(std::move(toc));
    parent->keepDisc(std::move(disc));
    *out = std::move(parent);
    return FMOD_OK;
}

}  // namespace pw::sound
