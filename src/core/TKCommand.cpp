// The command words: one table, walked in order, each row a word, its argument count, what goes to
// the debug log and the engine operation with its reply. Every row calls the CTKCore operation its
// typed export calls.
//
// Replies report success only for a positive engine result. Replies with numbers are formatted
// into 255 characters, GetCDInfo's into 2048; texts from the caller (paths, drive names) and from
// the engine (device names) are only ever arguments of a format, never the format.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "DebugLog.h"
#include "EngineInfo.h"
#include "TKCommand.h"
#include "TKCommandRows.h"
#include "TKCore.h"

namespace {

constexpr std::size_t kNumberReplyBytes = 255;
constexpr std::size_t kCDInfoReplyBytes = 2048;
constexpr std::size_t kCDTextBytes = 2048;

// The arguments of the row that runs, by their number in the command (a(1) is the first), and the
// words walked so far.
class Args {
public:
    Args(std::vector<std::string>& arguments, const std::string& words) : m_arguments(arguments), m_words(words) {}
    int i(int n) const { return commandInt(m_arguments[n - 1]); }
    double r(int n) const { return commandReal(m_arguments[n - 1]); }
    bool f(int n) const { return commandFlag(m_arguments[n - 1]); }
    // An 8-bit file or drive name, as the engine takes it (writable: the engine's parameters are).
    char* t(int n) const { return m_arguments[n - 1].data(); }
    const std::string& words() const { return m_words; }

private:
    std::vector<std::string>& m_arguments;
    const std::string& m_words;
};

std::string vformatIn(std::size_t bytes, const char* format, va_list args) {
    std::vector<char> buffer(bytes);
    std::vsnprintf(buffer.data(), bytes, format, args);
    return buffer.data();
}

// A reply formatted into a buffer of `bytes` characters, terminator included, cut at its end.
std::string formatIn(std::size_t bytes, const char* format, ...) __attribute__((format(printf, 2, 3)));
std::string formatIn(std::size_t bytes, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = vformatIn(bytes, format, args);
    va_end(args);
    return text;
}

// A reply with numbers, cut at 254 characters.
std::string number(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string number(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = vformatIn(kNumberReplyBytes, format, args);
    va_end(args);
    return text;
}

// What a row writes to the debug log after it ran.
enum class Log {
    None,
    Reply,   // the reply itself
    RetVal,  // "sRetVal: <reply>\n"
    InRow,   // the row writes its own line
};

using Run = std::string (*)(const Args&);

struct Word {
    const char* word;
    std::size_t args;
    Log log;
    Run run;
};

// ---- Rows with more than one step ----

std::string calcSongLength(const Args& a) {
    unsigned int ms = 0;
    if (t_core.CalcSongLength(a.t(1), &ms, false) != 1) return "No song length calculated!";
    std::string reply = number("%d", static_cast<int>(ms));
    debugMsg("%s", reply.c_str());
    return reply;
}

std::string play(const Args& a) {
    const bool playing = t_core.Play(a.i(1), a.f(2)) == 1;
    debugMsg("%s", playing ? "Playing" : "not Playing");
    return playing ? "Playing!" : "not Playing!";
}

std::string cdInfo(const Args& a) {
    unsigned int tracks = 0;
    std::vector<char> id(kCDTextBytes, '\0');
    std::vector<char> query(kCDTextBytes, '\0');
    if (t_core.GetCDInfo(a.t(1), &tracks, id.data(), query.data()) != 1) return "?";
    id.back() = query.back() = '\0';
    return formatIn(kCDInfoReplyBytes, " %s %d %s %s", a.t(1), static_cast<int>(tracks), id.data(), query.data());
}

std::string setDebug(const Args& a) {
    CTKCore::g_bDebug.store(a.f(1), std::memory_order_relaxed);
    if (a.f(1)) debugMsg("%s", "Debug set!");
    return "Debug set!";
}

std::string level(const Args& a) {
    unsigned int levels[2] = {0, 0};
    t_core.GetLevels(a.i(1), levels);
    return number("%d,%d", static_cast<int>(levels[0]), static_cast<int>(levels[1]));
}

std::string replayGain(const Args& a) {
    float gain = 0.0f;
    if (t_core.CalcReplayGain(a.t(1), &gain, nullptr, nullptr, false, nullptr) != 1) return "ERROR!";
    debugMsg("ReplayGain: %f\n", static_cast<double>(gain));
    return number("%f", static_cast<double>(gain));
}

std::string silence(const Args& a) {
    unsigned int start = 0;
    unsigned int end = 0;
    t_core.CalcSilenceDB(a.t(1), &start, &end, static_cast<float>(a.r(2)), false);
    debugMsg("sSilenceDet: %d\n", static_cast<int>(start));
    return number("%d", static_cast<int>(start));
}

// A fixed pattern of 25 snippets on deck 1.
std::string snippetPattern(const Args&) {
    auto snippet = [](unsigned int start, unsigned int end) { t_core.AddPlaybackSnippet(1, start, end); };
    for (unsigned int base : {0u, 5000u}) {
        snippet(base + 1000, base + 1001);
        for (unsigned int at : {2000u, 3000u, 4000u, 5000u}) snippet(base + at, base + at + 50);
    }
    for (int pass = 0; pass < 3; ++pass) {
        for (unsigned int at : {11000u, 12000u, 13000u, 1000u}) snippet(at, at + 250);
    }
    for (unsigned int at : {11000u, 12000u, 13000u}) snippet(at, at + 250);
    return "?";
}

// ---- The table, in walking order ----
// clang-format off
const Word kWords[] = {
    {"GetVersion", 0, Log::Reply, [](const Args&) -> std::string { return engineVersion(); }},
    {"Load", 4, Log::None, [](const Args& a) -> std::string { return t_core.Load(a.i(1), a.t(2), a.i(3), a.i(4), false) == 1 ? "File loaded" : "File properly not loaded!"; }},
    {"CalcSongLength", 1, Log::InRow, calcSongLength},
    {"Play", 2, Log::InRow, play},
    {"Stop", 1, Log::Reply, [](const Args& a) -> std::string { t_core.Stop(a.i(1)); return "Channel stopped!"; }},
    {"GetVolume", 1, Log::Reply, [](const Args& a) { return number("%d", t_core.GetVolume(std::clamp(a.i(1), 0, 255))); }},
    {"SetFrameSearchLength", 2, Log::Reply, [](const Args& a) -> std::string { return t_core.SetFrameSearchLength(a.i(1), static_cast<unsigned int>(a.i(2))) == 1 ? "true" : "false"; }},
    {"FrameSearchForward", 2, Log::Reply, [](const Args& a) -> std::string { return t_core.FrameSearchForward(a.i(1), a.i(2)) == 1 ? "true" : "false"; }},
    {"FrameSearchBackward", 2, Log::Reply, [](const Args& a) -> std::string { return t_core.FrameSearchBackward(a.i(1), a.i(2)) == 1 ? "true" : "false"; }},
    {"GetVolumeRange", 0, Log::Reply, [](const Args&) -> std::string { return "0,1000"; }},
    {"SetVolume", 2, Log::Reply, [](const Args& a) { t_core.SetVolume(a.i(1), a.i(2)); return number("%d", a.i(2)); }},
    {"SetVolumeMonitor", 2, Log::Reply, [](const Args& a) { t_core.SetVolumeMonitor(a.i(1), a.i(2)); return number("%d", a.i(2)); }},
    {"GetSoundcards", 0, Log::Reply, [](const Args&) { return commandSoundcards(); }},
    {"GetASIODrivers", 0, Log::Reply, [](const Args&) { return commandASIODrivers(); }},
    {"GetCDDrives", 0, Log::Reply, [](const Args&) { return commandCDDrives(); }},
    {"GetCDInfo", 1, Log::None, cdInfo},
    {"GetRecorderDevices", 0, Log::Reply, [](const Args&) { return commandRecorderDevices(); }},
    {"GetPosition", 1, Log::Reply, [](const Args& a) { return number("%d", t_core.GetPosition(a.i(1))); }},
    {"GetEqHigh", 1, Log::Reply, [](const Args& a) { return number("%d", t_core.GetEqHigh(a.i(1))); }},
    {"GetEqMid", 1, Log::Reply, [](const Args& a) { return number("%d", t_core.GetEqMid(a.i(1))); }},
    {"GetEqLow", 1, Log::Reply, [](const Args& a) { return number("%d", t_core.GetEqLow(a.i(1))); }},
    {"SetPosition", 2, Log::Reply, [](const Args& a) -> std::string { t_core.SetPosition(a.i(1), a.i(2)); return "Position set!"; }},
    {"SetReverse", 2, Log::Reply, [](const Args& a) -> std::string { return t_core.SetIsReverse(a.i(1), a.f(2)) > 0 ? "Reverse set!" : ""; }},
    {"SetMute", 2, Log::Reply, [](const Args& a) -> std::string { t_core.SetMute(a.i(1), a.f(2)); return "Mute set!"; }},
    {"SetMuteMonitor", 2, Log::Reply, [](const Args& a) -> std::string { t_core.SetMuteMonitor(a.i(1), a.f(2)); return "Mute set!"; }},
    {"SetDebug", 1, Log::InRow, setDebug},
    {"GetLevel", 1, Log::None, level},
    {"IsPlaying", 1, Log::Reply, [](const Args& a) -> std::string { return t_core.IsPlaying(a.i(1)) ? "true" : "false"; }},
    {"SetEqHigh", 2, Log::Reply, [](const Args& a) -> std::string { t_core.SetEqHigh(a.i(1), a.i(2)); return "EQ High set!"; }},
    {"SetEqMid", 2, Log::Reply, [](const Args& a) -> std::string { t_core.SetEqMid(a.i(1), a.i(2)); return "EQ Mid set!"; }},
    {"SetEqLow", 2, Log::Reply, [](const Args& a) -> std::string { t_core.SetEqLow(a.i(1), a.i(2)); return "EQ Low set!"; }},
    {"SetTimeStretcher", 2, Log::Reply, [](const Args& a) -> std::string { t_core.SetTimeStretcher(a.i(1), a.i(2)); return "SetTimeStretcher!"; }},
    {"SetFrequencyPitch", 2, Log::Reply, [](const Args& a) { return number(t_core.SetFrequencyPitch(a.i(1), a.r(2)) > 0 ? "FrequencyPitch (%f) set!" : "FrequencyPitch (%f) NOT set!", a.r(2)); }},
    {"SetGain", 2, Log::Reply, [](const Args& a) { return number(t_core.SetGain(a.i(1), a.i(2)) > 0 ? "Gain (%d) set!" : "Gain (%d) NOT set!", a.i(2)); }},
    {"SetCutOff", 2, Log::Reply, [](const Args& a) { return number(t_core.SetCutOff(a.i(1), a.i(2)) > 0 ? "CutOff (%d) set!" : "CutOff (%d) NOT set!", a.i(2)); }},
    {"SetResonance", 2, Log::Reply, [](const Args& a) { return number(t_core.SetResonance(a.i(1), a.i(2)) > 0 ? "Resonance (%d) set!" : "Resonance (%d) NOT set!", a.i(2)); }},
    {"SetPan", 2, Log::Reply, [](const Args& a) { return number(t_core.SetPan(a.i(1), a.i(2)) > 0 ? "Pan (%d) set!" : "Pan (%d) NOT set!", a.i(2)); }},
    {"SetLoop", 3, Log::Reply, [](const Args& a) -> std::string { return t_core.SetLoop(a.i(1), a.f(2), a.f(3)) > 0 ? "Loop set!" : "Loop NOT set!"; }},
    {"SetLoopPoints", 3, Log::Reply, [](const Args& a) -> std::string { return t_core.SetLoopPoints(a.i(1), a.i(2), a.i(3)) > 0 ? "LoopPoints set!" : "LoopPoints NOT set!"; }},
    {"GetFrequencyPitchRange", 0, Log::Reply, [](const Args&) -> std::string { return "0,200"; }},
    {"GetLength", 1, Log::Reply, [](const Args& a) { return number("%d", t_core.GetLength(a.i(1))); }},
    {"SetEcho", 6, Log::Reply, [](const Args& a) -> std::string { return t_core.SetEcho(a.i(1), a.f(2), a.r(3), a.r(4), a.r(5), a.r(6)) == 1 ? "true" : "false"; }},
    {"GetBPM", 1, Log::Reply, [](const Args& a) { return number("%f", static_cast<double>(t_core.GetBPM(a.i(1)))); }},
    {"CalcReplayGain", 1, Log::InRow, replayGain},
    {"CalcSilence", 2, Log::InRow, silence},
    {"SetBufferSize", 2, Log::RetVal, [](const Args& a) { return number("%d", t_core.SetBufferSize(a.i(1), a.i(2))); }},
    {"SetMasterVolume", 1, Log::RetVal, [](const Args& a) { return number("%d", t_core.SetMasterVolume(a.i(1))); }},
    {"SetMasterGain", 1, Log::RetVal, [](const Args& a) { return number("%d", t_core.SetMasterGain(a.i(1))); }},
    {"PlaySample", 1, Log::RetVal, [](const Args& a) { return number("%d", t_core.PlaySample(a.i(1), false)); }},
    {"SetSampleMode", 2, Log::RetVal, [](const Args& a) { return number("%d", t_core.SetSampleMode(a.i(1), a.f(2))); }},
    {"GetSupportedFiles", 0, Log::Reply, [](const Args&) -> std::string { return supportedAudioFileList(CTKCore::g_bHaveAACPlugin); }},
    {"ASIOControlPanel", 0, Log::None, [](const Args&) -> std::string { t_core.ASIOControlPanel(); return "?"; }},
    {"GetFunctions", 0, Log::None, [](const Args& a) { return a.words(); }},
    {"vinyl", 0, Log::None, [](const Args&) -> std::string { return "?"; }},
    {"test", 0, Log::None, snippetPattern},
    {"SetCrashDirectory", 1, Log::None, [](const Args&) -> std::string { return "?"; }},
};
// clang-format on

}  // namespace

std::string runCommand(const char* text) {
    debugMsg("Don't use commands (%s) use JNI instead!\n", text);
    CommandLine line;
    if (splitCommand(text, &line)) {
        std::string words;
        for (const Word& row : kWords) {
            if (!words.empty()) words += ',';
            words += row.word;
            if (line.name != row.word || line.arguments.size() != row.args) continue;
            const std::string reply = row.run(Args(line.arguments, words));
            if (row.log == Log::Reply) debugMsg("%s", reply.c_str());
            if (row.log == Log::RetVal) debugMsg("sRetVal: %s\n", reply.c_str());
            return reply;
        }
    }
    std::printf("Couldn't interprete this command << %s >>!\n", text);
    std::fflush(stdout);
    return "";
}
