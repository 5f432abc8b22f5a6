#include "JavaArgs.h"

#include "JavaStrings.h"

namespace gravenlisk {

std::optional<std::string> readText(JNIEnv* env, jstring string) {
    if (!string) return std::nullopt;
    JavaUtf8String text(env, string);
    if (!text.ok()) return std::nullopt;
    return std::string(text.get());
}

std::vector<std::string> readTexts(JNIEnv* env, jobjectArray strings) {
    std::vector<std::string> texts;
    if (!strings) return texts;
    const jsize count = env->GetArrayLength(strings);
    for (jsize i = 0; i < count; ++i) {
        auto element = static_cast<jstring>(env->GetObjectArrayElement(strings, i));
        if (auto text = readText(env, element)) texts.push_back(std::move(*text));
        if (element) env->DeleteLocalRef(element);
    }
    return texts;
}

jobjectArray newStringArray(JNIEnv* env, const std::vector<std::string>& texts) {
    // The class by its name: FindClass takes "java/lang/String", not the field descriptor form.
    jclass stringClass = env->FindClass("java/lang/String");
    if (!stringClass) return nullptr;
    jobjectArray array = env->NewObjectArray(static_cast<jsize>(texts.size()), stringClass, nullptr);
    env->DeleteLocalRef(stringClass);
    if (!array) return nullptr;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        jstring element = newJavaString(env, texts[i].c_str());
        if (!element) {
            // Out of memory: the VM's error is pending for the caller.
            env->DeleteLocalRef(array);
            return nullptr;
        }
        env->SetObjectArrayElement(array, static_cast<jsize>(i), element);
        env->DeleteLocalRef(element);
    }
    return array;
}

}  // namespace gravenlisk
