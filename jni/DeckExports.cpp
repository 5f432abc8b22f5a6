// Deck exports: load, transport, volumes, speed and tempo, loops and snippets, frame search, the
// deck's levels, position and tone, and its beat tracker. Each one forwards to the per-deck entry
// point on t_core; the engine creates a deck on first use and answers for one that cannot exist.
//
// Value queries (GetPosition, GetLength, GetVolume, GetVolumeMonitor, GetBPM) hand their one
// 32-bit value through the caller's direct buffer and return 1: the engine's answer, "not started"
// included, is the value. Java repeats them while decks play, so they allocate nothing and make no
// Java object.
//
// Thread safety
// - Each export runs on the Java thread that called it and uses its JNIEnv only there. The bridge
//   takes no lock of its own; the engine's locks order concurrent calls.
#include <cstdint>
#include <cstring>

#include "DebugLog.h"
#include "JavaBridge.h"
#include "JavaVM.h"
#include "TKCore.h"
#include "model_PlayerNative.h"

namespace {

// Bytes of the text GetTone hands the engine: a note name is three characters.
constexpr std::size_t kToneTextBytes = 256;

bool asBool(jboolean value) { return value != JNI_FALSE; }

// Positions that the engine takes as 32-bit values keep the low 32 bits of the Java long (so
// 4294967296 + 1000 reaches the engine as 1000).
unsigned int low32(jlong value) { return static_cast<unsigned int>(static_cast<std::uint64_t>(value) & 0xFFFFFFFFu); }
int low32Signed(jlong value) { return static_cast<int>(low32(value)); }

// The out-buffer rule: -4 when the count and the capacity both say otherwise for `values` 32-bit
// values (the engine is not asked); 1 without writing when the buffer has no address; otherwise
// write(address) fills it and the answer is 1.
template <typename Write>
jlong writeOutBuffer(JNIEnv* env, jobject buffer, jint count, int values, Write write) {
    return withOutBuffer(env, buffer, count, values, [&](void* address) {
        write(address);
        return 1;
    });
}

// One value asked of the engine, written in the machine's byte order by the out-buffer rule.
template <typename Value, typename Query>
jlong valueQuery(JNIEnv* env, jobject buffer, jint count, Query query) {
    static_assert(sizeof(Value) == 4, "out-values are 32-bit");
    return writeOutBuffer(env, buffer, count, 1, [&](void* address) {
        const Value value = query();
        std::memcpy(address, &value, sizeof value);
    });
}

}  // namespace

extern "C" {

// ---- Loading ----

// Byte-array form: both slots as given; the engine tests their range.
JNIEXPORT jlong JNICALL Java_model_PlayerNative_Load(JNIEnv* env, jobject, jint deck, jbyteArray path, jint mainSlot,
                                                     jint cueSlot) {
    JavaByteArrayString name(env, path);
    return javaStatus(t_core.Load(deck, name.get(), mainSlot, cueSlot, false));
}

// UTF-8 form despite the name; a negative slot becomes 0.
JNIEXPORT jlong JNICALL Java_model_PlayerNative_LoadUnicode(JNIEnv* env, jobject, jint deck, jstring path,
                                                            jint mainSlot, jint cueSlot) {
    if (!env) return javaStatus(kJniMissing);
    if (!path) return throwNullString(env);
    JavaUtf8String name(env, path);
    if (!name.ok()) return javaStatus(kJniBadArgument);
    return javaStatus(t_core.Load(deck, name.get(), mainSlot < 0 ? 0 : mainSlot, cueSlot < 0 ? 0 : cueSlot, false));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_Unload(JNIEnv*, jobject, jint deck) {
    return javaStatus(t_core.Unload(deck));
}

// ---- Transport and position ----

JNIEXPORT jlong JNICALL Java_model_PlayerNative_Play(JNIEnv*, jobject, jint deck, jboolean play) {
    return javaStatus(t_core.Play(deck, asBool(play)));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_Stop(JNIEnv*, jobject, jint deck) {
    return javaStatus(t_core.Stop(deck));
}

JNIEXPORT jboolean JNICALL Java_model_PlayerNative_IsPlaying(JNIEnv*, jobject, jint deck) {
    return t_core.IsPlaying(deck) ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetPosition(JNIEnv*, jobject, jint deck, jint ms) {
    return javaStatus(t_core.SetPosition(deck, ms));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_GetPosition(JNIEnv* env, jobject, jint deck, jobject out, jint count) {
    return valueQuery<int>(env, out, count, [deck] { return t_core.GetPosition(deck); });
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_GetLength(JNIEnv* env, jobject, jint deck, jobject out, jint count) {
    return valueQuery<int>(env, out, count, [deck] { return t_core.GetLength(deck); });
}

// Unlike the value queries, the engine writes the byte count itself and its status comes back; a
// buffer without an address is refused.
JNIEXPORT jlong JNICALL Java_model_PlayerNative_CalcSongLengthRaw(JNIEnv* env, jobject, jint deck, jobject out,
                                                                  jint count) {
    void* address = nullptr;
    if (checkOutBuffer(env, out, count, 1, &address) != OutBufferCheck::Ok) return javaStatus(kJniBadArgument);
    return javaStatus(t_core.CalcSongLengthRaw(deck, static_cast<unsigned int*>(address)));
}

// ---- Volumes, mute, pan, gain, levels ----

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetVolume(JNIEnv*, jobject, jint deck, jint volume) {
    return javaStatus(t_core.SetVolume(deck, volume));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetVolumeMonitor(JNIEnv*, jobject, jint deck, jint volume) {
    return javaStatus(t_core.SetVolumeMonitor(deck, volume));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_GetVolume(JNIEnv* env, jobject, jint deck, jobject out, jint count) {
    return valueQuery<int>(env, out, count, [deck] { return t_core.GetVolume(deck); });
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_GetVolumeMonitor(JNIEnv* env, jobject, jint deck, jobject out,
                                                                 jint count) {
    return valueQuery<int>(env, out, count, [deck] { return t_core.GetVolumeMonitor(deck); });
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetMute(JNIEnv*, jobject, jint deck, jboolean mute) {
    return javaStatus(t_core.SetMute(deck, asBool(mute)));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetMuteMonitor(JNIEnv*, jobject, jint deck, jboolean mute) {
    return javaStatus(t_core.SetMuteMonitor(deck, asBool(mute)));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetPan(JNIEnv*, jobject, jint deck, jint pan) {
    return javaStatus(t_core.SetPan(deck, pan));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetGain(JNIEnv*, jobject, jint deck, jint gain) {
    return javaStatus(t_core.SetGain(deck, gain));
}

// Left then right, written by the engine straight into the buffer. 1 whatever the engine said:
// before start-up the buffer keeps what it held.
JNIEXPORT jlong JNICALL Java_model_PlayerNative_GetLevels(JNIEnv* env, jobject, jint deck, jobject out, jint count) {
    return writeOutBuffer(env, out, count, 2,
                          [&](void* address) { t_core.GetLevels(deck, static_cast<unsigned int*>(address)); });
}

// ---- Speed, tempo, direction ----

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetFrequencyPitch(JNIEnv*, jobject, jint deck, jint value) {
    return javaStatus(t_core.SetFrequencyPitch(deck, static_cast<double>(value)));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetFrequencyPitchEx(JNIEnv*, jobject, jint deck, jdouble value) {
    return javaStatus(t_core.SetFrequencyPitchEx(deck, value));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetTimeStretcher(JNIEnv*, jobject, jint deck, jint value) {
    return javaStatus(t_core.SetTimeStretcher(deck, value));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetReverse(JNIEnv*, jobject, jint deck, jboolean reverse) {
    return javaStatus(t_core.SetIsReverse(deck, asBool(reverse)));
}

// ---- Loops, snippets, frame search ----

// The second flag reaches the deck, which does not use it.
JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetLoop(JNIEnv*, jobject, jint deck, jboolean on, jboolean flag) {
    return javaStatus(t_core.SetLoop(deck, asBool(on), asBool(flag)));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetLoopPoints(JNIEnv*, jobject, jint deck, jlong startMs, jlong endMs) {
    return javaStatus(t_core.SetLoopPoints(deck, low32Signed(startMs), low32Signed(endMs)));
}

JNIEXPORT jboolean JNICALL Java_model_PlayerNative_IsLooping(JNIEnv*, jobject, jint deck) {
    return t_core.IsLooping(deck) ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_AddPlaybackSnippet(JNIEnv*, jobject, jint deck, jlong startMs,
                                                                   jlong endMs) {
    return javaStatus(t_core.AddPlaybackSnippet(deck, low32(startMs), low32(endMs)));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_FrameSearchForward(JNIEnv*, jobject, jint deck, jint step) {
    return javaStatus(t_core.FrameSearchForward(deck, step));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_FrameSearchBackward(JNIEnv*, jobject, jint deck, jint step) {
    return javaStatus(t_core.FrameSearchBackward(deck, step));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetFrameSearchLength(JNIEnv*, jobject, jint deck, jint ms) {
    return javaStatus(t_core.SetFrameSearchLength(deck, static_cast<unsigned int>(ms)));
}

// ---- Handles and analysis ----

JNIEXPORT jlong JNICALL Java_model_PlayerNative_SetBufferSize(JNIEnv*, jobject, jint deck, jint size) {
    return javaStatus(t_core.SetBufferSize(deck, size));
}

// The channel as a 64-bit handle, unchanged: 0 without one, -1 before start-up.
JNIEXPORT jlong JNICALL Java_model_PlayerNative_GetChannelHandle(JNIEnv*, jobject, jint deck) {
    return static_cast<jlong>(t_core.GetChannelHandle(deck));
}

JNIEXPORT jlong JNICALL Java_model_PlayerNative_GetBPM(JNIEnv* env, jobject, jint deck, jobject out, jint count) {
    return valueQuery<float>(env, out, count, [deck] { return t_core.GetBPM(deck); });
}

// The engine writes nothing before start-up (or for a deck without a source): "" then.
JNIEXPORT jstring JNICALL Java_model_PlayerNative_GetTone(JNIEnv* env, jobject, jint deck) {
    char text[kToneTextBytes] = {0};
    t_core.GetTone(deck, text);
    text[kToneTextBytes - 1] = '\0';
    return newJavaString(env, text);
}

// The tracker's worker reports to Java through the stored VM, so it is stored before the engine
// can start a worker.
JNIEXPORT jlong JNICALL Java_model_PlayerNative_startBeatTracking(JNIEnv* env, jobject, jint deck, jboolean on) {
    if (!env) return javaStatus(kJniMissing);
    storeJavaVM(env);
    debugMsg("startBeatTracking: %d %d\n", static_cast<int>(deck), asBool(on) ? 1 : 0);
    return javaStatus(t_core.startBeatTracking(deck, asBool(on)));
}

}  // extern "C"
