// Clients, ports, connections and sending.
#include <string>

#include "coremidi.hpp"
#include "refs.hpp"
#include "registry.hpp"

using namespace pw::midi;

OSStatus MIDIClientCreate(const char* name, MIDIClientRef* outClient) {
    if (!name || !*name || !outClient) return kMIDIInvalidArgument;
    *outClient = 0;
    OSStatus status = kMIDIOk;
    std::unique_ptr<Transport> transport = openTransport(name, &status);
    if (!transport) return status;
    *outClient = registerClient(std::move(transport), &status);
    return status;
}

OSStatus MIDIClientDispose(MIDIClientRef client) {
    std::shared_ptr<Client> found = unregisterClient(client);
    if (!found) return kMIDIInvalidClient;
    found->shutdown();
    return kMIDIOk;
}

namespace {

OSStatus createPort(MIDIClientRef client, const char* name, bool input, MIDIReadProc proc, void* refCon,
                    MIDIPortRef* outPort) {
    if (!name || !*name || !outPort || (input && !proc)) return kMIDIInvalidArgument;
    *outPort = 0;
    std::shared_ptr<Client> found = findClient(client);
    if (!found) return kMIDIInvalidClient;
    const MIDIPortRef ref = newPortRef(client);
    if (!ref) return kMIDIInvalidClient;
    const OSStatus status = found->addPort(ref, input, name, proc, refCon);
    if (status != kMIDIOk) {
        forgetPort(ref);
        return status;
    }
    *outPort = ref;
    return kMIDIOk;
}

}  // namespace

OSStatus MIDIInputPortCreate(MIDIClientRef client, const char* name, MIDIReadProc readProc, void* refCon,
                             MIDIPortRef* outPort) {
    return createPort(client, name, true, readProc, refCon, outPort);
}

OSStatus MIDIOutputPortCreate(MIDIClientRef client, const char* name, MIDIPortRef* outPort) {
    return createPort(client, name, false, nullptr, nullptr, outPort);
}

OSStatus MIDIPortDispose(MIDIPortRef port) {
    std::shared_ptr<Client> client = findPortClient(port);
    if (!client) return kMIDIInvalidPort;
    forgetPort(port);
    return client->removePort(port);
}

OSStatus MIDIPortConnectSource(MIDIPortRef port, MIDIEndpointRef source, void* connRefCon) {
    if (refKind(source) != RefKind::Source) return kMIDIUnknownObject;
    std::shared_ptr<Client> client = findPortClient(port);
    if (!client) return kMIDIInvalidPort;
    return client->connect(port, source, connRefCon);
}

OSStatus MIDIPortDisconnectSource(MIDIPortRef port, MIDIEndpointRef source) {
    std::shared_ptr<Client> client = findPortClient(port);
    if (!client) return kMIDIInvalidPort;
    return client->disconnect(port, source);
}

OSStatus MIDISend(MIDIPortRef port, MIDIEndpointRef dest, const MIDIPacketList* list) {
    if (!list) return kMIDIInvalidArgument;
    if (refKind(dest) != RefKind::Destination) return kMIDIUnknownObject;
    std::shared_ptr<Client> client = findPortClient(port);
    if (!client) return kMIDIInvalidPort;
    return client->send(port, dest, list);
}
