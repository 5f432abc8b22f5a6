// The device test hooks: they observe and step virtual outputs of the device table, and hold
// the sound server's lock.
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "fmod_testhooks.hpp"
#include "pulse_backend.hpp"
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

bool stepToRest(const std::string& name, unsigned blocks) {
    auto device = dev::findVirtualOutput(name);
    return device && device->stepToRest(blocks);
}

bool holdSoundServerLock(unsigned milliseconds) {
    const auto connection = dev::pulseConnection();
    if (!connection) return false;
    dev::PulseConnection::Lock lock(*connection);
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return true;
}

}  // namespace pw::testhooks
