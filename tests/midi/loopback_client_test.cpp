// Clients, ports, connections, sending and delivery on the loopback back-end.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <optional>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "coremidi.hpp"
#include "scoped_env.hpp"
#include "temp_dir.hpp"

namespace {

constexpr const char* kTable =
    "device name=\"Pad\" manufacturer=\"Acme\" model=\"P1\"\n"
    "entity name=\"Pads\" source destination\n"
    "entity name=\"Out only\" destination\n"
    "device name=\"Knob box\"\n"
    "entity name=\"Knobs\" source destination\n";

// What a read callback saw: each list as a vector of packets.
struct Inbox {
    std::mutex lock;
    std::condition_variable arrived;
    std::vector<std::vector<std::vector<std::uint8_t>>> lists;
    std::thread::id thread;
    std::function<void()> during;  // runs inside the callback, after recording

    static void readProc(const MIDIPacketList* list, void*, void* context) {
        auto* inbox = static_cast<Inbox*>(context);
        std::vector<std::vector<std::uint8_t>> packets;
        const MIDIPacket* p = list->packet;
        for (std::uint32_t i = 0; i < list->numPackets; ++i, p = MIDIPacketNext(p))
            packets.emplace_back(p->data, p->data + p->length);
        std::function<void()> during;
        {
            std::lock_guard<std::mutex> guard(inbox->lock);
            inbox->lists.push_back(std::move(packets));
            inbox->thread = std::this_thread::get_id();
            during = inbox->during;
            inbox->arrived.notify_all();
        }
        if (during) during();
    }

    bool waitFor(std::size_t lists) {
        std::unique_lock<std::mutex> guard(lock);
        return arrived.wait_for(guard, std::chrono::seconds(10), [&] { return this->lists.size() >= lists; });
    }
    std::size_t count() {
        std::lock_guard<std::mutex> guard(lock);
        return lists.size();
    }
};

class LoopbackClient : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string path = dir.path() + "/midi.table";
        std::ofstream(path) << kTable;
        env.emplace("PELLWARDEN_MIDI_LOOPBACK", path);
        ASSERT_EQ(kMIDIOk, MIDIClientCreate("test", &client));
        ASSERT_EQ(kMIDIOk, MIDIInputPortCreate(client, "in", &Inbox::readProc, nullptr, &inPort));
        ASSERT_EQ(kMIDIOk, MIDIOutputPortCreate(client, "out", &outPort));
    }
    void TearDown() override {
        if (client) MIDIClientDispose(client);
    }

    OSStatus send(MIDIEndpointRef dest, const std::vector<std::vector<std::uint8_t>>& packets) {
        std::vector<std::uint8_t> memory(70000);
        auto* list = reinterpret_cast<MIDIPacketList*>(memory.data());
        MIDIPacket* p = MIDIPacketListInit(list);
        for (const auto& bytes : packets) p = MIDIPacketListAdd(list, memory.size(), p, 0, bytes.size(), bytes.data());
        return MIDISend(outPort, dest, list);
    }

    pw::test::TempDir dir{"pw-midi-"};
    // Outlive the client (disposed in TearDown), whose callbacks write into them.
    std::deque<Inbox> inboxes;
    std::optional<pw::test::ScopedEnv> env;
    MIDIClientRef client = 0;
    MIDIPortRef inPort = 0;
    MIDIPortRef outPort = 0;
};

TEST_F(LoopbackClient, ListsTheTableWithPropertiesAndNavigation) {
    ASSERT_EQ(2u, MIDIGetNumberOfSources());
    ASSERT_EQ(3u, MIDIGetNumberOfDestinations());
    ASSERT_EQ(2u, MIDIGetNumberOfDevices());
    EXPECT_EQ(0u, MIDIGetSource(2));
    EXPECT_EQ(0u, MIDIGetDevice(2));
    char text[64];
    struct Case {
        MIDIObjectRef object;
        MIDIPropertyID property;
        OSStatus status;
        const char* text;
    };
    const MIDIEndpointRef pads = MIDIGetSource(0);
    const MIDIEndpointRef outOnly = MIDIGetDestination(1);
    const Case cases[] = {
        {pads, kMIDIPropertyName, kMIDIOk, "Pads"},
        {pads, kMIDIPropertyModel, kMIDIOk, "P1"},  // the device's, inherited
        {outOnly, kMIDIPropertyName, kMIDIOk, "Out only"},
        {MIDIGetDevice(0), kMIDIPropertyName, kMIDIOk, "Pad"},
        {MIDIGetDevice(1), kMIDIPropertyModel, kMIDIUnknownProperty, nullptr},
        {MIDIGetDevice(0), kMIDIPropertyDeviceID, kMIDIUnknownProperty, nullptr},
        {0x06ABCDEF, kMIDIPropertyName, kMIDIUnknownProperty, nullptr},
    };
    for (const Case& c : cases) {
        std::strcpy(text, "unchanged");
        EXPECT_EQ(c.status, MIDIObjectGetStringProperty(c.object, c.property, text, sizeof text));
        EXPECT_STREQ(c.text ? c.text : "unchanged", text);
    }
    MIDIEntityRef entity = 0;
    MIDIDeviceRef device = 0;
    ASSERT_EQ(kMIDIOk, MIDIEndpointGetEntity(outOnly, &entity));
    EXPECT_EQ(MIDIDeviceGetEntity(MIDIGetDevice(0), 1), entity);
    ASSERT_EQ(kMIDIOk, MIDIEntityGetDevice(entity, &device));
    EXPECT_EQ(MIDIGetDevice(0), device);
    EXPECT_EQ(kMIDIUnknownObject, MIDIEndpointGetEntity(device, &entity));
    EXPECT_EQ(0u, entity);
}

TEST_F(LoopbackClient, SentListComesBackAsOneListOnTheReaderThread) {
    Inbox& inbox = inboxes.emplace_back();
    ASSERT_EQ(kMIDIOk, MIDIPortConnectSource(inPort, MIDIGetSource(0), &inbox));
    const std::vector<std::vector<std::uint8_t>> packets = {{0x90, 60, 100}, {0xF0, 1, 2, 0xF7}, {0x80, 60, 0}};
    ASSERT_EQ(kMIDIOk, send(MIDIGetDestination(0), packets));
    ASSERT_TRUE(inbox.waitFor(1));
    EXPECT_EQ(packets, inbox.lists[0]);
    EXPECT_NE(std::this_thread::get_id(), inbox.thread);
    // What goes to a destination without a source of its own is dropped; another source is silent.
    ASSERT_EQ(kMIDIOk, send(MIDIGetDestination(1), packets));
    ASSERT_EQ(kMIDIOk, send(MIDIGetDestination(2), packets));
    ASSERT_EQ(kMIDIOk, send(MIDIGetDestination(0), {{0xFE}}));
    ASSERT_TRUE(inbox.waitFor(2));
    EXPECT_EQ((std::vector<std::vector<std::uint8_t>>{{0xFE}}), inbox.lists[1]);
}

TEST_F(LoopbackClient, RefusesWhatIsNotThere) {
    Inbox& inbox = inboxes.emplace_back();
    EXPECT_EQ(kMIDIUnknownObject, MIDIPortConnectSource(inPort, MIDIGetDestination(0), &inbox));
    EXPECT_EQ(kMIDIInvalidPort, MIDIPortConnectSource(outPort, MIDIGetSource(0), &inbox));
    EXPECT_EQ(kMIDINoConnection, MIDIPortDisconnectSource(inPort, MIDIGetSource(0)));
    EXPECT_EQ(kMIDIUnknownObject, send(MIDIGetSource(0), {{0xF8}}));
    EXPECT_EQ(kMIDIInvalidPort, MIDIPortConnectSource(0, MIDIGetSource(0), &inbox));
    ASSERT_EQ(kMIDIOk, MIDIPortDispose(outPort));
    EXPECT_EQ(kMIDIInvalidPort, send(MIDIGetDestination(0), {{0xF8}}));
    EXPECT_EQ(kMIDIInvalidPort, MIDIPortDispose(outPort));
    ASSERT_EQ(kMIDIOk, MIDIClientDispose(client));
    EXPECT_EQ(kMIDIInvalidClient, MIDIClientDispose(client));
    EXPECT_EQ(kMIDIInvalidPort, MIDIPortConnectSource(inPort, MIDIGetSource(0), &inbox));
    client = 0;
}

TEST_F(LoopbackClient, DisconnectWaitsForTheRunningCallback) {
    Inbox& inbox = inboxes.emplace_back();
    std::atomic<bool> release{false};
    std::atomic<bool> callbackEnded{false};
    inbox.during = [&] {
        while (!release.load()) std::this_thread::yield();
        callbackEnded.store(true);
    };
    ASSERT_EQ(kMIDIOk, MIDIPortConnectSource(inPort, MIDIGetSource(0), &inbox));
    ASSERT_EQ(kMIDIOk, send(MIDIGetDestination(0), {{0xF8}}));
    ASSERT_TRUE(inbox.waitFor(1));  // the callback now spins until released
    std::atomic<bool> disconnected{false};
    std::thread closer([&] {
        EXPECT_EQ(kMIDIOk, MIDIPortDisconnectSource(inPort, MIDIGetSource(0)));
        // By contract the callback has ended before disconnect returns.
        EXPECT_TRUE(callbackEnded.load());
        disconnected.store(true);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    release.store(true);
    closer.join();
    EXPECT_TRUE(disconnected.load());
    ASSERT_EQ(kMIDIOk, send(MIDIGetDestination(0), {{0xF9}}));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(1u, inbox.count());
}

TEST_F(LoopbackClient, ACallbackMayEndItsOwnConnectionAndTheClient) {
    Inbox& first = inboxes.emplace_back();
    Inbox& second = inboxes.emplace_back();
    // Two connections of one source: the first callback ends both, so the second never hears.
    first.during = [&] { EXPECT_EQ(kMIDIOk, MIDIPortDisconnectSource(inPort, MIDIGetSource(0))); };
    ASSERT_EQ(kMIDIOk, MIDIPortConnectSource(inPort, MIDIGetSource(0), &first));
    ASSERT_EQ(kMIDIOk, MIDIPortConnectSource(inPort, MIDIGetSource(0), &second));
    ASSERT_EQ(kMIDIOk, send(MIDIGetDestination(0), {{0xF8}}));
    ASSERT_TRUE(first.waitFor(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(0u, second.count());

    Inbox& knobs = inboxes.emplace_back();
    std::atomic<bool> disposed{false};
    knobs.during = [&] {
        EXPECT_EQ(kMIDIOk, MIDIClientDispose(client));
        disposed.store(true);
    };
    ASSERT_EQ(kMIDIOk, MIDIPortConnectSource(inPort, MIDIGetSource(1), &knobs));
    ASSERT_EQ(kMIDIOk, send(MIDIGetDestination(2), {{0xFA}}));
    ASSERT_TRUE(knobs.waitFor(1));
    while (!disposed.load()) std::this_thread::yield();
    EXPECT_EQ(kMIDIInvalidClient, MIDIClientDispose(client));
    client = 0;
}

TEST_F(LoopbackClient, SendingWhileAnotherThreadDisposesIsSafe) {
    for (int round = 0; round < 20; ++round) {
        Inbox& inbox = inboxes.emplace_back();
        ASSERT_EQ(kMIDIOk, MIDIPortConnectSource(inPort, MIDIGetSource(0), &inbox));
        std::atomic<int> refused{0};
        std::thread sender([&] {
            for (int i = 0; i < 500; ++i)
                if (send(MIDIGetDestination(0), {{0x90, static_cast<std::uint8_t>(i & 0x7F), 1}}) != kMIDIOk) ++refused;
        });
        inbox.waitFor(1);
        ASSERT_EQ(kMIDIOk, MIDIClientDispose(client));
        const std::size_t seen = inbox.count();
        sender.join();
        // No callback after the dispose returned; later sends are refused, not lost in freed memory.
        EXPECT_EQ(seen, inbox.count());
        ASSERT_EQ(kMIDIOk, MIDIClientCreate("test", &client));
        ASSERT_EQ(kMIDIOk, MIDIInputPortCreate(client, "in", &Inbox::readProc, nullptr, &inPort));
        ASSERT_EQ(kMIDIOk, MIDIOutputPortCreate(client, "out", &outPort));
    }
}

}  // namespace
