#include "JavaRefs.hpp"

#include <atomic>
#include <initializer_list>
#include <mutex>

#include "QuorvaletState.hpp"

namespace quorvalet {
namespace {

// Guarded by stateLock(); class references are global.
jclass g_vecClass = nullptr;
jclass g_coreMidiDeviceClass = nullptr;
jclass g_midiInputClass = nullptr;
std::atomic<jmethodID> g_vecAddID{nullptr};
std::atomic<jmethodID> g_coreMidiDeviceInitID{nullptr};
std::atomic<jmethodID> g_coreMidiDeviceAddEntityID{nullptr};
std::atomic<jmethodID> g_midiInputID{nullptr};

struct Method {
    const char* name;
    const char* signature;
    std::atomic<jmethodID>* id;
};

// Finds the class and its methods and publishes them; false when any is missing.
bool lookUp(JNIEnv* env, const char* className, jclass* published, std::initializer_list<Method> methods) {
    jclass local = env->FindClass(className);
    if (!local) {
        env->ExceptionClear();
        return false;
    }
    jmethodID ids[4] = {};
    std::size_t i = 0;
    for (const Method& m : methods) {
        ids[i] = env->GetMethodID(local, m.name, m.signature);
        if (!ids[i++]) {
            env->ExceptionClear();
            env->DeleteLocalRef(local);
            return false;
        }
    }
    jclass stale = nullptr;
    {
        std::lock_guard<std::mutex> guard(stateLock());
        if (!*published || !env->IsSameObject(*published, local)) {
            jclass global = static_cast<jclass>(env->NewGlobalRef(local));
            if (global) {
                stale = *published;
                *published = global;
            }
        }
        i = 0;
        for (const Method& m : methods) m.id->store(ids[i++]);
    }
    // Users of the old reference made local copies under the lock.
    if (stale) env->DeleteGlobalRef(stale);
    env->DeleteLocalRef(local);
    return true;
}

}  // namespace

void initMethodIDS(JNIEnv* env) {
    if (!lookUp(env, "java/util/Vector", &g_vecClass, {{"add", "(Ljava/lang/Object;)Z", &g_vecAddID}})) return;
    if (!lookUp(env, "com/tarvenkolm/quorvalet/CoreMidiDevice", &g_coreMidiDeviceClass,
                {{"<init>", "(Ljava/lang/String;)V", &g_coreMidiDeviceInitID},
                 {"addEntity", "(ILjava/lang/String;II)V", &g_coreMidiDeviceAddEntityID}}))
        return;
    lookUp(env, "com/tarvenkolm/quorvalet/MidiIN", &g_midiInputClass, {{"midiInput", "([B)V", &g_midiInputID}});
}

DeviceRefs deviceRefs(JNIEnv* env) {
    DeviceRefs refs;
    std::lock_guard<std::mutex> guard(stateLock());
    if (g_vecClass) refs.vectorClass = static_cast<jclass>(env->NewLocalRef(g_vecClass));
    if (g_coreMidiDeviceClass) refs.deviceClass = static_cast<jclass>(env->NewLocalRef(g_coreMidiDeviceClass));
    refs.vectorAdd = g_vecAddID.load();
    refs.deviceInit = g_coreMidiDeviceInitID.load();
    refs.deviceAddEntity = g_coreMidiDeviceAddEntityID.load();
    return refs;
}

jmethodID vectorAddId() { return g_vecAddID.load(); }

jmethodID midiInputId() { return g_midiInputID.load(); }

bool javaCallOk(JNIEnv* env) {
    if (!env->ExceptionCheck()) return true;
    env->ExceptionClear();
    return false;
}

}  // namespace quorvalet
