#include "cd_disc.hpp"

#include <cdio/cdio.h>
#include <cdio/logging.h>

#include <cctype>
#include <cstring>
#include <mutex>

#include "cd_track_decoder.hpp"

namespace pw::cd {

namespace {

struct HandleCloser {
    CdIo_t* p;
    ~HandleCloser() {
        if (p)
            cdio_destroy(p);
    }
};

bool endsWithCue(const std::string& path) {
    if (path.size() < 4)
        return false;
    std::string tail = path.substr(path.size() - 4);
    for (char& c : tail)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".cue";
}

// Absolute MSF of a logical sector: the table of contents counts the 150-sector lead-in.
void putMsf(FMOD_CDTOC* toc, int entry, int32_t lsn) {
    const int32_t lba = lsn + CDIO_PREGAP_SECTORS;
    toc->min[entry] = lba / (60 * 75);
    toc->sec[entry] = (lba / 75) % 60;
    toc->frame[entry] = lba % 75;
}

CdIo_t* openHandle(const std::string& devicePath) {
    quietCdioLogs();
    const std::lock_guard<std::mutex> lock(cdioSetupLock());
    return cdio_open(devicePath.c_str(), static_cast<driver_id_t>(cdDriverFor(devicePath)));
}

}  // namespace

void quietCdioLogs() {
    // libcdio logs every failed probe to stderr; an empty drive is not worth a warning. The level
    // is a plain global of the library: set it once, before any thread reads it.
    static std::once_flag once;
    std::call_once(once, [] { cdio_loglevel_default = CDIO_LOG_ERROR; });
}

std::mutex& cdioSetupLock() {
    static std::mutex lock;
    return lock;
}

int cdDriverFor(const std::string& devicePath) {
    return endsWithCue(devicePath) ? DRIVER_BINCUE : DRIVER_DEVICE;
}

FMOD_RESULT CdDisc::open(const std::string& devicePath, std::unique_ptr<Disc>* out) {
    HandleCloser h{openHandle(devicePath)};
    if (!h.p)
        return FMOD_ERR_CDDA_NODISC;
    const track_t first = cdio_get_first_track_num(h.p);
    const track_t count = cdio_get_num_tracks(h.p);
    if (first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK || count == 0 || count > 99)
        return FMOD_ERR_CDDA_NODISC;
    const lsn_t leadout = cdio_get_track_lsn(h.p, CDIO_CDROM_LEADOUT_TRACK);
    if (leadout == CDIO_INVALID_LSN)
        return FMOD_ERR_CDDA_NODISC;

    std::unique_ptr<CdDisc> disc(new CdDisc(devicePath));
    disc->toc_.numtracks = count;
    for (int i = 0; i < count; ++i) {
        const track_t number = static_cast<track_t>(first + i);
        const lsn_t start = cdio_get_track_lsn(h.p, number);
        const lsn_t next = i + 1 < count ? cdio_get_track_lsn(h.p, static_cast<track_t>(number + 1)) : leadout;
        if (start == CDIO_INVALID_LSN || next == CDIO_INVALID_LSN || next < start)
            return FMOD_ERR_CDDA_NODISC;
        putMsf(&disc->toc_, i, start);
        if (cdio_get_track_format(h.p, number) == TRACK_FORMAT_AUDIO && next > start)
            disc->audio_.push_back({number, start, static_cast<uint32_t>(next - start)});
    }
    putMsf(&disc->toc_, count, leadout);
    if (disc->audio_.empty())
        return FMOD_ERR_CDDA_NOAUDIO;
    *out = std::move(disc);
    return FMOD_OK;
}

std::unique_ptr<decode::Decoder> CdDisc::openTrack(int index) {
    if (index < 0 || index >= numTracks())
        return nullptr;
    CdIo_t* handle = openHandle(devicePath_);
    if (!handle)
        return nullptr;
    const Track& t = audio_[static_cast<size_t>(index)];
    return std::make_unique<CdTrackDecoder>(handle, t.firstLsn, t.sectors);
}

}  // namespace pw::cd
