// Start-up and shutdown exports: the InitPlayer variants and CleanupPlayer.
//
// Each InitPlayer variant logs the version banner, stores the time-stretch quality that deck
// channels made from now on read, and returns the engine's start-up status. The banner reaches the
// debug log only when SetDebug(true) came first; a second start-up while running logs it again and
// returns the engine's answer for that case.
#include "DebugLog.h"
#include "EngineInfo.h"
#include "JavaBridge.h"
#include "TKCore.h"
#include "model_PlayerNative.h"

namespace {

jlong startEngine(unsigned int mode, unsigned int resampler, unsigned int rate, unsigned int quality) {
    debugMsg("Initialize Core Engine version:%s\n", engineVersion());
    debugMsg("========================================\n");
    CTKCore::g_uiTimeStretcherQuality = quality;
    return javaStatus(t_core.InitPlayer(mode, resampler, rate));
}

unsigned int asUnsigned(jint value) { return static_cast<unsigned int>(value); }

}  // namespace

extern "C" {

JNIEXPORT jlong JNICALL Java_model_PlayerNative_InitPlayer(JNIEnv*, jobject) { return startEngine(0, 1, 44100, 1); }

JNIEXPORT jlong JNICALL Java_model_PlayerNative_InitPlayer2(JNIEnv*, jobject, jint mode) {
    return startEngine(asUnsigned(mode), 1, 44100, 1);
}

// The resampler doubles as the time-stretch quality here.
JNIEXPORT jlong JNICALL Java_model_PlayerNative_InitPlayer3(JNIEnv*, jobject, jint mode, jint resampler, jint rate) {
    return startEngine(asUnsigned(mode), asUnsigned(resampler), asUnsigned(rate), asUnsigned(resampler));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_InitPlayer4(JNIEnv*, jobject, jint mode, jint resampler, jint rate,
                                                            jint quality) {
    return startEngine(asUnsigned(mode), asUnsigned(resampler), asUnsigned(rate), asUnsigned(quality));
}

// 1 whatever the clean-up did; safe when the engine never started.
JNIEXPORT jlong JNICALL Java_model_PlayerNative_CleanupPlayer(JNIEnv*, jobject) {
    t_core.CleanUp();
    debugMsg("======================\nCleanupPlayer after CleanUp\n=======================\n");
    return javaStatus(1);
}

}  // extern "C"
