// The CD drives a system offers, and audio CDs opened as sounds.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cd.hpp"
#include "fmod.hpp"
#include "sound_impl.hpp"

namespace pw::sound {

// The drives of a system: the real drives, then the virtual drives of its device back-end.
// A system without a back-end (the no-sound output types, on which the engine opens CD tracks
// for decoding) still lists the virtual drives of the device table when
// PELLWARDEN_DEVICE_TABLE is set, so that a track name means the same drive on every system.
std::vector<cd::DriveEntry> drivesOf(FMOD::System* system, bool realDrives = true);

// The drive that `name` names (its name or its device path); null when none does.
bool findDrive(FMOD::System* system, const std::string& name, cd::DriveEntry* drive);

// Opens the disc in `drive` as a container sound: one stream sub-sound per audio track (44100 Hz,
// stereo, 16-bit) and one tag holding the table of contents (FMOD_TAGDATATYPE_CDTOC).
// FMOD_ERR_CDDA_NODISC for an empty drive; never a sound together with a failure.
FMOD_RESULT openCd(FMOD::System* system, const cd::DriveEntry& drive, FMOD_MODE mode,
                   std::shared_ptr<SoundImpl>* out);

}  // namespace pw::sound
