// Shared by the deck-effect tests: the engine on two stepped virtual cards (one mixing at
// 44.1 kHz, one at 48 kHz), a loaded and playing deck, tone files, and the RMS of what a card got.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Player.h"
#include "deck_support.h"

namespace effects_test {

// RMS of a sine of peak `amplitude`.
double sineRms(double amplitude);

class EffectsDeck : public deck_test::EngineOnTable {
protected:
    std::string table() override;
    void TearDown() override;

    // A 20 s stereo 16-bit WAV at 44.1 kHz with the same sine on both channels; 0 Hz gives silence.
    std::string toneFile(double hz, double amplitude);

    // Loads `path` on a fresh deck with main and cue on `card`'s stereo slot, main volume full,
    // and starts it. The deck is released (and unloaded) before the engine stops.
    CPlayer& loadAndPlay(const std::string& card, const std::string& path);

    // Lets `blocks` blocks through the card, keeping the deck's render worker ahead of the mixer.
    bool run(const std::string& card, unsigned blocks);

    // Plays `settle` blocks, then returns the RMS of each card channel over the next `blocks`.
    std::vector<double> measure(const std::string& card, unsigned settle = 6, unsigned blocks = 8);

    std::unique_ptr<CPlayer> deck_;
};

}  // namespace effects_test
