#include "memory/device_model.h"

namespace zarvik {

std::optional<DeviceModel> find_device_model(std::string_view name) {
    for (const auto& model : kDeviceModels) {
        if (model.name == name) return model;
    }
    return std::nullopt;
}

}  // namespace zarvik
