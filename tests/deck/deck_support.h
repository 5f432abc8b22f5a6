// Shared by the deck tests: the engine started on a table of virtual cards in a scratch working
// directory, WAV files written from generated signals, and slot lookup by card and role.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device_table_file.hpp"
#include "temp_dir.hpp"

class CPlayer;
class TimeStretchedChannel;

namespace deck_test {

// Writes a PCM WAV: `bits` 16 or 24 (signed) per sample, sample(frame, channel) in [-1, 1].
bool writeWav(const std::string& path, int rate, int channels, int bits, long frames,
              const std::function<float(long, int)>& sample);

// A click track: a 10 ms decaying 1 kHz burst every 60/bpm seconds, on every channel.
bool writeClickTrack(const std::string& path, int rate, int channels, int bits, double seconds, double bpm);

// The output slot of the card named `card` with role code `role`; -1 when there is none.
int findSlot(const std::string& card, int role);

// The time-stretched channel of a deck's main output, whose render ring feeds the card; null
// when the deck has none.
TimeStretchedChannel* renderChannel(CPlayer& deck);

// Lets `blocks` blocks of the stepped card `card` through. Before each one it waits (at most 2 s)
// while the ring of `channel` has room for two more blocks, so the deck's render worker stays
// ahead of the mixer; no wait without a channel or with its ring bypassed. `pace` is waited
// before every block as well, for sources that fill in real time (line-in). false when the card
// stopped answering.
bool stepCard(TimeStretchedChannel* channel, const std::string& card, unsigned blocks,
              std::chrono::milliseconds pace = std::chrono::milliseconds(0));

// The RMS of each device channel of what `card` received since the last clear.
std::vector<double> channelRms(const std::string& card);

// The engine started (mode 0) on the given device table; cleaned up again after the test.
class EngineOnTable : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The device table; override to change it.
    virtual std::string table() {
        return "output name=\"Card1\" channels=2 sink=memory pacing=stepped\n";
    }

    std::string file(const std::string& name) const { return files_.file(name); }

    pw::test::TempDir files_{"pw-deck-"};
    std::unique_ptr<pw::test::DeviceTableFile> table_;
    std::string previousDir_;
    int initResult_ = 0;
};

}  // namespace deck_test
