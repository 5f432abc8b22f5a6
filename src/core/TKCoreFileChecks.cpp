// The questions asked about a source name before anything is opened: is its type supported, is
// the file there and big enough, may its audio be analysed.
//
// Names come as 8-bit (UTF-8) text or, with the unicode flag, as UTF-16 units. Markers are found
// with tk_strstr in the name's own encoding; the extension test works on an 8-bit copy, which for
// a UTF-16 name is its UTF-8 form (never the low byte of each unit), and file access goes through
// the UTF-8 path.
//
// Thread safety: no engine lock; reentrant. They run on Java threads and on workers at once.
#include <cstdio>
#include <cstring>
#include <string>

#include "DebugLog.h"
#include "TKCore.h"
#include "tk_string.h"

namespace {

// The 8-bit copy made for the extension test holds this many bytes (plus a terminator of ours).
constexpr int kNameCopyBytes = 1024;
// The tail compared against the extensions: the last five characters.
constexpr int kTailChars = 5;
// tk_strupr is given this size for the tail and the pattern.
constexpr int kCompareBufferBytes = 10;
// Files of this many bytes or fewer cannot hold audio worth opening.
constexpr long long kMinFileBytes = 128;

const char* const kExtensions[] = {"mp3", "mp2", "mp1", "ogg", "wav", "flac", "aiff", "aif"};
const char* const kPluginExtensions[] = {"m4a", "aac"};

bool contains(const char* name, const char* marker, bool unicode) {
    return tk_strstr(name, marker, 0, unicode) != nullptr;
}

// The name as text fit for a log line: a UTF-16 name is written in its UTF-8 form.
std::string printable(const char* name, bool unicode) {
    if (name == nullptr) return std::string();
    return unicode ? tk_utf16ToUtf8(name) : std::string(name);
}

// True when ".ext" occurs in the upper-cased tail. Logs each comparison.
bool tailHolds(const char* tail, const char* ext, const char* ansiName, const std::string& shown) {
    char upperTail[kCompareBufferBytes] = {};
    char pattern[kCompareBufferBytes] = {};
    std::snprintf(upperTail, sizeof upperTail, "%s", tail);
    std::snprintf(pattern, sizeof pattern, ".%s", ext);
    tk_strupr(upperTail, kCompareBufferBytes, upperTail, kCompareBufferBytes, false);
    tk_strupr(pattern, kCompareBufferBytes, pattern, kCompareBufferBytes, false);
    debugMsg("fileNameEndsWith:%s comp:%s ansiFileName:%s filename:%s\n", upperTail, pattern, ansiName,
             shown.c_str());
    return tk_strstr(upperTail, pattern, 0, false) != nullptr;
}

}  // namespace

int CTKCore::IsValidFileType(char* name, bool unicode) {
    if (name == nullptr) {
        debugMsg("unsupported file type!\n");
        return TK_ERR_UNSUPPORTED;
    }
    if (contains(name, "cd://", unicode) || contains(name, "CD://", unicode) || contains(name, "record://", unicode) ||
        contains(name, "RECORD://", unicode))
        return TK_OK;

    char ansiName[kNameCopyBytes + 1] = {};
    tk_convUnicodeToChar(ansiName, kNameCopyBytes, name, unicode);
    const size_t length = std::strlen(ansiName);
    const char* tail = ansiName + (length > kTailChars ? length - kTailChars : 0);
    const std::string shown = printable(name, unicode);

    for (const char* ext : kExtensions) {
        if (tailHolds(tail, ext, ansiName, shown)) return TK_OK;
    }
    if (g_bHaveAACPlugin) {
        for (const char* ext : kPluginExtensions) {
            if (tailHolds(tail, ext, ansiName, shown)) return TK_OK;
        }
    }
    debugMsg("unsupported file type!\n");
    return TK_ERR_UNSUPPORTED;
}

int CTKCore::IsFileAvailable(char* name, bool unicode) {
    if (name == nullptr) return TK_ERR_NOT_FOUND;
    if (!contains(name, "://", unicode)) {
        if (!unicode && name[0] == '\0') return TK_ERR_NOT_FOUND;
        FILE* file = tk_fopen(name, "r", unicode);
        if (file == nullptr) return TK_ERR_NOT_FOUND;
        std::fclose(file);
        // A size that stat cannot read (-1) counts as too small.
        if (tk_filesize(name, unicode) <= kMinFileBytes) {
            debugMsg("file too small 44 \n");
            return TK_ERR_UNSUPPORTED;
        }
    }
    debugMsg("IsFileAvailable returns SUCCESS\n");
    return TK_OK;
}

bool CTKCore::isWaveDataAccessAllowed(char* name, bool unicode) {
    if (name == nullptr) return true;
    return !(contains(name, ".cda", unicode) || contains(name, ".CDA", unicode) || contains(name, "cd://", unicode) ||
             contains(name, "CD://", unicode));
}
