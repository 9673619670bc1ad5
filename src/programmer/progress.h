#pragma once

#include <cstdint>

#include "programmer/outcome.h"

namespace zarvik {

// What an operation tells its face while it runs. Every call is made on the thread
// that runs the operation; a window repaints from here, a terminal redraws its bar.
class ProgressObserver {
public:
    virtual ~ProgressObserver() = default;
    // A phase with its own status text begins ("Записываем Flash", "Читаем EEPROM").
    virtual void on_phase(Phase) {}
    virtual void on_range(std::uint32_t /*maximum*/) {}
    virtual void on_position(std::uint32_t /*position*/) {}
};

// For callers that want no progress.
inline ProgressObserver& no_progress() {
    static ProgressObserver silent;
    return silent;
}

}  // namespace zarvik
