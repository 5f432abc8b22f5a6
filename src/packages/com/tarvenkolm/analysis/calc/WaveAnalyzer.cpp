#include "WaveAnalyzer.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <new>

#include "BeatTrackAnalyzer.h"
#include "DebugLog.h"
#include "JavaVM.h"
#include "ReplayGainAnalyzer.h"
#include "SilenceAnalyzer.h"
#include "WaveDataAnalyzer.h"

namespace com_tarvenkolm_analysis_calc {

namespace {

constexpr long kRefused = -4;
constexpr unsigned kChunkFrames = 2048;  // until a task asks for another chunk size
constexpr long kMaxPauseMs = 15;

struct SoundFormat {
    float rate = 44100.0f;
    int channels = 2;
    int bytesPerSample = 1;
    unsigned lengthBytes = 0;
    unsigned lengthFrames = 0;
};

// Asks the sound for its format; a failing call is logged and leaves the default.
SoundFormat readFormat(FMOD::Sound* sound) {
    SoundFormat f;
    float rate = 0.0f;
    FMOD_RESULT r = sound->getDefaults(&rate, nullptr, nullptr, nullptr);
    ERRCHECK_HERE(r);
    if (r == FMOD_OK) f.rate = rate;
    int channels = f.channels, bits = 8;
    r = sound->getFormat(nullptr, nullptr, &channels, &bits);
    ERRCHECK_HERE(r);
    if (r == FMOD_OK) f.channels = channels;
    f.bytesPerSample = bits > 15 ? bits / 8 : 1;
    ERRCHECK_HERE(sound->getLength(&f.lengthBytes, FMOD_TIMEUNIT_PCMBYTES));
    ERRCHECK_HERE(sound->getLength(&f.lengthFrames, FMOD_TIMEUNIT_PCM));
    return f;
}

// Progress to the Java listener's setValue(int), when it has one. A percent of 0 goes out after
// every chunk until it changes; every other value once.
class Progress {
public:
    Progress(JNIEnv* env, jobject listener) : env_(env), listener_(listener) {
        if (!env || !listener) return;
        jclass cls = env->GetObjectClass(listener);
        setValue_ = getMethodOrClear(env, cls, "setValue", "(I)V");
        if (cls) env->DeleteLocalRef(cls);
    }
    void report(uint64_t pos, unsigned lengthFrames) {
        if (!setValue_ || pos == 0 || lengthFrames == 0) return;
        const int percent = static_cast<int>(static_cast<float>(pos) / static_cast<float>(lengthFrames) * 100.0f);
        if (percent == last_ && percent != 0) return;
        last_ = percent;
        env_->CallVoidMethod(listener_, setValue_, static_cast<jint>(percent));
        // An exception thrown by the listener must not stay pending into the next JNI call.
        if (env_->ExceptionCheck()) env_->ExceptionClear();
    }

private:
    JNIEnv* env_;
    jobject listener_;
    jmethodID setValue_ = nullptr;
    int last_ = 0;
};

// True once when the cancel word holds 1, which is reset to 0 in the same atomic step. The word
// lives in a Java direct buffer that another thread writes while the analysis runs.
bool takeCancel(int* cancel) {
    if (!cancel) return false;
    int expected = 1;
    return __atomic_compare_exchange_n(cancel, &expected, 0, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE);
}

}  // namespace

WaveAnalyzer::WaveAnalyzer(WaveAnalyzerOptions* o, WaveAnalyzerResult* r, FMOD::Sound* s)
    : options(o), result(r), sound(s) {
    if (!options || !result) return;
    const unsigned bits = options->activeCalcOptions;
    IWaveAnalyzerTask* task = nullptr;
    if ((bits & WAVEANALYZER_WAVEDATA) && (task = new (std::nothrow) WaveDataAnalyzer())) tasks.push_back(task);
    if ((bits & WAVEANALYZER_SILENCE) && (task = new (std::nothrow) SilenceAnalyzer())) tasks.push_back(task);
    if ((bits & WAVEANALYZER_REPLAYGAIN) && (task = new (std::nothrow) ReplayGainAnalyzer())) tasks.push_back(task);
    if ((bits & WAVEANALYZER_BEATTRACK) && (task = new (std::nothrow) BeatTrackAnalyzer())) tasks.push_back(task);
}

WaveAnalyzer::~WaveAnalyzer() {
    for (IWaveAnalyzerTask* task : tasks) delete task;
    tasks.clear();
}

long WaveAnalyzer::doProcessing(JNIEnv* env, jobject listener, int* cancel, bool throttle) {
    Progress progress(env, listener);
    if (!options || options->activeCalcOptions == 0 || !sound) return kRefused;

    const SoundFormat fmt = readFormat(sound);
    if (fmt.bytesPerSample > 2 || fmt.channels > 2 || fmt.channels < 1) return kRefused;
    const unsigned frameSize = static_cast<unsigned>(fmt.bytesPerSample * fmt.channels);

    if (options->endPosition <= options->startPosition) options->endPosition = fmt.lengthFrames;
    unsigned chunkBytes = kChunkFrames * frameSize;

    for (IWaveAnalyzerTask* task : tasks) {
        task->sampleRate = fmt.rate;
        task->channels = fmt.channels;
        task->bytesPerSample = fmt.bytesPerSample;
        task->lengthBytes = fmt.lengthBytes;
        task->lengthFrames = fmt.lengthFrames;
        task->options = options;
        task->result = result;
        task->pointWindow = 0;
        task->skip = 0;
        task->done = false;
        const long r = task->init(&chunkBytes);
        if (r != 1) return r;
    }
    // Whole frames only, and at least one.
    chunkBytes = std::max(chunkBytes / frameSize, 1u) * frameSize;
    const unsigned chunkFrames = chunkBytes / frameSize;

    ERRCHECK_HERE(sound->seekData(options->startPosition));
    unsigned char* buffer = new (std::nothrow) unsigned char[chunkBytes];
    if (!buffer) return -28;

    // The waveform task examines only its window when every other task says it may (each leaves
    // 0, "every frame", unless it sets one).
    unsigned pointWindow = tasks.empty() ? 0u : UINT32_MAX;
    long pauseMs = 0;
    for (IWaveAnalyzerTask* task : tasks) {
        pointWindow = std::min(pointWindow, task->pointWindow);
        pauseMs = std::max(pauseMs, task->getMeanPause());
    }
    for (IWaveAnalyzerTask* task : tasks) task->pointWindow = pointWindow;
    pauseMs = std::min(pauseMs, kMaxPauseMs);

    long last = 1;
    uint64_t pos = options->startPosition;
    while (pos < options->endPosition) {
        unsigned got = 0;
        const FMOD_RESULT readResult = sound->readData(buffer, chunkBytes, &got);
        // A read that brings nothing ends the pass: there is nothing to hand on, and a task given
        // no data would report an error for a sound that simply ended early.
        if (got == 0) break;
        const unsigned chunkIndex = static_cast<unsigned>(pos / chunkFrames);
        bool called = false;
        bool allFinished = true;
        unsigned minSkip = UINT32_MAX;
        for (IWaveAnalyzerTask* task : tasks) {
            if (task->done) continue;
            last = task->processData(buffer, got, chunkIndex);
            called = true;
            minSkip = std::min(minSkip, task->skip);
            if (last == 1 && !task->done) allFinished = false;
        }
        pos += got / frameSize;
        progress.report(pos, fmt.lengthFrames);
        if (called && minSkip != 0) {
            pos += minSkip;
            if (pos < fmt.lengthFrames) ERRCHECK_HERE(sound->seekData(static_cast<unsigned>(pos)));
        }
        const bool endPass = allFinished || readResult != FMOD_OK;
        if (takeCancel(cancel)) break;
        if (throttle && pauseMs > 0) usleep(static_cast<useconds_t>(pauseMs * 1000));
        if (endPass) break;
    }

    if (options->activeCalcOptions & WAVEANALYZER_SILENCE) {
        // Backwards from the end, chunk by chunk, for the trailing silence. The start leaves out
        // the last frameSize frames, as the analysis always has; a sound shorter than that plus a
        // chunk has no backward pass at all.
        int64_t p = static_cast<int64_t>(fmt.lengthFrames) - chunkFrames - frameSize;
        if (p > 0) {
            ERRCHECK_HERE(sound->seekData(static_cast<unsigned>(p)));
            for (;;) {
                unsigned got = 0;
                sound->readData(buffer, chunkBytes, &got);
                if (got == 0) break;
                bool stop = false;
                for (IWaveAnalyzerTask* task : tasks) {
                    if (task->kind != WAVEANALYZER_SILENCE) continue;
                    last = task->processData(buffer, got, static_cast<unsigned>(p / chunkBytes));
                    if (last != 1 || task->done) stop = true;
                }
                if (stop) break;
                const int64_t n = got / frameSize;
                if (p <= n) {
                    ERRCHECK_HERE(sound->seekData(0));
                    break;
                }
                p -= n;
                ERRCHECK_HERE(sound->seekData(static_cast<unsigned>(p)));
            }
        }
    }

    for (IWaveAnalyzerTask* task : tasks) task->postProcess();
    delete[] buffer;
    return last;
}

}  // namespace com_tarvenkolm_analysis_calc
