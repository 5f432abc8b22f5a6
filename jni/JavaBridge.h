// The frame every Java_model_PlayerNative_ export stands on: status codes as Java longs, the null
// string rule, the three string forms and strings handed back to Java (all from the JNI string
// helpers, JavaStrings.h), and direct out-buffers.
//
// Conventions the exports keep:
// - A status goes back as a jlong: the engine's int sign-extended (javaStatus), so -4 arrives as
//   -4L. Value queries hand their values through direct buffers and return 1.
// - No exception of ours leaves an export; the only Java exception raised is the
//   NullPointerException "(in C++ code)" for a null string argument (throwNullString), which stays
//   pending for the Java caller.
// - Every copy, element pointer and character pointer an export takes is released before it
//   returns, on every path: the string forms below are scoped objects that release in their
//   destructors.
//
// Thread safety
// - Everything here runs on the Java thread that called the export and uses its JNIEnv only on that
//   thread. Nothing here keeps state between calls.
#pragma once

#include <jni.h>

#include "JavaStrings.h"

// Status codes of the bridge itself, beside kJniBadArgument (-4: null string, characters
// unavailable, buffer refused); every other value an export returns is the engine's.
constexpr int kJniMissing = -28;      // null JNIEnv, zero handle, required buffer missing
constexpr int kJniCdAudio = -36;      // CD audio refused for analysis

// ---- Direct buffers ----
// Never passes a null object to GetDirectBufferAddress or GetDirectBufferCapacity: that crashes
// the JVM.

enum class OutBufferCheck {
    Ok,           // address set; room for every value
    BadArgument,  // count rule not met, or fewer bytes than the values need: -4, write nothing
    NoAddress,    // null or heap buffer (count rule met): each export says what it returns
};

// Out-buffer rule for `values` 32-bit values (ints or floats in the machine's byte order):
// 1. count == values, or else the buffer's capacity (in its own elements) == values; a null buffer
//    has no capacity and fails this test.
// 2. A null buffer or one without a direct address: NoAddress.
// 3. A direct buffer with fewer than 4 * values bytes: BadArgument.
// Exports without a count parameter pass kNoCount, so the capacity must equal `values`.
constexpr jint kNoCount = -1;
OutBufferCheck checkOutBuffer(JNIEnv* env, jobject buffer, jint count, int values, void** address);

// The out-buffer rule around an engine call: -4 when the rule refuses the buffer (the engine is not
// asked); 1 without asking the engine when the buffer has no address; otherwise the status that
// call(address) returns.
template <typename Call>
jlong withOutBuffer(JNIEnv* env, jobject buffer, jint count, int values, Call call) {
    void* address = nullptr;
    switch (checkOutBuffer(env, buffer, count, values, &address)) {
    case OutBufferCheck::BadArgument:
        return javaStatus(kJniBadArgument);
    case OutBufferCheck::NoAddress:
        return javaStatus(1);
    case OutBufferCheck::Ok:
        break;
    }
    return javaStatus(call(address));
}

// The size in bytes of a direct buffer (capacity times its element size); -1 for null or a buffer
// that is not direct.
jlong directBufferBytes(JNIEnv* env, jobject buffer);

// The int cancel word of an analysis or conversion: null for a null buffer, a buffer without
// address, or one with fewer than 4 bytes.
int* cancelWord(JNIEnv* env, jobject buffer);
