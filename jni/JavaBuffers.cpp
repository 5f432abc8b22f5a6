// Direct out-buffers and cancel words of the exports.
//
// GetDirectBufferCapacity counts the buffer's own elements: an 8-byte ByteBuffer reports 8, its
// asIntBuffer() view 2. Room for the values is therefore judged in bytes, from the capacity and the
// element size of the buffer's class, so that a one-byte ByteBuffer never receives a four-byte int.
#include "JavaBridge.h"

namespace {

constexpr int kValueBytes = 4;  // every out-value is a 32-bit int or float

struct BufferKind {
    const char* className;
    jlong elementBytes;
};

// Most callers pass ByteBuffers, then int and float views: those are tried first.
constexpr BufferKind kKinds[] = {
    {"java/nio/ByteBuffer", 1},  {"java/nio/IntBuffer", 4},  {"java/nio/FloatBuffer", 4},
    {"java/nio/ShortBuffer", 2}, {"java/nio/CharBuffer", 2}, {"java/nio/LongBuffer", 8},
    {"java/nio/DoubleBuffer", 8},
};

// Element size of a non-null buffer; 1 for a class not listed (the smallest, so the byte count is
// never overstated).
jlong elementBytes(JNIEnv* env, jobject buffer) {
    for (const BufferKind& kind : kKinds) {
        jclass cls = env->FindClass(kind.className);
        if (!cls) {
            if (env->ExceptionCheck()) env->ExceptionClear();
            continue;
        }
        const bool match = env->IsInstanceOf(buffer, cls) == JNI_TRUE;
        env->DeleteLocalRef(cls);
        if (match) return kind.elementBytes;
    }
    return 1;
}

}  // namespace

jlong directBufferBytes(JNIEnv* env, jobject buffer) {
    if (!buffer) return -1;
    const jlong capacity = env->GetDirectBufferCapacity(buffer);
    if (capacity < 0) return -1;
    return capacity * elementBytes(env, buffer);
}

OutBufferCheck checkOutBuffer(JNIEnv* env, jobject buffer, jint count, int values, void** address) {
    *address = nullptr;
    if (count != values) {
        // The capacity decides; a null buffer has none.
        if (!buffer || env->GetDirectBufferCapacity(buffer) != values) return OutBufferCheck::BadArgument;
    }
    if (!buffer) return OutBufferCheck::NoAddress;
    void* where = env->GetDirectBufferAddress(buffer);
    if (!where) return OutBufferCheck::NoAddress;
    if (directBufferBytes(env, buffer) < static_cast<jlong>(values) * kValueBytes) return OutBufferCheck::BadArgument;
    *address = where;
    return OutBufferCheck::Ok;
}

int* cancelWord(JNIEnv* env, jobject buffer) {
    if (!buffer) return nullptr;
    void* where = env->GetDirectBufferAddress(buffer);
    if (!where || directBufferBytes(env, buffer) < kValueBytes) return nullptr;
    return static_cast<int*>(where);
}
