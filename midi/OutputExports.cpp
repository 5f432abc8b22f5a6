// Native method of com.tarvenkolm.quorvalet.MidiOUT.
#include <algorithm>
#include <mutex>

#include "com_tarvenkolm_quorvalet_MidiOUT.h"
#include "QuorvaletState.hpp"

using namespace quorvalet;

namespace {

constexpr ByteCount kMidiBufferBytes = 65536;
// The packet size shrinks by this much after a refused add...
constexpr jsize kShrinkBytes = 100;
// ...but never below one three-byte message: a send that still fails there ends.
constexpr jsize kMinPacketBytes = 3;

// The one packet list of every send, and the largest packet it has taken; one send at a time.
std::mutex g_sendLock;
alignas(8) std::uint8_t g_midiBuffer[kMidiBufferBytes];
jsize g_maxSize = 65536;

}  // namespace

JNIEXPORT void JNICALL Java_com_tarvenkolm_quorvalet_MidiOUT_sendMidi(JNIEnv* env, jobject, jboolean, jlong destination,
                                                                      jbyteArray data, jlong) {
    const auto dest = static_cast<MIDIEndpointRef>(static_cast<std::uint64_t>(destination) & 0xFFFFFFFFu);
    if (!dest || !data) return;
    std::lock_guard<std::mutex> guard(g_sendLock);
    const jsize length = env->GetArrayLength(data);
    jbyte* elements = env->GetByteArrayElements(data, nullptr);
    if (!elements) {
        env->ExceptionClear();
        return;
    }
    auto* list = reinterpret_cast<MIDIPacketList*>(g_midiBuffer);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(elements);
    jsize sent = 0;
    while (sent < length) {
        MIDIPacket* packet = MIDIPacketListInit(list);
        const jsize n = std::min(length - sent, g_maxSize);
        packet = MIDIPacketListAdd(list, kMidiBufferBytes, packet, 0, static_cast<ByteCount>(n), bytes + sent);
        if (!packet) {
            if (g_maxSize <= kMinPacketBytes) break;
            g_maxSize = std::max(g_maxSize - kShrinkBytes, kMinPacketBytes);
            continue;
        }
        MIDISend(g_outPort.load(), dest, list);
        sent += n;
    }
    env->ReleaseByteArrayElements(data, elements, JNI_ABORT);
}
