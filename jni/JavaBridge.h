// The frame every Java_model_PlayerNative_ export stands on: status codes as Java longs, the null
// string rule, the three string forms, direct out-buffers and strings handed back to Java.
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

#include <cstddef>
#include <memory>

// Status codes of the bridge itself; every other value an export returns is the engine's.
constexpr int kJniBadArgument = -4;   // null string, characters unavailable, buffer refused
constexpr int kJniMissing = -28;      // null JNIEnv, zero handle, required buffer missing
constexpr int kJniCdAudio = -36;      // CD audio refused for analysis

// The engine's int status as the Java long the export returns (sign-extended).
inline jlong javaStatus(int status) { return static_cast<jlong>(status); }

// Raises NullPointerException "(in C++ code)" and returns -4. When the exception class cannot be
// found the lookup's own error is cleared and -4 comes back without an exception.
jlong throwNullString(JNIEnv* env);

// ---- String forms ----
// Each holds a zero-terminated copy that the engine may read (and, being a copy, even write) for
// the life of the object; get() is never null once ok().

// Byte-array form: the array's bytes as they are, plus a terminator. A null or empty array, or
// elements that cannot be had, give the empty string; never an exception.
class JavaByteArrayString {
public:
    JavaByteArrayString(JNIEnv* env, jbyteArray array);
    char* get() { return m_copy ? m_copy.get() : m_empty; }

    JavaByteArrayString(const JavaByteArrayString&) = delete;
    JavaByteArrayString& operator=(const JavaByteArrayString&) = delete;

private:
    std::unique_ptr<char[]> m_copy;
    char m_empty[1] = {0};
};

// UTF-16 form: the string's UTF-16 units with a two-byte terminator, handed to the engine through
// its char* parameter with the unicode flag true. Construct only for a non-null string (test null
// first and apply throwNullString); ok() is false when the characters are unavailable.
class JavaUtf16String {
public:
    JavaUtf16String(JNIEnv* env, jstring string);
    ~JavaUtf16String();
    bool ok() const { return m_copy != nullptr; }
    char* get() { return reinterpret_cast<char*>(m_copy.get()); }
    // UTF-16 units before the terminator.
    std::size_t units() const { return m_units; }

    JavaUtf16String(const JavaUtf16String&) = delete;
    JavaUtf16String& operator=(const JavaUtf16String&) = delete;

private:
    JNIEnv* m_env;
    jstring m_string;
    const jchar* m_chars = nullptr;
    std::unique_ptr<jchar[]> m_copy;
    std::size_t m_units = 0;
};

// UTF-8 form: the string's modified UTF-8 bytes, with each surrogate pair (which modified UTF-8
// writes as two three-byte sequences) rewritten as the one four-byte UTF-8 sequence that file
// names on this platform use. Construct only for a non-null string; ok() is false when the
// characters are unavailable.
class JavaUtf8String {
public:
    JavaUtf8String(JNIEnv* env, jstring string);
    ~JavaUtf8String();
    bool ok() const { return m_copy != nullptr; }
    char* get() { return m_copy.get(); }

    JavaUtf8String(const JavaUtf8String&) = delete;
    JavaUtf8String& operator=(const JavaUtf8String&) = delete;

private:
    JNIEnv* m_env;
    jstring m_string;
    const char* m_chars = nullptr;
    std::unique_ptr<char[]> m_copy;
};

// ---- Strings to Java ----
// A new String from the engine's 8-bit text: null for null text. Text that is not valid modified
// UTF-8 never reaches NewStringUTF: it is decoded as UTF-8 (each invalid byte becoming U+FFFD) and
// built from UTF-16.
jstring newJavaString(JNIEnv* env, const char* text);

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
