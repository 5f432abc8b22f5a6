// The read callback of the input port: hands each packet to the connection's MidiIN.
#pragma once

#include "coremidi.hpp"

namespace quorvalet {

// Runs on the layer's reader thread, which it attaches to the Java VM (as a daemon, until the
// thread ends); each packet becomes one byte[] and one midiInput call, in order.
void quorvaletReadProc(const MIDIPacketList* list, void* readProcRefCon, void* srcConnRefCon);

}  // namespace quorvalet
