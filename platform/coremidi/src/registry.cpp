#include "registry.hpp"

#include <map>
#include <mutex>

#include "refs.hpp"

namespace pw::midi {
namespace {

struct Registry {
    std::mutex lock;
    std::map<MIDIClientRef, std::shared_ptr<Client>> clients;
    std::map<MIDIPortRef, MIDIClientRef> ports;
    std::uint32_t nextSerial = 1;
};

Registry& registry() {
    static Registry* instance = new Registry;  // never destroyed: reader threads may outlive exit
    return *instance;
}

// A serial that no live object of the kind uses; the serials wrap after 16 million objects.
template <typename Map>
MIDIObjectRef freshRef(Registry& r, RefKind kind, const Map& live) {
    for (;;) {
        const MIDIObjectRef ref = makeSerialRef(kind, r.nextSerial++);
        if ((ref & kRefSerialMask) != 0 && live.count(ref) == 0) return ref;
    }
}

}  // namespace

MIDIClientRef registerClient(std::unique_ptr<Transport> transport, OSStatus* status) {
    auto client = std::make_shared<Client>(std::move(transport));
    if (!client->start()) {
        *status = kMIDIOutOfResources;
        return 0;
    }
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    const MIDIClientRef ref = freshRef(r, RefKind::Client, r.clients);
    r.clients.emplace(ref, std::move(client));
    *status = kMIDIOk;
    return ref;
}

std::shared_ptr<Client> unregisterClient(MIDIClientRef ref) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    auto it = r.clients.find(ref);
    if (it == r.clients.end()) return nullptr;
    std::shared_ptr<Client> client = std::move(it->second);
    r.clients.erase(it);
    for (auto p = r.ports.begin(); p != r.ports.end();)
        p = p->second == ref ? r.ports.erase(p) : std::next(p);
    return client;
}

std::shared_ptr<Client> findClient(MIDIClientRef ref) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    auto it = r.clients.find(ref);
    return it == r.clients.end() ? nullptr : it->second;
}

MIDIPortRef newPortRef(MIDIClientRef client) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    if (r.clients.count(client) == 0) return 0;
    const MIDIPortRef ref = freshRef(r, RefKind::Port, r.ports);
    r.ports.emplace(ref, client);
    return ref;
}

std::shared_ptr<Client> findPortClient(MIDIPortRef port) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    auto it = r.ports.find(port);
    if (it == r.ports.end()) return nullptr;
    auto client = r.clients.find(it->second);
    return client == r.clients.end() ? nullptr : client->second;
}

void forgetPort(MIDIPortRef port) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.ports.erase(port);
}

Topology currentTopology() {
    std::shared_ptr<Client> client;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> guard(r.lock);
        if (!r.clients.empty()) client = r.clients.begin()->second;
    }
    if (client) return client->topology();
    OSStatus status = kMIDIOk;
    std::unique_ptr<Transport> transport = openTransport("quorvalet", &status);
    if (!transport) return Topology{};
    Topology topology = transport->topology();
    transport->stop();
    return topology;
}

}  // namespace pw::midi
