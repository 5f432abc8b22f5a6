// The process's back-ends, each made once: the device table, the PulseAudio server, and the
// autodetected one (the table, else the server, else nothing).
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
    // The back-end of each choice, made on first use: the device table, the PulseAudio server,
    // and what autodetection settled on (one of the first two, or an empty one).
    Backend* table = nullptr;
    Backend* pulse = nullptr;
    Backend* current = nullptr;
    // Every backend ever made, kept to process exit: callers hold Backend& and streams.
    std::vector<std::unique_ptr<Backend>> all;
};

// Never destroyed: the engine object is a static too, and its destructor may close systems (and
// their streams on these back-ends) during static destruction, in an order no file controls.
Registry& registry() {
    static Registry* r = new Registry;
    return *r;
}

// r.mutex held. Keeps `made` (or, when it is null, a backend without drivers) for the process.
Backend* keep(Registry& r, std::unique_ptr<Backend> made) {
    r.all.push_back(made ? std::move(made) : std::make_unique<NullBackend>());
    return r.all.back().get();
}

// r.mutex held.
Backend* tableLocked(Registry& r) {
    if (!r.table) {
        const char* table = std::getenv(kTableVariable);
        r.table = keep(r, table && *table ? std::make_unique<VirtualBackend>(loadDeviceTable(table)) : nullptr);
    }
    return r.table;
}

// r.mutex held.
Backend* pulseLocked(Registry& r) {
    if (!r.pulse) r.pulse = keep(r, PulseBackend::connect());
    return r.pulse;
}

}  // namespace

Backend& autodetectBackend() {
    Registry& r = registry();
    std::lock_guard<std::mutex> lk(r.mutex);
    if (!r.current) {
        const char* table = std::getenv(kTableVariable);
        r.current = table && *table ? tableLocked(r) : pulseLocked(r);
    }
    return *r.current;
}

Backend& tableBackend() {
    Registry& r = registry();
    std::lock_guard<std::mutex> lk(r.mutex);
    return *tableLocked(r);
}

Backend& pulseBackend() {
    Registry& r = registry();
    std::lock_guard<std::mutex> lk(r.mutex);
    return *pulseLocked(r);
}

void reloadBackendForTests() {
    Registry& r = registry();
    std::lock_guard<std::mutex> lk(r.mutex);
    r.current = nullptr;
    r.table = nullptr;
    r.pulse = nullptr;
}

std::shared_ptr<VirtualOutputDevice> findVirtualOutput(const std::string& name) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lk(r.mutex);
    auto* table = dynamic_cast<VirtualBackend*>(r.table);
    return table ? table->findOutput(name) : nullptr;
}

}  // namespace pw::dev
