// Settings exports: buffer sizes and switches for the next start-up, the debug switch, and the
// fixed answers of features this platform does not have (ASIO drivers, memory dumps).
#include "JavaBridge.h"
#include "TKCore.h"
#include "model_PlayerNative.h"

namespace {

constexpr int kNoMemDumps = -25;

unsigned int asUnsigned(jint value) { return static_cast<unsigned int>(value); }

}  // namespace

extern "C" {

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetBufferSizes(JNIEnv*, jobject, jint stream, jint dspBlock,
                                                               jint dspCount) {
    return javaStatus(t_core.SetBufferSizes(asUnsigned(stream), asUnsigned(dspBlock), asUnsigned(dspCount)));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetBufferSizesMS(JNIEnv*, jobject, jint stream, jint dspMs) {
    return javaStatus(t_core.SetBufferSizesMS(asUnsigned(stream), asUnsigned(dspMs)));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetPreferredASIODriver(JNIEnv*, jobject, jint driver) {
    return javaStatus(t_core.setPreferredASIODriver(asUnsigned(driver)));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_ASIOControlPanel(JNIEnv*, jobject) {
    return javaStatus(t_core.ASIOControlPanel());
}

JNIEXPORT jboolean JNICALL Java_model_PlayerNative_IsASIOSupported(JNIEnv*, jobject) { return JNI_FALSE; }

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetScratchQuality(JNIEnv*, jobject, jint quality) {
    return javaStatus(t_core.setScratchQuality(quality));
}

// Acts at once, on any thread; the engine reads the switch without a lock.
JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetDebug(JNIEnv*, jobject, jboolean on) {
    CTKCore::g_bDebug.store(on != JNI_FALSE, std::memory_order_relaxed);
    return javaStatus(1);
}

// The folder is checked and then not used: there are no crash dumps on this platform.
JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetDumpFolder(JNIEnv* env, jobject, jstring folder) {
    if (!env) return javaStatus(kJniMissing);
    if (!folder) return throwNullString(env);
    return javaStatus(1);
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetMemDumpDirectory(JNIEnv*, jobject, jstring) {
    return javaStatus(kNoMemDumps);
}

}  // extern "C"
