// Natives of harness.FrameProbe: the JNI frame of the engine library (string forms, out-buffers,
// strings to Java, the VM and thread attachment) driven directly from Java, so that the Java tests
// reach every rule of the frame under -Xcheck:jni, also those no start-up export exercises.
// Built into its own small library; it links nothing of the engine.
#include <dlfcn.h>
#include <jni.h>

#include <cstring>
#include <string>
#include <thread>

#include "JavaBridge.h"
#include "JavaVM.h"

namespace {

// Bits of attachFromNativeThread's answer.
constexpr jlong kGotEnv = 1;
constexpr jlong kFoundClass = 2;
constexpr jlong kFoundMethod = 4;
constexpr jlong kNoPendingException = 8;
constexpr jlong kCalled = 16;
constexpr jlong kDetached = 32;

}  // namespace

extern "C" {

// 1 after writing `values` ints 1000, 1001, ...; 0 for no address; -4 when refused.
JNIEXPORT jlong JNICALL Java_harness_FrameProbe_outBuffer(JNIEnv* env, jclass, jobject buffer, jint count,
                                                          jint values) {
    void* address = nullptr;
    switch (checkOutBuffer(env, buffer, count, values, &address)) {
    case OutBufferCheck::BadArgument:
        return javaStatus(kJniBadArgument);
    case OutBufferCheck::NoAddress:
        return 0;
    case OutBufferCheck::Ok:
        break;
    }
    for (jint i = 0; i < values; ++i) {
        const int value = 1000 + i;
        std::memcpy(static_cast<char*>(address) + 4 * i, &value, sizeof value);
    }
    return 1;
}

// The cancel word's value, which is then reset to 0 as the engine does; -1 without a word.
JNIEXPORT jlong JNICALL Java_harness_FrameProbe_takeCancelWord(JNIEnv* env, jclass, jobject buffer) {
    int* word = cancelWord(env, buffer);
    if (!word) return -1;
    const int value = *word;
    *word = 0;
    return value;
}

JNIEXPORT jlong JNICALL Java_harness_FrameProbe_directBytes(JNIEnv* env, jclass, jobject buffer) {
    return directBufferBytes(env, buffer);
}

// The byte-array form's copy up to its terminator, and the terminator.
JNIEXPORT jbyteArray JNICALL Java_harness_FrameProbe_byteArrayForm(JNIEnv* env, jclass, jbyteArray array) {
    JavaByteArrayString path(env, array);
    const jsize n = static_cast<jsize>(std::strlen(path.get()) + 1);
    jbyteArray out = env->NewByteArray(n);
    if (out) env->SetByteArrayRegion(out, 0, n, reinterpret_cast<const jbyte*>(path.get()));
    return out;
}

// Units before the terminator, copied with the terminator into `out` when it has room; the null
// rule and -4 as the exports apply them.
JNIEXPORT jlong JNICALL Java_harness_FrameProbe_utf16Form(JNIEnv* env, jclass, jstring string, jcharArray out) {
    if (!string) return throwNullString(env);
    JavaUtf16String path(env, string);
    if (!path.ok()) return javaStatus(kJniBadArgument);
    const jsize n = static_cast<jsize>(path.units() + 1);
    if (out && env->GetArrayLength(out) >= n)
        env->SetCharArrayRegion(out, 0, n, reinterpret_cast<const jchar*>(path.get()));
    return static_cast<jlong>(path.units());
}

// Bytes before the terminator, copied with the terminator into `out` when it has room.
JNIEXPORT jlong JNICALL Java_harness_FrameProbe_utf8Form(JNIEnv* env, jclass, jstring string, jbyteArray out) {
    if (!string) return throwNullString(env);
    JavaUtf8String path(env, string);
    if (!path.ok()) return javaStatus(kJniBadArgument);
    const jsize n = static_cast<jsize>(std::strlen(path.get()) + 1);
    if (out && env->GetArrayLength(out) >= n)
        env->SetByteArrayRegion(out, 0, n, reinterpret_cast<const jbyte*>(path.get()));
    return n - 1;
}

// newJavaString of the bytes (up to the first zero byte, or all of them).
JNIEXPORT jstring JNICALL Java_harness_FrameProbe_javaString(JNIEnv* env, jclass, jbyteArray bytes) {
    if (!bytes) return newJavaString(env, nullptr);
    const jsize n = env->GetArrayLength(bytes);
    std::string text(static_cast<size_t>(n), '\0');
    env->GetByteArrayRegion(bytes, 0, n, reinterpret_cast<jbyte*>(&text[0]));
    return newJavaString(env, text.c_str());
}

// True when the already loaded library exports the symbol.
JNIEXPORT jboolean JNICALL Java_harness_FrameProbe_exported(JNIEnv* env, jclass, jstring library, jstring symbol) {
    JavaUtf8String lib(env, library);
    JavaUtf8String sym(env, symbol);
    if (!lib.ok() || !sym.ok()) return JNI_FALSE;
    void* handle = dlopen(lib.get(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle) return JNI_FALSE;
    const bool found = dlsym(handle, sym.get()) != nullptr;
    dlclose(handle);
    return found ? JNI_TRUE : JNI_FALSE;
}

// Calls the library's export `symbol`, of the form jlong (JNIEnv*, jobject, jstring), with a null
// string, as the JVM would; returns its result and hands the exception it left pending (if any)
// back in thrown[0], cleared from this thread. Java alone sees either the result or the exception,
// never both.
JNIEXPORT jlong JNICALL Java_harness_FrameProbe_callWithNullString(JNIEnv* env, jclass, jstring library,
                                                                   jstring symbol, jobjectArray thrown) {
    JavaUtf8String lib(env, library);
    JavaUtf8String sym(env, symbol);
    if (!lib.ok() || !sym.ok()) return 0;
    void* handle = dlopen(lib.get(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle) return 0;
    using Export = jlong (*)(JNIEnv*, jobject, jstring);
    auto fn = reinterpret_cast<Export>(dlsym(handle, sym.get()));
    jlong result = 0;
    if (fn) {
        result = fn(env, nullptr, nullptr);
        jthrowable pending = env->ExceptionOccurred();
        env->ExceptionClear();
        if (pending && thrown && env->GetArrayLength(thrown) > 0) env->SetObjectArrayElement(thrown, 0, pending);
    }
    dlclose(handle);
    return result;
}

// Stores the VM, then on a new native thread: acquire_jenv, look up the class and its static
// method "(IZLjava/util/ArrayList;D)I", call it with (deck, true, null, 100.0), release_jenv. The
// answer's bits tell how far it got; kDetached when the thread ended detached.
JNIEXPORT jlong JNICALL Java_harness_FrameProbe_attachFromNativeThread(JNIEnv* env, jclass, jstring className,
                                                                      jstring method, jint deck) {
    if (!storeJavaVM(env)) return 0;
    JavaUtf8String cls(env, className);
    JavaUtf8String name(env, method);
    if (!cls.ok() || !name.ok()) return 0;
    jlong bits = 0;
    std::thread worker([&] {
        JNIEnv* own = acquire_jenv();
        if (!own) return;
        bits |= kGotEnv;
        jclass c = findClassOrClear(own, cls.get());
        if (c) bits |= kFoundClass;
        jmethodID m = getStaticMethodOrClear(own, c, name.get(), "(IZLjava/util/ArrayList;D)I");
        if (m) bits |= kFoundMethod;
        if (!own->ExceptionCheck()) bits |= kNoPendingException;
        if (m) {
            own->CallStaticIntMethod(c, m, deck, JNI_TRUE, nullptr, 100.0);
            if (!own->ExceptionCheck()) bits |= kCalled;
            own->ExceptionClear();
        }
        if (c) own->DeleteLocalRef(c);
        release_jenv();
        void* after = nullptr;
        if (jvm.load()->GetEnv(&after, JNI_VERSION_1_6) == JNI_EDETACHED) bits |= kDetached;
    });
    worker.join();
    return bits;
}

// acquire_jenv and release_jenv on a Java thread: the same environment comes back and the thread
// stays attached (a JNI call after release still works). 1 when both hold.
JNIEXPORT jlong JNICALL Java_harness_FrameProbe_acquireOnJavaThread(JNIEnv* env, jclass) {
    if (!storeJavaVM(env)) return 0;
    JNIEnv* again = acquire_jenv();
    release_jenv();
    void* after = nullptr;
    const bool attached = jvm.load()->GetEnv(&after, JNI_VERSION_1_6) == JNI_OK && after == env;
    return (again == env && attached) ? 1 : 0;
}

}  // extern "C"
