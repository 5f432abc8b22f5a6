#include "device_table_file.hpp"

#include <fstream>
#include <stdexcept>

#include "device.hpp"

namespace pw::test {

DeviceTableFile::DeviceTableFile(const std::string& text) : dir_("pw-devtable-"), path_(dir_.file("devices.txt")) {
    std::ofstream out(path_, std::ios::binary);
    out << text;
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path_);
    env_ = std::make_unique<ScopedEnv>("PELLWARDEN_DEVICE_TABLE", path_);
    pw::dev::reloadBackendForTests();
}

DeviceTableFile::~DeviceTableFile() {
    env_.reset();
    pw::dev::reloadBackendForTests();
}

}  // namespace pw::test
