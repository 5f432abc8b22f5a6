// Native methods of com.tarvenkolm.quorvalet.MidiSYS.
#include "com_tarvenkolm_quorvalet_MidiSYS.h"
#include "JavaStrings.h"
#include "JavaRefs.hpp"
#include "MidiTexts.hpp"
#include "QuorvaletState.hpp"

using namespace quorvalet;

namespace {

// Adds a String of `text` to a Vector; false when Java refused it.
bool addText(JNIEnv* env, jobject vector, const char* text) {
    const jstring string = newJavaString(env, text);
    if (!string) {
        javaCallOk(env);
        return false;
    }
    env->CallBooleanMethod(vector, vectorAddId(), string);
    env->DeleteLocalRef(string);
    return javaCallOk(env);
}

void addLabels(JNIEnv* env, jobject vector, bool destinations) {
    const ItemCount count = destinations ? MIDIGetNumberOfDestinations() : MIDIGetNumberOfSources();
    for (ItemCount i = 0; i < count; ++i) {
        char label[kLabelBytes];
        endpointLabel(destinations ? MIDIGetDestination(i) : MIDIGetSource(i), label);
        if (!addText(env, vector, label)) return;
    }
}

// The source and destination indexes of an entity (left as they are when it has none). Matched
// by reference: two devices with entities of the same name each get their own endpoints.
void entityFindIOIndex(MIDIEntityRef entity, jint* source, jint* destination) {
    const ItemCount sources = MIDIGetNumberOfSources();
    for (ItemCount i = 0; i < sources; ++i) {
        MIDIEntityRef owner = 0;
        if (MIDIEndpointGetEntity(MIDIGetSource(i), &owner) == kMIDIOk && owner == entity) {
            *source = static_cast<jint>(i);
            break;
        }
    }
    const ItemCount destinations = MIDIGetNumberOfDestinations();
    for (ItemCount i = 0; i < destinations; ++i) {
        MIDIEntityRef owner = 0;
        if (MIDIEndpointGetEntity(MIDIGetDestination(i), &owner) == kMIDIOk && owner == entity) {
            *destination = static_cast<jint>(i);
            break;
        }
    }
}

// Builds the CoreMidiDevice of one device and adds it to the vector when it has an entity with
// an endpoint; false when Java failed a call.
bool addDevice(JNIEnv* env, const DeviceRefs& refs, jobject vector, int index, MIDIDeviceRef device) {
    char descriptor[kDescriptorBytes];
    deviceDescriptor(index, device, descriptor);
    const jstring text = newJavaString(env, descriptor);
    if (!text) {
        javaCallOk(env);
        return false;
    }
    const jobject object = env->NewObject(refs.deviceClass, refs.deviceInit, text);
    env->DeleteLocalRef(text);
    if (!object) {
        javaCallOk(env);
        return false;
    }
    bool withEndpoints = false;
    bool ok = true;
    const ItemCount entities = MIDIDeviceGetNumberOfEntities(device);
    for (ItemCount j = 0; ok && j < entities; ++j) {
        const MIDIEntityRef entity = MIDIDeviceGetEntity(device, j);
        if (!entity) continue;
        const PropertyText name = getObjectStringProperty(entity, kMIDIPropertyName);
        jint source = -1;
        jint destination = -1;
        entityFindIOIndex(entity, &source, &destination);
        if (source == -1 && destination == -1) continue;
        const jstring entityName = newJavaString(env, name.text);
        if (!entityName) {
            javaCallOk(env);
            ok = false;
            break;
        }
        env->CallVoidMethod(object, refs.deviceAddEntity, static_cast<jint>(j), entityName, source, destination);
        env->DeleteLocalRef(entityName);
        ok = javaCallOk(env);
        withEndpoints = true;
    }
    if (ok && withEndpoints) {
        env->CallBooleanMethod(vector, refs.vectorAdd, object);
        ok = javaCallOk(env);
    }
    env->DeleteLocalRef(object);
    return ok;
}

}  // namespace

JNIEXPORT void JNICALL Java_com_tarvenkolm_quorvalet_MidiSYS_initMidiSYS(JNIEnv* env, jobject, jboolean, jobject sources,
                                                                         jobject destinations, jboolean) {
    if (!sources || !destinations) return;
    JavaVM* vm = nullptr;
    if (env->GetJavaVM(&vm) == JNI_OK) g_vm.store(vm);
    initMethodIDS(env);
    ensureClient();
    if (!vectorAddId()) return;
    addLabels(env, sources, false);
    addLabels(env, destinations, true);
}

JNIEXPORT void JNICALL Java_com_tarvenkolm_quorvalet_MidiSYS_closeMidiSYS(JNIEnv* env, jobject, jboolean) {
    closeSystem(env);
}

JNIEXPORT void JNICALL Java_com_tarvenkolm_quorvalet_MidiSYS_getDevices(JNIEnv* env, jobject, jboolean, jobject vector) {
    if (!vector) return;
    const DeviceRefs refs = deviceRefs(env);
    if (refs.complete()) {
        const ItemCount devices = MIDIGetNumberOfDevices();
        for (ItemCount i = 0; i < devices; ++i) {
            const MIDIDeviceRef device = MIDIGetDevice(i);
            if (device && !addDevice(env, refs, vector, static_cast<int>(i), device)) break;
        }
    }
    if (refs.vectorClass) env->DeleteLocalRef(refs.vectorClass);
    if (refs.deviceClass) env->DeleteLocalRef(refs.deviceClass);
}

JNIEXPORT jstring JNICALL Java_com_tarvenkolm_quorvalet_MidiSYS_getDeviceInfo(JNIEnv* env, jobject, jboolean,
                                                                               jint isDestination, jint index) {
    if (index < 0) return nullptr;
    const auto i = static_cast<ItemCount>(index);
    char info[kInfoBytes];
    if (!endpointInfo(isDestination ? MIDIGetDestination(i) : MIDIGetSource(i), info)) return nullptr;
    const jstring text = newJavaString(env, info);
    javaCallOk(env);
    return text;
}

JNIEXPORT jlong JNICALL Java_com_tarvenkolm_quorvalet_MidiSYS_initOUTPort(JNIEnv*, jobject, jboolean, jint index) {
    if (index < 0) return 0;
    return static_cast<jlong>(static_cast<std::int32_t>(MIDIGetDestination(static_cast<ItemCount>(index))));
}

JNIEXPORT jint JNICALL Java_com_tarvenkolm_quorvalet_MidiSYS_closeIN(JNIEnv* env, jobject, jboolean, jlong, jint index) {
    if (index < 0) return 0;
    const MIDIEndpointRef source = MIDIGetSource(static_cast<ItemCount>(index));
    if (!source) return 0;
    disconnectInput(env, source);
    return 1;
}
