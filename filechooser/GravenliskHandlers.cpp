// The default-handler exports of Gravenlisk: file extensions and URL schemes, their default
// application and all their applications, over GIO (default_handlers.hpp).
//
// Every export runs on the calling Java thread and raises no exception of its own; a null or
// unreadable argument gives the export's failure result (-1, false or null).
#include "com_tarvenkolm_macfilechooser_Gravenlisk.h"

#include "JavaArgs.h"
#include "default_handlers.hpp"

namespace {

using namespace pw::desktop;
using gravenlisk::newStringArray;
using gravenlisk::readText;

using ContentTypeOf = std::optional<std::string> (*)(const std::string&);

jint setDefault(JNIEnv* env, jstring key, jstring application, ContentTypeOf contentTypeOf) {
    const auto keyText = readText(env, key);
    if (!keyText) return kHandlerUnreadable;
    const auto applicationText = readText(env, application);
    if (!applicationText) return kHandlerUnreadable;
    const auto type = contentTypeOf(*keyText);
    if (!type) return kHandlerNoContentType;
    return setDefaultHandler(*type, *applicationText);
}

std::optional<std::string> defaultOf(JNIEnv* env, jstring key, ContentTypeOf contentTypeOf) {
    const auto keyText = readText(env, key);
    if (!keyText) return std::nullopt;
    const auto type = contentTypeOf(*keyText);
    if (!type) return std::nullopt;
    return defaultHandler(*type);
}

jboolean isDefault(JNIEnv* env, jstring key, jstring application, ContentTypeOf contentTypeOf) {
    const auto handler = defaultOf(env, key, contentTypeOf);
    if (!handler) return JNI_FALSE;
    const auto applicationText = readText(env, application);
    return applicationText && sameApplication(*handler, *applicationText) ? JNI_TRUE : JNI_FALSE;
}

jboolean isHandled(JNIEnv* env, jstring key, ContentTypeOf contentTypeOf) {
    return defaultOf(env, key, contentTypeOf) ? JNI_TRUE : JNI_FALSE;
}

jobjectArray handlers(JNIEnv* env, jstring key, ContentTypeOf contentTypeOf) {
    const auto keyText = readText(env, key);
    if (!keyText) return nullptr;
    const auto type = contentTypeOf(*keyText);
    if (!type) return nullptr;
    const std::vector<std::string> ids = allHandlers(*type);
    return ids.empty() ? nullptr : newStringArray(env, ids);
}

}  // namespace

JNIEXPORT jint JNICALL Java_com_tarvenkolm_macfilechooser_Gravenlisk_SetDefaultFileTypeHandler(
    JNIEnv* env, jclass, jstring extension, jstring bundleId) {
    return setDefault(env, extension, bundleId, contentTypeForExtension);
}

JNIEXPORT jint JNICALL Java_com_tarvenkolm_macfilechooser_Gravenlisk_SetDefaultURLSchemeHandler(
    JNIEnv* env, jclass, jstring scheme, jstring bundleId) {
    return setDefault(env, scheme, bundleId, contentTypeForScheme);
}

JNIEXPORT jboolean JNICALL Java_com_tarvenkolm_macfilechooser_Gravenlisk_IsApplicationTheDefaultFileTypeHandler(
    JNIEnv* env, jclass, jstring extension, jstring bundleId) {
    return isDefault(env, extension, bundleId, contentTypeForExtension);
}

JNIEXPORT jboolean JNICALL Java_com_tarvenkolm_macfilechooser_Gravenlisk_IsApplicationTheDefaultURLSchemeHandler(
    JNIEnv* env, jclass, jstring scheme, jstring bundleId) {
    return isDefault(env, scheme, bundleId, contentTypeForScheme);
}

JNIEXPORT jboolean JNICALL Java_com_tarvenkolm_macfilechooser_Gravenlisk_IsFileTypeHandled(JNIEnv* env, jclass,
                                                                                           jstring extension) {
    return isHandled(env, extension, contentTypeForExtension);
}

JNIEXPORT jboolean JNICALL Java_com_tarvenkolm_macfilechooser_Gravenlisk_IsURLSchemeHandled(JNIEnv* env, jclass,
                                                                                            jstring scheme) {
    return isHandled(env, scheme, contentTypeForScheme);
}

JNIEXPORT jobjectArray JNICALL Java_com_tarvenkolm_macfilechooser_Gravenlisk_GetAllHandlersForFileType(
    JNIEnv* env, jclass, jstring extension) {
    return handlers(env, extension, contentTypeForExtension);
}

JNIEXPORT jobjectArray JNICALL Java_com_tarvenkolm_macfilechooser_Gravenlisk_GetAllHandlersForURLScheme(
    JNIEnv* env, jclass, jstring scheme) {
    return handlers(env, scheme, contentTypeForScheme);
}
