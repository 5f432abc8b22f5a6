// CPlayer::LoadFile: turns a source name into the deck's FMOD sound. Four kinds of source, told
// apart by markers anywhere in the name, in this order:
//   ".cda" / ".CDA"          a CD track file "X:/TrackNN.cda": drive = the first three characters,
//                            track = the number in characters 8 and 9;
//   "cd://" / "CD://"        "cd://<device>/<disc id>/<track>", the device may hold slashes;
//   "record://" / "RECORD://" "record://<recorder index>": a line-in recording;
//   anything else            a file, streamed from the silent system.
// CD tracks are sub-sounds of a stream of the whole disc, opened on the silent system and kept in
// the settings block's CD stream field (Unload releases the track, then the stream). A line-in
// source is a 200 ms looping user sound on the main slot's own system that the recorder fills;
// the deck's channel plays it directly.
//
// Thread safety
// - Called only by CPlayer::Load, on a Java thread, with "CPlayer::load" held. "origstream" is
//   taken inside it around every change of the deck's sounds, so the queries that take
//   "origstream" alone (raw length, waveform) never see a half-made source.
// - Every text copy is bounded by its fixed buffer: the 2048-byte stored name, 1024-character 8-bit
//   copies of CD names, the 20-character copy of a line-in name.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "DebugLog.h"
#include "FMODSystem.h"
#include "Player.h"
#include "StatusCodes.h"
#include "TKCore.h"
#include "tk_string.h"

namespace {

constexpr int kCdNameChars = 1024;       // 8-bit copy of a CD source name
constexpr int kCdPartChars = 1023;       // device, disc id and track of a "cd://" name
constexpr int kCdPrefixChars = 5;        // "cd://"
constexpr int kCdaDriveChars = 3;        // "E:/" of "E:/Track07.cda"
constexpr int kCdaTrackOffset = 8;       // the two track digits of "E:/Track07.cda"
constexpr int kRecordNameChars = 20;     // 8-bit copy of a line-in name
constexpr int kRecordPrefixChars = 9;    // "record://"
constexpr unsigned int kCdStreamBufferBytes = 16384;
constexpr int kExInfoSize = 208;         // what the creation record announces as its size

// Line-in: 200 ms of mono 16-bit audio at 44100 Hz, looped by the recorder.
constexpr unsigned int kLineInBytes = 17640;
constexpr int kLineInChannels = 1;
constexpr int kLineInRate = 44100;
// The recorder gets this long to put its first audio into the sound before the deck plays it.
constexpr useconds_t kLineInSettleMicros = 100 * 1000;

constexpr FMOD_MODE kModeCdDrive = FMOD_LOOP_NORMAL | FMOD_OPENONLY;
constexpr FMOD_MODE kModeLineIn = FMOD_OPENUSER | FMOD_SOFTWARE | FMOD_2D | FMOD_LOOP_NORMAL;
constexpr FMOD_MODE kModeFile =
    FMOD_LOOP_NORMAL | FMOD_2D | FMOD_SOFTWARE | FMOD_CREATESTREAM | FMOD_ACCURATETIME | FMOD_MPEGSEARCH;
static_assert(kModeCdDrive == 0x2002 && kModeLineIn == 0x44A && kModeFile == 0xC0CA, "source open modes");
static_assert(kLineInBytes == kLineInRate / 5 * kLineInChannels * 2, "200 ms of mono PCM16");

bool contains(const char* name, const char* marker, bool unicode) {
    return tk_strstr(name, marker, 0, unicode) != nullptr;
}

// "%d" of a text; false when it holds no number.
bool parseNumber(const char* text, int* value) { return std::sscanf(text, "%d", value) == 1; }

// The parts of "<device>/<disc id>/<track>" (the text after "cd://"), split from the right so the
// device may itself be a path. The first character is never a split point. With one "/" only
// the track is found; with none, nothing.
struct CdDeviceName {
    char device[kCdPartChars + 1] = {};
    char discId[kCdPartChars + 1] = {};
    char track[kCdPartChars + 1] = {};

    explicit CdDeviceName(const char* rest) {
        const size_t length = std::strlen(rest);
        size_t last = 0, before = 0;  // 0: not found (position 0 is never a split point)
        for (size_t i = length; i-- > 1;) {
            if (rest[i] != '/') continue;
            if (last == 0) {
                last = i;
            } else {
                before = i;
                break;
            }
        }
        if (last == 0) return;
        copyPart(track, rest + last + 1, length - last - 1);
        if (before == 0) return;
        copyPart(discId, rest + before + 1, last - before - 1);
        copyPart(device, rest, before);
    }

    static void copyPart(char* dst, const char* src, size_t count) {
        if (count > static_cast<size_t>(kCdPartChars)) count = kCdPartChars;
        std::memcpy(dst, src, count);
        dst[count] = '\0';
    }
};

// Opens the stream of a whole disc on the silent system into the CD stream field and reads its
// number of sub-sounds (0 when there is no stream or the count cannot be read).
int openCdStream(CPlayer& deck, const char* device) {
    DeckConfig* config = deck.GetConfig();
    ERRCHECK("CPlayer::LoadFile", __FILE__, __LINE__,
             CTKCore::g_SilentSystem->setStreamBufferSize(kCdStreamBufferBytes, FMOD_TIMEUNIT_RAWBYTES));
    FMOD::Sound* stream = nullptr;
    {
        CRITSECT_SCOPE(deck.m_csOrigStream);
        ERRCHECK("CPlayer::LoadFile", __FILE__, __LINE__,
                 CTKCore::g_SilentSystem->createStream(device, kModeCdDrive, nullptr, &stream));
        config->m_pCDStream = stream;
    }
    int count = 0;
    if (stream) ERRCHECK("CPlayer::LoadFile", __FILE__, __LINE__, stream->getNumSubSounds(&count));
    return count;
}

// Makes sub-sound `index` of the CD stream the deck's sound. When the stream hands none out the
// deck stays without a sound, which Load reports.
void takeCdTrack(CPlayer& deck, int index) {
    DeckConfig* config = deck.GetConfig();
    CRITSECT_SCOPE(deck.m_csOrigStream);
    if (!config->m_pCDStream) return;
    FMOD::Sound* track = nullptr;
    ERRCHECK("CPlayer::LoadFile", __FILE__, __LINE__, config->m_pCDStream->getSubSound(index, &track));
    config->m_pSound = track;
}

// "E:/Track07.cda". The name gives a one-based track number and sub-sounds count from 0, so
// track N plays sub-sound N - 1 (as the engine's opener does). Track 0, which is also what a
// name without digits there gives, names no track and is refused like one past the end.
int loadCdTrackFile(CPlayer& deck, const char* name, bool unicode) {
    char ansi[kCdNameChars + 1] = {};
    tk_convUnicodeToChar(ansi, kCdNameChars, name, unicode);
    const size_t length = std::strlen(ansi);
    char drive[kCdaDriveChars + 1] = {};
    std::memcpy(drive, ansi, length < static_cast<size_t>(kCdaDriveChars) ? length : kCdaDriveChars);
    char digits[3] = {};
    if (length > static_cast<size_t>(kCdaTrackOffset))
        std::memcpy(digits, ansi + kCdaTrackOffset, length > static_cast<size_t>(kCdaTrackOffset) + 1 ? 2 : 1);
    int track = 0;
    if (!parseNumber(digits, &track)) track = 0;

    const int count = openCdStream(deck, drive);
    if (track < 1 || track > count) return TK_ERR_NOT_FOUND;
    takeCdTrack(deck, track - 1);
    return TK_OK;
}

// "cd://<device>/<disc id>/<track>": the disc id is only logged.
int loadCdTrackByDevice(CPlayer& deck, const char* name, bool unicode) {
    char ansi[kCdNameChars + 1] = {};
    tk_convUnicodeToChar(ansi, kCdNameChars, name, unicode);
    const char* rest = std::strlen(ansi) > static_cast<size_t>(kCdPrefixChars) ? ansi + kCdPrefixChars : "";
    const CdDeviceName parts(rest);
    debugMsg("LoadFile: cddevice: %s discid: %s tracknr: %s\n", parts.device, parts.discId, parts.track);

    const int count = openCdStream(deck, parts.device);
    int track = 0;
    if (!parseNumber(parts.track, &track)) return TK_ERR_FAILED;
    // Without a stream the count is 0, so every track is out of range.
    const long index = static_cast<long>(track) - 1;
    if (index < 0 || index >= count) return TK_ERR_NOT_FOUND;
    takeCdTrack(deck, static_cast<int>(index));
    return TK_OK;
}

// "record://N": records from recorder N into a looping user sound on the main slot's system.
int loadLineIn(CPlayer& deck, const char* name, bool unicode) {
    DeckConfig* config = deck.GetConfig();
    if (tk_strnlen(name, sizeof config->m_szFileName, unicode) <= kRecordPrefixChars) return TK_ERR_NOT_FOUND;
    char ansi[kRecordNameChars + 1] = {};
    tk_convUnicodeToChar(ansi, kRecordNameChars, name, unicode);
    int recorder = 0;
    if (!parseNumber(ansi + kRecordPrefixChars, &recorder)) return TK_ERR_FAILED;
    // Recorders are numbered 0 to count - 1: the count itself names none, and neither does a
    // negative index; both would start a recording that never comes.
    if (recorder < 0 || recorder >= CTKCore::g_recordercount) return TK_ERR_NOT_FOUND;
    debugMsg("%d %d\n", config->m_iRecorder, config->m_iMainOutput);

    const int slot = config->m_iMainOutput;
    FMODSystem* system = (slot >= 0 && slot < kTKSlotCount) ? CTKCore::g_Systems[slot] : nullptr;
    {
        CRITSECT_SCOPE(deck.m_csOrigStream);
        FMOD_CREATESOUNDEXINFO exinfo;
        std::memset(&exinfo, 0, sizeof exinfo);
        exinfo.cbsize = kExInfoSize;
        exinfo.length = kLineInBytes;
        exinfo.numchannels = kLineInChannels;
        exinfo.defaultfrequency = kLineInRate;
        exinfo.format = FMOD_SOUND_FORMAT_PCM16;
        FMOD::Sound* sound = nullptr;
        // Load has checked the slot: a system is missing only when the card's failed to start.
        const FMOD_RESULT created =
            system ? system->createSound(nullptr, kModeLineIn, &exinfo, &sound) : FMOD_ERR_MEMORY;
        ERRCHECK("CPlayer::LoadFile", __FILE__, __LINE__, created);
        config->m_pSound = sound;
        debugMsg("recordStart\n");
        if (system && sound) ERRCHECK("CPlayer::LoadFile", __FILE__, __LINE__, system->recordStart(recorder, sound, true));
    }
    usleep(kLineInSettleMicros);
    debugMsg("Start recording!\n");
    config->m_iRecorder = recorder;
    config->m_bRecording = true;
    return TK_OK;
}

// A file: a stream on the silent system, decoded there and played by the deck's channel.
int loadFileStream(CPlayer& deck, bool unicode) {
    DeckConfig* config = deck.GetConfig();
    CRITSECT_SCOPE(deck.m_csOrigStream);
    FMOD_CREATESOUNDEXINFO exinfo;
    std::memset(&exinfo, 0, sizeof exinfo);
    exinfo.cbsize = kExInfoSize;
    FMOD::Sound* sound = nullptr;
    const FMOD_MODE mode = kModeFile | (unicode ? FMOD_UNICODE : 0);
    const FMOD_RESULT result = CTKCore::g_SilentSystem->createSound(config->m_szFileName, mode, &exinfo, &sound);
    ERRCHECK("CPlayer::LoadFile", __FILE__, __LINE__, result);
    if (result != FMOD_OK) {
        if (sound) ERRCHECK("CPlayer::LoadFile", __FILE__, __LINE__, sound->release());
        config->m_pSound = nullptr;
        return TK_ERR_UNSUPPORTED;
    }
    config->m_pSound = sound;
    return TK_OK;
}

}  // namespace

int CPlayer::LoadFile(char* path, bool unicode) {
    DeckConfig* config = m_pConfig;
    char* name = config->m_szFileName;
    std::memset(name, 0, sizeof config->m_szFileName);
    tk_strncpy(name, path, sizeof config->m_szFileName, unicode);
    // An 8-bit name of 2048 bytes or more arrives without a terminator: cut it to 2047. (A UTF-16
    // name that does not fit is not copied at all and leaves the name empty.)
    if (!unicode) name[sizeof config->m_szFileName - 1] = '\0';
    m_bUnicodeName = unicode;
    config->m_bRecording = false;
    // The engine's silent system decodes files and CD tracks; start-up made it.
    if (!CTKCore::g_SilentSystem) return TK_ERR_FAILED;

    if (contains(name, ".cda", unicode) || contains(name, ".CDA", unicode))
        return loadCdTrackFile(*this, name, unicode);
    if (contains(name, "cd://", unicode) || contains(name, "CD://", unicode))
        return loadCdTrackByDevice(*this, name, unicode);
    if (contains(name, "record://", unicode) || contains(name, "RECORD://", unicode))
        return loadLineIn(*this, name, unicode);
    return loadFileStream(*this, unicode);
}
