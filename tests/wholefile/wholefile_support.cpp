#include "wholefile_support.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace wholefile_test {

bool run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

std::string capture(const std::string& command) {
    std::string out;
    FILE* p = popen((command + " 2>/dev/null").c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

bool haveTool(const std::string& name) { return run("command -v " + name); }

FMOD::System* noSoundSystem() {
    static FMOD::System* system = [] {
        FMOD::System* s = nullptr;
        if (FMOD::System_Create(&s) != FMOD_OK || !s) return static_cast<FMOD::System*>(nullptr);
        s->setOutput(FMOD_OUTPUTTYPE_NOSOUND_NRT);
        if (s->init(16, FMOD_INIT_NORMAL, nullptr) != FMOD_OK) return static_cast<FMOD::System*>(nullptr);
        return s;
    }();
    return system;
}

TestSound::TestSound(const std::vector<unsigned char>& pcm, int channels, int bits, int rate) {
    FMOD::System* system = noSoundSystem();
    if (!system || pcm.empty()) return;
    FMOD_CREATESOUNDEXINFO ex;
    std::memset(&ex, 0, sizeof ex);
    ex.cbsize = sizeof ex;
    ex.length = static_cast<unsigned>(pcm.size());
    ex.numchannels = channels;
    ex.defaultfrequency = rate;
    ex.format = bits == 8 ? FMOD_SOUND_FORMAT_PCM8 : bits == 24 ? FMOD_SOUND_FORMAT_PCM24 : FMOD_SOUND_FORMAT_PCM16;
    if (system->createSound(nullptr, FMOD_OPENUSER | FMOD_SOFTWARE, &ex, &sound_) != FMOD_OK || !sound_) {
        sound_ = nullptr;
        return;
    }
    void *p1 = nullptr, *p2 = nullptr;
    unsigned l1 = 0, l2 = 0;
    if (sound_->lock(0, ex.length, &p1, &p2, &l1, &l2) != FMOD_OK) return;
    std::memcpy(p1, pcm.data(), l1);
    if (p2 && l2) std::memcpy(p2, pcm.data() + l1, l2);
    sound_->unlock(p1, p2, l1, l2);
}

TestSound::TestSound(const std::string& path) {
    FMOD::System* system = noSoundSystem();
    if (!system) return;
    if (system->createSound(path.c_str(), FMOD_SOFTWARE | FMOD_CREATESTREAM | FMOD_OPENONLY | FMOD_ACCURATETIME,
                            nullptr, &sound_) != FMOD_OK)
        sound_ = nullptr;
}

TestSound::~TestSound() {
    if (sound_) sound_->release();
}

std::vector<unsigned char> bytesOf(const std::vector<int16_t>& samples) {
    std::vector<unsigned char> out(samples.size() * 2);
    std::memcpy(out.data(), samples.data(), out.size());
    return out;
}

std::vector<unsigned char> readAll(FMOD::Sound* sound) {
    std::vector<unsigned char> out;
    if (!sound) return out;
    sound->seekData(0);
    std::vector<unsigned char> buf(65536);
    for (;;) {
        unsigned got = 0;
        const FMOD_RESULT r = sound->readData(buf.data(), static_cast<unsigned>(buf.size()), &got);
        out.insert(out.end(), buf.begin(), buf.begin() + got);
        if (r != FMOD_OK || got == 0) break;
    }
    return out;
}

// The function table carries no user pointer; the tests that use a RecordingEnv run one at a time,
// so the latest one made is the one called.
static RecordingEnv* g_current = nullptr;

RecordingEnv::RecordingEnv() {
    std::memset(&functions_, 0, sizeof functions_);
    g_current = this;
    functions_.GetObjectClass = [](JNIEnv*, jobject obj) -> jclass { return reinterpret_cast<jclass>(obj); };
    functions_.GetMethodID = [](JNIEnv*, jclass, const char* name, const char* sig) -> jmethodID {
        if (g_current->hasSetValue && std::strcmp(name, "setValue") == 0 && std::strcmp(sig, "(I)V") == 0)
            return reinterpret_cast<jmethodID>(1);
        g_current->exceptionPending = true;
        return nullptr;
    };
    functions_.CallVoidMethodV = [](JNIEnv*, jobject, jmethodID, va_list args) {
        g_current->values.push_back(va_arg(args, jint));
    };
    functions_.ExceptionCheck = [](JNIEnv*) -> jboolean { return g_current->exceptionPending ? JNI_TRUE : JNI_FALSE; };
    functions_.ExceptionClear = [](JNIEnv*) {
        g_current->exceptionPending = false;
        ++g_current->exceptionsCleared;
    };
    functions_.DeleteLocalRef = [](JNIEnv*, jobject) {};
    env_.functions = &functions_;
}

}  // namespace wholefile_test
