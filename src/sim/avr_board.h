#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>

struct avr_t;
struct avr_uart_t;
struct avr_eeprom_t;
struct avr_flash_t;

namespace zarvik {

// The chip behind the simulated board: what the simulator needs to know beyond the
// host's model table.
struct AvrChip {
    std::string_view model;     // the host's model name, "ATmega328"
    std::string_view mcu;       // the core's name, "atmega328p"
    std::uint32_t boot_start;   // BOOTRST with a 1 KB boot section: the loader
    std::uint32_t nrww_start;   // from here up the CPU halts while flash is programmed
    std::uint32_t page_bytes;   // the chip's flash page
    std::int64_t eeprom_write_us;
};

const AvrChip* find_avr_chip(std::string_view model);

// An ATmega on simavr's core, with the differences between simavr 1.6 and the chip
// corrected: self-programming only clears bits and erases the page that holds the
// address, taking 4.5 ms with the CPU halted; an EEPROM write keeps EEPE set for the
// chip's write time; the UART takes 10 bit times a byte, holds two received bytes and
// loses the third (overrun), and turning its transmitter off leaves UDRE set.
//
// Time is the core's cycle count; nothing here sleeps. The host side of the serial
// line is modelled by the caller through receive_at() and sent().
class AvrBoard {
public:
    AvrBoard(std::string_view model, std::uint32_t frequency_hz);
    ~AvrBoard();
    AvrBoard(const AvrBoard&) = delete;
    AvrBoard& operator=(const AvrBoard&) = delete;

    // Nothing but these two may be used when the core could not be made.
    const std::string& error() const { return error_; }
    bool ok() const { return error_.empty(); }
    const AvrChip& chip() const { return *chip_; }
    std::uint32_t frequency() const { return frequency_; }

    std::span<std::uint8_t> flash();
    std::span<std::uint8_t> eeprom();
    // Loads an Intel HEX file into flash (or EEPROM), as an ISP programmer would.
    bool load_flash_hex(const std::string& path);
    bool load_eeprom_hex(const std::string& path);

    // A reset with BOOTRST programmed: the chip starts at the loader.
    void reset();
    std::uint64_t cycle() const;
    std::uint64_t cycles_from_us(std::int64_t us) const { return static_cast<std::uint64_t>(us) * frequency_ / 1'000'000; }

    // A byte from the host whose stop bit ends at `cycle`; bytes come in order.
    void receive_at(std::uint64_t cycle, std::uint8_t byte);
    // Runs the core until `cycle`; with `stop_on_send` it returns early once the chip
    // has started sending a byte.
    void run_until(std::uint64_t cycle, bool stop_on_send = false);

    struct Sent {
        std::uint64_t done_cycle;  // when its stop bit ends on the line
        std::uint8_t byte;
    };
    std::deque<Sent>& sent() { return sent_; }

    // The chip's UART speed as its registers set it (0 while it is off).
    int uart_baud() const;
    // Cycles from the last reset to the first instruction at 0x0000, once it ran.
    std::optional<std::uint64_t> user_program_after() const { return user_program_after_; }
    // The byte address of the next instruction.
    std::uint32_t pc() const;
    std::uint64_t overruns() const { return overruns_; }
    std::uint64_t received() const { return received_; }
    bool stopped() const;

    // For the C callbacks of the core.
    struct Hook;

private:
    void install();
    void deliver_due();
    void fix_uart_timing();
    void on_tx(std::uint8_t byte);
    int self_program();
    void io_written(std::uint16_t addr, std::uint8_t value);
    std::uint64_t uart_byte_cycles() const;

    const AvrChip* chip_ = nullptr;
    std::uint32_t frequency_;
    std::string error_;
    avr_t* avr_ = nullptr;
    avr_uart_t* uart_ = nullptr;
    avr_eeprom_t* eeprom_ = nullptr;
    avr_flash_t* flash_module_ = nullptr;

    struct Original {
        void* param = nullptr;
        void (*c)(avr_t*, std::uint16_t, std::uint8_t, void*) = nullptr;
    };
    Original original_[280];  // the core's MAX_IOs
    std::uint16_t ucsra_ = 0, ucsrb_ = 0, ubrrl_ = 0, ubrrh_ = 0, eecr_ = 0, eearh_ = 0, spmcsr_ = 0;

    std::deque<std::pair<std::uint64_t, std::uint8_t>> incoming_;
    std::deque<Sent> sent_;
    std::uint64_t line_free_ = 0;
    bool sent_flag_ = false;
    std::uint64_t reset_cycle_ = 0;
    std::optional<std::uint64_t> user_program_after_;
    std::uint64_t overruns_ = 0;
    std::uint64_t received_ = 0;
    bool eeprom_busy_ = false;
    std::uint16_t page_buffer_[64];
    bool page_buffer_used_[64];
};

}  // namespace zarvik
