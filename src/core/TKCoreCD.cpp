// CD drives and the disc in one: the drive list, and a disc's track count, CDDB identifier and
// query text, read from the table-of-contents tag of the drive's stream.
//
// Both ask output slot 0's system, not the silent one, and hold "Coreglobal" from entry to exit,
// so they never overlap each other or the entry points that take it; the slot's FMODSystem lock is
// taken inside.
//
// Every write goes into a caller buffer of a size fixed by contract (256-byte drive names,
// 2048-byte texts) and is bounded by it.
#include <cstdio>
#include <cstring>

#include "CDDB.h"
#include "DebugLog.h"
#include "FMODSystem.h"
#include "PlayerList.h"
#include "TKCore.h"

namespace {

constexpr int kDriveNameBytes = 256;
// The drive-name buffers a caller provides; drives beyond them are not listed.
constexpr int kMaxDrives = 256;
// Tags of one stream: a stream that never runs out of them must not hold the engine lock forever.
constexpr int kMaxTags = 4096;

}  // namespace

int CTKCore::GetCDDrives(int* count, char** names) {
    CRITSECT_ENTER(m_csCoreGlobal);
    if (!CPlayerList::initialized.load(std::memory_order_acquire)) {
        CRITSECT_LEAVE(m_csCoreGlobal);
        return TK_ERR_NOT_STARTED;
    }
    debugMsg("\n==========\nGetCDDrives()\n==========\n");
    FMODSystem* system = g_Systems[0];
    if (system == nullptr) {
        CRITSECT_LEAVE(m_csCoreGlobal);
        return TK_ERR_NO_SYSTEM;
    }
    int drives = 0;
    const FMOD_RESULT result = system->getNumCDROMDrives(&drives);
    if (result == FMOD_ERR_CDDA_NODISC) {
        CRITSECT_LEAVE(m_csCoreGlobal);
        return TK_ERR_NO_DISC;
    }
    ERRCHECK("GetCDDrives", __FILE__, __LINE__, result);
    if (drives < 0) drives = 0;
    if (drives > kMaxDrives) drives = kMaxDrives;
    for (int i = 0; i < drives && names != nullptr && names[i] != nullptr; ++i) {
        if (system->getCDROMDriveName(i, names[i], kDriveNameBytes, nullptr, 0, nullptr, 0) != FMOD_OK) break;
        names[i][kDriveNameBytes - 1] = '\0';
    }
    if (count) *count = drives;
    CRITSECT_LEAVE(m_csCoreGlobal);
    return TK_OK;
}

int CTKCore::GetCDInfo(char* drive, unsigned int* tracks, char* idText, char* queryText) {
    CRITSECT_ENTER(m_csCoreGlobal);
    FMODSystem* system = g_Systems[0];
    if (system == nullptr) {
        CRITSECT_LEAVE(m_csCoreGlobal);
        return TK_ERR_FAILED;
    }
    debugMsg("\n==========\nGetCDInfo()\n==========\n");

    FMOD::Sound* stream = nullptr;
    const FMOD_RESULT result = system->createStream(drive, FMOD_OPENONLY, nullptr, &stream);
    if (result == FMOD_ERR_CDDA_NODISC) {
        CRITSECT_LEAVE(m_csCoreGlobal);
        return TK_ERR_NO_DISC;
    }
    ERRCHECK("GetCDInfo", __FILE__, __LINE__, result);

    int subSounds = 0;
    if (stream) ERRCHECK("GetCDInfo", __FILE__, __LINE__, stream->getNumSubSounds(&subSounds));
    if (tracks) *tracks = static_cast<unsigned int>(subSounds);

    FMOD_TAG tag;
    for (int i = 0; stream && i < kMaxTags && stream->getTag(nullptr, -1, &tag) == FMOD_OK; ++i) {
        if (tag.datatype != FMOD_TAGDATATYPE_CDTOC) continue;
        debugMsg("TOC found .... \n");
        // Copied out whole before use: the tag's bytes carry no alignment promise, and a tag
        // shorter than the record is not read past its end.
        FMOD_CDTOC toc;
        std::memset(&toc, 0, sizeof toc);
        if (tag.data) std::memcpy(&toc, tag.data, tag.datalen < sizeof toc ? tag.datalen : sizeof toc);
        if (idText) std::snprintf(idText, kCDDBTextSize, "%08x", cddb_discid(&toc));
        dump_cddb_query(&toc, queryText);
    }

    if (stream) ERRCHECK("GetCDInfo", __FILE__, __LINE__, stream->release());
    CRITSECT_LEAVE(m_csCoreGlobal);
    return TK_OK;
}
