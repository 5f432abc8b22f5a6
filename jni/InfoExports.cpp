// Information exports that need no deck: version, a fresh identifier, the playable file types,
// and the empty answers of the registry and video queries this platform does not have.
#include <uuid/uuid.h>

#include "EngineInfo.h"
#include "JavaBridge.h"
#include "TKCore.h"
#include "model_PlayerNative.h"

extern "C" {

JNIEXPORT jstring JNICALL Java_model_PlayerNative_GetVersion(JNIEnv* env, jobject) {
    return newJavaString(env, engineVersion());
}

JNIEXPORT jstring JNICALL Java_model_PlayerNative_getUUID(JNIEnv* env, jobject) {
    uuid_t id;
    uuid_generate(id);
    char text[kUuidTextSize];
    formatUuid(id, text);
    return newJavaString(env, text);
}

// The flag is set by start-up when the AAC plug-in loaded, so before start-up the shorter list
// comes back.
JNIEXPORT jstring JNICALL Java_model_PlayerNative_GetSupportedAudioFiles(JNIEnv* env, jobject) {
    return newJavaString(env, supportedAudioFileList(CTKCore::g_bHaveAACPlugin));
}

JNIEXPORT jstring JNICALL Java_model_PlayerNative_GetSupportedFiles(JNIEnv* env, jobject) {
    return newJavaString(env, supportedAudioFileList(CTKCore::g_bHaveAACPlugin));
}

JNIEXPORT jstring JNICALL Java_model_PlayerNative_GetSupportedVideoFiles(JNIEnv* env, jobject) {
    return newJavaString(env, "");
}

JNIEXPORT jstring JNICALL Java_model_PlayerNative_getReg(JNIEnv* env, jobject, jstring) {
    return newJavaString(env, "");
}

JNIEXPORT jstring JNICALL Java_model_PlayerNative_getRegSubKey(JNIEnv* env, jobject, jstring, jstring) {
    return newJavaString(env, "");
}

}  // extern "C"
