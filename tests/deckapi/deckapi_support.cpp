#include "deckapi_support.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

#include "CritSect.h"
#include "TKCore.h"

namespace deckapi_test {

namespace {

constexpr const char* kLogName = "TKPNdebug.log";

void closeOpenLog() {
    CTKCore::g_cDebugLock.Enter(__func__, __FILE__, __LINE__);
    if (CTKCore::g_fDebugFile) std::fclose(CTKCore::g_fDebugFile);
    CTKCore::g_fDebugFile = nullptr;
    CTKCore::g_cDebugLock.Leave(__func__, __FILE__, __LINE__);
}

struct LockLine {
    size_t begin, end;  // the line's bytes in the log, its newline included
    std::string kind;   // "Enter" or "Leave"
    std::string name, function;
};

// The lines of named locks: "CritSect(<depth>): Enter: <name> at <function> in <file> at
// line:<n>\n". A message without a line end may come right before one, so they are searched
// anywhere, not only at line starts.
std::vector<LockLine> lockLines(const std::string& log) {
    std::vector<LockLine> lines;
    const std::string head = "CritSect(";
    for (size_t at = log.find(head); at != std::string::npos; at = log.find(head, at + 1)) {
        const size_t close = log.find("): ", at);
        const size_t newline = log.find('\n', at);
        if (close == std::string::npos || newline == std::string::npos || close > newline) continue;
        const std::string depth = log.substr(at + head.size(), close - at - head.size());
        if (depth.empty() || depth.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string rest = log.substr(close + 3, newline - close - 3);
        const std::string kind = rest.substr(0, 5);
        if ((kind != "Enter" && kind != "Leave") || rest.compare(5, 2, ": ") != 0) continue;
        const size_t nameEnd = rest.find(" at ", 7);
        const size_t functionEnd = nameEnd == std::string::npos ? nameEnd : rest.find(" in ", nameEnd + 4);
        if (functionEnd == std::string::npos || rest.find(" at line:", functionEnd) == std::string::npos) continue;
        lines.push_back(LockLine{at, newline + 1, kind, rest.substr(7, nameEnd - 7),
                                 rest.substr(nameEnd + 4, functionEnd - nameEnd - 4)});
    }
    return lines;
}

}  // namespace

DebugLogCapture::DebugLogCapture() {
    restart();
    CTKCore::g_bDebug = true;
}

DebugLogCapture::~DebugLogCapture() {
    CTKCore::g_bDebug = false;
    closeOpenLog();
    std::remove(kLogName);
}

void DebugLogCapture::restart() {
    closeOpenLog();
    std::remove(kLogName);
}

std::string DebugLogCapture::text() const {
    std::ifstream in(kLogName, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string DebugLogCapture::withoutLockTrace() const {
    const std::string all = text();
    std::string out;
    size_t from = 0;
    for (const LockLine& line : lockLines(all)) {
        out.append(all, from, line.begin - from);
        from = line.end;
    }
    out.append(all, from, std::string::npos);
    return out;
}

std::vector<std::string> DebugLogCapture::lockTrace(const std::string& function) const {
    std::vector<std::string> events;
    static const std::set<std::string> kLocks = {"Coreglobal", "LoopLock", "CPlayer::load", "origstream",
                                                 "position"};
    for (const LockLine& line : lockLines(text())) {
        if (!kLocks.count(line.name)) continue;
        if (!function.empty() && line.function != function) continue;
        events.push_back(line.kind + " " + line.name);
    }
    return events;
}

std::vector<float> channelOf(const std::vector<float>& interleaved, int channels, int channel) {
    std::vector<float> out;
    if (channels <= 0 || channel >= channels) return out;
    const size_t step = static_cast<size_t>(channels);
    out.reserve(interleaved.size() / step);
    for (size_t i = static_cast<size_t>(channel); i < interleaved.size(); i += step) out.push_back(interleaved[i]);
    return out;
}

std::string writeSineDisc(const std::string& dir, double hz, int seconds) {
    constexpr long kFramesPerSector = 588;  // 2352 bytes of 16-bit stereo
    const long sectors = 75L * seconds;
    const std::string bin = dir + "/disc.bin", cue = dir + "/disc.cue";
    std::ofstream disc(bin, std::ios::binary | std::ios::trunc);
    for (long f = 0; f < sectors * kFramesPerSector; ++f) {
        const auto v = static_cast<int16_t>(std::lround(0.5 * 32767.0 * std::sin(2 * M_PI * hz * f / 44100.0)));
        const char bytes[4] = {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                               static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
        disc.write(bytes, 4);
    }
    std::ofstream sheet(cue, std::ios::trunc);
    sheet << "FILE \"disc.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
    return (disc && sheet) ? cue : std::string();
}

std::string banner(const std::string& text) { return "\n==========\n" + text + "\n==========\n"; }

std::string withDeck(const std::string& pattern, int deck) {
    std::string out = pattern;
    const size_t at = out.find("%d");
    if (at != std::string::npos) out.replace(at, 2, std::to_string(deck));
    return out;
}

}  // namespace deckapi_test
