// The string forms of Java arguments, the null-string exception and the strings handed to Java.
#include <cstring>
#include <new>

#include "JavaStrings.h"
#include "JavaText.h"

namespace {

// Texts up to this many bytes are widened on the stack; longer ones on the heap.
constexpr std::size_t kStackUnits = 512;

}  // namespace

jlong throwNullString(JNIEnv* env) {
    jclass npe = env->FindClass("java/lang/NullPointerException");
    if (!npe) {
        if (env->ExceptionCheck()) env->ExceptionClear();
        return javaStatus(kJniBadArgument);
    }
    env->ThrowNew(npe, "(in C++ code)");
    env->DeleteLocalRef(npe);
    return javaStatus(kJniBadArgument);
}

JavaByteArrayString::JavaByteArrayString(JNIEnv* env, jbyteArray array) {
    if (!array) return;
    const jsize n = env->GetArrayLength(array);
    if (n <= 0) return;
    jbyte* elements = env->GetByteArrayElements(array, nullptr);
    if (!elements) {
        // An OutOfMemoryError may be pending; the export goes on with the empty string.
        if (env->ExceptionCheck()) env->ExceptionClear();
        return;
    }
    m_copy.reset(new (std::nothrow) char[static_cast<std::size_t>(n) + 1]);
    if (m_copy) {
        std::memcpy(m_copy.get(), elements, static_cast<std::size_t>(n));
        m_copy[static_cast<std::size_t>(n)] = '\0';
    }
    env->ReleaseByteArrayElements(array, elements, 0);
}

JavaUtf16String::JavaUtf16String(JNIEnv* env, jstring string) : m_env(env), m_string(string) {
    if (!string) return;
    const jsize n = env->GetStringLength(string);
    m_chars = env->GetStringChars(string, nullptr);
    if (!m_chars) {
        if (env->ExceptionCheck()) env->ExceptionClear();
        return;
    }
    // GetStringChars gives no terminator: the engine reads up to a zero unit, so it gets a copy
    // that has one.
    m_copy.reset(new (std::nothrow) jchar[static_cast<std::size_t>(n) + 1]);
    if (!m_copy) return;
    std::memcpy(m_copy.get(), m_chars, static_cast<std::size_t>(n) * sizeof(jchar));
    m_copy[static_cast<std::size_t>(n)] = 0;
    m_units = static_cast<std::size_t>(n);
}

JavaUtf16String::~JavaUtf16String() {
    if (m_chars) m_env->ReleaseStringChars(m_string, m_chars);
}

JavaUtf8String::JavaUtf8String(JNIEnv* env, jstring string) : m_env(env), m_string(string) {
    if (!string) return;
    m_chars = env->GetStringUTFChars(string, nullptr);
    if (!m_chars) {
        if (env->ExceptionCheck()) env->ExceptionClear();
        return;
    }
    const std::size_t n = std::strlen(m_chars);
    m_copy.reset(new (std::nothrow) char[n + 1]);
    if (!m_copy) return;
    std::memcpy(m_copy.get(), m_chars, n + 1);
    rewriteSurrogatePairs(m_copy.get());
}

JavaUtf8String::~JavaUtf8String() {
    if (m_chars) m_env->ReleaseStringUTFChars(m_string, m_chars);
}

jstring newJavaString(JNIEnv* env, const char* text) {
    if (!text) return nullptr;
    if (isPlainModifiedUtf8(text)) return env->NewStringUTF(text);
    const std::size_t length = std::strlen(text);
    char16_t stackUnits[kStackUnits];
    std::unique_ptr<char16_t[]> heapUnits;
    char16_t* units = stackUnits;
    if (length > kStackUnits) {
        heapUnits.reset(new (std::nothrow) char16_t[length]);
        if (!heapUnits) return nullptr;
        units = heapUnits.get();
    }
    const std::size_t count = decodeUtf8ToUtf16(text, length, units);
    return env->NewString(reinterpret_cast<const jchar*>(units), static_cast<jsize>(count));
}
