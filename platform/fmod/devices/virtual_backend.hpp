// The backend of the device table: its outputs, record inputs and CD drives, in table order.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "device_table.hpp"
#include "virtual_output_device.hpp"

namespace pw::dev {

class VirtualBackend : public Backend {
public:
    explicit VirtualBackend(DeviceTable table);

    std::vector<OutputDriverInfo> outputDrivers() override;
    std::vector<RecordDriverInfo> recordDrivers() override;
    std::vector<CdDriveInfo> cdDrives() override;
    FMOD_RESULT openOutput(int index, int channels, int rate, unsigned blockFrames,
                           std::unique_ptr<OutputStream>* out) override;
    FMOD_RESULT openInput(int index, int channels, int rate, std::unique_ptr<InputStream>* out) override;

    // The first output of that name, or null.
    std::shared_ptr<VirtualOutputDevice> findOutput(const std::string& name) const;

private:
    std::vector<std::shared_ptr<VirtualOutputDevice>> outputs_;  // fixed after construction
    std::vector<RecordEntry> records_;
    std::vector<CdDriveInfo> cdroms_;
};

// The output of that name in the device table's backend (tableBackend(), which autodetection
// answers when the table is set); null when there is none. For the test hooks.
std::shared_ptr<VirtualOutputDevice> findVirtualOutput(const std::string& name);

}  // namespace pw::dev
