// The live clients and ports of the process, by reference.
//
// Thread safety: every function takes the registry's own lock, held only for lookups and never
// across a call into a client, a transport or a callback.
#pragma once

#include <memory>

#include "client.hpp"
#include "topology.hpp"

namespace pw::midi {

// Makes and starts a client; its reference, or 0 with *status set.
MIDIClientRef registerClient(std::unique_ptr<Transport> transport, OSStatus* status);
// Removes the client and its ports from the registry and gives it to the caller to shut down.
std::shared_ptr<Client> unregisterClient(MIDIClientRef ref);
std::shared_ptr<Client> findClient(MIDIClientRef ref);

MIDIPortRef newPortRef(MIDIClientRef client);
std::shared_ptr<Client> findPortClient(MIDIPortRef port);
void forgetPort(MIDIPortRef port);

// The system as it is now, through a live client's transport, or through a transport opened for
// this one look when there is none. Empty when the system cannot be reached.
Topology currentTopology();

}  // namespace pw::midi
