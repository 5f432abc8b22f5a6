// The loopback back-end: a device table (loopback_table.hpp) whose destinations send back to the
// sources of their own entities. All clients of the process share one loopback system while any
// of them is alive, so one client may hear what another sends.
//
// Lock order: the system's lock, then a transport's queue lock. Neither is held while a read
// callback runs: callbacks run on the reader threads after waitInput has returned.
#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>

#include "loopback_table.hpp"
#include "refs.hpp"
#include "transport.hpp"

namespace pw::midi {
namespace {

constexpr const char* kTableVariable = "PELLWARDEN_MIDI_LOOPBACK";

class LoopbackTransport;

struct LoopbackSystem {
    explicit LoopbackSystem(LoopbackTable t) : table(std::move(t)) {}

    struct Subscription {
        LoopbackTransport* transport;
        int port;
        MIDIEndpointRef source;
    };
    struct Pending {
        std::vector<std::uint8_t> list;
        unsigned packets = 0;
    };

    const LoopbackTable table;  // never changes
    std::mutex lock;            // guards what follows
    std::vector<Subscription> subscriptions;
    std::map<MIDIEndpointRef, Pending> pending;
};

std::mutex g_systemLock;
std::weak_ptr<LoopbackSystem> g_system;

class LoopbackTransport final : public Transport {
public:
    explicit LoopbackTransport(std::shared_ptr<LoopbackSystem> system) : m_system(std::move(system)) {}

    ~LoopbackTransport() override {
        std::lock_guard<std::mutex> guard(m_system->lock);
        auto& subs = m_system->subscriptions;
        subs.erase(std::remove_if(subs.begin(), subs.end(), [this](const auto& s) { return s.transport == this; }),
                   subs.end());
    }

    Topology topology() override { return m_system->table.topology; }

    int createPort(bool, const std::string&) override {
        std::lock_guard<std::mutex> guard(m_queueLock);
        return m_nextPort++;
    }

    void deletePort(int port) override {
        std::lock_guard<std::mutex> guard(m_system->lock);
        auto& subs = m_system->subscriptions;
        subs.erase(std::remove_if(subs.begin(), subs.end(),
                                  [&](const auto& s) { return s.transport == this && s.port == port; }),
                   subs.end());
    }

    OSStatus subscribe(int port, MIDIEndpointRef source) override {
        if (!m_system->table.topology.findEntity(source, nullptr)) return kMIDIUnknownObject;
        std::lock_guard<std::mutex> guard(m_system->lock);
        m_system->subscriptions.push_back(LoopbackSystem::Subscription{this, port, source});
        return kMIDIOk;
    }

    OSStatus unsubscribe(int port, MIDIEndpointRef source) override {
        std::lock_guard<std::mutex> guard(m_system->lock);
        auto& subs = m_system->subscriptions;
        subs.erase(std::remove_if(subs.begin(), subs.end(),
                                  [&](const auto& s) { return s.transport == this && s.port == port && s.source == source; }),
                   subs.end());
        return kMIDIOk;
    }

    OSStatus send(int, MIDIEndpointRef dest, const MIDIPacketList* list) override {
        const Device* device = nullptr;
        const Entity* entity = m_system->table.topology.findEntity(dest, &device);
        if (!entity || entity->destination != dest) return kMIDIUnknownObject;
        {
            std::lock_guard<std::mutex> guard(m_queueLock);
            if (m_stopped) return kMIDISendFailed;
        }
        if (!entity->source || list->numPackets == 0) return kMIDIOk;
        const unsigned batch = m_system->table.batch[refMajor(dest)][refMinor(dest)];

        std::lock_guard<std::mutex> guard(m_system->lock);
        LoopbackSystem::Pending& pending = m_system->pending[entity->source];
        const MIDIPacket* packet = list->packet;
        for (std::uint32_t i = 0; i < list->numPackets; ++i, packet = MIDIPacketNext(packet)) {
            appendPacket(pending.list, packet->timeStamp, packet->data, packet->length);
            ++pending.packets;
        }
        if (pending.packets < batch) return kMIDIOk;
        for (const auto& s : m_system->subscriptions)
            if (s.source == entity->source) s.transport->push(InputList{s.port, s.source, pending.list});
        pending = LoopbackSystem::Pending{};
        return kMIDIOk;
    }

    bool waitInput(std::vector<InputList>& out) override {
        std::unique_lock<std::mutex> lock(m_queueLock);
        m_inputReady.wait(lock, [this] { return m_stopped || !m_queue.empty(); });
        if (m_stopped) return false;
        while (!m_queue.empty()) {
            out.push_back(std::move(m_queue.front()));
            m_queue.pop_front();
        }
        return true;
    }

    void stop() override {
        std::lock_guard<std::mutex> guard(m_queueLock);
        m_stopped = true;
        m_inputReady.notify_all();
    }

    void push(InputList input) {
        std::lock_guard<std::mutex> guard(m_queueLock);
        if (m_stopped) return;
        m_queue.push_back(std::move(input));
        m_inputReady.notify_all();
    }

private:
    const std::shared_ptr<LoopbackSystem> m_system;
    std::mutex m_queueLock;  // guards what follows
    std::condition_variable m_inputReady;
    std::deque<InputList> m_queue;
    bool m_stopped = false;
    int m_nextPort = 0;
};

}  // namespace

std::unique_ptr<Transport> openLoopbackTransport(OSStatus* status) {
    std::lock_guard<std::mutex> guard(g_systemLock);
    std::shared_ptr<LoopbackSystem> system = g_system.lock();
    if (!system) {
        const char* path = std::getenv(kTableVariable);
        if (!path || !*path) return nullptr;
        system = std::make_shared<LoopbackSystem>(loadLoopbackTable(path));
        g_system = system;
    }
    *status = kMIDIOk;
    return std::make_unique<LoopbackTransport>(std::move(system));
}

}  // namespace pw::midi
