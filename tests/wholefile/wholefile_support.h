// Shared by the whole-file analysis tests: sounds on a no-sound system (from PCM in memory or from
// files the command-line tools make), shell helpers, and a stand-in Java environment that records
// the progress a listener would receive.
#pragma once

#include <jni.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fmod.hpp"

namespace wholefile_test {

// Runs a shell command (output silenced); true when it exits with 0.
bool run(const std::string& command);
// Runs a command and returns its standard output.
std::string capture(const std::string& command);
bool haveTool(const std::string& name);

// The process's no-sound, not-real-time system (what the engine analyses on).
FMOD::System* noSoundSystem();

// A sound that owns its FMOD sound and releases it.
class TestSound {
public:
    // PCM in memory: 8-, 16- or 24-bit interleaved bytes.
    TestSound(const std::vector<unsigned char>& pcm, int channels, int bits, int rate);
    // A file opened as a stream with exact length, as the engine opens files for analysis.
    explicit TestSound(const std::string& path);
    ~TestSound();
    TestSound(const TestSound&) = delete;
    TestSound& operator=(const TestSound&) = delete;
    FMOD::Sound* get() const { return sound_; }

private:
    FMOD::Sound* sound_ = nullptr;
};

// 16-bit interleaved samples to bytes.
std::vector<unsigned char> bytesOf(const std::vector<int16_t>& samples);

// Reads a whole sound from its start as bytes.
std::vector<unsigned char> readAll(FMOD::Sound* sound);

// A JNIEnv whose only working calls are the ones progress reporting makes (GetObjectClass,
// GetMethodID, CallVoidMethodV, ExceptionCheck/Clear, DeleteLocalRef). Each setValue(int) lands
// in `values`; without `hasSetValue` the method lookup fails with a pending exception, as a
// listener class without the method would.
class RecordingEnv {
public:
    RecordingEnv();
    JNIEnv* env() { return &env_; }
    jobject listener() { return reinterpret_cast<jobject>(this); }

    std::vector<int> values;
    bool hasSetValue = true;
    bool exceptionPending = false;
    int exceptionsCleared = 0;

private:
    JNINativeInterface_ functions_;
    JNIEnv env_;
};

}  // namespace wholefile_test
