// Mix-down and conversion exports: the master recorder (the mix of two decks' outputs), a deck's
// own recorder, and the conversion of a file to WAV. Each forwards to its engine operation on
// t_core and passes the engine's status on.
//
// Strings: the recording paths and the two texts of MixDownopenFile use the UTF-8 form, the two
// paths of ConvertFile the UTF-16 form. A null path raises NullPointerException "(in C++ code)"
// and answers -4, as for every other path of the bridge; the two texts, which the recorder never
// reads, may be null.
//
// Thread safety: each export runs on the Java thread that called it; ConvertFile calls the
// listener on that thread too. The engine's locks order concurrent calls.
#include "JavaBridge.h"
#include "TKCore.h"
#include "model_PlayerNative.h"

namespace {

// An optional text: the characters of a non-null string that has them, null otherwise.
char* optionalText(std::unique_ptr<JavaUtf8String>& holder, JNIEnv* env, jstring text) {
    if (!text) return nullptr;
    holder = std::make_unique<JavaUtf8String>(env, text);
    return holder->ok() ? holder->get() : nullptr;
}

}  // namespace

extern "C" {

// ---- Master recording ----

JNIEXPORT jlong JNICALL Java_model_PlayerNative_MixDownsetup(JNIEnv*, jobject, jint deckA, jint deckB) {
    return javaStatus(t_core.MixDown_setup(deckA, deckB));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_MixDownopenFile(JNIEnv* env, jobject, jstring path, jint format,
                                                                jint bitrate, jint extra, jstring text1,
                                                                jstring text2) {
    if (!env) return javaStatus(kJniMissing);
    if (!path) return throwNullString(env);
    JavaUtf8String name(env, path);
    if (!name.ok()) return javaStatus(kJniBadArgument);
    std::unique_ptr<JavaUtf8String> first, second;
    char* t1 = optionalText(first, env, text1);
    char* t2 = optionalText(second, env, text2);
    return javaStatus(t_core.MixDown_openFile(name.get(), format, bitrate, extra, t1, t2));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_MixDownsetGain(JNIEnv*, jobject, jfloat gainA, jfloat gainB) {
    return javaStatus(t_core.MixDown_setGain(gainA, gainB));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_MixDownstart(JNIEnv*, jobject) {
    return javaStatus(t_core.MixDown_start());
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_MixDownpause(JNIEnv*, jobject) {
    return javaStatus(t_core.MixDown_pause());
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_MixDownclose(JNIEnv*, jobject) {
    return javaStatus(t_core.MixDown_close());
}

JNIEXPORT jstring JNICALL Java_model_PlayerNative_MixDownqueryXMLDescription(JNIEnv* env, jobject) {
    return newJavaString(env, t_core.MixDown_queryXMLDescription());
}

JNIEXPORT jstring JNICALL Java_model_PlayerNative_MixDownqueryBitrates(JNIEnv* env, jobject) {
    return newJavaString(env, t_core.MixDown_queryBitrates());
}

JNIEXPORT jstring JNICALL Java_model_PlayerNative_MixDownqueryFormats(JNIEnv* env, jobject) {
    return newJavaString(env, t_core.MixDown_queryFormats());
}

// Left then right; a null buffer is a missing one (-28), and 1 whatever the recorder answered.
JNIEXPORT jlong JNICALL Java_model_PlayerNative_MixDowngetLevels(JNIEnv* env, jobject, jobject out, jint count) {
    if (!out) return javaStatus(kJniMissing);
    return withOutBuffer(env, out, count, 2, [](void* address) {
        t_core.MixDown_getLevels(static_cast<unsigned int*>(address));
        return 1;
    });
}

// ---- A deck's recording ----

JNIEXPORT jlong JNICALL Java_model_PlayerNative_PlayerMixDownopenFile(JNIEnv* env, jobject, jint deck, jstring path,
                                                                      jint format, jint bitrate) {
    if (!env) return javaStatus(kJniMissing);
    if (!path) return throwNullString(env);
    JavaUtf8String name(env, path);
    if (!name.ok()) return javaStatus(kJniBadArgument);
    return javaStatus(t_core.PlayerMixDown_openFile(deck, name.get(), format, bitrate));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_PlayerMixDownstart(JNIEnv*, jobject, jint deck) {
    return javaStatus(t_core.PlayerMixDown_start(deck));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_PlayerMixDownclose(JNIEnv*, jobject, jint deck) {
    return javaStatus(t_core.PlayerMixDown_close(deck));
}

// ---- Conversion ----

JNIEXPORT jlong JNICALL Java_model_PlayerNative_ConvertFile(JNIEnv* env, jobject, jstring source, jstring target,
                                                            jobject listener, jobject cancel, jint format,
                                                            jint bitrate) {
    if (!env) return javaStatus(kJniMissing);
    if (!source || !target) return throwNullString(env);
    JavaUtf16String from(env, source);
    JavaUtf16String to(env, target);
    int* cancelAt = cancelWord(env, cancel);
    if (!from.ok() || !to.ok()) return javaStatus(kJniBadArgument);
    return javaStatus(t_core.ConvertFile(from.get(), to.get(), env, &listener, cancelAt, format, bitrate));
}

}  // extern "C"
