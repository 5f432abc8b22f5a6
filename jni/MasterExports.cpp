// Master-bus exports: master equaliser bands, master gain, normaliser factor, master volume and
// the master level meter, forwarded to t_core; and the plug-in master effects this platform does
// not offer.
//
// Thread safety: each export runs on the Java thread that called it and uses its JNIEnv only there.
#include "JavaBridge.h"
#include "TKCore.h"
#include "model_PlayerNative.h"

namespace {

// The engine's answer for a feature it does not have.
constexpr int kUnsupported = -16;

}  // namespace

extern "C" {

// A static native: the band table belongs to the engine, not to a PlayerNative object.
JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetMasterEq(JNIEnv*, jclass, jint band, jint value, jboolean enable) {
    return javaStatus(CTKCore::SetMasterEq(band, value, enable != JNI_FALSE));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_AddMasterEq(JNIEnv*, jobject, jfloat centreHz, jfloat bandwidth) {
    return javaStatus(t_core.AddMasterEq(centreHz, bandwidth));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetMasterGain(JNIEnv*, jobject, jint gain) {
    return javaStatus(t_core.SetMasterGain(gain));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetMasterVolume(JNIEnv*, jobject, jint volume) {
    return javaStatus(t_core.SetMasterVolume(volume));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetNormalizerGain(JNIEnv*, jobject, jfloat gain) {
    return javaStatus(t_core.SetNormalizerGain(gain));
}

// Left then right; 1 whenever the buffer rule is met (before start-up nothing is written).
JNIEXPORT jlong JNICALL Java_model_PlayerNative_GetMasterLevels(JNIEnv* env, jobject, jobject out, jint count) {
    return withOutBuffer(env, out, count, 2, [&](void* address) {
        t_core.GetMasterLevels(static_cast<unsigned int*>(address), 1.0f);
        return 1;
    });
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_addVSTMasterEffect(JNIEnv*, jobject, jstring) {
    return javaStatus(kUnsupported);
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_enableVSTMasterEffect(JNIEnv*, jobject, jint, jboolean) {
    return javaStatus(kUnsupported);
}

JNIEXPORT jboolean JNICALL Java_model_PlayerNative_isVSTNativeSupported(JNIEnv*, jobject) { return JNI_FALSE; }

}  // extern "C"
