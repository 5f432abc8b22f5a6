#include "DebugLog.h"

#include <cstdarg>
#include <cstdio>

#include "TKCore.h"

namespace {

constexpr const char* kDebugLogName = "TKPNdebug.log";

}  // namespace

void debugMsg(const char* format, ...) {
    // Off: one flag test, no lock, nothing formatted.
    if (!CTKCore::g_bDebug.load(std::memory_order_relaxed) || format == nullptr) return;

    CTKCore::g_cDebugLock.Enter(__func__, __FILE__, __LINE__);
    if (CTKCore::g_fDebugFile == nullptr) {
        // "w+": each run starts a new log at its first message. The handle then stays open for the
        // process's life. When the file cannot be created the message is lost and the next one
        // tries again.
        CTKCore::g_fDebugFile = std::fopen(kDebugLogName, "w+");
        if (CTKCore::g_fDebugFile == nullptr) {
            CTKCore::g_cDebugLock.Leave(__func__, __FILE__, __LINE__);
            return;
        }
    }
    va_list args;
    va_start(args, format);
    std::vfprintf(CTKCore::g_fDebugFile, format, args);
    va_end(args);
    std::fflush(CTKCore::g_fDebugFile);
    CTKCore::g_cDebugLock.Leave(__func__, __FILE__, __LINE__);
}

void ERRCHECK(const char* function, const char* file, unsigned int line, FMOD_RESULT result) {
    if (result == FMOD_OK) return;
    // The table answers "Unknown error." for anything outside 1..97, negatives included.
    const char* text = FMOD_ErrorString(result);
    const char* fn = function != nullptr ? function : "";
    const char* path = file != nullptr ? file : "";
    static const char kFormat[] = "Please report the CORE error! (%d) %s %s %s:%d\n";
    debugMsg(kFormat, static_cast<int>(result), text, fn, path, static_cast<int>(line));
    // Standard output whatever the debug switch, outside the log lock. Flushed so that the report
    // survives a crash that may follow the failure.
    std::printf(kFormat, static_cast<int>(result), text, fn, path, static_cast<int>(line));
    std::fflush(stdout);
}
