// Deck effect exports: the three-band equaliser, low- and high-pass filters, echo, flanger, pitch
// shifter, the normaliser and compressor of every deck, the vinyl-scratch emulation and the
// automatic gain control. Plain forwarders to t_core; the only conversions are of number types.
//
// Thread safety
// - Each export runs on the Java thread that called it; the engine's locks order concurrent calls.
#include "JavaBridge.h"
#include "TKCore.h"
#include "model_PlayerNative.h"

namespace {

bool asBool(jboolean value) { return value != JNI_FALSE; }

}  // namespace

extern "C" {

// ---- Equaliser ----

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetEqLow(JNIEnv*, jobject, jint deck, jint value) {
    return javaStatus(t_core.SetEqLow(deck, value));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetEqMid(JNIEnv*, jobject, jint deck, jint value) {
    return javaStatus(t_core.SetEqMid(deck, value));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetEqHigh(JNIEnv*, jobject, jint deck, jint value) {
    return javaStatus(t_core.SetEqHigh(deck, value));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetEqBandWidth(JNIEnv*, jobject, jint deck, jfloat width) {
    return javaStatus(t_core.SetEqBandWidth(deck, width));
}

// ---- Filters ----

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetCutOff(JNIEnv*, jobject, jint deck, jint value) {
    return javaStatus(t_core.SetCutOff(deck, value));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetResonance(JNIEnv*, jobject, jint deck, jint value) {
    return javaStatus(t_core.SetResonance(deck, value));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_EnableLowPass(JNIEnv*, jobject, jint deck, jboolean on) {
    return javaStatus(t_core.EnableLowPass(deck, asBool(on)));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetHighPassCutOff(JNIEnv*, jobject, jint deck, jint value) {
    return javaStatus(t_core.SetHighPassCutOff(deck, value));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetHighPassResonance(JNIEnv*, jobject, jint deck, jint value) {
    return javaStatus(t_core.SetHighPassResonance(deck, value));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_EnableHighPass(JNIEnv*, jobject, jint deck, jboolean on) {
    return javaStatus(t_core.EnableHighPass(deck, asBool(on)));
}

// ---- Echo, flanger, pitch shifter ----

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetEcho(JNIEnv*, jobject, jint deck, jboolean on, jdouble p1,
                                                        jdouble p2, jdouble p3, jdouble p4) {
    return javaStatus(t_core.SetEcho(deck, asBool(on), p1, p2, p3, p4));
}

// Java hands floats; the engine takes doubles.
JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetFlanger(JNIEnv*, jobject, jint deck, jboolean on, jfloat p1,
                                                           jfloat p2, jfloat p3, jfloat p4) {
    return javaStatus(t_core.SetFlanger(deck, asBool(on), static_cast<double>(p1), static_cast<double>(p2),
                                        static_cast<double>(p3), static_cast<double>(p4)));
}

// SetPitch and SetPitchShifter are one operation under two names.
JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetPitch(JNIEnv*, jobject, jint deck, jfloat value) {
    return javaStatus(t_core.SetPitchShifter(deck, value));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetPitchShifter(JNIEnv*, jobject, jint deck, jfloat value) {
    return javaStatus(t_core.SetPitchShifter(deck, value));
}

// ---- Normaliser and compressor: every deck, and the defaults of decks made later ----

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetNormalizer(JNIEnv*, jobject, jfloat p1, jfloat p2, jfloat p3) {
    return javaStatus(t_core.SetNormalizer(p1, p2, p3));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetNormalizerCompressor(JNIEnv*, jobject, jfloat p1, jfloat p2,
                                                                        jfloat p3, jfloat p4) {
    return javaStatus(t_core.SetNormalizerCompressor(p1, p2, p3, p4));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_EnableNormalizer(JNIEnv*, jobject, jboolean on) {
    return javaStatus(t_core.EnableNormalizer(asBool(on)));
}

// ---- Vinyl-scratch emulation ----

JNIEXPORT jlong JNICALL Java_model_PlayerNative_enableVirtualVinyl(JNIEnv*, jobject, jint deck, jboolean on) {
    return javaStatus(t_core.enableVirtualVinyl(deck, asBool(on)));
}

// The position is passed whole (64 bits); the engine clamps it to the track.
JNIEXPORT jlong JNICALL Java_model_PlayerNative_setVirtualVelocity(JNIEnv*, jobject, jint deck, jlong position,
                                                                   jdouble time) {
    return javaStatus(t_core.setVirtualVelocity(deck, static_cast<int64_t>(position), time));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_setVirtualVTMode(JNIEnv*, jobject, jint deck, jdouble mode) {
    return javaStatus(t_core.setVirtualVTMode(deck, mode));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_setVirtualVTInertia(JNIEnv*, jobject, jint deck, jdouble inertia) {
    return javaStatus(t_core.setVirtualVTInertia(deck, inertia));
}

// ---- Automatic gain control ----

JNIEXPORT jlong JNICALL Java_model_PlayerNative_AGCenable(JNIEnv*, jobject, jint deck, jboolean on) {
    return javaStatus(t_core.enableAGC(deck, asBool(on)));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_AGCsetOutputLevel(JNIEnv*, jobject, jint deck, jfloat level) {
    return javaStatus(t_core.setAGCGainOutputLevel(deck, level));
}

// Reads none of its arguments: the attack and delay of the gain control are fixed.
JNIEXPORT jlong JNICALL Java_model_PlayerNative_AGCsetAttackDelay(JNIEnv*, jobject, jint, jint, jint) {
    return javaStatus(1);
}

}  // extern "C"
