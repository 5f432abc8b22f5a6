// The ALSA sequencer back-end. One sequencer client per MIDI client (named after it), opened
// non-blocking; a sequencer client with ports is a device, each of its exported ports an entity.
// Bytes are turned into sequencer events and back with ALSA's MIDI event coder.
//
// Thread safety: m_lock guards the sequencer handle and is held for single calls only; the reader
// sleeps in poll() without it, and a sender waiting for room in the queues waits without it too.
// The encoder belongs to the senders (serialised by the client), the decoder to the reader.
#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <set>

#include "alsa_coder.hpp"
#include "refs.hpp"
#include "transport.hpp"

namespace pw::midi {
namespace {

constexpr const char* kSequencerDevice = "/dev/snd/seq";
// Input list size at which the reader starts a new list.
constexpr std::size_t kInputListBytes = 65536;
// Lists the reader gathers before it delivers, so a flood of input cannot keep it from delivering.
constexpr std::size_t kDrainLists = 16;
// A send that makes no progress for this long gives up.
constexpr int kSendStallMs = 1000;
constexpr std::size_t kInputBufferBytes = 65536;

// Our own sequencer clients, left out of the devices.
std::mutex g_ownLock;
std::set<int> g_ownClients;

MIDITimeStamp now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<MIDITimeStamp>(ts.tv_sec) * 1000000000u + static_cast<MIDITimeStamp>(ts.tv_nsec);
}

class AlsaTransport final : public Transport {
public:
    AlsaTransport(snd_seq_t* seq, snd_midi_event_t* encoder, snd_midi_event_t* decoder, int wakeFd)
        : m_seq(seq), m_encoder(encoder), m_decoder(decoder), m_wakeFd(wakeFd), m_clientId(snd_seq_client_id(seq)) {
        std::lock_guard<std::mutex> guard(g_ownLock);
        g_ownClients.insert(m_clientId);
    }

    ~AlsaTransport() override {
        {
            std::lock_guard<std::mutex> guard(g_ownLock);
            g_ownClients.erase(m_clientId);
        }
        snd_seq_close(m_seq);
        snd_midi_event_free(m_encoder);
        snd_midi_event_free(m_decoder);
        close(m_wakeFd);
    }

    Topology topology() override {
        std::set<int> own;
        {
            std::lock_guard<std::mutex> guard(g_ownLock);
            own = g_ownClients;
        }
        snd_seq_client_info_t* client;
        snd_seq_port_info_t* port;
        snd_seq_client_info_alloca(&client);
        snd_seq_port_info_alloca(&port);
        snd_seq_client_info_set_client(client, -1);
        Topology topology;
        std::lock_guard<std::mutex> guard(m_lock);
        while (snd_seq_query_next_client(m_seq, client) >= 0) {
            const int id = snd_seq_client_info_get_client(client);
            if (id == SND_SEQ_CLIENT_SYSTEM || own.count(id)) continue;
            Device device;
            device.ref = makeRef(RefKind::Device, static_cast<std::uint32_t>(id), 0);
            device.name = snd_seq_client_info_get_name(client);
            device.model = device.name;
            snd_seq_port_info_set_client(port, id);
            snd_seq_port_info_set_port(port, -1);
            while (snd_seq_query_next_port(m_seq, port) >= 0) {
                const unsigned caps = snd_seq_port_info_get_capability(port);
                if (caps & SND_SEQ_PORT_CAP_NO_EXPORT) continue;
                const auto p = static_cast<std::uint32_t>(snd_seq_port_info_get_port(port));
                const auto c = static_cast<std::uint32_t>(id);
                Entity entity;
                entity.ref = makeRef(RefKind::Entity, c, p);
                entity.name = snd_seq_port_info_get_name(port);
                const unsigned readable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
                const unsigned writable = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
                if ((caps & readable) == readable) entity.source = makeRef(RefKind::Source, c, p);
                if ((caps & writable) == writable) entity.destination = makeRef(RefKind::Destination, c, p);
                device.entities.push_back(std::move(entity));
            }
            if (!device.entities.empty()) topology.devices.push_back(std::move(device));
        }
        return topology;
    }

    int createPort(bool input, const std::string& name) override {
        const unsigned caps = input ? SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE
                                    : SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
        std::lock_guard<std::mutex> guard(m_lock);
        const int port = snd_seq_create_simple_port(m_seq, name.c_str(), caps,
                                                    SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        return port >= 0 ? port : kMIDIOutOfResources;
    }

    void deletePort(int port) override {
        std::lock_guard<std::mutex> guard(m_lock);
        snd_seq_delete_simple_port(m_seq, port);
    }

    OSStatus subscribe(int port, MIDIEndpointRef source) override {
        std::lock_guard<std::mutex> guard(m_lock);
        const int err = snd_seq_connect_from(m_seq, port, static_cast<int>(refMajor(source)),
                                             static_cast<int>(refMinor(source)));
        return err >= 0 ? kMIDIOk : kMIDIUnknownObject;
    }

    OSStatus unsubscribe(int port, MIDIEndpointRef source) override {
        std::lock_guard<std::mutex> guard(m_lock);
        const int err = snd_seq_disconnect_from(m_seq, port, static_cast<int>(refMajor(source)),
                                                static_cast<int>(refMinor(source)));
        return err >= 0 ? kMIDIOk : kMIDINoConnection;
    }

    OSStatus send(int port, MIDIEndpointRef dest, const MIDIPacketList* list) override {
        // Running status and System Exclusive carry on between sends to the same destination.
        if (dest != m_lastDest) {
            snd_midi_event_reset_encode(m_encoder);
            m_lastDest = dest;
        }
        const MIDIPacket* packet = list->packet;
        for (std::uint32_t i = 0; i < list->numPackets; ++i, packet = MIDIPacketNext(packet)) {
            const OSStatus status = encodeBytes(m_encoder, packet->data, packet->length, [&](snd_seq_event_t* ev) {
                snd_seq_ev_set_source(ev, port);
                snd_seq_ev_set_dest(ev, static_cast<int>(refMajor(dest)), static_cast<int>(refMinor(dest)));
                snd_seq_ev_set_direct(ev);
                return output(ev);
            });
            if (status != kMIDIOk) return status;
        }
        return kMIDIOk;
    }

    bool waitInput(std::vector<InputList>& out) override {
        for (;;) {
            if (m_stopped.load(std::memory_order_acquire)) return false;
            pollfd fds[8];
            int count;
            {
                std::lock_guard<std::mutex> guard(m_lock);
                count = snd_seq_poll_descriptors(m_seq, fds, 7, POLLIN);
            }
            fds[count] = pollfd{m_wakeFd, POLLIN, 0};
            if (poll(fds, static_cast<nfds_t>(count + 1), -1) < 0 && errno != EINTR) return false;
            if (m_stopped.load(std::memory_order_acquire)) return false;
            if (drain(out)) return true;
        }
    }

    void stop() override {
        m_stopped.store(true, std::memory_order_release);
        const std::uint64_t one = 1;
        if (write(m_wakeFd, &one, sizeof one) < 0) {
            // The counter is far from full; nothing else can fail here.
        }
    }

private:
    OSStatus output(snd_seq_event_t* ev) {
        int waitedMs = 0;
        for (;;) {
            if (m_stopped.load(std::memory_order_acquire)) return kMIDISendFailed;
            int err;
            pollfd fds[8];
            int count = 0;
            {
                std::lock_guard<std::mutex> guard(m_lock);
                err = snd_seq_event_output_direct(m_seq, ev);
                if (err == -EAGAIN) count = snd_seq_poll_descriptors(m_seq, fds, 8, POLLOUT);
            }
            if (err >= 0) return kMIDIOk;
            if (err != -EAGAIN || waitedMs >= kSendStallMs) return kMIDISendFailed;
            // The queues are full: wait for room, a little at a time so a stop is seen.
            poll(fds, static_cast<nfds_t>(count), 50);
            waitedMs += 50;
        }
    }

    // Moves the waiting events (up to kDrainLists lists) into `out`; true when any MIDI came.
    bool drain(std::vector<InputList>& out) {
        bool any = false;
        std::lock_guard<std::mutex> guard(m_lock);
        while (out.size() < kDrainLists) {
            snd_seq_event_t* ev = nullptr;
            const int err = snd_seq_event_input(m_seq, &ev);
            if (err == -ENOSPC) continue;  // the kernel dropped input on overrun; go on with what came after
            if (err < 0 || !ev) break;
            const std::uint8_t* bytes = nullptr;
            const long length = decodeEvent(m_decoder, ev, m_decoded, &bytes);
            if (length <= 0 || length > 0xFFFF) continue;  // not MIDI (announcements), or too long for a packet
            const MIDIEndpointRef source =
                makeRef(RefKind::Source, ev->source.client, ev->source.port);
            const int port = ev->dest.port;
            if (out.empty() || out.back().port != port || out.back().source != source ||
                out.back().bytes.size() + static_cast<std::size_t>(length) > kInputListBytes)
                out.push_back(InputList{port, source, {}});
            appendPacket(out.back().bytes, now(), bytes, static_cast<std::size_t>(length));
            any = true;
        }
        return any;
    }

    std::mutex m_lock;
    snd_seq_t* const m_seq;
    snd_midi_event_t* const m_encoder;
    snd_midi_event_t* const m_decoder;
    const int m_wakeFd;
    const int m_clientId;
    std::atomic<bool> m_stopped{false};
    MIDIEndpointRef m_lastDest = 0;  // senders only
    std::uint8_t m_decoded[kDecodedBytes];  // reader only
};

}  // namespace

std::unique_ptr<Transport> openAlsaTransport(const std::string& clientName, OSStatus* status) {
    *status = kMIDINoServer;
    // Without the device node there is no sequencer; asking ALSA would only print its complaint.
    if (access(kSequencerDevice, F_OK) != 0) return nullptr;
    snd_seq_t* seq = nullptr;
    if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0) return nullptr;
    snd_midi_event_t* encoder = nullptr;
    snd_midi_event_t* decoder = nullptr;
    const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0 || snd_midi_event_new(kEncodeChunkBytes, &encoder) < 0 || !(decoder = newDecoder())) {
        if (wakeFd >= 0) close(wakeFd);
        if (encoder) snd_midi_event_free(encoder);
        snd_seq_close(seq);
        *status = kMIDIOutOfResources;
        return nullptr;
    }
    snd_seq_set_client_name(seq, clientName.c_str());
    snd_seq_set_input_buffer_size(seq, kInputBufferBytes);
    *status = kMIDIOk;
    return std::make_unique<AlsaTransport>(seq, encoder, decoder, wakeFd);
}

}  // namespace pw::midi
