// Audio CDs: real drives through libcdio, and disc images (.cue/.bin) offered as drives.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "decoder.hpp"
#include "fmod.hpp"

namespace pw::cd {

struct DriveEntry {
    std::string name;        // the name createStream accepts for this drive (also in "cd://...")
    std::string devicePath;  // what libcdio opens: a device node or a .cue file; empty: no disc
};

// Every CD drive, real ones first (in libcdio's order; skipped without `realDrives`, since
// asking libcdio probes the hardware), then the virtual ones given.
std::vector<DriveEntry> listDrives(const std::vector<std::string>& virtualNames,
                                   const std::vector<std::string>& virtualImages, bool realDrives = true);

// How many times this process asked libcdio for the hardware's drives.
unsigned hardwareProbes();

class Disc {
public:
    virtual ~Disc() = default;
    virtual int numTracks() const = 0;  // audio tracks, in disc order
    // Table of contents: track starts and lead-out, absolute MSF with the 2 s lead-in.
    virtual const FMOD_CDTOC& toc() const = 0;
    // A decoder of one track: 44100 Hz, 2 channels, 16-bit, the track's exact sectors.
    // Each decoder reads the disc independently (its own handle).
    virtual std::unique_ptr<decode::Decoder> openTrack(int index) = 0;
};

// Opens the disc in a drive. FMOD_ERR_CDDA_NODISC (8) for an empty drive; FMOD_ERR_CDDA_NOAUDIO
// (6) for a disc without audio tracks; FMOD_ERR_CDDA_INVALID_DEVICE (5) for an unknown drive.
FMOD_RESULT openDisc(const DriveEntry& drive, std::unique_ptr<Disc>* out);

}  // namespace pw::cd
