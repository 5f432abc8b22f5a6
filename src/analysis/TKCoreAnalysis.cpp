// Whole-file analysis on the engine object: the waveform overview of an open sound, the analysis a
// Java options object asks for (reported through a Java result object), and the tempo, silence
// points and ReplayGain of a named file. All the decoding is the wave analyzer's; this file sets up
// its request and hands the result to the caller or to Java.
//
// Java: every call into Java may throw. A pending exception is cleared before the next JNI call and
// only drops the object or the call concerned; lookups that fail leave no exception behind. Beat
// lists may hold thousands of beats: each BeatEvent's local reference is released once it is in
// the list.
//
// Thread safety: everything runs on the calling thread and takes no engine lock, so analyses run
// while decks play and several Java threads may analyse different files at once. A handle is
// pinned as its sound's one reader (SoundHandleReadLease) for the whole run: a second analysis of
// the same handle waits for the first (they would share its decoder position), a CloseFile on
// another thread waits for it, and so does shutdown (each analysis is an engine call).
#include <unistd.h>

#include <cstdint>
#include <initializer_list>
#include <string>

#include "DebugLog.h"
#include "EngineCalls.h"
#include "JavaVM.h"
#include "PlayerList.h"
#include "SoundHandles.h"
#include "TKCore.h"
#include "com/tarvenkolm/analysis/calc/WaveAnalyzer.h"
#include "tk_string.h"

using namespace com_tarvenkolm_analysis_calc;

namespace {

constexpr float kDefaultRate = 44100.0f;
constexpr const char* kBeatEventClass = "com/tarvenkolm/model/pn/BeatEvent";

// Every analysis holds an engine call for its whole run: shutdown waits for it rather than free
// the silent system its sound lives on.
bool started(const tk_engine::EngineCall& call) {
    return call.admitted() && CPlayerList::initialized.load(std::memory_order_acquire) && CTKCore::g_SilentSystem;
}

std::string printable(const char* name, bool unicode) {
    if (name == nullptr) return std::string();
    return unicode ? tk_utf16ToUtf8(name) : std::string(name);
}

float rateOf(FMOD::Sound* sound) {
    float rate = 0.0f;
    if (sound->getDefaults(&rate, nullptr, nullptr, nullptr) != FMOD_OK || rate <= 0.0f) return kDefaultRate;
    return rate;
}

// A millisecond position as a frame of a sound at `rate` (single precision, truncated).
unsigned framesAt(int ms, float rate) {
    if (ms <= 0) return 0;
    return static_cast<unsigned>(static_cast<float>(ms) * rate / 1000.0f);
}

void clearPending(JNIEnv* env) {
    if (env->ExceptionCheck()) env->ExceptionClear();
}

// Frees the events a result owns once they have been reported (or not).
void deleteEvents(WaveAnalyzerResult& result) {
    for (Event* e : result.beatEvents) delete e;
    result.beatEvents.clear();
}

// A file opened for the length of one analysis, closed on every path.
class OpenedFile {
public:
    OpenedFile(char* path, bool unicode) : status(CTKCore::_openFmodSound(path, &sound, unicode, true, true)) {}
    ~OpenedFile() {
        if (sound) CTKCore::_closeFmodSound(sound);
    }
    OpenedFile(const OpenedFile&) = delete;
    OpenedFile& operator=(const OpenedFile&) = delete;

    FMOD::Sound* sound = nullptr;
    const int status;
};

long analyse(WaveAnalyzerOptions& options, WaveAnalyzerResult& result, FMOD::Sound* sound, JNIEnv* env,
             jobject listener, int* cancel, bool throttle) {
    WaveAnalyzer analyzer(&options, &result, sound);
    return analyzer.doProcessing(env, listener, cancel, throttle);
}

jobject referenceAt(jobject* address) { return address ? *address : nullptr; }

// ---- AnalyzeData's Java members ----

struct OptionsMembers {
    jmethodID activeCalcOptions, startMs, endMs, msPerPixel, silenceDB, precision, minBPM, maxBPM;
};

struct ResultMembers {
    jmethodID targetBuffer, waveData, silence, silenceStart, silenceEnd, replayGainDone, replayGain, beatsDone, bpm,
        beatEvents;
};

struct Member {
    jmethodID* id;
    const char* name;
    const char* signature;
};

// Looks each member up in the order given; false at the first one missing.
bool lookUpAll(JNIEnv* env, jobject object, std::initializer_list<Member> members) {
    jclass cls = env->GetObjectClass(object);
    bool all = cls != nullptr;
    for (const Member& m : members) {
        if (!all) break;
        *m.id = getMethodOrClear(env, cls, m.name, m.signature);
        all = *m.id != nullptr;
    }
    if (cls) env->DeleteLocalRef(cls);
    return all;
}

int intOf(JNIEnv* env, jobject o, jmethodID m) {
    const jint v = env->CallIntMethod(o, m);
    if (env->ExceptionCheck()) {
        env->ExceptionClear();
        return 0;
    }
    return v;
}

float floatOf(JNIEnv* env, jobject o, jmethodID m) {
    const jfloat v = env->CallFloatMethod(o, m);
    if (env->ExceptionCheck()) {
        env->ExceptionClear();
        return 0.0f;
    }
    return v;
}

double doubleOf(JNIEnv* env, jobject o, jmethodID m) {
    const jdouble v = env->CallDoubleMethod(o, m);
    if (env->ExceptionCheck()) {
        env->ExceptionClear();
        return 0.0;
    }
    return v;
}

template <typename T>
void callSetter(JNIEnv* env, jobject o, jmethodID m, T value) {
    env->CallVoidMethod(o, m, value);
    clearPending(env);
}

// The BeatEvent class and the members a beat list needs; released by the destructor.
struct BeatEventClass {
    explicit BeatEventClass(JNIEnv* e) : env(e), cls(findClassOrClear(e, kBeatEventClass)) {
        init = getMethodOrClear(env, cls, "<init>", "()V");
        setKeyDown = getMethodOrClear(env, cls, "setKeyDown", "(D)V");
    }
    ~BeatEventClass() {
        if (cls) env->DeleteLocalRef(cls);
    }
    BeatEventClass(const BeatEventClass&) = delete;
    BeatEventClass& operator=(const BeatEventClass&) = delete;

    bool usable() const { return cls && init; }
    jmethodID optional(const char* name, const char* signature) { return getMethodOrClear(env, cls, name, signature); }

    // A new BeatEvent at `time` seconds, or null.
    jobject make(double time) {
        jobject beat = env->NewObject(cls, init);
        if (!beat) {
            clearPending(env);
            return nullptr;
        }
        if (setKeyDown) callSetter(env, beat, setKeyDown, static_cast<jdouble>(time));
        return beat;
    }

    JNIEnv* env;
    jclass cls;
    jmethodID init = nullptr, setKeyDown = nullptr;
};

void addTo(JNIEnv* env, jobject list, jmethodID add, jobject beat) {
    env->CallBooleanMethod(list, add, beat);
    clearPending(env);
    env->DeleteLocalRef(beat);
}

// AnalyzeData's beat list: a new ArrayList of the beats with salience > 0, the first one that is not
// synthetic flagged as first beat. Null when no list can be made.
jobject analysedBeatList(JNIEnv* env, const std::vector<Event*>& events) {
    jclass listClass = findClassOrClear(env, "java/util/ArrayList");
    jmethodID init = getMethodOrClear(env, listClass, "<init>", "()V");
    jobject list = (listClass && init) ? env->NewObject(listClass, init) : nullptr;
    if (!list) clearPending(env);
    jmethodID add = getMethodOrClear(env, listClass, "add", "(Ljava/lang/Object;)Z");
    BeatEventClass beats(env);
    if (list && add && beats.usable()) {
        jmethodID setFirstBeat = beats.optional("setFirstBeat", "(Z)V");
        bool firstGiven = false;
        for (const Event* e : events) {
            if (!(e->salience > 0)) continue;
            jobject beat = beats.make(e->time);
            if (!beat) continue;
            const bool first = !firstGiven && !e->synthetic;
            firstGiven = firstGiven || first;
            if (setFirstBeat) callSetter(env, beat, setFirstBeat, static_cast<jboolean>(first ? JNI_TRUE : JNI_FALSE));
            addTo(env, list, add, beat);
        }
    }
    if (listClass) env->DeleteLocalRef(listClass);
    return list;
}

// CalcBPM's beats into the caller's list: every event, with its score and salience.
void addScoredBeats(JNIEnv* env, jobject list, jmethodID add, const std::vector<Event*>& events) {
    BeatEventClass beats(env);
    if (!beats.usable()) return;
    jmethodID setScore = beats.optional("setScoreBeat", "(D)V");
    jmethodID setSalience = beats.optional("setSalience", "(D)V");
    for (const Event* e : events) {
        jobject beat = beats.make(e->time);
        if (!beat) continue;
        if (setScore) callSetter(env, beat, setScore, static_cast<jdouble>(e->score));
        if (setSalience) callSetter(env, beat, setSalience, static_cast<jdouble>(e->salience));
        addTo(env, list, add, beat);
    }
}

}  // namespace

int CTKCore::CalcWaveForm(long sound, unsigned int startMs, char* buffer, unsigned int bufferSize,
                          double msPerPoint) {
    const tk_engine::EngineCall engineCall;
    if (!started(engineCall)) return TK_ERR_NOT_STARTED;
    debugMsg("\n==========\nCalcWaveForm()\n==========\n");
    // A handle is the sound's address zero-extended; in the 32-bit library a long holds an address
    // at or above 2 GB as a negative number, which must not be sign-extended.
    SoundHandleReadLease lease(static_cast<uint64_t>(static_cast<unsigned long>(sound)));
    if (!lease.get()) return TK_ERR_NOT_FOUND;

    WaveAnalyzerOptions options(WAVEANALYZER_WAVEDATA);
    WaveAnalyzerResult result;
    options.startPosition = framesAt(static_cast<int>(startMs > 0x7fffffffu ? 0x7fffffffu : startMs),
                                     rateOf(lease.get()));
    options.endPosition = 0;
    options.msPerPixel = msPerPoint;
    result.targetBuffer = buffer;
    result.targetBufferSize = bufferSize;
    const long status = analyse(options, result, lease.get(), nullptr, nullptr, nullptr, false);
    deleteEvents(result);
    if (status != TK_OK) return static_cast<int>(status);
    return result.waveDataCalculated ? TK_OK : 0;
}

int CTKCore::AnalyzeData(JNIEnv* env, jobject caller, jobject listener, int* cancel, long long sound, jobject options,
                         jobject result, bool throttle) {
    if (!env || !caller || sound == 0 || !options || !result) return TK_ERR_NO_DECK_OUTPUT;
    const tk_engine::EngineCall engineCall;
    if (!started(engineCall)) return TK_ERR_NOT_STARTED;
    debugMsg("\n==========\nAnalyzeData()\n==========\n");

    OptionsMembers o{};
    ResultMembers r{};
    const bool found =
        lookUpAll(env, options,
                  {{&o.activeCalcOptions, "getActiveCalcOptions", "()I"},
                   {&o.startMs, "getStartCalcPositionMs", "()I"},
                   {&o.endMs, "getEndCalcPositionMs", "()I"},
                   {&o.msPerPixel, "getMsPerPixel", "()D"},
                   {&o.silenceDB, "getSilenceTargetDB", "()F"},
                   {&o.precision, "getBPMPrecision", "()I"},
                   {&o.minBPM, "getMinBPM", "()F"},
                   {&o.maxBPM, "getMaxBPM", "()F"}}) &&
        lookUpAll(env, result,
                  {{&r.targetBuffer, "getTargetBuffer", "()Ljava/nio/ByteBuffer;"},
                   {&r.waveData, "setWaveDataCalculated", "(Z)V"},
                   {&r.silence, "setSilenceCalculated", "(Z)V"},
                   {&r.silenceStart, "setSilenceStartPoint", "(I)V"},
                   {&r.silenceEnd, "setSilenceEndPoint", "(I)V"},
                   {&r.replayGainDone, "setReplayGainCalculated", "(Z)V"},
                   {&r.replayGain, "setReplayGain", "(F)V"},
                   {&r.beatsDone, "setBeatTrackerCalculated", "(Z)V"},
                   {&r.bpm, "setBPM", "(F)V"},
                   {&r.beatEvents, "setBeatEvents", "(Ljava/util/ArrayList;)V"}});
    if (!found) return TK_ERR_CHANNEL_REFUSED;

    SoundHandleReadLease lease(static_cast<uint64_t>(sound));
    if (!lease.get()) return TK_ERR_NOT_FOUND;
    const float rate = rateOf(lease.get());

    WaveAnalyzerOptions request(static_cast<TK_WAVEANALYZER_OPTIONS>(intOf(env, options, o.activeCalcOptions)));
    WaveAnalyzerResult found_;
    request.startPosition = framesAt(intOf(env, options, o.startMs), rate);
    request.endPosition = framesAt(intOf(env, options, o.endMs), rate);
    request.msPerPixel = doubleOf(env, options, o.msPerPixel);
    request.silenceTargetDB = floatOf(env, options, o.silenceDB);
    const int precision = intOf(env, options, o.precision);
    request.bpmPrecision = precision < 0 ? 0u : static_cast<unsigned>(precision);
    request.minBPM = floatOf(env, options, o.minBPM);
    request.maxBPM = floatOf(env, options, o.maxBPM);
    jobject target = env->CallObjectMethod(result, r.targetBuffer);
    clearPending(env);
    if (target) {
        found_.targetBuffer = static_cast<char*>(env->GetDirectBufferAddress(target));
        const jlong capacity = found_.targetBuffer ? env->GetDirectBufferCapacity(target) : 0;
        found_.targetBufferSize = capacity > 0 ? static_cast<unsigned>(capacity) : 0u;
        if (!found_.targetBuffer) found_.targetBufferSize = 0;
        env->DeleteLocalRef(target);
    }

    const long status = analyse(request, found_, lease.get(), env, listener, cancel, throttle);
    if (status != TK_OK) {
        deleteEvents(found_);
        return static_cast<int>(status);
    }

    callSetter(env, result, r.waveData, static_cast<jboolean>(found_.waveDataCalculated));
    callSetter(env, result, r.silence, static_cast<jboolean>(found_.silenceCalculated));
    callSetter(env, result, r.silenceStart, static_cast<jint>(found_.silenceStartPoint));
    callSetter(env, result, r.silenceEnd, static_cast<jint>(found_.silenceEndPoint));
    callSetter(env, result, r.replayGainDone, static_cast<jboolean>(found_.replayGainCalculated));
    callSetter(env, result, r.replayGain, static_cast<jfloat>(found_.replayGain));
    callSetter(env, result, r.beatsDone, static_cast<jboolean>(found_.beatTrackerCalculated));
    callSetter(env, result, r.bpm, static_cast<jfloat>(found_.bpm));
    if (found_.beatEvents.empty()) return TK_OK;

    jobject list = analysedBeatList(env, found_.beatEvents);
    deleteEvents(found_);
    callSetter(env, result, r.beatEvents, list);
    if (list) env->DeleteLocalRef(list);
    return TK_OK;
}

int CTKCore::CalcBPM(char* path, float* bpm, JNIEnv* env, jobject* listener, bool unicode, int* cancel,
                     unsigned int precision, jobject* beatList) {
    debugMsg("CalcBPM unicode:%s\n", unicode ? "true" : "false");
    const tk_engine::EngineCall engineCall;
    if (!started(engineCall)) return TK_ERR_NOT_STARTED;
    debugMsg("\n==========\nCalcBPM()\n==========\n");
    if (!env) return TK_ERR_NO_DECK_OUTPUT;

    jobject list = referenceAt(beatList);
    jmethodID add = nullptr;
    if (list) {
        jclass cls = env->GetObjectClass(list);
        add = getMethodOrClear(env, cls, "add", "(Ljava/lang/Object;)Z");
        if (cls) env->DeleteLocalRef(cls);
    }

    OpenedFile file(path, unicode);
    debugMsg("CalcBPM openFmodSound ret:%d\n", file.status);
    if (file.status != TK_OK) return file.status;

    WaveAnalyzerOptions options(WAVEANALYZER_BEATTRACK);
    options.bpmPrecision = precision;
    WaveAnalyzerResult result;
    long status = analyse(options, result, file.sound, env, referenceAt(listener), cancel, false);
    if (status == TK_OK) {
        if (!result.beatTrackerCalculated) {
            status = 0;
        } else if (bpm) {
            *bpm = result.bpm;
        }
    }
    if (status == TK_OK && list && add) addScoredBeats(env, list, add, result.beatEvents);
    deleteEvents(result);
    return static_cast<int>(status);
}

int CTKCore::CalcSilenceDB(char* path, unsigned int* start, unsigned int* end, float silenceDB, bool unicode) {
    const tk_engine::EngineCall engineCall;
    if (!started(engineCall)) return TK_ERR_NOT_STARTED;
    debugMsg("\n==========\nCalcSilenceDB(%s)\n==========\n", printable(path, unicode).c_str());
    usleep(10000);

    OpenedFile file(path, unicode);
    unsigned int lengthMs = 0;
    if (file.sound) file.sound->getLength(&lengthMs, FMOD_TIMEUNIT_MS);
    if (file.status != TK_OK) {
        if (start) *start = 0;
        if (file.sound && end) *end = lengthMs;
        return file.status;
    }

    WaveAnalyzerOptions options(WAVEANALYZER_SILENCE);
    options.silenceTargetDB = silenceDB;
    WaveAnalyzerResult result;
    const long status = analyse(options, result, file.sound, nullptr, nullptr, nullptr, false);
    deleteEvents(result);
    const bool found = status == TK_OK && result.silenceCalculated;
    if (found) {
        if (start) *start = result.silenceStartPoint;
        if (end) *end = result.silenceEndPoint;
    }
    if (start && end && *end < *start) {
        *start = 0;
        *end = lengthMs;
    }
    if (start && end)
        debugMsg("\n==========\nCalcedSilenceDB(%d,%d)\n==========\n", static_cast<int>(*start), static_cast<int>(*end));
    return found ? TK_OK : 0;
}

int CTKCore::CalcReplayGain(char* path, float* gain, JNIEnv* env, jobject* listener, bool unicode, int* cancel) {
    const tk_engine::EngineCall engineCall;
    if (!started(engineCall)) return TK_ERR_NOT_STARTED;
    debugMsg("\n==========\nCalcReplayGain(%s)\n==========\n", printable(path, unicode).c_str());
    OpenedFile file(path, unicode);
    if (file.status != TK_OK) return 0;

    WaveAnalyzerOptions options(WAVEANALYZER_REPLAYGAIN);
    WaveAnalyzerResult result;
    long status = analyse(options, result, file.sound, env, referenceAt(listener), cancel, false);
    deleteEvents(result);
    if (status == TK_OK) {
        if (result.replayGainCalculated) {
            if (gain) *gain = result.replayGain;
        } else {
            status = 0;
        }
    }
    return static_cast<int>(status);
}
