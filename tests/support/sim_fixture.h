#pragma once

#include <string>
#include <vector>

#include "link/clock.h"
#include "loader/protocol.h"
#include "memory/device_model.h"
#include "sim/board/sim_link.h"
#include "sim/board/sim_loader.h"

namespace zarvik::testing {

// A simulated board in process, on a fake clock: waits and time-outs are asserted,
// never slept. Its loader is of the original kind unless a test asks for ours.
struct SimBoard {
    explicit SimBoard(const char* model = "ATmega328", SimFaults faults = {}, LoaderKind kind = LoaderKind::Plain)
        : loader(*find_device_model(model), faults, kind), link(loader, clock), protocol(link, clock) {}

    // The host's bytes as the loader received them, from log entry `from` on.
    std::vector<std::uint8_t> sent(std::size_t from = 0) const {
        std::vector<std::uint8_t> out;
        for (std::size_t i = from; i < loader.log().size(); ++i) out.push_back(loader.log()[i].byte);
        return out;
    }

    FakeClock clock;
    SimLoader loader;
    SimLink link;
    LoaderProtocol protocol;
};

inline std::vector<std::uint8_t> bytes(std::initializer_list<int> list) {
    std::vector<std::uint8_t> out;
    for (int b : list) out.push_back(static_cast<std::uint8_t>(b));
    return out;
}

}  // namespace zarvik::testing
