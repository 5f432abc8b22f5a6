// Shared by the start-up tests: a scratch working directory with a fresh debug log, an engine
// that is shut down again whatever the test did, and a constant generator unit.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "FMODSystem.h"
#include "PlayerList.h"
#include "TKCore.h"
#include "fmod_testhooks.hpp"

namespace startuptest {

namespace fs = std::filesystem;
namespace hooks = pw::testhooks;

inline int live(hooks::Kind kind) { return hooks::liveCount(kind); }

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The debug log is opened once per process; close it so the next message opens a fresh one in
// the current working directory.
inline void forgetDebugLog() {
    CTKCore::g_cDebugLock.Enter(__func__, __FILE__, __LINE__);
    if (CTKCore::g_fDebugFile != nullptr) std::fclose(CTKCore::g_fDebugFile);
    CTKCore::g_fDebugFile = nullptr;
    CTKCore::g_cDebugLock.Leave(__func__, __FILE__, __LINE__);
}

inline int countOf(const std::string& text, const std::string& needle) {
    int n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++n;
    return n;
}

// Every test runs in a scratch working directory (the engine looks for "./plugins" and writes
// "TKPNdebug.log" there), with debugging on, and leaves the engine shut down.
class EngineTest : public ::testing::Test {
protected:
    EngineTest() : m_previous(fs::current_path()) {
        char pattern[] = "/tmp/pw-startup-XXXXXX";
        if (mkdtemp(pattern) == nullptr) ADD_FAILURE() << "no scratch directory";
        m_dir = pattern;
        fs::current_path(m_dir);
    }
    ~EngineTest() override {
        fs::current_path(m_previous);
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }
    void SetUp() override {
        t_core.CleanUp();
        forgetDebugLog();
        CTKCore::g_bDebug = true;
        m_savedUseMS = CTKCore::g_usebuffersizesMS;
        m_savedDspSize = CTKCore::g_dsp_buffer_size;
        m_savedDspMS = CTKCore::g_dsp_buffer_sizeMS;
    }
    void TearDown() override {
        t_core.CleanUp();
        for (int& uses : CTKCore::g_SystemsUseCount) uses = 0;
        CTKCore::g_fMasterGain = 1.0f;
        CTKCore::g_usebuffersizesMS = m_savedUseMS;
        CTKCore::g_dsp_buffer_size = m_savedDspSize;
        CTKCore::g_dsp_buffer_sizeMS = m_savedDspMS;
        hooks::overrideVersion(0);
        CTKCore::g_bDebug = false;
        forgetDebugLog();
    }
    std::string logText() const { return readFile(m_dir + "/TKPNdebug.log"); }

    std::vector<std::string> slotNames() const {
        std::vector<std::string> names;
        for (int i = 0; i < CTKCore::g_soundcardcount; ++i) names.emplace_back(CTKCore::g_soundcards[i]);
        return names;
    }
    std::vector<int> roles() const {
        return std::vector<int>(CTKCore::g_outputstate, CTKCore::g_outputstate + CTKCore::g_soundcardcount);
    }

    std::string m_dir;

private:
    fs::path m_previous;
    unsigned int m_savedUseMS = 1;
    unsigned int m_savedDspSize = 1024;
    unsigned int m_savedDspMS = 20;
};

// A two-channel unit that writes a constant on every channel: a level that any gain stage scales
// exactly.
struct Constant {
    float value = 0.5f;
};

inline FMOD_RESULT constantRead(FMOD_DSP_STATE* state, float*, float* out, unsigned length, int, int outChannels) {
    void* userData = nullptr;
    state->instance->getUserData(&userData);
    const float v = static_cast<Constant*>(userData)->value;
    for (unsigned k = 0; k < length * static_cast<unsigned>(outChannels); ++k) out[k] = v;
    return FMOD_OK;
}

inline FMOD_DSP_DESCRIPTION describeUnit(const char* name, int channels, FMOD_DSP_READCALLBACK read, void* userData) {
    FMOD_DSP_DESCRIPTION d;
    std::memset(&d, 0, sizeof d);
    std::strncpy(d.name, name, sizeof d.name - 1);
    d.version = 1;
    d.channels = channels;
    d.read = read;
    d.userdata = userData;
    return d;
}

// Plays `source` on the slot's system through a DSP channel of its own; the unit and the channel
// are appended to the lists, for the test to stop and release.
inline void playConstant(int slot, Constant* source, std::vector<FMOD::DSP*>& units,
                         std::vector<FMOD::Channel*>& channels) {
    FMOD_DSP_DESCRIPTION d = describeUnit("Constant", 2, constantRead, source);
    FMOD::DSP* unit = nullptr;
    ASSERT_EQ(CTKCore::g_Systems[slot]->createDSP(&d, &unit), FMOD_OK);
    FMOD::Channel* channel = nullptr;
    ASSERT_EQ(CTKCore::g_Systems[slot]->playDSP(FMOD_CHANNEL_FREE, unit, false, &channel), FMOD_OK);
    units.push_back(unit);
    channels.push_back(channel);
}

// The front left level of a stepped device's newest block, after the gain settings of the moment
// had time to reach it (the mixer may be one block ahead of a step). Constants through gain
// stages: the whole newest block has one level, which is checked.
inline float newestFrontLeft(const std::string& device) {
    hooks::clearReceived(device);
    EXPECT_TRUE(hooks::step(device, 3));
    const std::vector<float> got = hooks::received(device);
    const int channels = hooks::receivedChannels(device);
    if (got.empty() || channels <= 0) {
        ADD_FAILURE() << device << " received nothing";
        return NAN;
    }
    const size_t frames = got.size() / static_cast<size_t>(channels);
    const float last = got[(frames - 1) * channels];
    const size_t block = std::min<size_t>(frames, 256);
    for (size_t f = frames - block; f < frames; ++f) EXPECT_EQ(got[f * channels], last) << device << " frame " << f;
    return last;
}

}  // namespace startuptest
