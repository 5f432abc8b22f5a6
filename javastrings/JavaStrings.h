// The JNI string helpers every JNI library of ours stands on: the forms a Java string argument is
// copied into for the native code (bytes as they are, UTF-16, UTF-8), the NullPointerException of
// a null string, and strings handed back to Java from 8-bit text that need not be valid modified
// UTF-8. A static library (javastrings/) that each JNI library links: every library gets its own
// copy, hidden, and none links another.
//
// Conventions:
// - The only Java exception raised is the NullPointerException "(in C++ code)" for a null string
//   argument (throwNullString), which stays pending for the Java caller.
// - Every copy and character pointer taken is released on every path: the string forms below are
//   scoped objects that release in their destructors.
//
// Thread safety: everything here runs on the Java thread that called the native method and uses
// its JNIEnv only on that thread. Nothing here keeps state between calls.
#pragma once

#include <jni.h>

#include <cstddef>
#include <memory>

// What a native method answers for a refused string argument (a null string): -4.
constexpr int kJniBadArgument = -4;

// An int status as the Java long a native method returns (sign-extended).
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
