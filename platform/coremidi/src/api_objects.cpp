// Devices, entities, endpoints and their string properties: each call reads the system afresh.
#include "coremidi.hpp"
#include "refs.hpp"
#include "registry.hpp"

using namespace pw::midi;

namespace {

MIDIObjectRef at(const std::vector<MIDIObjectRef>& refs, ItemCount index) {
    return index < refs.size() ? refs[index] : 0;
}

}  // namespace

ItemCount MIDIGetNumberOfSources() { return currentTopology().sources().size(); }
ItemCount MIDIGetNumberOfDestinations() { return currentTopology().destinations().size(); }
ItemCount MIDIGetNumberOfDevices() { return currentTopology().devices.size(); }
MIDIEndpointRef MIDIGetSource(ItemCount index) { return at(currentTopology().sources(), index); }
MIDIEndpointRef MIDIGetDestination(ItemCount index) { return at(currentTopology().destinations(), index); }

MIDIDeviceRef MIDIGetDevice(ItemCount index) {
    const Topology topology = currentTopology();
    return index < topology.devices.size() ? topology.devices[index].ref : 0;
}

ItemCount MIDIDeviceGetNumberOfEntities(MIDIDeviceRef device) {
    const Topology topology = currentTopology();
    const Device* found = topology.findDevice(device);
    return found ? found->entities.size() : 0;
}

MIDIEntityRef MIDIDeviceGetEntity(MIDIDeviceRef device, ItemCount index) {
    const Topology topology = currentTopology();
    const Device* found = topology.findDevice(device);
    return found && index < found->entities.size() ? found->entities[index].ref : 0;
}

OSStatus MIDIEndpointGetEntity(MIDIEndpointRef endpoint, MIDIEntityRef* outEntity) {
    if (!outEntity) return kMIDIInvalidArgument;
    *outEntity = 0;
    const RefKind kind = refKind(endpoint);
    if (kind != RefKind::Source && kind != RefKind::Destination) return kMIDIUnknownObject;
    const Topology topology = currentTopology();
    const Entity* entity = topology.findEntity(endpoint, nullptr);
    if (!entity) return kMIDIUnknownObject;
    *outEntity = entity->ref;
    return kMIDIOk;
}

OSStatus MIDIEntityGetDevice(MIDIEntityRef entity, MIDIDeviceRef* outDevice) {
    if (!outDevice) return kMIDIInvalidArgument;
    *outDevice = 0;
    if (refKind(entity) != RefKind::Entity) return kMIDIUnknownObject;
    const Topology topology = currentTopology();
    const Device* device = nullptr;
    if (!topology.findEntity(entity, &device)) return kMIDIUnknownObject;
    *outDevice = device->ref;
    return kMIDIOk;
}

OSStatus MIDIObjectGetStringProperty(MIDIObjectRef object, MIDIPropertyID property, char* buffer, ByteCount size) {
    if (!buffer || size == 0) return kMIDIInvalidArgument;
    const std::optional<std::string> text = objectProperty(currentTopology(), object, property);
    if (!text) return kMIDIUnknownProperty;
    copyTextCut(*text, buffer, size);
    return kMIDIOk;
}
