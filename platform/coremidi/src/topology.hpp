// A picture of the MIDI system at one moment: devices with their entities, each entity with at
// most one source and one destination. Back-ends build it; the object calls read it.
//
// Thread safety: a plain value; each call builds its own.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "coremidi.hpp"

namespace pw::midi {

struct Entity {
    MIDIEntityRef ref = 0;
    std::optional<std::string> name;
    MIDIEndpointRef source = 0;       // 0: none
    MIDIEndpointRef destination = 0;  // 0: none
};

struct Device {
    MIDIDeviceRef ref = 0;
    std::optional<std::string> name;
    std::optional<std::string> manufacturer;
    std::optional<std::string> model;
    std::optional<std::string> deviceId;
    std::vector<Entity> entities;
};

struct Topology {
    std::vector<Device> devices;

    // Endpoints in index order: device by device, entity by entity.
    std::vector<MIDIEndpointRef> sources() const;
    std::vector<MIDIEndpointRef> destinations() const;

    const Device* findDevice(MIDIDeviceRef ref) const;
    // The entity of an entity, source or destination reference, with its device; null when none.
    const Entity* findEntity(MIDIObjectRef ref, const Device** owner) const;
};

// The text of a string property of any object of the picture; nullopt when the object is unknown
// or does not give the property.
std::optional<std::string> objectProperty(const Topology& topology, MIDIObjectRef object, MIDIPropertyID property);

// Copies UTF-8 text into `size` bytes, zero-terminated, cut before a character that does not fit
// whole. `size` must be at least 1.
void copyTextCut(const std::string& text, char* buffer, std::size_t size);

}  // namespace pw::midi
