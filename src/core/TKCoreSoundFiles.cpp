// Opening sources as decode-only streams on the silent system, and the sound handles Java holds:
// open, length, close, and the quick length of a named file.
//
// Every sound the opener hands out is registered in SoundHandles and taken out again by the
// closer, so a handle from Java is looked up (an integer comparison) before it is ever used as a
// pointer: 0, a made-up number, a closed or a twice-closed handle all get -3.
//
// A CD track is a sub-sound of the drive's stream. The opener registers the stream as the track's
// parent and the closer releases it after the track: the stream is what keeps the disc open, and
// releasing a sub-sound alone frees nothing.
//
// Thread safety: no engine lock is taken. The silent system's FMODSystem lock serialises the
// creation calls; a Sound serialises its own calls; SoundHandles guards the handle set. These run
// on Java threads, the beat tracker and the analysis workers at the same time.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "DebugLog.h"
#include "EngineCalls.h"
#include "FMODSystem.h"
#include "PlayerList.h"
#include "SoundHandles.h"
#include "SoundUserData.h"
#include "TKCore.h"
#include "tk_string.h"

namespace {

// 8-bit copies of source names hold this many bytes, plus a terminator of ours.
constexpr int kNameCopyBytes = kTKPathBytes;
// What the extended-information record announces as its size.
constexpr int kExInfoSize = 208;

constexpr FMOD_MODE kModeQuick = FMOD_SOFTWARE | FMOD_CREATESTREAM | FMOD_OPENONLY;  // 0x20C0
constexpr FMOD_MODE kModeAccurate = FMOD_LOOP_NORMAL | FMOD_2D | FMOD_SOFTWARE | FMOD_CREATESTREAM | FMOD_OPENONLY |
                                    FMOD_ACCURATETIME | FMOD_MPEGSEARCH;  // 0xE0CA
constexpr FMOD_MODE kModeCd = FMOD_SOFTWARE | FMOD_CREATESTREAM | FMOD_OPENONLY | FMOD_ACCURATETIME;  // 0x60C0

static_assert(kModeQuick == 0x20C0 && kModeAccurate == 0xE0CA && kModeCd == 0x60C0, "open modes");

bool started() { return CPlayerList::initialized.load(std::memory_order_acquire) && CTKCore::g_SilentSystem; }

bool contains(const char* name, const char* marker, bool unicode) {
    return tk_strstr(name, marker, 0, unicode) != nullptr;
}

std::string printable(const char* name, bool unicode) {
    if (name == nullptr) return std::string();
    return unicode ? tk_utf16ToUtf8(name) : std::string(name);
}

// An always-terminated 8-bit copy of a name of either kind.
struct NameCopy {
    char text[kNameCopyBytes + 1] = {};
    NameCopy(const char* name, bool unicode) { tk_convUnicodeToChar(text, kNameCopyBytes, name, unicode); }
};

// A source name "cd://<device>/<disc id>/<track>" split from the right, so that the device may
// hold slashes of its own. The first character after the prefix is never a split point.
struct CdDeviceName {
    std::string device, discId, track;

    explicit CdDeviceName(const char* rest) {
        const std::string text(rest);
        size_t last = std::string::npos, before = std::string::npos;
        for (size_t i = text.size(); i-- > 1;) {
            if (text[i] != '/') continue;
            if (last == std::string::npos) {
                last = i;
            } else {
                before = i;
                break;
            }
        }
        if (last == std::string::npos) return;
        track = text.substr(last + 1);
        if (before == std::string::npos) return;
        discId = text.substr(before + 1, last - before - 1);
        device = text.substr(0, before);
    }
};

// "%d" of a text; false when it holds no number.
bool parseNumber(const char* text, int* value) { return std::sscanf(text, "%d", value) == 1; }

// Creates the CD stream of a drive or device and reads its number of sub-sounds (0 when unread).
FMOD::Sound* openCdStream(const char* device, int* count) {
    FMOD::Sound* stream = nullptr;
    ERRCHECK("_openFmodSound", __FILE__, __LINE__,
             CTKCore::g_SilentSystem->createStream(device, kModeCd, nullptr, &stream));
    *count = 0;
    if (stream) ERRCHECK("_openFmodSound", __FILE__, __LINE__, stream->getNumSubSounds(count));
    return stream;
}

// Takes sub-sound `index` of a CD stream; null (and the stream released) when there is none.
FMOD::Sound* takeTrack(FMOD::Sound* stream, int index) {
    FMOD::Sound* track = nullptr;
    ERRCHECK("_openFmodSound", __FILE__, __LINE__, stream->getSubSound(index, &track));
    if (!track) ERRCHECK("_openFmodSound", __FILE__, __LINE__, stream->release());
    return track;
}

int openCdTrackFile(const char* name, bool unicode, FMOD::Sound** track, FMOD::Sound** stream) {
    const NameCopy ansi(name, unicode);
    char drive[3] = {ansi.text[0], ansi.text[0] ? ansi.text[1] : '\0', '\0'};
    int count = 0;
    *stream = openCdStream(drive, &count);
    if (!*stream) return TK_ERR_NOT_FOUND;
    // "X:\Track07.cda": the track number stands in characters 8 and 9.
    char digits[3] = {};
    if (std::strlen(ansi.text) > 8) std::memcpy(digits, ansi.text + 8, 2);
    int number = 0;
    if (!parseNumber(digits, &number)) number = 0;
    if (number > count) {
        ERRCHECK("_openFmodSound", __FILE__, __LINE__, (*stream)->release());
        return TK_ERR_NOT_FOUND;
    }
    // Track 1 is sub-sound 0, as deck loading counts; track 0 names no sub-sound.
    *track = takeTrack(*stream, number - 1);
    return *track ? TK_OK : TK_ERR_NOT_FOUND;
}

int openCdTrackByDevice(const char* name, bool unicode, FMOD::Sound** track, FMOD::Sound** stream) {
    const NameCopy ansi(name, unicode);
    const CdDeviceName parts(std::strlen(ansi.text) > 5 ? ansi.text + 5 : "");
    debugMsg("LoadFile: cddevice: %s discid: %s tracknr: %s\n", parts.device.c_str(), parts.discId.c_str(),
             parts.track.c_str());
    int count = 0;
    *stream = openCdStream(parts.device.c_str(), &count);
    if (!*stream) return TK_ERR_NOT_FOUND;
    int number = 0;
    if (!parseNumber(parts.track.c_str(), &number)) {
        ERRCHECK("_openFmodSound", __FILE__, __LINE__, (*stream)->release());
        return TK_ERR_FAILED;
    }
    const long index = static_cast<long>(number) - 1;
    if (index < 0 || index >= count) {
        ERRCHECK("_openFmodSound", __FILE__, __LINE__, (*stream)->release());
        return TK_ERR_NOT_FOUND;
    }
    *track = takeTrack(*stream, static_cast<int>(index));
    return *track ? TK_OK : TK_ERR_NOT_FOUND;
}

int openFile(char* name, bool unicode, bool accurate, FMOD::Sound** sound) {
    if (!unicode) {
        FILE* file = std::fopen(name, "r");
        if (file == nullptr) return TK_ERR_NOT_FOUND;
        std::fclose(file);
    }
    FMOD_MODE mode = accurate ? kModeAccurate : kModeQuick;
    if (unicode) mode |= FMOD_UNICODE;
    FMOD_CREATESOUNDEXINFO exinfo;
    std::memset(&exinfo, 0, sizeof exinfo);
    exinfo.cbsize = kExInfoSize;
    exinfo.userdata = name;
    const FMOD_RESULT result = CTKCore::g_SilentSystem->createSound(name, mode, &exinfo, sound);
    if (result == FMOD_ERR_FORMAT) {
        if (*sound) (*sound)->release();
        *sound = nullptr;
        return TK_ERR_UNSUPPORTED;
    }
    if (!*sound) return TK_ERR_UNSUPPORTED;
    ERRCHECK("_openFmodSound", __FILE__, __LINE__, result);
    return TK_OK;
}

// Frees the record, releases the sound and the CD stream it came from. The sound is already out
// of the handle set.
void closeTaken(FMOD::Sound* sound, FMOD::Sound* parent) {
    void* data = nullptr;
    sound->getUserData(&data);
    delete static_cast<SoundUserData*>(data);
    ERRCHECK("_closeFmodSound", __FILE__, __LINE__, sound->release());
    if (parent) ERRCHECK("_closeFmodSound", __FILE__, __LINE__, parent->release());
}

}  // namespace

int CTKCore::_openFmodSound(char* name, FMOD::Sound** out, bool unicode, bool accurate, bool withRecord) {
    int result = IsValidFileType(name, unicode);
    if (result != TK_OK) {
        std::printf("no valid file type!\n");
        debugMsg("no valid file type!\n");
        return result;
    }
    result = IsFileAvailable(name, unicode);
    if (result != TK_OK) return result;
    // Nothing to open into, or nothing to open with: refused before anything is created.
    if (out == nullptr || g_SilentSystem == nullptr) return TK_ERR_FAILED;

    SoundUserData* record = nullptr;
    if (withRecord) {
        record = new (std::nothrow) SoundUserData;
        if (record == nullptr) return TK_ERR_FAILED;
    }
    debugMsg("\n==========\n_openFmodSound(%s)\n==========\n", printable(name, unicode).c_str());

    FMOD::Sound* sound = nullptr;
    FMOD::Sound* parent = nullptr;
    if (contains(name, ".cda", unicode) || contains(name, ".CDA", unicode)) {
        result = openCdTrackFile(name, unicode, &sound, &parent);
    } else if (contains(name, "cd://", unicode) || contains(name, "CD://", unicode)) {
        result = openCdTrackByDevice(name, unicode, &sound, &parent);
    } else {
        result = openFile(name, unicode, accurate, &sound);
    }
    if (result != TK_OK) {
        delete record;
        return result;
    }

    if (record) {
        record->sound = sound;
        ERRCHECK("_openFmodSound", __FILE__, __LINE__, sound->setUserData(record));
    } else if (!parent) {
        // The creation record lent the name as user data; it must not outlive this call.
        ERRCHECK("_openFmodSound", __FILE__, __LINE__, sound->setUserData(nullptr));
    }
    SoundHandles::add(sound, parent);
    *out = sound;
    return TK_OK;
}

int CTKCore::_closeFmodSound(FMOD::Sound* sound) {
    if (!started()) return TK_ERR_NOT_STARTED;
    FMOD::Sound* parent = nullptr;
    if (!SoundHandles::take(reinterpret_cast<uintptr_t>(sound), &parent)) return TK_ERR_NOT_FOUND;
    closeTaken(sound, parent);
    return TK_OK;
}

void CTKCore::_closeAllFmodSounds() {
    for (const auto& open : SoundHandles::takeAll()) closeTaken(open.first, open.second);
}

// Handles are sound addresses zero-extended to 64 bits, in the 32-bit library as in the 64-bit one.
int CTKCore::OpenFile(char* name, bool unicode, int64_t* handle) {
    const tk_engine::EngineCall engineCall;
    if (!engineCall.admitted() || !started()) return TK_ERR_NOT_STARTED;
    FMOD::Sound* sound = nullptr;
    const int result = _openFmodSound(name, &sound, unicode, true, true);
    if (handle) *handle = static_cast<int64_t>(reinterpret_cast<uintptr_t>(sound));
    return result;
}

int CTKCore::GetSongLength(uint64_t handle, unsigned int* ms) {
    const tk_engine::EngineCall engineCall;
    // Shutdown freed every sound with the silent system: no handle is open while not started.
    if (!engineCall.admitted() || !started()) return TK_ERR_NOT_FOUND;
    SoundHandleLease lease(handle);
    if (!lease.get()) return TK_ERR_NOT_FOUND;
    ERRCHECK("GetSongLength", __FILE__, __LINE__, lease.get()->getLength(ms, FMOD_TIMEUNIT_MS));
    return TK_OK;
}

int CTKCore::CloseFile(int64_t handle) {
    const tk_engine::EngineCall engineCall;
    if (!engineCall.admitted() || !started()) return TK_ERR_NOT_STARTED;
    // A number wider than an address is no open sound (and must not alias one when cut short).
    if (static_cast<uint64_t>(handle) > UINTPTR_MAX) return TK_ERR_NOT_FOUND;
    return _closeFmodSound(reinterpret_cast<FMOD::Sound*>(static_cast<uintptr_t>(handle)));
}

int CTKCore::CalcSongLength(char* name, unsigned int* ms, bool unicode) {
    const std::string shown = printable(name, unicode);
    debugMsg("\n==========\nCalcSongLength(%s)\n==========\n", shown.c_str());
    const tk_engine::EngineCall engineCall;
    if (!engineCall.admitted() || !started()) return TK_ERR_NOT_STARTED;
    FMOD::Sound* sound = nullptr;
    const int result = _openFmodSound(name, &sound, unicode, false, false);
    if (result != TK_OK) return result;

    unsigned int length = 0;
    debugMsg("\n==========\nCalcSongLength(%s)\n==========\n", shown.c_str());
    ERRCHECK("CalcSongLength", __FILE__, __LINE__, sound->getLength(&length, FMOD_TIMEUNIT_MS));
    if (ms) *ms = length;
    debugMsg("\n==========\nlength(%d)\n==========\n", static_cast<int>(length));
    _closeFmodSound(sound);
    return TK_OK;
}
