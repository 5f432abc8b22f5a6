#include "client.hpp"

#include <algorithm>
#include <pthread.h>

namespace pw::midi {

Client::Client(std::unique_ptr<Transport> transport) : m_transport(std::move(transport)) {}

Client::~Client() {
    // Only reached after shutdown (the reader holds the client while it runs); a reader that
    // let go last runs this itself.
    if (m_reader.joinable()) {
        if (std::this_thread::get_id() == m_reader.get_id())
            m_reader.detach();
        else
            m_reader.join();
    }
}

bool Client::start() {
    std::shared_ptr<Client> self = shared_from_this();
    try {
        std::lock_guard<std::mutex> guard(m_lock);
        m_reader = std::thread([self] { self->readerLoop(); });
        m_readerId = m_reader.get_id();
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void Client::shutdown() {
    std::unique_lock<std::mutex> lock(m_lock);
    if (m_stopped) return;
    m_stopped = true;
    m_connections.clear();
    waitForCallback(lock);
    std::vector<Port> ports;
    ports.swap(m_ports);
    const bool onReader = std::this_thread::get_id() == m_readerId;
    lock.unlock();
    m_transport->stop();
    for (const Port& port : ports) m_transport->deletePort(port.id);
    if (m_reader.joinable()) {
        if (onReader)
            m_reader.detach();
        else
            m_reader.join();
    }
}

OSStatus Client::addPort(MIDIPortRef ref, bool input, const std::string& name, MIDIReadProc proc, void* refCon) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_stopped) return kMIDIInvalidClient;
    }
    const int id = m_transport->createPort(input, name);
    if (id < 0) return static_cast<OSStatus>(id);
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_stopped) {
        m_transport->deletePort(id);
        return kMIDIInvalidClient;
    }
    m_ports.push_back(Port{ref, id, input, proc, refCon});
    return kMIDIOk;
}

OSStatus Client::removePort(MIDIPortRef ref) {
    std::unique_lock<std::mutex> lock(m_lock);
    auto it = std::find_if(m_ports.begin(), m_ports.end(), [ref](const Port& p) { return p.ref == ref; });
    if (it == m_ports.end()) return kMIDIInvalidPort;
    const Port port = *it;
    m_ports.erase(it);
    std::vector<MIDIEndpointRef> sources;
    for (const Connection& c : m_connections)
        if (c.port == ref && std::find(sources.begin(), sources.end(), c.source) == sources.end())
            sources.push_back(c.source);
    m_connections.erase(std::remove_if(m_connections.begin(), m_connections.end(),
                                       [ref](const Connection& c) { return c.port == ref; }),
                        m_connections.end());
    waitForCallback(lock);
    lock.unlock();
    for (MIDIEndpointRef source : sources) m_transport->unsubscribe(port.id, source);
    m_transport->deletePort(port.id);
    return kMIDIOk;
}

OSStatus Client::connect(MIDIPortRef portRef, MIDIEndpointRef source, void* context) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_stopped) return kMIDIInvalidClient;
    const Port* port = findPort(portRef);
    if (!port || !port->input) return kMIDIInvalidPort;
    // The first connection of a source subscribes the port to it; later ones share that. The
    // lock is held across the subscription so a racing disconnect cannot undo it halfway.
    if (connectionCount(portRef, source) == 0) {
        const OSStatus status = m_transport->subscribe(port->id, source);
        if (status != kMIDIOk) return status;
    }
    try {
        m_connections.push_back(Connection{portRef, source, context});
    } catch (const std::bad_alloc&) {
        if (connectionCount(portRef, source) == 0) m_transport->unsubscribe(port->id, source);
        return kMIDIOutOfResources;
    }
    return kMIDIOk;
}

OSStatus Client::disconnect(MIDIPortRef portRef, MIDIEndpointRef source) {
    std::unique_lock<std::mutex> lock(m_lock);
    if (m_stopped) return kMIDIInvalidClient;
    const Port* port = findPort(portRef);
    if (!port || !port->input) return kMIDIInvalidPort;
    if (connectionCount(portRef, source) == 0) return kMIDINoConnection;
    m_connections.erase(std::remove_if(m_connections.begin(), m_connections.end(),
                                       [&](const Connection& c) { return c.port == portRef && c.source == source; }),
                        m_connections.end());
    m_transport->unsubscribe(port->id, source);
    waitForCallback(lock);
    return kMIDIOk;
}

OSStatus Client::send(MIDIPortRef portRef, MIDIEndpointRef dest, const MIDIPacketList* list) {
    int id;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_stopped) return kMIDIInvalidClient;
        const Port* port = findPort(portRef);
        if (!port || port->input) return kMIDIInvalidPort;
        id = port->id;
    }
    // A port disposed from here on fails the send in the transport; the transport itself lives
    // as long as this client.
    std::lock_guard<std::mutex> guard(m_sendLock);
    return m_transport->send(id, dest, list);
}

void Client::readerLoop() {
    pthread_setname_np(pthread_self(), "midi-reader");
    std::vector<InputList> batch;
    while (m_transport->waitInput(batch)) {
        for (const InputList& input : batch) deliver(input);
        batch.clear();
    }
}

void Client::deliver(const InputList& input) {
    if (input.bytes.size() < kMIDIPacketListHeaderBytes) return;
    const auto* list = reinterpret_cast<const MIDIPacketList*>(input.bytes.data());
    MIDIPortRef portRef = 0;
    MIDIReadProc proc = nullptr;
    void* refCon = nullptr;
    std::vector<void*> contexts;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (const Port& port : m_ports)
            if (port.input && port.id == input.port) portRef = port.ref, proc = port.proc, refCon = port.refCon;
        if (!proc) return;
        for (const Connection& c : m_connections)
            if (c.port == portRef && c.source == input.source) contexts.push_back(c.context);
    }
    for (void* context : contexts) {
        {
            // A callback may end connections (its own included): each one is checked again
            // right before its turn, under the lock that disconnect takes.
            std::lock_guard<std::mutex> guard(m_lock);
            const bool live = !m_stopped && std::any_of(m_connections.begin(), m_connections.end(), [&](const Connection& c) {
                return c.port == portRef && c.source == input.source && c.context == context;
            });
            if (!live) continue;
            m_inCallback = true;
        }
        proc(list, refCon, context);
        std::lock_guard<std::mutex> guard(m_lock);
        m_inCallback = false;
        ++m_callbacksDone;
        m_callbackDone.notify_all();
    }
}

void Client::waitForCallback(std::unique_lock<std::mutex>& lock) {
    if (!m_inCallback || std::this_thread::get_id() == m_readerId) return;
    const std::uint64_t running = m_callbacksDone;
    m_callbackDone.wait(lock, [&] { return m_callbacksDone != running; });
}

const Client::Port* Client::findPort(MIDIPortRef ref) const {
    for (const Port& port : m_ports)
        if (port.ref == ref) return &port;
    return nullptr;
}

std::size_t Client::connectionCount(MIDIPortRef port, MIDIEndpointRef source) const {
    return static_cast<std::size_t>(std::count_if(m_connections.begin(), m_connections.end(), [&](const Connection& c) {
        return c.port == port && c.source == source;
    }));
}

}  // namespace pw::midi
