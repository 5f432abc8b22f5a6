// Native methods of com.tarvenkolm.quorvalet.MidiIN.
#include "com_tarvenkolm_quorvalet_MidiIN.h"
#include "QuorvaletState.hpp"

using namespace quorvalet;

JNIEXPORT jlong JNICALL Java_com_tarvenkolm_quorvalet_MidiIN_initINPort(JNIEnv* env, jobject self, jboolean,
                                                                         jint index) {
    if (index < 0) return 0;
    const MIDIEndpointRef source = MIDIGetSource(static_cast<ItemCount>(index));
    if (!source) return 0;
    connectInput(env, source, self);
    return static_cast<jlong>(static_cast<std::int32_t>(source));
}

JNIEXPORT jint JNICALL Java_com_tarvenkolm_quorvalet_MidiIN_closeIN(JNIEnv* env, jobject, jboolean, jlong source) {
    const auto ref = static_cast<MIDIEndpointRef>(static_cast<std::uint64_t>(source) & 0xFFFFFFFFu);
    if (ref) disconnectInput(env, ref);
    return 1;
}
