#pragma once

#include "loader/protocol.h"
#include "memory/device_model.h"
#include "memory/memory_image.h"

namespace zarvik {

// Everything the operations work on, allocated once by whoever owns the programmer:
// the images loaded from files, the buffers read back from the device, the model.
struct ProgrammerState {
    FlashImage flash_image;
    FlashImage flash_readback;
    EepromImage eeprom_image;
    EepromImage eeprom_readback;
    Block block{};
    DeviceModel model = kDefaultModel;
};

}  // namespace zarvik
