// Analysis, sound-file and CD exports: sounds opened outside any deck, whole-file measures
// (length, tempo and beats, ReplayGain, silence points, waveform, the combined analysis), the beat
// options, and a CD's identity. The analyses run on the calling Java thread to the end; the
// engine calls the listener, options, result and beat-list objects back on that thread.
//
// Paths: the byte-array exports pass the bytes as they are and test nothing else; the UTF-16
// analysis exports refuse CD audio (-36) before the engine is asked; OpenFileUnicode and
// CalcSilenceDBUnicode use the UTF-8 form. Out-values follow the count rule of JavaBridge.h; a
// missing out-address is a bad argument here (-4), except for GetSongLength (1) and the waveform
// (-28).
//
// Thread safety: each export runs on the Java thread that called it. Another thread stops an
// analysis by writing 1 into its cancel buffer.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "DebugLog.h"
#include "JavaBridge.h"
#include "JavaVM.h"
#include "TKCore.h"
#include "model_PlayerNative.h"

namespace {

constexpr int kCdTextBytes = 2048;  // what the engine writes the CD texts into

// Checks one 32-bit out-value as the analysis exports do: the count rule (-4), then the address,
// whose absence is also -4 here. 1 with *address set.
int analysisOut(JNIEnv* env, jobject buffer, jint count, int values, void** address) {
    return checkOutBuffer(env, buffer, count, values, address) == OutBufferCheck::Ok ? 1 : kJniBadArgument;
}

// The UTF-16 path analyses: environment, count rule, null path, characters and address, CD audio;
// then call(path, address).
template <typename Call>
jlong utf16Analysis(JNIEnv* env, jstring path, jobject out, jint count, Call call) {
    if (!env) return javaStatus(kJniMissing);
    void* address = nullptr;
    const OutBufferCheck check = checkOutBuffer(env, out, count, 1, &address);
    if (check == OutBufferCheck::BadArgument) return javaStatus(kJniBadArgument);
    if (!path) return throwNullString(env);
    JavaUtf16String name(env, path);
    if (!name.ok() || !address) return javaStatus(kJniBadArgument);
    if (!CTKCore::isWaveDataAccessAllowed(name.get(), true)) return javaStatus(kJniCdAudio);
    return javaStatus(call(name.get(), address));
}

// One CD text into a Java buffer: at most its capacity, always terminated. Left alone when the
// engine wrote nothing.
void copyCdText(const char* text, char* target, jlong capacity) {
    if (text[0] == '\0') return;
    const size_t n = std::min(std::strlen(text), static_cast<size_t>(capacity - 1));
    std::memcpy(target, text, n);
    target[n] = '\0';
}

}  // namespace

extern "C" {

// ---- Sound handles ----

JNIEXPORT jlong JNICALL Java_model_PlayerNative_OpenFileUnicode(JNIEnv* env, jobject, jstring path) {
    if (!env) return javaStatus(kJniMissing);
    if (!path) return throwNullString(env);
    JavaUtf8String name(env, path);
    if (!name.ok()) return 0;
    int64_t handle = 0;
    if (t_core.OpenFile(name.get(), false, &handle) != TK_OK) return 0;
    return static_cast<jlong>(handle);
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_CloseFile(JNIEnv* env, jobject, jlong sound) {
    if (!env || sound == 0) return javaStatus(kJniMissing);
    return javaStatus(t_core.CloseFile(static_cast<int64_t>(sound)));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_GetSongLength(JNIEnv* env, jobject, jlong sound, jobject out) {
    return withOutBuffer(env, out, kNoCount, 1, [&](void* address) {
        return t_core.GetSongLength(static_cast<uint64_t>(sound), static_cast<unsigned int*>(address));
    });
}

// ---- Lengths ----

JNIEXPORT jlong JNICALL Java_model_PlayerNative_CalcSongLength(JNIEnv* env, jobject, jbyteArray path, jobject out,
                                                               jint count) {
    void* address = nullptr;
    if (analysisOut(env, out, count, 1, &address) != 1) return javaStatus(kJniBadArgument);
    JavaByteArrayString name(env, path);
    return javaStatus(t_core.CalcSongLength(name.get(), static_cast<unsigned int*>(address), false));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_CalcSongLengthUnicode(JNIEnv* env, jobject, jstring path,
                                                                      jobject out, jint count) {
    return utf16Analysis(env, path, out, count, [](char* name, void* address) {
        return t_core.CalcSongLength(name, static_cast<unsigned int*>(address), true);
    });
}

// ---- Tempo and beats ----

JNIEXPORT jlong JNICALL Java_model_PlayerNative_CalcBPM(JNIEnv* env, jobject, jbyteArray path, jobject bpm, jint count,
                                                        jobject listener) {
    void* address = nullptr;
    if (analysisOut(env, bpm, count, 1, &address) != 1) return javaStatus(kJniBadArgument);
    JavaByteArrayString name(env, path);
    return javaStatus(
        t_core.CalcBPM(name.get(), static_cast<float*>(address), env, &listener, false, nullptr, 2, nullptr));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_CalcBPMUnicode(JNIEnv* env, jobject, jstring path, jobject bpm,
                                                               jint count, jobject listener, jobject cancel,
                                                               jint precision, jobject beatList) {
    return utf16Analysis(env, path, bpm, count, [&](char* name, void* address) {
        return t_core.CalcBPM(name, static_cast<float*>(address), env, &listener, true, cancelWord(env, cancel),
                              static_cast<unsigned int>(precision), &beatList);
    });
}

// ---- ReplayGain and silence ----

JNIEXPORT jlong JNICALL Java_model_PlayerNative_CalcReplayGain(JNIEnv* env, jobject, jbyteArray path, jobject gain,
                                                               jint count, jobject listener) {
    void* address = nullptr;
    if (analysisOut(env, gain, count, 1, &address) != 1) return javaStatus(kJniBadArgument);
    JavaByteArrayString name(env, path);
    return javaStatus(t_core.CalcReplayGain(name.get(), static_cast<float*>(address), env, &listener, false, nullptr));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_CalcReplayGainUnicode(JNIEnv* env, jobject, jstring path,
                                                                      jobject gain, jint count, jobject listener,
                                                                      jobject cancel) {
    return utf16Analysis(env, path, gain, count, [&](char* name, void* address) {
        return t_core.CalcReplayGain(name, static_cast<float*>(address), env, &listener, true,
                                     cancelWord(env, cancel));
    });
}

// Start of the sound after the leading silence, then start of the trailing silence (ms).
JNIEXPORT jlong JNICALL Java_model_PlayerNative_CalcSilenceDBUnicode(JNIEnv* env, jobject, jstring path, jobject out,
                                                                     jint count, jfloat thresholdDb) {
    if (!env) return javaStatus(kJniMissing);
    void* address = nullptr;
    const OutBufferCheck check = checkOutBuffer(env, out, count, 2, &address);
    if (check == OutBufferCheck::BadArgument) return javaStatus(kJniBadArgument);
    if (!path) return throwNullString(env);
    if (!address) return javaStatus(kJniBadArgument);
    JavaUtf8String name(env, path);
    if (!name.ok()) return javaStatus(kJniBadArgument);
    unsigned int* points = static_cast<unsigned int*>(address);
    return javaStatus(t_core.CalcSilenceDB(name.get(), &points[0], &points[1], thresholdDb, false));
}

// ---- Waveform and the combined analysis ----

// The engine writes no more than the smaller of targetBytes and the buffer's own size.
JNIEXPORT jlong JNICALL Java_model_PlayerNative_CalcWaveForm(JNIEnv* env, jobject, jlong sound, jlong startMs,
                                                             jobject target, jint targetBytes, jdouble msPerPoint) {
    if (!env || sound == 0 || !target) return javaStatus(kJniMissing);
    void* address = env->GetDirectBufferAddress(target);
    if (!address) return javaStatus(kJniMissing);
    if (targetBytes < 0) return javaStatus(kJniBadArgument);
    // A number wider than an address is no open sound (and must not alias one when cut to a long).
    if (static_cast<uint64_t>(sound) > UINTPTR_MAX) return javaStatus(TK_ERR_NOT_FOUND);
    const jlong room = std::min<jlong>(targetBytes, directBufferBytes(env, target));
    return javaStatus(t_core.CalcWaveForm(static_cast<long>(sound), static_cast<unsigned int>(startMs),
                                          static_cast<char*>(address), static_cast<unsigned int>(room), msPerPoint));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_AnalyzeData(JNIEnv* env, jobject self, jobject listener,
                                                            jobject cancel, jlong sound, jobject options,
                                                            jobject result, jboolean throttle) {
    if (!env || sound == 0) return javaStatus(kJniMissing);
    return javaStatus(t_core.AnalyzeData(env, self, listener, cancelWord(env, cancel), static_cast<long long>(sound),
                                         options, result, throttle != JNI_FALSE));
}

// ---- Beat options ----

JNIEXPORT jlong JNICALL Java_model_PlayerNative_setupBeatOptions(JNIEnv* env, jobject, jint precision, jfloat minBpm,
                                                                 jfloat maxBpm) {
    if (!env) return javaStatus(kJniMissing);
    storeJavaVM(env);
    debugMsg("setupBeatOptions: %d %f %f\n", static_cast<int>(precision), static_cast<double>(minBpm),
             static_cast<double>(maxBpm));
    return javaStatus(t_core.setupBeatOptions(precision, minBpm, maxBpm));
}

// ---- CD identity ----

// The track count as one int; the disc identifier and the query text each cut to their Java
// buffer (terminated), which must hold at least one byte.
JNIEXPORT jlong JNICALL Java_model_PlayerNative_GetCDInfo(JNIEnv* env, jobject, jbyteArray drive, jobject tracks,
                                                          jint count1, jobject discId, jint count2, jobject query,
                                                          jint count3) {
    if (count2 != 1 || count3 != 1) return javaStatus(kJniBadArgument);
    void* tracksAt = nullptr;
    if (analysisOut(env, tracks, count1, 1, &tracksAt) != 1) return javaStatus(kJniBadArgument);
    const jlong idBytes = directBufferBytes(env, discId);
    const jlong queryBytes = directBufferBytes(env, query);
    if (idBytes < 1 || queryBytes < 1) return javaStatus(kJniBadArgument);
    char* idAt = static_cast<char*>(env->GetDirectBufferAddress(discId));
    char* queryAt = static_cast<char*>(env->GetDirectBufferAddress(query));
    if (!idAt || !queryAt) return javaStatus(kJniBadArgument);

    JavaByteArrayString name(env, drive);
    char idText[kCdTextBytes] = {};
    char queryText[kCdTextBytes] = {};
    const int status = t_core.GetCDInfo(name.get(), static_cast<unsigned int*>(tracksAt), idText, queryText);
    idText[kCdTextBytes - 1] = queryText[kCdTextBytes - 1] = '\0';
    copyCdText(idText, idAt, idBytes);
    copyCdText(queryText, queryAt, queryBytes);
    return javaStatus(status);
}

// ---- Fixed answers ----

JNIEXPORT jint JNICALL Java_model_PlayerNative_CalcKeyTone(JNIEnv*, jobject, jstring) { return 0; }

JNIEXPORT jlong JNICALL Java_model_PlayerNative_DefineBeatCallback(JNIEnv*, jobject, jobject) {
    return javaStatus(-5);
}

}  // extern "C"
