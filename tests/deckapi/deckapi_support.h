// Shared by the entry-point tests: the debug log of the test's working directory, read back with or
// without the lock trace that named locks write into it.
#pragma once

#include <string>
#include <vector>

#include "signal_measure.hpp"

namespace deckapi_test {

// Switches debugging on for its life and starts a fresh "TKPNdebug.log" in the working directory
// (the process keeps the log open once written, so an earlier test's file is closed first).
class DebugLogCapture {
public:
    DebugLogCapture();
    ~DebugLogCapture();
    DebugLogCapture(const DebugLogCapture&) = delete;
    DebugLogCapture& operator=(const DebugLogCapture&) = delete;

    // Forgets what was logged so far: the next message starts a new file.
    void restart();
    // The whole log as written.
    std::string text() const;
    // The log without the "CritSect(n): Enter/Leave: ..." lines of named locks.
    std::string withoutLockTrace() const;
    // The lock lines of the engine's and the decks' locks ("Coreglobal", "LoopLock", "CPlayer::load",
    // "origstream", "position"), in order, each as "Enter <lock>" or "Leave <lock>"; only those
    // written at `function` when one is given. Worker threads never take these locks.
    std::vector<std::string> lockTrace(const std::string& function = std::string()) const;
};

// One channel of interleaved samples.
std::vector<float> channelOf(const std::vector<float>& interleaved, int channels, int channel);
using pw::test::rms;
using pw::test::toneHz;

// Writes <dir>/disc.cue and <dir>/disc.bin: one audio track of `seconds` of a stereo sine at `hz`,
// amplitude 0.5. The .cue path, or empty on failure.
std::string writeSineDisc(const std::string& dir, double hz, int seconds);

// "\n==========\n" + text + "\n==========\n".
std::string banner(const std::string& text);

// Replaces the first "%d" of a pattern with the number.
std::string withDeck(const std::string& pattern, int deck);

}  // namespace deckapi_test
