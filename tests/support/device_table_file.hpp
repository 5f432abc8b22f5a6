// A device table for one test: writes the text to a file in a fresh temporary folder, points
// PELLWARDEN_DEVICE_TABLE at it and makes the audio layer read it again
// (pw::dev::reloadBackendForTests). On destruction the previous value of the variable comes
// back, the layer is reloaded once more, and the folder is removed.
//
// Use (create Systems only inside its lifetime, and release them before it ends):
//   pw::test::DeviceTableFile table(
//       "output name=\"Card1\" channels=2 sink=memory pacing=stepped\n");
//   ... FMOD_System_Create, init, pw::testhooks::step("Card1", 4), received("Card1") ...
// The folder (dir(), file()) is a good place for the test's wav sinks and inputs.
//
// Thread safety: as ScopedEnv (changes the process environment).
#pragma once

#include <memory>
#include <string>

#include "scoped_env.hpp"
#include "temp_dir.hpp"

namespace pw::test {

class DeviceTableFile {
public:
    explicit DeviceTableFile(const std::string& text);
    ~DeviceTableFile();
    DeviceTableFile(const DeviceTableFile&) = delete;
    DeviceTableFile& operator=(const DeviceTableFile&) = delete;

    const std::string& path() const { return path_; }
    const std::string& dir() const { return dir_.path(); }
    std::string file(const std::string& name) const { return dir_.file(name); }

private:
    TempDir dir_;
    std::string path_;
    std::unique_ptr<ScopedEnv> env_;
};

}  // namespace pw::test
