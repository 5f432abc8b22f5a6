#include "coremidi.hpp"

const char* MIDIStatusText(OSStatus status) {
    switch (status) {
        case kMIDIOk: return "no error";
        case kMIDIInvalidArgument: return "invalid argument";
        case kMIDIInvalidClient: return "unknown or disposed client";
        case kMIDIInvalidPort: return "unknown or disposed port";
        case kMIDIUnknownObject: return "no such device, entity or endpoint";
        case kMIDIUnknownProperty: return "property not given";
        case kMIDINoConnection: return "source not connected";
        case kMIDINoServer: return "no MIDI system";
        case kMIDISendFailed: return "send failed";
        case kMIDIOutOfResources: return "out of resources";
        default: return "unknown status";
    }
}
