#include "virtual_backend.hpp"

#include "virtual_input.hpp"

namespace pw::dev {

VirtualBackend::VirtualBackend(DeviceTable table)
    : records_(std::move(table.records)), cdroms_(std::move(table.cdroms)) {
    outputs_.reserve(table.outputs.size());
    for (OutputEntry& e : table.outputs) outputs_.push_back(std::make_shared<VirtualOutputDevice>(std::move(e)));
}

std::vector<OutputDriverInfo> VirtualBackend::outputDrivers() {
    std::vector<OutputDriverInfo> list;
    list.reserve(outputs_.size());
    for (const auto& d : outputs_) list.push_back(d->entry().info);
    return list;
}

std::vector<RecordDriverInfo> VirtualBackend::recordDrivers() {
    std::vector<RecordDriverInfo> list;
    list.reserve(records_.size());
    for (const RecordEntry& e : records_) list.push_back(e.info);
    return list;
}

std::vector<CdDriveInfo> VirtualBackend::cdDrives() { return cdroms_; }

FMOD_RESULT VirtualBackend::openOutput(int index, int channels, int rate, unsigned blockFrames,
                                       std::unique_ptr<OutputStream>* out) {
    if (index < 0 || static_cast<size_t>(index) >= outputs_.size()) return FMOD_ERR_INVALID_PARAM;
    return outputs_[static_cast<size_t>(index)]->open(channels, rate, blockFrames, out);
}

FMOD_RESULT VirtualBackend::openInput(int index, int channels, int rate, std::unique_ptr<InputStream>* out) {
    if (index < 0 || static_cast<size_t>(index) >= records_.size()) return FMOD_ERR_INVALID_PARAM;
    return VirtualInput::create(records_[static_cast<size_t>(index)], channels, rate, out);
}

std::shared_ptr<VirtualOutputDevice> VirtualBackend::findOutput(const std::string& name) const {
    for (const auto& d : outputs_)
        if (d->entry().info.name == name) return d;
    return nullptr;
}

}  // namespace pw::dev
