// The list commands: output slots, recorders, CD drives and the (never filled) ASIO drivers, each
// joined into one reply.
//
// The slot and recorder name tables belong to the engine and are freed by shutdown, which holds the
// load lock throughout; the lists are read under that lock so that a shutdown on another thread
// cannot free a table while its names are copied.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "CritSect.h"
#include "TKCommand.h"
#include "TKCommandRows.h"
#include "TKCore.h"

namespace {

// Buffers the lists are joined into, terminator included.
constexpr std::size_t kEscapedListBytes = 4096;
constexpr std::size_t kPlainListBytes = 1024;
// Each entry of the engine's slot and recorder name tables.
constexpr std::size_t kNameTableEntryBytes = 255;
// The drive names GetCDDrives fills: this many buffers of this many bytes.
constexpr int kDriveCount = 256;
constexpr std::size_t kDriveNameBytes = 256;

// Reads a name table the engine hands out, under the load lock: `none` without a table, or when
// `emptyIsNone` and it has no names.
template <typename Query>
std::string nameTable(Query query, const char* none, bool emptyIsNone, std::size_t limit, bool escape) {
    CRITSECT_SCOPE(t_core.m_csLoad);
    int count = 0;
    char** names = query(&count);
    if (!names || (emptyIsNone && count < 1)) return none;
    return joinCommandList(names, std::min(count, kTKSlotCount), kNameTableEntryBytes, limit, escape);
}

}  // namespace

std::string joinCommandList(const char* const* names, int count, std::size_t nameBytes, std::size_t limit,
                            bool escape) {
    std::string joined;
    bool first = true;
    for (int i = 0; i < count && names && names[i]; ++i) {
        const char* name = names[i];
        const void* end = std::memchr(name, '\0', nameBytes);
        const std::size_t length = end ? static_cast<std::size_t>(static_cast<const char*>(end) - name) : nameBytes;
        std::string entry;
        for (std::size_t k = 0; k < length; ++k) {
            if (escape && name[k] == ',') entry += '\\';
            entry += name[k];
        }
        if (joined.size() + (first ? 0 : 1) + entry.size() >= limit) break;
        if (!first) joined += ',';
        joined += entry;
        first = false;
    }
    return joined;
}

std::string commandSoundcards() {
    return nameTable([](int* count) { return t_core.GetSoundcards(count); }, "no sound devices.", true,
                     kEscapedListBytes, true);
}

std::string commandASIODrivers() {
    return nameTable([](int* count) { return t_core.getAvailableASIODrivers(count); }, "no ASIO devices.", true,
                     kEscapedListBytes, true);
}

std::string commandRecorderDevices() {
    return nameTable([](int* count) { return t_core.GetRecorderDevices(count); }, "no recorder device!", false,
                     kPlainListBytes, false);
}

std::string commandCDDrives() {
    std::vector<std::array<char, kDriveNameBytes>> buffers(kDriveCount);
    char* names[kDriveCount];
    for (int i = 0; i < kDriveCount; ++i) names[i] = buffers[i].data();  // zeroed by the vector
    int count = 0;
    if (t_core.GetCDDrives(&count, names) != 1) return "no cddrives.";
    std::printf("drives: %d\n", count);
    std::fflush(stdout);
    return joinCommandList(names, std::clamp(count, 0, kDriveCount), kDriveNameBytes, kPlainListBytes, false);
}
