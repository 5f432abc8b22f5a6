// Sampler exports: the 65 sample slots, each call forwarded to its CTKCore operation on t_core
// with the engine's status passed back unchanged.
//
// Thread safety: each export runs on the Java thread that called it and uses its JNIEnv only
// there; the sampler's own rules (one thread per slot, SetupSampler alone) are the caller's.
#include "JavaBridge.h"
#include "TKCore.h"
#include "model_PlayerNative.h"

namespace {

bool asBool(jboolean value) { return value != JNI_FALSE; }

// The String forms: UTF-16 units handed to the engine with the unicode flag set.
jlong loadUtf16(JNIEnv* env, jint slot, jstring path, bool stream) {
    if (!env) return javaStatus(kJniMissing);
    if (!path) return throwNullString(env);
    JavaUtf16String name(env, path);
    if (!name.ok()) return javaStatus(kJniBadArgument);
    return javaStatus(t_core.LoadSample(slot, name.get(), true, stream));
}

}  // namespace

extern "C" {

// A null or empty byte array reaches the engine as the empty path.
JNIEXPORT jlong JNICALL Java_model_PlayerNative_LoadSample(JNIEnv* env, jobject, jint slot, jbyteArray path) {
    JavaByteArrayString name(env, path);
    return javaStatus(t_core.LoadSample(slot, name.get(), false, false));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_LoadSampleUnicode(JNIEnv* env, jobject, jint slot, jstring path) {
    return loadUtf16(env, slot, path, false);
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_LoadSampleAdvanced(JNIEnv* env, jobject, jint slot, jstring path,
                                                                   jboolean stream) {
    return loadUtf16(env, slot, path, asBool(stream));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_UnloadSample(JNIEnv*, jobject, jint slot) {
    return javaStatus(t_core.UnloadSample(slot));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetupSampler(JNIEnv*, jobject, jint outputSlot) {
    return javaStatus(t_core.SetupSampler(outputSlot));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_PlaySample(JNIEnv*, jobject, jint slot, jboolean paused) {
    return javaStatus(t_core.PlaySample(slot, asBool(paused)));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetSampleVolume(JNIEnv*, jobject, jint slot, jint volume) {
    return javaStatus(t_core.SetSampleVolume(slot, volume));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetSampleFrequencyPitch(JNIEnv*, jobject, jint slot, jfloat pitch) {
    return javaStatus(t_core.SetSampleFrequencyPitch(slot, pitch));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetSamplePosition(JNIEnv*, jobject, jint slot, jint ms) {
    return javaStatus(t_core.SetSamplePosition(slot, ms));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetSampleMode(JNIEnv*, jobject, jint slot, jboolean loop) {
    return javaStatus(t_core.SetSampleMode(slot, asBool(loop)));
}

// No count parameter: the buffer's capacity must be one value (an IntBuffer view of 4 bytes).
JNIEXPORT jlong JNICALL Java_model_PlayerNative_GetSampleLength(JNIEnv* env, jobject, jint slot, jobject out) {
    return withOutBuffer(env, out, kNoCount, 1, [&](void* address) {
        return t_core.GetSampleLength(slot, static_cast<unsigned int*>(address));
    });
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_GetSamplePosition(JNIEnv* env, jobject, jint slot, jobject out,
                                                                  jint count) {
    return withOutBuffer(env, out, count, 1, [&](void* address) {
        return t_core.GetSamplePosition(slot, static_cast<unsigned int*>(address));
    });
}

}  // extern "C"
