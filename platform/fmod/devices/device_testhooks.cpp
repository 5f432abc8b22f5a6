// The device test hooks: they observe and step virtual outputs of the device table.
#include <string>
#include <vector>

#include "fmod_testhooks.hpp"
#include "virtual_backend.hpp"

namespace pw::testhooks {

std::vector<float> received(const std::string& name) {
    auto device = dev::findVirtualOutput(name);
    return device ? device->received() : std::vector<float>{};
}

int receivedChannels(const std::string& name) {
    auto device = dev::findVirtualOutput(name);
    return device ? device->receivedChannels() : 0;
}

void clearReceived(const std::string& name) {
    if (auto device = dev::findVirtualOutput(name)) device->clearReceived();
}

bool step(const std::string& name, unsigned blocks) {
    auto device = dev::findVirtualOutput(name);
    return device && device->step(blocks);
}

}  // namespace pw::testhooks
