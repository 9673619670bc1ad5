#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/avr/avr_serial_line.h"

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
// corrected:
// - Self-programming only clears bits and erases the page that holds the address, and
//   takes 4.5 ms. On a page of the application (read-while-write) section the CPU runs
//   on meanwhile with SPMEN and RWWSB set, an SPM issued then does nothing, and the
//   section reads 0xFF until an RWWSRE re-enables it; on the loader's own (NRWW)
//   section the CPU halts. SPM must follow the write of SPMCSR within four cycles, and
//   an EEPROM write in progress blocks it.
// - An EEPROM write keeps EEPE set for the chip's write time.
// - The UART takes 10 bit times a byte, holds two received bytes and loses the third
//   (overrun), and turning its transmitter off leaves UDRE set.
// - Both ends of the serial line sample the other's frames at their own speed, so a
//   host whose speed is too far from the chip's gets and sends garbled bytes.
//
// Time is the core's cycle count; nothing here sleeps. The host side of the serial
// line is modelled by the caller through set_host_baud(), host_send() and sent().
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

    // The flash as it is, also while the application section reads 0xFF to the CPU.
    std::span<std::uint8_t> flash();
    std::span<std::uint8_t> eeprom();
    // Loads an Intel HEX file into flash (or EEPROM), as an ISP programmer would.
    bool load_flash_hex(const std::string& path);
    bool load_eeprom_hex(const std::string& path);

    // A reset with BOOTRST programmed: the chip starts at the loader.
    void reset();
    std::uint64_t cycle() const;
    std::uint64_t cycles_from_us(std::int64_t us) const { return static_cast<std::uint64_t>(us) * frequency_ / 1'000'000; }

    // The host's line speed: it paces host_send() and reads what the chip sends.
    void set_host_baud(int baud);
    // A byte from the host, put on the line now or when its last byte has crossed.
    void host_send(std::uint8_t byte);
    // Runs the core until `cycle`; with `stop_on_send` it returns early once the chip
    // has started sending a byte.
    void run_until(std::uint64_t cycle, bool stop_on_send = false);

    // What the host's receiver made of the chip's frames.
    struct Sent {
        std::uint64_t done_cycle;  // when the host has it
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
    // Page writes whose Z had bits below the page set, which the datasheets forbid.
    std::uint64_t misaddressed_page_writes() const { return misaddressed_page_writes_; }
    std::uint64_t received() const { return received_; }
    // Bytes the chip's UART took with a low stop bit.
    std::uint64_t framing_errors() const { return framing_errors_; }
    std::uint8_t sram(std::uint16_t address) const;
    bool stopped() const;

    // For the C callbacks of the core.
    struct Hook;

private:
    void install();
    void deliver_due();
    void fix_uart_timing();
    void on_tx(std::uint8_t byte);
    int self_program();
    void program_done();
    void block_rww(bool blocked);
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

    SerialLine to_chip_;
    SerialLine to_host_;
    double host_bit_ = 0;
    void decode_for_host();
    std::optional<SerialLine::Received> next_for_chip();
    std::deque<Sent> sent_;
    bool sent_flag_ = false;
    // Ends a run of the core early: the UART was set up anew, or (when asked) the
    // host got a byte.
    bool wake_ = false;
    bool wake_on_send_ = false;
    std::uint64_t reset_cycle_ = 0;
    std::optional<std::uint64_t> user_program_after_;
    std::uint64_t overruns_ = 0;
    std::uint64_t misaddressed_page_writes_ = 0;
    std::uint64_t received_ = 0;
    std::uint64_t framing_errors_ = 0;
    bool eeprom_busy_ = false;
    // The flash itself; while the application section is blocked the core reads a
    // copy in which that section is blank.
    std::uint8_t* real_flash_ = nullptr;
    std::vector<std::uint8_t> blocked_view_;
    bool rww_blocked_ = false;
    bool spm_busy_ = false;
    std::uint64_t spmcsr_written_ = 0;
    std::uint16_t page_buffer_[64];
    bool page_buffer_used_[64];
};

}  // namespace zarvik
