#include "topology.hpp"

#include <cstring>

#include "refs.hpp"

namespace pw::midi {

std::vector<MIDIEndpointRef> Topology::sources() const {
    std::vector<MIDIEndpointRef> refs;
    for (const Device& device : devices)
        for (const Entity& entity : device.entities)
            if (entity.source) refs.push_back(entity.source);
    return refs;
}

std::vector<MIDIEndpointRef> Topology::destinations() const {
    std::vector<MIDIEndpointRef> refs;
    for (const Device& device : devices)
        for (const Entity& entity : device.entities)
            if (entity.destination) refs.push_back(entity.destination);
    return refs;
}

const Device* Topology::findDevice(MIDIDeviceRef ref) const {
    if (refKind(ref) != RefKind::Device) return nullptr;
    for (const Device& device : devices)
        if (device.ref == ref) return &device;
    return nullptr;
}

const Entity* Topology::findEntity(MIDIObjectRef ref, const Device** owner) const {
    const RefKind kind = refKind(ref);
    if (kind != RefKind::Entity && kind != RefKind::Source && kind != RefKind::Destination) return nullptr;
    for (const Device& device : devices) {
        for (const Entity& entity : device.entities) {
            if (entity.ref == ref || entity.source == ref || entity.destination == ref) {
                if (owner) *owner = &device;
                return &entity;
            }
        }
    }
    return nullptr;
}

std::optional<std::string> objectProperty(const Topology& topology, MIDIObjectRef object, MIDIPropertyID property) {
    const Device* device = topology.findDevice(object);
    const Entity* entity = nullptr;
    if (!device) entity = topology.findEntity(object, &device);
    if (!device) return std::nullopt;
    // Names are the object's own; the rest belongs to the device and is inherited by its parts.
    switch (property) {
        case kMIDIPropertyName: return entity ? entity->name : device->name;
        case kMIDIPropertyManufacturer: return device->manufacturer;
        case kMIDIPropertyModel: return device->model;
        case kMIDIPropertyDeviceID: return device->deviceId;
        default: return std::nullopt;
    }
}

void copyTextCut(const std::string& text, char* buffer, std::size_t size) {
    std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
    // Step back over continuation bytes so the cut never splits a character.
    if (n < text.size())
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

}  // namespace pw::midi
