// Packet lists in caller memory, and the cut of property texts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "coremidi.hpp"
#include "topology.hpp"

namespace {

TEST(PacketList, AddTakesWhatFitsAndRefusesTheRest) {
    struct Case {
        const char* what;
        std::size_t listBytes;
        std::size_t dataBytes;
        bool fits;
    };
    const Case cases[] = {
        {"the largest packet of a 64 KiB list", 65536, 65522, true},
        {"one byte more", 65536, 65523, false},
        {"the whole 64 KiB", 65536, 65536, false},
        {"no bytes", 65536, 0, false},
        {"one byte in a list with room for exactly one", 15, 1, true},
        {"one byte in a list one byte short", 14, 1, false},
    };
    std::vector<std::uint8_t> memory(70000);
    std::vector<std::uint8_t> data(70000, 0x42);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto* list = reinterpret_cast<MIDIPacketList*>(memory.data());
        MIDIPacket* packet = MIDIPacketListInit(list);
        packet = MIDIPacketListAdd(list, c.listBytes, packet, 0, c.dataBytes, data.data());
        EXPECT_EQ(c.fits, packet != nullptr);
        EXPECT_EQ(c.fits ? 1u : 0u, list->numPackets);
    }
}

TEST(PacketList, PacketsFollowOneAnotherPackedAndWalkBackInOrder) {
    const std::vector<std::vector<std::uint8_t>> packets = {{0x90, 0x3C, 0x64}, {0xF0, 1, 2, 3, 4, 0xF7}, {0xF8}};
    alignas(8) std::uint8_t memory[64];
    auto* list = reinterpret_cast<MIDIPacketList*>(memory);
    MIDIPacket* packet = MIDIPacketListInit(list);
    MIDITimeStamp time = 5;
    for (const auto& p : packets) packet = MIDIPacketListAdd(list, sizeof memory, packet, time++, p.size(), p.data());
    ASSERT_NE(nullptr, packet);
    ASSERT_EQ(3u, list->numPackets);
    // The layout is part of the interface: header 4 bytes, each packet 10 bytes plus its data.
    EXPECT_EQ(reinterpret_cast<std::uint8_t*>(packet), memory + 4 + (10 + 3) + (10 + 6));
    const MIDIPacket* walk = list->packet;
    for (std::size_t i = 0; i < packets.size(); ++i, walk = MIDIPacketNext(walk)) {
        const MIDITimeStamp stamp = walk->timeStamp;  // packed: read by value, never bound to a reference
        EXPECT_EQ(5 + i, stamp);
        const std::size_t length = walk->length;
        ASSERT_EQ(packets[i].size(), length);
        EXPECT_EQ(0, std::memcmp(packets[i].data(), walk->data, walk->length));
    }
    // A full list refuses the next packet and stays as it was.
    const std::uint8_t more[40] = {};
    EXPECT_EQ(nullptr, MIDIPacketListAdd(list, sizeof memory, packet, 0, sizeof more, more));
    EXPECT_EQ(3u, list->numPackets);
}

TEST(PropertyText, CutsOnACharacterBoundary) {
    struct Case {
        std::string text;
        std::size_t size;
        std::string expected;
    };
    const Case cases[] = {
        {"Deck", 63, "Deck"},
        {std::string(62, 'a'), 63, std::string(62, 'a')},
        {std::string(70, 'a'), 63, std::string(62, 'a')},
        {std::string(61, 'a') + "\xC3\xA9", 63, std::string(61, 'a')},                // é would need bytes 62-63
        {std::string(60, 'a') + "\xE2\x82\xAC", 63, std::string(60, 'a')},            // € would need 61-63
        {std::string(59, 'a') + "\xF0\x9F\x8E\xB5" + "b", 63, std::string(59, 'a')},  // a 4-byte character
        {std::string(60, 'a') + "\xC3\xA9" + "b", 63, std::string(60, 'a') + "\xC3\xA9"},
        {"abc", 1, ""},
    };
    for (const Case& c : cases) {
        char buffer[64];
        std::memset(buffer, 'Z', sizeof buffer);
        pw::midi::copyTextCut(c.text, buffer, c.size);
        EXPECT_EQ(c.expected, std::string(buffer)) << "cutting " << c.text.size() << " bytes to " << c.size;
    }
}

}  // namespace
