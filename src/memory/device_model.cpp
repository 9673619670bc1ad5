#include "memory/device_model.h"

namespace zarvik {

std::optional<DeviceModel> find_device_model(std::string_view name) {
    for (const auto& model : kDeviceModels) {
        if (model.name == name) return model;
    }
    return std::nullopt;
}

const DeviceModel* model_for_loader_start(std::uint32_t start, const DeviceModel& preferred) {
    for (const auto& model : kDeviceModels) {
        if (model.name == preferred.name && model.loader_start == start) return &model;
    }
    for (const auto& model : kDeviceModels) {
        if (model.loader_start == start) return &model;
    }
    return nullptr;
}

}  // namespace zarvik
