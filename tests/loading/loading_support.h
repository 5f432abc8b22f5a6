// Shared by the loading tests: the engine started on two stepped stereo cards, two virtual
// recorders (sines) and three virtual CD drives holding one generated five-track disc image, and
// helpers that let a loaded deck's audio through a card and measure it.
#pragma once

#include <string>
#include <vector>

#include "Player.h"
#include "deck_support.h"
#include "signal_measure.hpp"

namespace loading_test {

// The disc: five tracks of distinct lengths, each a sine of its own frequency.
constexpr int kTracks = 5;
constexpr int kTrackSectors[kTracks] = {90, 105, 120, 135, 150};  // 1.2 s to 2.0 s
double trackFrequency(int track);                                  // 0-based track
unsigned trackMs(int track);

// Frequencies of the two recorders' sines.
constexpr double kLineInHz = 1000.0;
constexpr double kMicHz = 500.0;
constexpr float kRecorderAmplitude = 0.5f;

// Writes <dir>/<stem>.cue and <dir>/<stem>.bin (sox makes each track's samples); the .cue path,
// or empty on failure.
std::string writeDiscImage(const std::string& dir, const std::string& stem);

class LoadingEngine : public deck_test::EngineOnTable {
protected:
    std::string table() override;
    void SetUp() override;

    // A stereo 16-bit WAV of `seconds` of a sine at `hz` (amplitude 0.5 on both channels).
    std::string sineWav(const std::string& name, double hz, double seconds);

    // Lets `blocks` blocks of the card through, giving the deck's render worker time to stay
    // ahead of the mixer. false when the card stopped answering.
    bool run(CPlayer& deck, const std::string& card, unsigned blocks);

    int card1_ = -1;  // the stereo slots of the two cards
    int card2_ = -1;
    std::string cue_;
};

// Loads with a mutable copy of the name (Load takes char*).
int load(CPlayer& deck, const std::string& name, int mainSlot, int cueSlot, bool unicode = false);
int loadBytes(CPlayer& deck, std::vector<char> name, int mainSlot, int cueSlot, bool unicode);

// The left channel of what a stereo card received since the last clear.
std::vector<float> leftChannel(const std::string& card);
using pw::test::rms;
using pw::test::toneHz;

}  // namespace loading_test
