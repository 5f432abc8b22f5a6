// A temporary folder for one test, removed with everything in it on destruction.
#pragma once

#include <string>

namespace pw::test {

class TempDir {
public:
    // Creates /tmp/<prefix>XXXXXX (TMPDIR is honoured). Throws std::runtime_error on failure.
    explicit TempDir(const std::string& prefix = "pw-test-");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + name
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

}  // namespace pw::test
