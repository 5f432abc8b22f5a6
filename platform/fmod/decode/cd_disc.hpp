// A disc in a drive (real or image): its table of contents and its audio tracks.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cd.hpp"

namespace pw::cd {

class CdDisc final : public Disc {
public:
    struct Track {
        int number;        // as on the disc
        int32_t firstLsn;  // INDEX 01
        uint32_t sectors;  // up to the next track's INDEX 01 (its pregap belongs here) or the lead-out
    };

    // Reads the disc in `devicePath` (a drive node, or a .cue image). FMOD_ERR_CDDA_NODISC when
    // nothing readable is there, FMOD_ERR_CDDA_NOAUDIO when no track is audio.
    static FMOD_RESULT open(const std::string& devicePath, std::unique_ptr<Disc>* out);

    int numTracks() const override { return static_cast<int>(audio_.size()); }
    const FMOD_CDTOC& toc() const override { return toc_; }
    std::unique_ptr<decode::Decoder> openTrack(int index) override;

private:
    explicit CdDisc(const std::string& devicePath) : devicePath_(devicePath) {}

    std::string devicePath_;
    std::vector<Track> audio_;
    FMOD_CDTOC toc_{};
};

// The libcdio driver for a path: the BIN/CUE image driver for ".cue" names, else any device driver.
int cdDriverFor(const std::string& devicePath);

// Keeps libcdio from writing warnings to stderr for routine probes.
void quietCdioLogs();

// libcdio's driver table and its image parser keep state in globals, so opening a handle and
// listing the drives happen one at a time, under this lock. A handle once open is the caller's.
std::mutex& cdioSetupLock();

}  // namespace pw::cd
