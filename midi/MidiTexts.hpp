// The texts the library reads from MIDI objects and the records it hands to Java.
#pragma once

#include <cstddef>

#include "coremidi.hpp"

namespace quorvalet {

// A property text: at most 62 bytes of UTF-8 (cut on a character boundary) in a 64-byte buffer.
constexpr std::size_t kPropertyBytes = 64;
constexpr std::size_t kPropertyTextMax = 62;
struct PropertyText {
    char text[kPropertyBytes];
};
// "?" when the object does not give the property.
PropertyText getObjectStringProperty(MIDIObjectRef object, MIDIPropertyID property);

// Record buffers hold the longest record the formats allow, plus the terminator.
constexpr std::size_t kLabelBytes = 255;       // "%s - %s"
constexpr std::size_t kDescriptorBytes = 383;  // "index=%d;name=..."
constexpr std::size_t kInfoBytes = 255;        // "name=%s;manufacturer=..."

// The label of a source or destination: its model, " - ", its name.
void endpointLabel(MIDIEndpointRef endpoint, char (&out)[kLabelBytes]);
// The descriptor of the device at `index`.
void deviceDescriptor(int index, MIDIDeviceRef device, char (&out)[kDescriptorBytes]);
// The info of the device that owns an endpoint; false when the endpoint, its entity or its device
// cannot be had.
bool endpointInfo(MIDIEndpointRef endpoint, char (&out)[kInfoBytes]);

}  // namespace quorvalet
