#include "InputCallback.hpp"

#include <jni.h>

#include "JavaRefs.hpp"
#include "QuorvaletState.hpp"

namespace quorvalet {
namespace {

// The reader thread's attachment to the Java VM. It is made by the first packet list and kept
// until the thread ends, when this thread-local object detaches it. Attaching per list would
// build a java.lang.Thread for every list: on the loopback back-end that took the median from
// about 10 us to about 100 us and the 99th percentile past a millisecond.
class Attachment {
public:
    ~Attachment() { detach(); }

    JNIEnv* env(JavaVM* vm) {
        if (m_vm == vm) return m_env;
        detach();
        JavaVMAttachArgs args{JNI_VERSION_1_6, const_cast<char*>("midi-reader"), nullptr};
        // A daemon attachment: a reader thread must never hold the VM open at exit.
        if (vm->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&m_env), &args) != JNI_OK || !m_env) {
            m_env = nullptr;
            return nullptr;
        }
        m_vm = vm;
        return m_env;
    }

private:
    void detach() {
        if (m_vm) m_vm->DetachCurrentThread();
        m_vm = nullptr;
        m_env = nullptr;
    }

    JavaVM* m_vm = nullptr;
    JNIEnv* m_env = nullptr;
};

thread_local Attachment t_attachment;

}  // namespace

void quorvaletReadProc(const MIDIPacketList* list, void*, void* srcConnRefCon) {
    if (!srcConnRefCon) return;
    JavaVM* vm = g_vm.load();
    const jmethodID midiInput = midiInputId();
    if (!vm || !midiInput) return;
    JNIEnv* env = t_attachment.env(vm);
    if (!env) return;
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
}

}  // namespace quorvalet
