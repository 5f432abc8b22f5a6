// The loopback back-end's device table: a text file that stands in for the MIDI system in tests.
//
// One entry per line, `#` starts a comment; values may be quoted with "" (a quoted value may hold
// spaces and any UTF-8). Keys left out are properties the object does not give.
//   device name="DJ-2" manufacturer="Acme" model="DJ-2 MkII" id="A-1"
//   entity name="Deck A" source destination
//   entity name="Lights" destination
//   entity name="Spare"
//   entity name="Pads" source destination batch=3
// An entity belongs to the device above it. `source` and `destination` give it those endpoints.
// What is sent to an entity's destination comes back from its own source (and is dropped when it
// has none); `batch=N` holds that input back until N packets are waiting and delivers them as one
// packet list (default 1: each send's list as it was sent).
// Parsing is lenient: a bad line or key is reported with its line number and skipped.
#pragma once

#include <string>
#include <vector>

#include "topology.hpp"

namespace pw::midi {

struct LoopbackTable {
    Topology topology;
    // Per device, per entity: the batch size of its loop.
    std::vector<std::vector<unsigned>> batch;
};

// Problems go to `problems` as "<origin>:<line>: <what>".
LoopbackTable parseLoopbackTable(const std::string& text, const std::string& origin, std::vector<std::string>* problems);
// Reads the file; problems (an unreadable file included) go to stderr.
LoopbackTable loadLoopbackTable(const std::string& path);

}  // namespace pw::midi
