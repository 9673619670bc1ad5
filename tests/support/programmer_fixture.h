#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "memory/intel_hex_writer.h"
#include "programmer/programmer.h"
#include "support/sim_fixture.h"
#include "support/temp_dir.h"

namespace zarvik::testing {

// Records what an operation reported while it ran.
struct RecordingProgress final : ProgressObserver {
    void on_phase(Phase p) override { phases.push_back(p); }
    void on_range(std::uint32_t maximum) override { ranges.push_back(maximum); }
    void on_position(std::uint32_t position) override { positions.push_back(position); }
    std::vector<Phase> phases;
    std::vector<std::uint32_t> ranges;
    std::vector<std::uint32_t> positions;
};

// The programmer against a simulated board on a fake clock, with a scratch folder.
// The chip has been identified already, as after the first operation of a session, and
// the faults apply from then on; the board's log starts after the identification.
struct ProgrammerBench {
    explicit ProgrammerBench(const char* model = "ATmega328", SimFaults faults = {}, LoaderKind kind = LoaderKind::Plain)
        : board(model, {}, kind), state(std::make_unique<ProgrammerState>()), programmer(*state, board.link, board.clock) {
        programmer.set_model(*find_device_model(model));
        programmer.identify_device();
        board.loader.misbehave(faults);
    }

    // A HEX file holding `data` at `address`, in records of up to 16 bytes.
    std::string hex_file(const std::string& name, std::uint32_t address, const std::vector<std::uint8_t>& data) {
        return dir.write(name, hex_records(address, data) + ":00000001FF\r\n");
    }

    static std::string hex_records(std::uint32_t address, const std::vector<std::uint8_t>& data) {
        std::string text;
        char buf[8];
        for (std::size_t at = 0; at < data.size(); at += 16) {
            const std::size_t n = std::min<std::size_t>(16, data.size() - at);
            const auto a = static_cast<unsigned>(address + at);
            unsigned sum = static_cast<unsigned>(n + (a >> 8) + (a & 0xFF));
            std::snprintf(buf, sizeof buf, ":%.2X", static_cast<unsigned>(n));
            text += buf;
            std::snprintf(buf, sizeof buf, "%.4X00", a);
            text += buf;
            for (std::size_t i = 0; i < n; ++i) {
                std::snprintf(buf, sizeof buf, "%.2X", unsigned{data[at + i]});
                text += buf;
                sum += data[at + i];
            }
            std::snprintf(buf, sizeof buf, "%.2X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
            text += buf;
        }
        return text;
    }

    std::size_t commands_sent() const { return board.loader.log().size(); }

    TempDir dir;
    SimBoard board;
    std::unique_ptr<ProgrammerState> state;
    Programmer programmer;
};

inline std::vector<std::uint8_t> pattern(std::size_t n, std::uint8_t seed = 1) {
    std::vector<std::uint8_t> out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(seed + i * 13);
    return out;
}

}  // namespace zarvik::testing
