#include "MidiTexts.hpp"

#include <cstdio>
#include <cstring>

namespace quorvalet {

PropertyText getObjectStringProperty(MIDIObjectRef object, MIDIPropertyID property) {
    PropertyText result;
    if (MIDIObjectGetStringProperty(object, property, result.text, kPropertyTextMax + 1) != kMIDIOk)
        std::strcpy(result.text, "?");
    return result;
}

void endpointLabel(MIDIEndpointRef endpoint, char (&out)[kLabelBytes]) {
    const PropertyText name = getObjectStringProperty(endpoint, kMIDIPropertyName);
    // Read as the system always has, though the label does not show it.
    (void)getObjectStringProperty(endpoint, kMIDIPropertyManufacturer);
    const PropertyText model = getObjectStringProperty(endpoint, kMIDIPropertyModel);
    std::snprintf(out, sizeof out, "%s - %s", model.text, name.text);
}

void deviceDescriptor(int index, MIDIDeviceRef device, char (&out)[kDescriptorBytes]) {
    const PropertyText id = getObjectStringProperty(device, kMIDIPropertyDeviceID);
    const PropertyText name = getObjectStringProperty(device, kMIDIPropertyName);
    const PropertyText manufacturer = getObjectStringProperty(device, kMIDIPropertyManufacturer);
    const PropertyText model = getObjectStringProperty(device, kMIDIPropertyModel);
    const auto entities = static_cast<int>(MIDIDeviceGetNumberOfEntities(device));
    std::snprintf(out, sizeof out, "index=%d;name=%s;manufacturer=%s;model=%s;id=%s;numEnt=%d", index, name.text,
                  manufacturer.text, model.text, id.text, entities);
}

bool endpointInfo(MIDIEndpointRef endpoint, char (&out)[kInfoBytes]) {
    if (!endpoint) return false;
    MIDIEntityRef entity = 0;
    MIDIDeviceRef device = 0;
    if (MIDIEndpointGetEntity(endpoint, &entity) != kMIDIOk || !entity) return false;
    if (MIDIEntityGetDevice(entity, &device) != kMIDIOk || !device) return false;
    const PropertyText id = getObjectStringProperty(device, kMIDIPropertyDeviceID);
    const auto entities = static_cast<int>(MIDIDeviceGetNumberOfEntities(device));
    const PropertyText name = getObjectStringProperty(device, kMIDIPropertyName);
    const PropertyText model = getObjectStringProperty(device, kMIDIPropertyModel);
    const PropertyText manufacturer = getObjectStringProperty(device, kMIDIPropertyManufacturer);
    std::snprintf(out, sizeof out, "name=%s;manufacturer=%s;model=%s;id=%s;numEnt=%d", name.text, manufacturer.text,
                  model.text, id.text, entities);
    return true;
}

}  // namespace quorvalet
