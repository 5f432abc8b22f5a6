// The Java classes and methods the library calls: java.util.Vector.add, the CoreMidiDevice
// constructor and addEntity, MidiIN.midiInput.
//
// Thread safety: initMethodIDS and deviceRefs run on Java threads; the published class references
// change only under the state lock, and callers work on local copies. midiInputId() is read by
// the read callback without a lock.
#pragma once

#include <jni.h>

namespace quorvalet {

// Looks the classes up again and publishes them. A class or method that is not found ends the
// step there (its pending exception cleared): later classes keep their earlier references.
void initMethodIDS(JNIEnv* env);

// What getDevices needs, with local class references (null members when not looked up yet).
struct DeviceRefs {
    jclass vectorClass = nullptr;
    jmethodID vectorAdd = nullptr;
    jclass deviceClass = nullptr;
    jmethodID deviceInit = nullptr;
    jmethodID deviceAddEntity = nullptr;
    bool complete() const { return vectorClass && vectorAdd && deviceClass && deviceInit && deviceAddEntity; }
};
// The caller deletes the two local class references.
DeviceRefs deviceRefs(JNIEnv* env);
// Vector.add alone (for the label vectors); null before the first successful lookup.
jmethodID vectorAddId();

jmethodID midiInputId();

// True when no exception is pending; clears one that is.
bool javaCallOk(JNIEnv* env);

}  // namespace quorvalet
