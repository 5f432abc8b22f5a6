#include <cstring>

#include "coremidi.hpp"

MIDIPacket* MIDIPacketListInit(MIDIPacketList* list) {
    if (!list) return nullptr;
    list->numPackets = 0;
    return list->packet;
}

MIDIPacket* MIDIPacketListAdd(MIDIPacketList* list, ByteCount listSize, MIDIPacket* current, MIDITimeStamp time,
                              ByteCount nData, const std::uint8_t* data) {
    if (!list || !current || !data || nData == 0 || nData > 0xFFFF) return nullptr;
    auto* base = reinterpret_cast<std::uint8_t*>(list);
    auto* next = reinterpret_cast<std::uint8_t*>(current);
    // `current` is the first slot of an empty list, or the last packet added.
    if (list->numPackets > 0) next += kMIDIPacketHeaderBytes + current->length;
    const auto used = static_cast<ByteCount>(next - base);
    if (used > listSize || listSize - used < kMIDIPacketHeaderBytes + nData) return nullptr;
    auto* packet = reinterpret_cast<MIDIPacket*>(next);
    packet->timeStamp = time;
    packet->length = static_cast<std::uint16_t>(nData);
    std::memcpy(next + kMIDIPacketHeaderBytes, data, nData);
    ++list->numPackets;
    return packet;
}
