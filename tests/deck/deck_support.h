// Shared by the deck tests: the engine started on a table of virtual cards in a scratch working
// directory, WAV files written from generated signals, and slot lookup by card and role.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "device_table_file.hpp"
#include "temp_dir.hpp"

namespace deck_test {

// Writes a PCM WAV: `bits` 16 or 24 (signed) per sample, sample(frame, channel) in [-1, 1].
bool writeWav(const std::string& path, int rate, int channels, int bits, long frames,
              const std::function<float(long, int)>& sample);

// A click track: a 10 ms decaying 1 kHz burst every 60/bpm seconds, on every channel.
bool writeClickTrack(const std::string& path, int rate, int channels, int bits, double seconds, double bpm);

// The output slot of the card named `card` with role code `role`; -1 when there is none.
int findSlot(const std::string& card, int role);

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
