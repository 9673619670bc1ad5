#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "memory/device_model.h"
#include "sim/board/sim_faults.h"

namespace zarvik {

// Which loader the board carries: ours, with its signature (protocol version 2) in the
// first block and the checked session; ours as it would stand with a version-1
// signature, which a host gives the plain road only (this board then speaks plain only,
// with the hunt and the guard of its first block); or one of the original kind that
// knows only the four-byte commands.
enum class LoaderKind { Ours, OursVersion1, Plain };

// A stand-in for the resident loader: the chip's flash and EEPROM, the current
// address, the 128-byte buffer, and the commands the host relies on. Memory behaves
// like the chip's: `E` erases a 64-byte page, `F` can only clear bits, and both
// memories have the model's real size, with addresses past it wrapping around.
class SimLoader {
public:
    static constexpr std::uint32_t kLoaderSize = 1024;

    explicit SimLoader(const DeviceModel& model, SimFaults faults = {}, LoaderKind kind = LoaderKind::Ours);

    // An answer the loader sends once it has been busy for `busy_us` (programming times).
    struct Answer {
        std::vector<std::uint8_t> bytes;
        std::int64_t busy_us = 0;
        // The answer stands only when no byte from the host comes within this time
        // after the byte that completed it: a hunting loader's sync.
        std::int64_t quiet_us = 0;
        // This byte came within the quiet time of the last such answer: the link drops
        // that answer's bytes (set whether or not an answer is due now).
        bool withdraw_last = false;
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
    // The reset button: programming under way is finished, the program that `S` started
    // stops, and the loader begins afresh in its plain mode; the memories stay.
    void press_reset();
    // `S` started the program, and no reset has come since.
    bool program_running() const { return started_; }
    const DeviceModel& model() const { return model_; }
    LoaderKind kind() const { return kind_; }
    // Page frames taken but still programming are done: the chip finishes them even
    // when nobody listens any more (called before the memory is dumped).
    void finish_programming();
    // The host's time has come to `now_us`: the frames programmed by then are in the flash.
    void advance(std::int64_t now_us) { settle(now_us); }
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
    // The silence after a sync that a hunting loader waits for before it answers.
    static constexpr std::int64_t kHuntQuietUs = 20'000;
    // The clock our loader says it was built for.
    static constexpr std::uint32_t kClockHz = 16'000'000;

    // Where our loader stands: four-byte packets, hunting for a sync after a line
    // error, or inside a checked session.
    enum class Mode { Plain, Hunt, Session };
    Mode mode() const { return mode_; }

private:
    struct Programming {
        std::int64_t done_us;
        std::uint32_t address;
        std::vector<std::uint8_t> data;
    };

    void execute(Answer& answer, std::int64_t now_us);
    void write_flash_buffer(std::uint32_t page, std::uint32_t pages);
    bool loader_block_change_allowed() const;
    bool guarded() const { return kind_ != LoaderKind::Plain; }
    void take_plain_byte(std::uint8_t byte, Answer& answer, std::int64_t now_us);
    void take_session_byte(std::uint8_t byte, Answer& answer, std::int64_t now_us);
    void take_hunt_byte(std::uint8_t byte, Answer& answer, std::int64_t now_us);
    void take_frame_byte(std::uint8_t byte, Answer& answer, std::int64_t now_us);
    void hunt();
    void run_frame(Answer& answer, std::int64_t now_us);
    void page_frame(Answer& answer, std::uint32_t address, std::span<const std::uint8_t> data, std::int64_t now_us);
    void frame_answer(Answer& answer, std::uint8_t letter, std::uint32_t address, std::span<const std::uint8_t> data);
    std::int64_t finish_before_command(std::int64_t now_us);
    void settle(std::int64_t now_us);
    void program_flash(std::uint32_t address, std::uint8_t value);
    std::uint32_t unit_check(bool flash, std::uint32_t address) const;
    void ack(Answer& answer, std::int64_t busy_us = 0);
    void garble(Answer& answer);
    bool writable(std::uint32_t flash_address) const;

    DeviceModel model_;
    SimFaults faults_;
    LoaderKind kind_;
    std::uint32_t chip_page_ = 64;          // the chip's flash page in bytes
    Mode mode_ = Mode::Plain;
    std::vector<std::uint8_t> frame_;       // a session frame (or the opening `Z`) being taken in
    bool in_frame_ = false;
    int session_sync_ = 0;                  // `U`s counted where a frame would start
    std::int64_t tentative_until_us_ = -1;  // a hunt's sync answer stands if the line stays quiet until then
    std::vector<Programming> programming_;  // frames taken, programming in the background
    std::int64_t busy_until_us_ = 0;        // the last frame is programmed by then
    std::uint32_t halting_from_ = 0;        // pages from here up program with the CPU halted
    std::int64_t halted_until_us_ = 0;      // the CPU is halted until then, and keeps two bytes
    int halted_bytes_ = 0;
    int sync_run_ = 0;
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
    std::int64_t answered_us_ = 0;     // when the last answer was due to go out
    std::uint32_t noise_ = 0x2545F491;
    std::vector<LoggedByte> log_;
};

}  // namespace zarvik
