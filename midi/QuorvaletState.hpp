// The library's globals: the Java VM, the client and its two ports, and the input connections
// with the global references they hold.
//
// Thread safety
// - stateLock() guards the connection table and the changes of client and ports. It is held only
//   for short work that never waits for a read callback: a callback (on the reader thread) may
//   call any export, and the calls that wait for callbacks (disconnect, dispose) run without it.
// - The read callback takes no lock: it reads vm() and the method id (javarefs) atomically, and
//   its connection's global reference stays valid until the connection is ended and the layer has
//   seen its callback out.
#pragma once

#include <jni.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "coremidi.hpp"

namespace quorvalet {

std::mutex& stateLock();

extern std::atomic<JavaVM*> g_vm;
extern std::atomic<MIDIClientRef> g_client;
extern std::atomic<MIDIPortRef> g_inPort;
extern std::atomic<MIDIPortRef> g_outPort;

// Creates the client, the output port and the input port when there is no client; results are
// not checked (a failed step leaves its reference 0, and the next call tries again).
void ensureClient();

// Connects `source` to the input port with a new global reference to `receiver` as context.
// The reference is kept in the connection table; when the connection fails it is released.
void connectInput(JNIEnv* env, MIDIEndpointRef source, jobject receiver);

// Disconnects `source` from the input port and releases the global references of its
// connections once no callback can use them any more.
void disconnectInput(JNIEnv* env, MIDIEndpointRef source);

// Disposes the client and its ports (so no callback runs afterwards) and releases every
// connection's global reference.
void closeSystem(JNIEnv* env);

}  // namespace quorvalet
