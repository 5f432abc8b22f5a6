// The transport tests' deck: the engine on one stepped stereo card plus a virtual line-in, a
// file or line-in source put on a deck by hand, and the card stepped with the deck's render
// worker kept ahead of it.
#pragma once

#include <string>
#include <vector>

#include "Player.h"
#include "deck_support.h"

namespace transport_test {

class TransportDeck : public deck_test::EngineOnTable {
protected:
    static constexpr int kRate = 44100;
    static constexpr const char* kCard = "Two";

    std::string table() override {
        return "output name=\"Two\" channels=2 sink=memory pacing=stepped\n"
               "record name=\"Line In\" input=sine:441 channels=1 rate=44100\n";
    }
    void SetUp() override;

    // A stereo 16-bit WAV: left a 441 Hz sine of amplitude 0.5 from `toneFrom` seconds on
    // (silent before), right silent.
    std::string writeTone(const std::string& name, double seconds, double toneFrom = 0.0);

    // What the loader leaves: the sound opened on the silent system, both outputs set up on the
    // card, the tap on, the length and a whole-sound loop window stored; paused at 0, main
    // volume 1. false (with a test failure) when something did not open.
    bool loadFile(CPlayer& deck, const std::string& path);
    // A line-in source: 200 ms of mono 16-bit recorded in a loop from the virtual input.
    bool loadLineIn(CPlayer& deck);

    // Lets `blocks` blocks through the card, each only once the deck's render ring is full (when
    // the deck renders at all), so positions compare at equal read-ahead. false when the card stopped answering.
    bool run(CPlayer& deck, unsigned blocks);
    // RMS of the left channel the card received, per block of `frames`, since the last clear.
    static std::vector<double> leftRmsPerBlock(unsigned frames);

    int slot_ = -1;
    std::string tone_;  // 20 s of tone
};

// RMS of the 0.5 sine at full level.
constexpr double kToneRms = 0.5 / 1.4142135623730951;

}  // namespace transport_test
