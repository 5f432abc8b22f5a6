// A client's connection to the MIDI system, one implementation per back-end (ALSA sequencer,
// loopback). The generic client (client.hpp) keeps ports, connections and the reader thread; a
// transport only moves bytes and describes the system.
//
// Thread safety
// - waitInput is called by the client's reader thread only.
// - Every other call may come from any thread, concurrently with waitInput and with each other;
//   each implementation serialises what its system needs.
// - stop() may be called from any thread, also the reader's; afterwards waitInput returns false
//   at once and sends give up.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "coremidi.hpp"
#include "topology.hpp"

namespace pw::midi {

// Input for one port from one source: `bytes` holds a packet list.
struct InputList {
    int port = -1;
    MIDIEndpointRef source = 0;
    std::vector<std::uint8_t> bytes;
};

class Transport {
public:
    virtual ~Transport() = default;

    virtual Topology topology() = 0;
    // A port of the system for an input or output port of the client: its id, or a negative status.
    virtual int createPort(bool input, const std::string& name) = 0;
    virtual void deletePort(int port) = 0;
    // Lets input from `source` reach input port `port`; called once per pair while connected.
    virtual OSStatus subscribe(int port, MIDIEndpointRef source) = 0;
    virtual OSStatus unsubscribe(int port, MIDIEndpointRef source) = 0;
    virtual OSStatus send(int port, MIDIEndpointRef dest, const MIDIPacketList* list) = 0;

    // Blocks until input arrives (appended to `out`) or stop(); false once stopped.
    virtual bool waitInput(std::vector<InputList>& out) = 0;
    virtual void stop() = 0;
};

// A transport on the back-end the environment selects (see coremidi.hpp), or null with *status
// set when the system cannot be reached.
std::unique_ptr<Transport> openTransport(const std::string& clientName, OSStatus* status);

// Back-end constructors (alsa_transport.cpp, loopback_transport.cpp).
std::unique_ptr<Transport> openAlsaTransport(const std::string& clientName, OSStatus* status);
// Null when no loopback table is selected.
std::unique_ptr<Transport> openLoopbackTransport(OSStatus* status);

// A packet list of the given packets, each with time stamp `time` (for transports that gather input).
void appendPacket(std::vector<std::uint8_t>& list, MIDITimeStamp time, const std::uint8_t* data, std::size_t length);

}  // namespace pw::midi
