// The backend of a machine without sound: no drivers, every open refused.
#pragma once

#include "device.hpp"

namespace pw::dev {

class NullBackend : public Backend {
public:
    std::vector<OutputDriverInfo> outputDrivers() override { return {}; }
    std::vector<RecordDriverInfo> recordDrivers() override { return {}; }
    std::vector<CdDriveInfo> cdDrives() override { return {}; }
    FMOD_RESULT openOutput(int, int, int, unsigned, std::unique_ptr<OutputStream>*) override {
        return FMOD_ERR_OUTPUT_NOHARDWARE;
    }
    FMOD_RESULT openInput(int, int, int, std::unique_ptr<InputStream>*) override {
        return FMOD_ERR_OUTPUT_NOHARDWARE;
    }
};

}  // namespace pw::dev
