// The ALSA sequencer back-end: on a machine without a sequencer, and through "Midi Through" on one
// that has it (snd-seq-dummy).
#include <gtest/gtest.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "coremidi.hpp"
#include "scoped_env.hpp"

namespace {

bool haveSequencer() { return access("/dev/snd/seq", F_OK) == 0; }

TEST(AlsaBackend, WithoutASequencerThereIsNothingAndNoClient) {
    if (haveSequencer()) GTEST_SKIP() << "this machine has a sequencer";
    pw::test::ScopedEnv env("PELLWARDEN_MIDI_LOOPBACK", std::nullopt);
    MIDIClientRef client = 123;
    EXPECT_EQ(kMIDINoServer, MIDIClientCreate("test", &client));
    EXPECT_EQ(0u, client);
    EXPECT_EQ(0u, MIDIGetNumberOfSources());
    EXPECT_EQ(0u, MIDIGetNumberOfDestinations());
    EXPECT_EQ(0u, MIDIGetNumberOfDevices());
    EXPECT_EQ(0u, MIDIGetSource(0));
}

struct Received {
    std::mutex lock;
    std::condition_variable arrived;
    std::vector<std::uint8_t> bytes;
    static void readProc(const MIDIPacketList* list, void*, void* context) {
        auto* self = static_cast<Received*>(context);
        std::lock_guard<std::mutex> guard(self->lock);
        const MIDIPacket* p = list->packet;
        for (std::uint32_t i = 0; i < list->numPackets; ++i, p = MIDIPacketNext(p))
            self->bytes.insert(self->bytes.end(), p->data, p->data + p->length);
        self->arrived.notify_all();
    }
};

TEST(AlsaBackend, MidiThroughGivesBackWhatIsSent) {
    if (!haveSequencer()) GTEST_SKIP() << "no /dev/snd/seq (load snd-seq-dummy to run this test)";
    pw::test::ScopedEnv env("PELLWARDEN_MIDI_LOOPBACK", std::nullopt);
    MIDIClientRef client = 0;
    MIDIPortRef in = 0;
    MIDIPortRef out = 0;
    ASSERT_EQ(kMIDIOk, MIDIClientCreate("test", &client));
    ASSERT_EQ(kMIDIOk, MIDIInputPortCreate(client, "in", &Received::readProc, nullptr, &in));
    ASSERT_EQ(kMIDIOk, MIDIOutputPortCreate(client, "out", &out));
    MIDIEndpointRef source = 0;
    MIDIEndpointRef dest = 0;
    char name[64];
    for (ItemCount i = 0; i < MIDIGetNumberOfSources(); ++i)
        if (MIDIObjectGetStringProperty(MIDIGetSource(i), kMIDIPropertyName, name, sizeof name) == kMIDIOk &&
            std::string(name) == "Midi Through Port-0")
            source = MIDIGetSource(i);
    for (ItemCount i = 0; i < MIDIGetNumberOfDestinations(); ++i)
        if (MIDIObjectGetStringProperty(MIDIGetDestination(i), kMIDIPropertyName, name, sizeof name) == kMIDIOk &&
            std::string(name) == "Midi Through Port-0")
            dest = MIDIGetDestination(i);
    ASSERT_NE(0u, source);
    ASSERT_NE(0u, dest);
    Received received;
    ASSERT_EQ(kMIDIOk, MIDIPortConnectSource(in, source, &received));
    std::vector<std::uint8_t> sent = {0x90, 0x3C, 0x64, 0xF0};
    for (int i = 0; i < 1000; ++i) sent.push_back(static_cast<std::uint8_t>(i & 0x7F));
    sent.push_back(0xF7);
    alignas(8) std::uint8_t memory[2048];
    auto* list = reinterpret_cast<MIDIPacketList*>(memory);
    MIDIPacketListAdd(list, sizeof memory, MIDIPacketListInit(list), 0, sent.size(), sent.data());
    ASSERT_EQ(kMIDIOk, MIDISend(out, dest, list));
    std::unique_lock<std::mutex> guard(received.lock);
    received.arrived.wait_for(guard, std::chrono::seconds(5), [&] { return received.bytes.size() >= sent.size(); });
    EXPECT_EQ(sent, received.bytes);
    guard.unlock();
    EXPECT_EQ(kMIDIOk, MIDIClientDispose(client));
}

}  // namespace
