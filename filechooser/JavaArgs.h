// Reading the Java arguments of the Gravenlisk exports and building their results.
//
// Thread safety: the calling Java thread and its JNIEnv only.
#pragma once

#include <jni.h>

#include <optional>
#include <string>
#include <vector>

namespace gravenlisk {

// The string's text as UTF-8 (supplementary characters as four-byte sequences); nullopt for a null
// string or characters the VM cannot give.
std::optional<std::string> readText(JNIEnv* env, jstring string);

// The non-null, readable elements of a String[], in order; empty for a null array.
std::vector<std::string> readTexts(JNIEnv* env, jobjectArray strings);

// A String[] of the texts in order (null when the VM cannot make it). Texts that are not valid
// UTF-8 are decoded with U+FFFD for each bad byte.
jobjectArray newStringArray(JNIEnv* env, const std::vector<std::string>& texts);

}  // namespace gravenlisk
