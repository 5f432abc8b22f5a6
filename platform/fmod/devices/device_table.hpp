// The virtual device table: a text file that stands in for the machine's sound cards in tests.
//
// One entry per line, `#` starts a comment, keys in any order, values may be quoted with "":
//   output name="Card1" channels=2 minrate=0 maxrate=0 caps=0 panel=2 init=ok sink=discard pacing=realtime
//   output name="Rec" sink=wav:/tmp/out.wav
//   record name="Line In" input=sine:440 channels=2 rate=44100
//   record name="Mic" input=wav:/path/in.wav
//   cdrom name="Virtual CD" image=/path/disc.cue
//   cdrom name="Empty drive"
// Parsing is lenient: an unknown key or a bad value is reported with its line number and skipped
// (the entry keeps its default for that key); a line that cannot be an entry (unknown kind, no
// name, unterminated quote, a token without '=') is reported and skipped as a whole.
#pragma once

#include <string>
#include <vector>

#include "device.hpp"

namespace pw::dev {

enum class InitOutcome { Ok, Fail58, Fail };
enum class SinkKind { Discard, Memory, Wav };
enum class Pacing { Realtime, Stepped };
enum class InputKind { Sine, Wav };

struct OutputEntry {
    OutputDriverInfo info;
    InitOutcome init = InitOutcome::Ok;
    SinkKind sink = SinkKind::Discard;
    std::string sinkPath;  // for SinkKind::Wav
    Pacing pacing = Pacing::Realtime;
};

struct RecordEntry {
    RecordDriverInfo info;
    InputKind input = InputKind::Sine;
    double frequency = 440.0;  // for InputKind::Sine
    std::string path;          // for InputKind::Wav
};

struct DeviceTable {
    std::vector<OutputEntry> outputs;
    std::vector<RecordEntry> records;
    std::vector<CdDriveInfo> cdroms;
};

// The control-panel speaker mode a device of `channels` channels reports when the table does not
// say: 1 mono, 2 stereo, 4 quad, 5 surround, 6 5.1, 8 7.1, anything else raw.
FMOD_SPEAKERMODE speakerModeForChannels(int channels);

// Parses table text. Every problem is appended to `problems` (when not null) as
// "<origin>:<line>: <what>"; nothing is fatal.
DeviceTable parseDeviceTable(const std::string& text, const std::string& origin,
                             std::vector<std::string>* problems);

// Reads and parses the file; problems go to stderr. A file that cannot be read gives an empty
// table (and a line on stderr).
DeviceTable loadDeviceTable(const std::string& path);

}  // namespace pw::dev
