// Shared by the sound-opening tests: the engine started on a virtual device table, test files made
// with the command-line encoders, CD images, and UTF-16 names.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "device_table_file.hpp"
#include "fmod.hpp"
#include "temp_dir.hpp"

namespace soundopen {

// Runs a shell command with its output silenced; true when it exited with 0.
bool run(const std::string& command);
// Whether a program is on PATH.
bool haveTool(const std::string& name);

// Writes `bytes` bytes of `fill` to path.
bool writeBytes(const std::string& path, size_t bytes, char fill = 'x');

// A 16-bit WAV of `frames` frames of a sine (sox), `channels` channels at `rate` Hz.
bool makeWav(const std::string& path, long frames, int rate, int channels);

// The UTF-16 form (machine order, zero-terminated) of a UTF-8 text, as bytes for a char* name.
std::vector<char> utf16(const std::string& utf8);

// A .cue/.bin image (x.cue reads x.bin) of audio tracks given by their lengths in sectors; the
// track starts are the running sums. Every sample differs from its neighbours.
struct CdImage {
    std::vector<int> trackSectors;
    std::string cuePath;
    int totalSectors() const;
    // Absolute start of track i (0-based) in frames of 1/75 s, the 2-second lead-in included.
    int startFrames(int track) const;
};
bool writeCdImage(const std::string& dir, const std::string& stem, CdImage* image);

// The engine started on a device table with one stereo output ("Card1", discard sink, stepped
// pacing) and the given extra lines (cdrom entries), in a scratch working directory whose
// ./plugins holds the build's AAC plug-in. mode 0 enumerates the table; 2 starts with no slot.
class EngineFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Extra device-table lines and the start-up mode; override before SetUp runs.
    virtual std::string extraTableLines() { return std::string(); }
    virtual unsigned int startMode() { return 0; }

    std::string file(const std::string& name) const { return files_.file(name); }

    pw::test::TempDir files_{"pw-soundopen-"};
    std::unique_ptr<pw::test::DeviceTableFile> table_;
    std::string previousDir_;
    int initResult_ = 0;
};

}  // namespace soundopen
