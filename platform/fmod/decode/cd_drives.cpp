// The drive list and the door to a disc: real drives as libcdio finds them, then the virtual
// drives of the device table (a name and a .cue image, or no image for an empty drive).
#include <cdio/cdio.h>
#include <sys/stat.h>

#include <atomic>

#include "cd.hpp"
#include "cd_disc.hpp"

namespace pw::cd {

namespace {
std::atomic<unsigned> g_hardwareProbes{0};
}  // namespace

unsigned hardwareProbes() { return g_hardwareProbes.load(std::memory_order_relaxed); }

std::vector<DriveEntry> listDrives(const std::vector<std::string>& virtualNames,
                                   const std::vector<std::string>& virtualImages, bool realDrives) {
    std::vector<DriveEntry> drives;
    quietCdioLogs();
    if (realDrives) {
        g_hardwareProbes.fetch_add(1, std::memory_order_relaxed);
        const std::lock_guard<std::mutex> lock(cdioSetupLock());
        if (char** devices = cdio_get_devices(DRIVER_DEVICE)) {
            for (char** d = devices; *d; ++d)
                drives.push_back({*d, *d});
            cdio_free_device_list(devices);
        }
    }
    for (size_t i = 0; i < virtualNames.size(); ++i)
        drives.push_back({virtualNames[i], i < virtualImages.size() ? virtualImages[i] : std::string()});
    return drives;
}

FMOD_RESULT openDisc(const DriveEntry& drive, std::unique_ptr<Disc>* out) {
    if (!out)
        return FMOD_ERR_INVALID_PARAM;
    out->reset();
    if (drive.devicePath.empty())
        return FMOD_ERR_CDDA_NODISC;
    struct stat st;
    if (::stat(drive.devicePath.c_str(), &st) != 0)
        return FMOD_ERR_CDDA_INVALID_DEVICE;
    if (S_ISDIR(st.st_mode))
        return FMOD_ERR_CDDA_INVALID_DEVICE;
    return CdDisc::open(drive.devicePath, out);
}

}  // namespace pw::cd
