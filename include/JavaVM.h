// The process's Java VM as the engine sees it, and how native threads borrow a JNIEnv from it.
//
// `jvm` is null at library load. The exports setupBeatOptions and startBeatTracking store the VM
// into it (storeJavaVM) each time a Java thread calls them; nothing ever clears it, and it only
// ever changes from null to the one VM of the process. The beat tracker's worker thread reads it
// through acquire_jenv.
//
// Everything here is inline so that the engine's static library (and its tests) use it without
// linking the JNI exports.
//
// Thread safety
// - storeJavaVM runs on Java threads; acquire_jenv and release_jenv on any thread. `jvm` is an
//   atomic written with release and read with acquire, so a worker that sees the VM also sees it
//   fully set up.
// - A thread that acquire_jenv attached must call release_jenv before it ends: a native thread
//   that ends attached makes the JVM hang at exit. release_jenv detaches only a thread that
//   acquire_jenv attached itself; a Java thread (or one attached by someone else) is left alone.
//   acquire_jenv never detaches.
#pragma once

#include <jni.h>

#include <atomic>

inline std::atomic<JavaVM*> jvm{nullptr};

namespace pw_jni_detail {
// True on a thread that acquire_jenv attached and release_jenv has not yet detached.
inline thread_local bool t_attachedHere = false;
}  // namespace pw_jni_detail

// Stores the VM of a Java thread's environment into `jvm`. False (and `jvm` unchanged) for a null
// environment or when the VM cannot be had.
inline bool storeJavaVM(JNIEnv* env) {
    if (!env) return false;
    JavaVM* vm = nullptr;
    if (env->GetJavaVM(&vm) != JNI_OK || !vm) return false;
    jvm.store(vm, std::memory_order_release);
    return true;
}

// A JNIEnv for the calling thread: null while `jvm` is null or when the thread cannot attach.
// Attaches the thread (no attach arguments) when it is not attached yet, as a daemon thread: the
// JVM never waits for it to end when the program's main returns.
inline JNIEnv* acquire_jenv() {
    JavaVM* vm = jvm.load(std::memory_order_acquire);
    if (!vm) return nullptr;
    void* env = nullptr;
    const jint state = vm->GetEnv(&env, JNI_VERSION_1_6);
    if (state == JNI_OK && env) return static_cast<JNIEnv*>(env);
    env = nullptr;
    if (vm->AttachCurrentThreadAsDaemon(&env, nullptr) != JNI_OK || !env) return nullptr;
    if (state == JNI_EDETACHED) pw_jni_detail::t_attachedHere = true;
    return static_cast<JNIEnv*>(env);
}

// Detaches the calling thread when acquire_jenv attached it; otherwise does nothing. Safe to call
// more than once, and on a thread that never acquired.
inline void release_jenv() {
    if (!pw_jni_detail::t_attachedHere) return;
    JavaVM* vm = jvm.load(std::memory_order_acquire);
    if (vm) vm->DetachCurrentThread();
    pw_jni_detail::t_attachedHere = false;
}

// Class and method lookups that leave no exception pending on failure (FindClass and GetMethodID
// raise NoClassDefFoundError or NoSuchMethodError): the caller goes on with its failure code, and
// the next JNI call on this thread must not run with an exception pending.
inline jclass findClassOrClear(JNIEnv* env, const char* name) {
    jclass cls = env->FindClass(name);
    if (!cls && env->ExceptionCheck()) env->ExceptionClear();
    return cls;
}

inline jmethodID getMethodOrClear(JNIEnv* env, jclass cls, const char* name, const char* signature) {
    if (!cls) return nullptr;
    jmethodID id = env->GetMethodID(cls, name, signature);
    if (!id && env->ExceptionCheck()) env->ExceptionClear();
    return id;
}

inline jmethodID getStaticMethodOrClear(JNIEnv* env, jclass cls, const char* name, const char* signature) {
    if (!cls) return nullptr;
    jmethodID id = env->GetStaticMethodID(cls, name, signature);
    if (!id && env->ExceptionCheck()) env->ExceptionClear();
    return id;
}
