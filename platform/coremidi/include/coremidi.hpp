// The MIDI interface libQuorvalet calls: clients, ports, devices, entities, endpoints, string
// properties, packet lists, connections and sending, over the ALSA sequencer.
//
// Object model
// - A device is a sequencer client with ports (our own clients and the system client excepted);
//   each of its ports is an entity. An entity has a source when other clients may subscribe to
//   what the port sends, and a destination when they may send to it.
// - Devices, entities, sources and destinations are named by 32-bit references. A reference is
//   never 0 (0 means "none"), and survives a trip through a Java long: only its low 32 bits count.
// - Indexes (MIDIGetSource(i) ...) are positions in the current picture of the system, which every
//   call reads afresh: a device that comes or goes moves the indexes behind it.
//
// Back-ends
// - The ALSA sequencer (/dev/snd/seq). Without it there are no devices, and MIDIClientCreate fails
//   with kMIDINoServer.
// - The loopback back-end, when the environment variable PELLWARDEN_MIDI_LOOPBACK names a device
//   table (see loopback_table.hpp): scripted devices whose destinations send back to the source of
//   their own entity, so what is sent arrives as input on the client's reader thread. The variable
//   is read when a client is made while no other client is alive, and by queries made without one.
//
// Thread safety
// - Every call may be made from any thread, also concurrently and from inside a read callback.
//   References of disposed objects are refused with a status, never dereferenced.
// - MIDISend calls on one client are serialised; a send may block while the system's queues are
//   full, for at most about a second without progress, then gives up with kMIDISendFailed.
//
// Callback safety
// - Each client has one reader thread; every read callback of the client's input ports runs on it,
//   one packet list at a time.
// - MIDIPortDisconnectSource, MIDIPortDispose and MIDIClientDispose return only when no callback
//   for the connections they end is running, and none starts afterwards. Called from the reader
//   thread itself (inside a callback) they do not wait for the running callback: the caller is it.
//   So never call them while holding a lock that a read callback may wait for.
#pragma once

#include <cstddef>
#include <cstdint>

using OSStatus = std::int32_t;
using ItemCount = std::size_t;
using ByteCount = std::size_t;
using MIDITimeStamp = std::uint64_t;  // 0: at once
using MIDIObjectRef = std::uint32_t;
using MIDIClientRef = MIDIObjectRef;
using MIDIPortRef = MIDIObjectRef;
using MIDIDeviceRef = MIDIObjectRef;
using MIDIEntityRef = MIDIObjectRef;
using MIDIEndpointRef = MIDIObjectRef;

// Status codes: 0 success, negative failure; MIDIStatusText names each.
enum : OSStatus {
    kMIDIOk = 0,
    kMIDIInvalidArgument = -1,   // null pointer, empty name, packet list that does not parse
    kMIDIInvalidClient = -2,     // unknown or disposed client
    kMIDIInvalidPort = -3,       // unknown or disposed port, or a port of the wrong kind
    kMIDIUnknownObject = -4,     // no such device, entity or endpoint (any more)
    kMIDIUnknownProperty = -5,   // the object does not give this property
    kMIDINoConnection = -6,      // the source is not connected to the port
    kMIDINoServer = -7,          // no MIDI system to talk to
    kMIDISendFailed = -8,        // the system refused or did not take the data
    kMIDIOutOfResources = -9,    // allocation, thread or port creation failed
};
const char* MIDIStatusText(OSStatus status);

// String properties.
using MIDIPropertyID = int;
enum : MIDIPropertyID {
    kMIDIPropertyName = 1,
    kMIDIPropertyManufacturer = 2,
    kMIDIPropertyModel = 3,
    kMIDIPropertyDeviceID = 4,
};

// ---- Packet lists ----
// Packed layout: a list is a 4-byte packet count and the packets back to back; a packet is an
// 8-byte time stamp, a 16-bit length and that many data bytes. The next packet starts right after
// the data of the one before (MIDIPacketNext). Lists live in caller memory.
#pragma pack(push, 1)
struct MIDIPacket {
    MIDITimeStamp timeStamp;
    std::uint16_t length;
    std::uint8_t data[1];  // `length` bytes
};
struct MIDIPacketList {
    std::uint32_t numPackets;
    MIDIPacket packet[1];  // `numPackets` packets
};
#pragma pack(pop)
constexpr ByteCount kMIDIPacketListHeaderBytes = 4;
constexpr ByteCount kMIDIPacketHeaderBytes = 10;

// Empties the list; returns where its first packet goes.
MIDIPacket* MIDIPacketListInit(MIDIPacketList* list);
// Appends one packet of `nData` bytes after `current` (the result of the last Init or Add) to a list
// of `listSize` bytes. Returns the new packet, or null when the packet does not fit, when `nData`
// is 0 or more than 65535, or on a null argument. Packets are never merged.
MIDIPacket* MIDIPacketListAdd(MIDIPacketList* list, ByteCount listSize, MIDIPacket* current,
                              MIDITimeStamp time, ByteCount nData, const std::uint8_t* data);
inline const MIDIPacket* MIDIPacketNext(const MIDIPacket* packet) {
    return reinterpret_cast<const MIDIPacket*>(reinterpret_cast<const std::uint8_t*>(packet) +
                                               kMIDIPacketHeaderBytes + packet->length);
}

// ---- Clients and ports ----
// Called on the client's reader thread with one packet list, the port's context and the context
// given when the source was connected.
using MIDIReadProc = void (*)(const MIDIPacketList* list, void* readProcRefCon, void* srcConnRefCon);

OSStatus MIDIClientCreate(const char* name, MIDIClientRef* outClient);
// Ends the client's input delivery and disposes its ports, then the client.
OSStatus MIDIClientDispose(MIDIClientRef client);
OSStatus MIDIInputPortCreate(MIDIClientRef client, const char* name, MIDIReadProc readProc,
                             void* refCon, MIDIPortRef* outPort);
OSStatus MIDIOutputPortCreate(MIDIClientRef client, const char* name, MIDIPortRef* outPort);
OSStatus MIDIPortDispose(MIDIPortRef port);

// Connects a source to an input port; input from it reaches the port's read callback with
// `connRefCon`. A source may be connected more than once (each connection gets every packet).
OSStatus MIDIPortConnectSource(MIDIPortRef port, MIDIEndpointRef source, void* connRefCon);
// Ends every connection of the source to the port.
OSStatus MIDIPortDisconnectSource(MIDIPortRef port, MIDIEndpointRef source);

// Sends each packet of the list to the destination through an output port, at once (time stamps
// are not honoured), bytes unchanged in order. The bytes are parsed as a MIDI stream: running
// status and System Exclusive messages may continue from one packet (and call) into the next
// while the destination stays the same.
OSStatus MIDISend(MIDIPortRef port, MIDIEndpointRef dest, const MIDIPacketList* list);

// ---- Devices, entities and endpoints ----
// Counts are 0 when there is nothing or no MIDI system; a getter gives 0 for an index out of range.
ItemCount MIDIGetNumberOfSources();
ItemCount MIDIGetNumberOfDestinations();
ItemCount MIDIGetNumberOfDevices();
MIDIEndpointRef MIDIGetSource(ItemCount index);
MIDIEndpointRef MIDIGetDestination(ItemCount index);
MIDIDeviceRef MIDIGetDevice(ItemCount index);
ItemCount MIDIDeviceGetNumberOfEntities(MIDIDeviceRef device);
MIDIEntityRef MIDIDeviceGetEntity(MIDIDeviceRef device, ItemCount index);
OSStatus MIDIEndpointGetEntity(MIDIEndpointRef endpoint, MIDIEntityRef* outEntity);
OSStatus MIDIEntityGetDevice(MIDIEntityRef entity, MIDIDeviceRef* outDevice);

// Writes the property's UTF-8 text into `buffer` (`size` bytes), zero-terminated, cut on a
// character boundary when it does not fit. Endpoints give their own name and their device's
// manufacturer and model; no object gives a device identifier unless its back-end has one.
// Returns kMIDIUnknownProperty (and writes nothing) when the object does not give the property.
OSStatus MIDIObjectGetStringProperty(MIDIObjectRef object, MIDIPropertyID property, char* buffer,
                                     ByteCount size);
