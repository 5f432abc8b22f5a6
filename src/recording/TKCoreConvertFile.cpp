// File conversion: decodes any playable file on the silent system and writes it as a 16-bit PCM WAV
// file through a private recorder, reporting progress to a Java listener and watching a cancel
// word.
//
// Rules kept here:
// - Whatever the source's sample format, the file holds 16-bit samples, as its header says.
// - Progress counts frames in the source's own frame size; the last report of a complete run is
//   100.
// - A destination name that cannot be represented as it was given (more than 254 UTF-16 units, an
//   unpaired surrogate) is refused with -29 rather than written under another name; so is the
//   source itself as destination.
// - A file that cannot be written completely is removed and the conversion answers -29.
// - A source that fails to decode part way (a damaged or cut-off file: a decode error, or an end
//   before the length the source declared) keeps what was decoded as a valid WAV file and answers
//   -5: the user keeps the audio, and is told it is not the whole source. So does a file that the
//   audio layer opened cut short (it holds less than its header says): all it holds is converted.
// - A cancelled conversion keeps a valid WAV file of what was converted and answers 1.
//
// Thread safety: no engine lock. Runs on the calling Java thread (the listener is called there),
// with its own sound and its own recorder; the cancel word may be written by any Java thread.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "DebugLog.h"
#include "EngineCalls.h"
#include "FMODSystem.h"
#include "MixDown.h"
#include "TKCore.h"
#include "fmod_sample_format.hpp"
#include "tk_string.h"

namespace {

// Destination names longer than this many UTF-16 units do not fit the converter's name buffer.
constexpr size_t kMaxDestinationUnits = 254;
// Frames decoded per read.
constexpr unsigned kReadFrames = 8192;

// The listener's setValue(int), when there is one. A listener without the method, or one whose
// method throws, gets no (further) reports; a lookup failure leaves no exception behind.
class ProgressReport {
public:
    ProgressReport(JNIEnv* env, jobject* listener) {
        if (!env || !listener || !*listener) return;
        jclass cls = env->GetObjectClass(*listener);
        if (!cls) return;
        jmethodID method = env->GetMethodID(cls, "setValue", "(I)V");
        env->DeleteLocalRef(cls);
        if (!method) {
            if (env->ExceptionCheck()) env->ExceptionClear();
            return;
        }
        m_env = env;
        m_listener = *listener;
        m_method = method;
    }

    void report(int percent) {
        if (!m_method) return;
        m_env->CallVoidMethod(m_listener, m_method, static_cast<jint>(percent));
        // An exception stays pending for the Java caller; no JNI call may follow it.
        if (m_env->ExceptionCheck()) m_method = nullptr;
    }

private:
    JNIEnv* m_env = nullptr;
    jobject m_listener = nullptr;
    jmethodID m_method = nullptr;
};

// The source as the decoder delivers it.
struct SourceFormat {
    float rate = 44100.0f;
    int channels = 2;
    FMOD_SOUND_FORMAT format = FMOD_SOUND_FORMAT_NONE;
    unsigned length = 0;  // PCM frames
    bool cutShort = false;  // the file ends before its header's length; opened with what it holds
};

SourceFormat querySource(FMOD::Sound* sound) {
    SourceFormat f;
    float rate = 0.0f;
    FMOD_RESULT r = sound->getDefaults(&rate, nullptr, nullptr, nullptr);
    ERRCHECK("ConvertFile", __FILE__, __LINE__, r);
    if (r == FMOD_OK && rate > 0.0f) f.rate = rate;
    int channels = 0;
    FMOD_SOUND_FORMAT format = FMOD_SOUND_FORMAT_NONE;
    r = sound->getFormat(nullptr, &format, &channels, nullptr);
    ERRCHECK("ConvertFile", __FILE__, __LINE__, r);
    if (r == FMOD_OK) {
        if (channels > 0) f.channels = channels;
        f.format = format;
    }
    unsigned length = 0;
    r = sound->getLength(&length, FMOD_TIMEUNIT_PCM);
    ERRCHECK("ConvertFile", __FILE__, __LINE__, r);
    if (r == FMOD_OK) f.length = length;
    f.cutShort = sound->getTag(FMOD_TAG_CUT_SHORT, 0, nullptr) == FMOD_OK;
    ERRCHECK("ConvertFile", __FILE__, __LINE__, sound->seekData(0));
    return f;
}

// Decoded samples to 16-bit, in the one sample convention of the system (fmod_sample_format.hpp).
void toPcm16(const unsigned char* raw, size_t samples, FMOD_SOUND_FORMAT format, int16_t* out) {
    if (format == FMOD_SOUND_FORMAT_PCM16) {
        std::memcpy(out, raw, samples * 2);
        return;
    }
    const unsigned width = pw::sound::bytesPerSample(format);
    for (size_t i = 0; i < samples; ++i) out[i] = pw::sound::sampleToPcm16(raw + i * width, format);
}

// The destination as a UTF-8 path; empty when it cannot be represented as given.
std::string destinationPath(const char* utf16) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(utf16);
    size_t units = 0;
    bool highPending = false;
    for (;; ++units) {
        uint16_t u;
        std::memcpy(&u, p + 2 * units, sizeof u);
        if (u == 0) break;
        const bool high = u >= 0xD800 && u <= 0xDBFF;
        const bool low = u >= 0xDC00 && u <= 0xDFFF;
        if (low != highPending) return std::string();  // a surrogate without its partner
        highPending = high;
        if (units >= kMaxDestinationUnits) return std::string();
    }
    if (highPending) return std::string();
    return tk_utf16ToUtf8(utf16);
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Removes what the conversion wrote, but only a plain file: a destination that names a device or
// another special file is left alone.
void removeWritten(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) std::remove(path.c_str());
}

int readCancel(int* cancel) { return cancel ? __atomic_load_n(cancel, __ATOMIC_ACQUIRE) : 0; }

}  // namespace

int CTKCore::ConvertFile(char* source, char* destination, JNIEnv* env, jobject* listener, int* cancel, int format,
                         int bitrate) {
    // Shutdown waits for a conversion under way, whose sound lives on the silent system.
    const tk_engine::EngineCall engineCall;
    if (!engineCall.admitted() || !g_SilentSystem) return TK_ERR_NOT_STARTED;
    const std::string sourceName = tk_pathToUtf8(source, true);
    const std::string target = destination ? destinationPath(destination) : std::string();
    debugMsg("\n==========\nConvertFile(%s, %s)\n==========\n", sourceName.c_str(), target.c_str());
    ProgressReport progress(env, listener);

    FMOD::Sound* sound = nullptr;
    const int opened = _openFmodSound(source, &sound, true, true, true);
    if (opened != 1) return opened;
    const SourceFormat f = querySource(sound);
    const int sampleBytes = static_cast<int>(pw::sound::bytesPerSample(f.format));

    int result = 1;
    if (target.empty() || sameFile(sourceName, target)) {
        debugMsg("ConvertFile: the destination cannot be written as named\n");
        result = kMixDownErrCreateFile;
    } else if (sampleBytes == 0) {
        result = TK_ERR_UNSUPPORTED;
    }
    std::unique_ptr<CMixDown> recorder;
    if (result == 1) {
        recorder.reset(new (std::nothrow) CMixDown());
        if (!recorder) result = TK_ERR_FAILED;
    }
    if (result == 1) {
        result = recorder->openFile(target.c_str(), static_cast<unsigned int>(format),
                                    static_cast<unsigned int>(bitrate), true, f.channels, 16, f.rate);
    }
    if (result != 1) {
        recorder.reset();
        _closeFmodSound(sound);
        return result;
    }

    const size_t frameBytes = static_cast<size_t>(sampleBytes) * f.channels;
    const size_t readBytes = frameBytes * kReadFrames;
    std::unique_ptr<unsigned char[]> raw(new (std::nothrow) unsigned char[readBytes]);
    std::unique_ptr<int16_t[]> pcm(new (std::nothrow) int16_t[static_cast<size_t>(kReadFrames) * f.channels]);
    const bool noMemory = !raw || !pcm;
    bool decodeFailed = false;
    bool writeFailed = false;
    bool complete = false;
    unsigned long long bytesSoFar = 0;
    int lastPercent = -1;
    while (!noMemory) {
        unsigned int got = 0;
        const FMOD_RESULT r = sound->readData(raw.get(), static_cast<unsigned int>(readBytes), &got);
        // A read that fails may still have delivered frames before the damage: they are kept.
        decodeFailed = r != FMOD_OK && r != FMOD_ERR_FILE_EOF;
        if (decodeFailed) ERRCHECK("ConvertFile", __FILE__, __LINE__, r);
        const unsigned frames = static_cast<unsigned>(got / frameBytes);
        if (frames > 0) {
            const size_t samples = static_cast<size_t>(frames) * f.channels;
            toPcm16(raw.get(), samples, f.format, pcm.get());
            const uint32_t before = recorder->writtenBytes();
            recorder->writeToFileEx(pcm.get(), frames);
            if (format == kMixDownFormatWav && recorder->writtenBytes() - before != samples * 2) {
                writeFailed = true;
                break;
            }
        }
        bytesSoFar += got;
        if (decodeFailed) break;
        if (f.length > 0) {
            const double percent = static_cast<double>(bytesSoFar) / frameBytes / f.length * 100.0;
            lastPercent = percent >= 100.0 ? 100 : static_cast<int>(percent);
            progress.report(lastPercent);
        }
        if (readCancel(cancel) == 1) {
            __atomic_store_n(cancel, 0, __ATOMIC_RELEASE);
            debugMsg("ConvertFile: cancelled\n");
            break;
        }
        if (r == FMOD_ERR_FILE_EOF || got < readBytes) {
            complete = true;
            break;
        }
    }
    const unsigned long long framesSoFar = bytesSoFar / frameBytes;
    if (complete && f.length > 0 && framesSoFar < f.length) {
        // The source ends before the length it declared: its data stops short (a cut-off file).
        debugMsg("ConvertFile: the source ended at frame %llu of %u\n", framesSoFar, f.length);
        decodeFailed = true;
        complete = false;
    } else if (complete && f.cutShort) {
        // All that the file holds is converted, but the file is not the whole source.
        debugMsg("ConvertFile: the source file is cut short; converted the %llu frames it holds\n", framesSoFar);
        decodeFailed = true;
    }
    if (complete && lastPercent != 100) progress.report(100);
    if (noMemory) debugMsg("Memory allocation error!");

    const int closed = recorder->close();
    recorder.reset();
    _closeFmodSound(sound);
    if (noMemory || writeFailed || closed != 1) {
        // What is on disk is not what was decoded: nothing is left that looks like a finished file.
        if (format == kMixDownFormatWav) removeWritten(target);
        return noMemory ? TK_ERR_FAILED : kMixDownErrCreateFile;
    }
    // A valid WAV file of everything that decoded stays; the answer says the source was damaged.
    return decodeFailed ? TK_ERR_FAILED : 1;
}
