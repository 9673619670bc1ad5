#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "memory/device_model.h"
#include "sim/sim_faults.h"

namespace zarvik {

// A stand-in for the resident loader: the chip's flash and EEPROM, the current
// address, the 128-byte buffer, and the commands the host relies on. Memory behaves
// like the chip's: `E` erases a 64-byte page, `F` can only clear bits, and both
// memories have the model's real size, with addresses past it wrapping around.
class SimLoader {
public:
    static constexpr std::uint32_t kLoaderSize = 1024;

    explicit SimLoader(const DeviceModel& model, SimFaults faults = {});

    // An answer the loader sends once it has been busy for `busy_us` (programming times).
    struct Answer {
        std::vector<std::uint8_t> bytes;
        std::int64_t busy_us = 0;
    };

    // Takes one byte from the host at time `now_us`. Returns true when an answer is due
    // (filled into `answer`).
    bool receive(std::uint8_t byte, std::int64_t now_us, Answer& answer);

    bool line_gone() const { return line_gone_; }
    // Changes how the loader misbehaves from now on, and forgets what it has seen, so
    // that a test can first let the host confirm the chip and then break the line.
    void misbehave(SimFaults faults) {
        faults_ = faults;
        log_.clear();
        host_bytes_ = 0;
        commands_ = 0;
    }
    const DeviceModel& model() const { return model_; }
    std::uint32_t flash_size() const { return model_.loader_start + kLoaderSize; }
    std::span<std::uint8_t> flash() { return std::span(flash_).first(flash_size()); }
    std::span<std::uint8_t> eeprom() { return std::span(eeprom_).first(model_.eeprom_size); }
    std::span<const std::uint8_t, 128> loader_first_block() const {
        return std::span<const std::uint8_t, 128>(flash_.data() + model_.loader_start, 128);
    }
    std::int64_t extra_delay_us() const { return faults_.late_ms * 1000; }

    struct LoggedByte {
        std::int64_t time_us;
        std::uint8_t byte;
    };
    const std::vector<LoggedByte>& log() const { return log_; }

    // The loader's wait count as built in, before anyone reconfigures it.
    static constexpr std::uint32_t kFactoryWaitCount = 666'667;
    // Half a packet or block followed by this much silence is given up, as our
    // loader firmware does, so that a host can bring the two sides back in step.
    static constexpr std::int64_t kAbandonAfterUs = 500'000;

private:
    void execute(Answer& answer);
    void ack(Answer& answer, std::int64_t busy_us = 0);
    void garble(Answer& answer);
    bool writable(std::uint32_t flash_address) const;

    DeviceModel model_;
    SimFaults faults_;
    std::array<std::uint8_t, 32768> flash_{};
    std::array<std::uint8_t, 4096> eeprom_{};
    std::array<std::uint8_t, 128> buffer_{};
    std::array<std::uint8_t, 4> packet_{};
    std::size_t packet_fill_ = 0;
    std::size_t block_fill_ = 0;
    bool loading_block_ = false;
    std::uint32_t address_ = 0;
    std::int64_t last_byte_us_ = 0;
    std::int64_t host_bytes_ = 0;
    int commands_ = 0;
    bool line_gone_ = false;
    bool started_ = false;
    std::uint32_t noise_ = 0x2545F491;
    std::vector<LoggedByte> log_;
};

}  // namespace zarvik
