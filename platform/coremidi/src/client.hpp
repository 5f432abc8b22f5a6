// A client: its transport, its ports, the connections of sources to its input ports, and the
// reader thread that hands input to the read callbacks.
//
// Ownership: shared between the registry (until disposed), the reader thread (until it ends) and
// any call in progress, so a call racing a dispose finds a stopped client, never a freed one. The
// transport closes when the last holder lets go.
//
// Thread safety: every member may be called from any thread. Callbacks run only on the reader
// thread; the ends of delivery (disconnect, port dispose, shutdown) wait for a callback in
// progress unless they are called from inside it (see coremidi.hpp).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "coremidi.hpp"
#include "transport.hpp"

namespace pw::midi {

class Client : public std::enable_shared_from_this<Client> {
public:
    explicit Client(std::unique_ptr<Transport> transport);
    ~Client();

    // Starts the reader thread; false when it cannot be started.
    bool start();
    // Ends delivery for good, stops and joins the reader (detaches it when called on it).
    void shutdown();

    OSStatus addPort(MIDIPortRef ref, bool input, const std::string& name, MIDIReadProc proc, void* refCon);
    OSStatus removePort(MIDIPortRef ref);
    OSStatus connect(MIDIPortRef port, MIDIEndpointRef source, void* context);
    OSStatus disconnect(MIDIPortRef port, MIDIEndpointRef source);
    OSStatus send(MIDIPortRef port, MIDIEndpointRef dest, const MIDIPacketList* list);
    Topology topology() { return m_transport->topology(); }

    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

private:
    struct Port {
        MIDIPortRef ref;
        int id;  // the transport's
        bool input;
        MIDIReadProc proc;
        void* refCon;
    };
    struct Connection {
        MIDIPortRef port;
        MIDIEndpointRef source;
        void* context;
    };

    void readerLoop();
    void deliver(const InputList& input);
    // With m_lock held: returns when no callback that was running at the call is still running
    // (at once on the reader thread itself).
    void waitForCallback(std::unique_lock<std::mutex>& lock);
    const Port* findPort(MIDIPortRef ref) const;
    std::size_t connectionCount(MIDIPortRef port, MIDIEndpointRef source) const;

    std::unique_ptr<Transport> m_transport;
    std::mutex m_sendLock;  // one send at a time on the transport

    std::mutex m_lock;  // guards everything below
    std::condition_variable m_callbackDone;
    std::vector<Port> m_ports;
    std::vector<Connection> m_connections;
    bool m_stopped = false;
    bool m_inCallback = false;
    std::uint64_t m_callbacksDone = 0;
    std::thread m_reader;
    std::thread::id m_readerId;
};

}  // namespace pw::midi
