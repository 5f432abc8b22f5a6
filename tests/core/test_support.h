// Shared by the core tests: a scratch working directory, and a fresh debug log inside it.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "TKCore.h"

namespace coretest {

namespace fs = std::filesystem;

// Makes a fresh directory the working directory for the test's life.
class ScratchDir {
public:
    ScratchDir() : m_previous(fs::current_path()) {
        char pattern[] = "/tmp/pw-core-XXXXXX";
        if (mkdtemp(pattern) == nullptr) ADD_FAILURE() << "no scratch directory";
        m_path = pattern;
        fs::current_path(m_path);
    }
    ~ScratchDir() {
        fs::current_path(m_previous);
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    const std::string& path() const { return m_path; }

private:
    fs::path m_previous;
    std::string m_path;
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Closes whatever debug log the process holds so the next message opens a new one. The log is
// meant to stay open for the process's life; only tests start over.
inline void forgetDebugLog() {
    CTKCore::g_cDebugLock.Enter(__func__, __FILE__, __LINE__);
    if (CTKCore::g_fDebugFile != nullptr) std::fclose(CTKCore::g_fDebugFile);
    CTKCore::g_fDebugFile = nullptr;
    CTKCore::g_cDebugLock.Leave(__func__, __FILE__, __LINE__);
}

// A test with debugging on and the log in a scratch working directory.
class DebugLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        forgetDebugLog();
        CTKCore::g_bDebug = true;
    }
    void TearDown() override {
        CTKCore::g_bDebug = false;
        forgetDebugLog();
    }
    std::string logPath() const { return m_dir.path() + "/TKPNdebug.log"; }
    std::string logText() const { return readFile(logPath()); }

    ScratchDir m_dir;
};

}  // namespace coretest
