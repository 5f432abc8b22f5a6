#include "InputCallback.hpp"

#include <jni.h>

#include "JavaRefs.hpp"
#include "QuorvaletState.hpp"

namespace quorvalet {

void quorvaletReadProc(const MIDIPacketList* list, void*, void* srcConnRefCon) {
    if (!srcConnRefCon) return;
    JavaVM* vm = g_vm.load();
    const jmethodID midiInput = midiInputId();
    if (!vm || !midiInput) return;
    JNIEnv* env = nullptr;
    // A daemon attachment: a reader thread must never hold the VM open at exit.
    if (vm->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&env), nullptr) != JNI_OK || !env) return;
    // A local reference of our own: midiInput may close this very connection, which releases the
    // global reference while later packets of the list still go to the object.
    const jobject receiver = env->NewLocalRef(static_cast<jobject>(srcConnRefCon));
    const MIDIPacket* packet = list->packet;
    for (std::uint32_t i = 0; receiver && i < list->numPackets; ++i, packet = MIDIPacketNext(packet)) {
        const jsize length = packet->length;
        jbyteArray bytes = env->NewByteArray(length);
        if (!bytes) {
            env->ExceptionClear();
            continue;
        }
        env->SetByteArrayRegion(bytes, 0, length, reinterpret_cast<const jbyte*>(packet->data));
        env->CallVoidMethod(receiver, midiInput, bytes);
        // An exception thrown by the receiver is shown and dropped; the next packet still goes.
        if (env->ExceptionCheck()) env->ExceptionDescribe();
        env->DeleteLocalRef(bytes);
    }
    if (receiver) env->DeleteLocalRef(receiver);
    vm->DetachCurrentThread();
}

}  // namespace quorvalet
