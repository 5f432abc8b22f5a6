// Chooses the process's backend once: the device table, else a PulseAudio server, else nothing.
#include <cstdlib>
#include <mutex>

#include "device.hpp"
#include "device_table.hpp"
#include "null_backend.hpp"
#include "pulse_backend.hpp"
#include "virtual_backend.hpp"

namespace pw::dev {
namespace {

constexpr const char* kTableVariable = "PELLWARDEN_DEVICE_TABLE";

struct Registry {
    std::mutex mutex;
    Backend* current = nullptr;
    // Every backend ever chosen, kept to process exit: callers hold Backend& and streams.
    std::vector<std::unique_ptr<Backend>> all;
};

// Never destroyed: the engine object is a static too, and its destructor may close systems (and
// their streams on these back-ends) during static destruction, in an order no file controls.
Registry& registry() {
    static Registry* r = new Registry;
    return *r;
}

std::unique_ptr<Backend> choose() {
    const char* table = std::getenv(kTableVariable);
    if (table && *table) return std::make_unique<VirtualBackend>(loadDeviceTable(table));
    if (std::unique_ptr<Backend> pulse = PulseBackend::connect()) return pulse;
    return std::make_unique<NullBackend>();
}

}  // namespace

Backend& autodetectBackend() {
    Registry& r = registry();
    std::lock_guard<std::mutex> lk(r.mutex);
    if (!r.current) {
        r.all.push_back(choose());
        r.current = r.all.back().get();
    }
    return *r.current;
}

void reloadBackendForTests() {
    Registry& r = registry();
    std::lock_guard<std::mutex> lk(r.mutex);
    r.current = nullptr;
}

std::shared_ptr<VirtualOutputDevice> findVirtualOutput(const std::string& name) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lk(r.mutex);
    auto* table = dynamic_cast<VirtualBackend*>(r.current);
    return table ? table->findOutput(name) : nullptr;
}

}  // namespace pw::dev
