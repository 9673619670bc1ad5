#include "sim/avr/avr_board.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <variant>
#include <vector>

extern "C" {
#include <simavr/avr_eeprom.h>
#include <simavr/avr_flash.h>
#include <simavr/avr_uart.h>
#include <simavr/sim_avr.h>
#include <simavr/sim_cycle_timers.h>
#include <simavr/sim_io.h>
#include <simavr/sim_irq.h>
}

#include "memory/intel_hex_loader.h"

namespace zarvik {
namespace {

constexpr std::array<AvrChip, 4> kChips{{
    {"ATmega8", "atmega8", 0x1C00, 0x1800, 64, 8500},
    {"ATmega88", "atmega88", 0x1C00, 0x1800, 64, 3300},
    {"ATmega168", "atmega168", 0x3C00, 0x3800, 128, 3300},
    {"ATmega328", "atmega328p", 0x7C00, 0x7000, 128, 3300},
}};

// The datasheets give 3.7 to 4.5 ms for an erase or a write, and 4.5 ms as the
// typical wait before the next one.
constexpr std::int64_t kPageProgramUs = 4500;
// SPMEN, once written, waits this many cycles for the SPM.
constexpr std::uint64_t kSpmWindowCycles = 4;
// Every address a 16-bit pointer can hold, and a little more for a word access at the last one.
constexpr std::size_t kDataSpace = 0x10000 + 2;

// SPMCSR (SPMCR on the ATmega8): the same bits on all four chips.
constexpr std::uint8_t kSpmEn = 1 << 0;
constexpr std::uint8_t kPgErs = 1 << 1;
constexpr std::uint8_t kPgWrt = 1 << 2;
constexpr std::uint8_t kBlbSet = 1 << 3;
constexpr std::uint8_t kRwwSre = 1 << 4;
constexpr std::uint8_t kRwwSb = 1 << 6;

avr_io_t* find_module(avr_t* avr, const char* kind) {
    for (avr_io_t* io = avr->io_port; io != nullptr; io = io->next) {
        if (io->kind != nullptr && std::strcmp(io->kind, kind) == 0) return io;
    }
    return nullptr;
}

// The core reports through one global logger, to standard output by default; a
// program that prints its terminal's path there must not get the core's chatter.
void silent(avr_t*, const int, const char*, va_list) {}

bool bit(avr_t* avr, const avr_regbit_t& rb) { return rb.reg != 0 && avr_regbit_get(avr, rb) != 0; }

}  // namespace

const AvrChip* find_avr_chip(std::string_view model) {
    for (const auto& chip : kChips) {
        if (chip.model == model) return &chip;
    }
    return nullptr;
}

struct AvrBoard::Hook {
    static AvrBoard* of(avr_t* avr) { return static_cast<AvrBoard*>(avr->custom.data); }

    static void io_write(avr_t*, avr_io_addr_t addr, uint8_t v, void* param) {
        static_cast<AvrBoard*>(param)->io_written(addr, v);
    }
    static int spm(avr_io_t* io, uint32_t ctl, void*) {
        if (ctl != AVR_IOCTL_FLASH_SPM) return -1;
        return of(io->avr)->self_program();
    }
    static void tx(avr_irq_t*, uint32_t value, void* param) {
        static_cast<AvrBoard*>(param)->on_tx(static_cast<std::uint8_t>(value));
    }
    static avr_cycle_count_t program_done(avr_t*, avr_cycle_count_t, void* param) {  // NOLINT
        static_cast<AvrBoard*>(param)->program_done();
        return 0;
    }
    static avr_cycle_count_t eeprom_done(avr_t* avr, avr_cycle_count_t, void* param) {  // NOLINT
        auto* board = static_cast<AvrBoard*>(param);
        board->eeprom_busy_ = false;
        avr->data[board->eecr_] &= static_cast<uint8_t>(~(1u << board->eeprom_->eepe.bit));
        return 0;
    }
};

AvrBoard::AvrBoard(std::string_view model, std::uint32_t frequency_hz) : frequency_(frequency_hz) {
    chip_ = find_avr_chip(model);
    if (chip_ == nullptr) {
        error_ = "no such model";
        return;
    }
    avr_global_logger_set(silent);
    avr_ = avr_make_mcu_by_name(std::string(chip_->mcu).c_str());
    if (avr_ == nullptr) {
        error_ = "the core does not know " + std::string(chip_->mcu);
        return;
    }
    avr_->custom.data = this;
    avr_init(avr_);
    // The core checks a data address against the end of RAM only to complain: a
    // program's load or store through any 16-bit pointer (a random program's, a stack
    // run away) then goes to that address of its RAM array, past its end, and reads
    // or overwrites the simulator's own memory. The array is made to span every
    // address the core can form, so that such a program crashes the simulated chip
    // and never the simulator.
    auto* data = static_cast<std::uint8_t*>(std::calloc(kDataSpace, 1));
    std::memcpy(data, avr_->data, avr_->ramend + 1u);
    std::free(avr_->data);
    avr_->data = data;
    avr_->frequency = frequency_hz;
    avr_->log = LOG_NONE;
    real_flash_ = avr_->flash;
    std::memset(avr_->flash, 0xFF, avr_->flashend + 1);
    set_host_baud(115200);
    install();
    if (!ok()) return;
    std::memset(eeprom().data(), 0xFF, eeprom().size());
    reset();
}

AvrBoard::~AvrBoard() {
    if (avr_ == nullptr) return;
    avr_->flash = real_flash_;
    avr_terminate(avr_);
}

void AvrBoard::install() {
    uart_ = reinterpret_cast<avr_uart_t*>(find_module(avr_, "uart"));
    eeprom_ = reinterpret_cast<avr_eeprom_t*>(find_module(avr_, "eeprom"));
    flash_module_ = reinterpret_cast<avr_flash_t*>(find_module(avr_, "flash"));
    if (uart_ == nullptr || eeprom_ == nullptr || flash_module_ == nullptr) {
        error_ = "the core lacks a UART, EEPROM or self-programming";
        return;
    }
    // Neither console echo nor a sleep in every status poll.
    uint32_t flags = 0;
    avr_ioctl(avr_, AVR_IOCTL_UART_SET_FLAGS('0'), &flags);
    avr_irq_register_notify(uart_->io.irq + UART_IRQ_OUTPUT, Hook::tx, this);

    // Self-programming is done here, not by the core's module.
    flash_module_->io.ioctl = Hook::spm;
    spmcsr_ = flash_module_->r_spm;

    ucsra_ = uart_->r_ucsra;
    ucsrb_ = uart_->r_ucsrb;
    ubrrl_ = uart_->ubrrl.reg;
    ubrrh_ = uart_->ubrrh.reg;
    eecr_ = eeprom_->r_eecr;
    eearh_ = eeprom_->r_eearh;
    // Every write to these registers passes through io_written(), which calls the
    // core's own handler first and then corrects what it did.
    for (std::uint16_t addr : {ucsra_, ucsrb_, ubrrl_, ubrrh_, eecr_, eearh_, spmcsr_}) {
        if (addr < 32) continue;
        const auto io = AVR_DATA_TO_IO(addr);
        static_assert(std::size(decltype(original_){}) == MAX_IOs);
        if (original_[io].c == nullptr && avr_->io[io].w.c != reinterpret_cast<avr_io_write_t>(Hook::io_write)) {
            original_[io].c = reinterpret_cast<decltype(original_[io].c)>(avr_->io[io].w.c);
            original_[io].param = avr_->io[io].w.param;
        }
        avr_->io[io].w.c = Hook::io_write;
        avr_->io[io].w.param = this;
    }
}

std::span<std::uint8_t> AvrBoard::flash() { return {real_flash_, avr_->flashend + 1u}; }

std::uint8_t AvrBoard::sram(std::uint16_t address) const { return avr_->data[address]; }

std::span<std::uint8_t> AvrBoard::eeprom() { return {eeprom_->eeprom, eeprom_->size}; }

bool AvrBoard::load_flash_hex(const std::string& path) {
    // Like an ISP programmer: the range the file covers is written, the rest of flash
    // keeps what it held.
    std::vector<std::uint8_t> image(flash().size(), 0xFF);
    const auto result = load_intel_hex_file(path, image);
    const auto* range = std::get_if<LoadedRange>(&result);
    if (range == nullptr) return false;
    std::copy(image.begin() + range->start, image.begin() + range->end, flash().begin() + range->start);
    return true;
}

bool AvrBoard::load_eeprom_hex(const std::string& path) {
    std::vector<std::uint8_t> image(eeprom().size(), 0xFF);
    if (std::holds_alternative<HexError>(load_intel_hex_file(path, image))) return false;
    std::copy(image.begin(), image.end(), eeprom().begin());
    return true;
}

void AvrBoard::reset() {
    avr_->reset_pc = chip_->boot_start;
    avr_reset(avr_);
    avr_->pc = chip_->boot_start;
    // Also a core that crashed or slept with interrupts off runs again, as a chip does
    // after its reset button.
    avr_->state = cpu_Running;
    // The core leaves the transmitter on after a reset; the chip does not.
    avr_->data[ucsrb_] &= static_cast<uint8_t>(~(1u << uart_->txen.bit));
    std::fill(std::begin(page_buffer_), std::end(page_buffer_), 0xFFFF);
    std::fill(std::begin(page_buffer_used_), std::end(page_buffer_used_), false);
    eeprom_busy_ = false;
    avr_cycle_timer_cancel(avr_, Hook::program_done, this);
    spm_busy_ = false;
    block_rww(false);
    avr_->data[spmcsr_] = 0;
    reset_cycle_ = avr_->cycle;
    user_program_after_.reset();
    fix_uart_timing();
}

std::uint64_t AvrBoard::cycle() const { return avr_->cycle; }

std::uint32_t AvrBoard::pc() const { return avr_->pc; }

bool AvrBoard::stopped() const { return avr_->state != cpu_Running && avr_->state != cpu_Sleeping; }

std::uint64_t AvrBoard::uart_byte_cycles() const {
    const unsigned ubrr = avr_->data[ubrrl_] | ((avr_->data[ubrrh_] & 0x0F) << 8);
    const bool u2x = bit(avr_, uart_->u2x);
    return 10ull * (ubrr + 1) * (u2x ? 8 : 16);
}

int AvrBoard::uart_baud() const {
    if (!bit(avr_, uart_->rxen) && !bit(avr_, uart_->txen)) return 0;
    return static_cast<int>(frequency_ * 10ull / uart_byte_cycles());
}

void AvrBoard::fix_uart_timing() { uart_->cycles_per_byte = uart_byte_cycles(); }

void AvrBoard::io_written(std::uint16_t addr, std::uint8_t value) {
    const auto io = AVR_DATA_TO_IO(addr);
    auto call_original = [&](std::uint8_t v) {
        if (original_[io].c != nullptr) {
            original_[io].c(avr_, addr, v, original_[io].param);
        } else {
            avr_->data[addr] = v;
        }
    };
    if (addr == eecr_) {
        const std::uint8_t eepe = static_cast<std::uint8_t>(1u << eeprom_->eepe.bit);
        const std::uint8_t eere = static_cast<std::uint8_t>(1u << eeprom_->eere.bit);
        if (eeprom_busy_) {
            // The chip ignores a new write or a read while one is in progress.
            call_original(static_cast<std::uint8_t>(value & ~(eepe | eere)));
            avr_->data[eecr_] |= eepe;
            return;
        }
        const bool armed = bit(avr_, eeprom_->eempe);
        call_original(value);
        if (armed && (value & eepe) != 0) {
            eeprom_busy_ = true;
            avr_->data[eecr_] |= eepe;
            avr_cycle_timer_register(avr_, cycles_from_us(chip_->eeprom_write_us), Hook::eeprom_done, this);
        }
        return;
    }
    if (addr == eearh_) {
        // The chip has only the address bits its EEPROM needs; the core would index
        // past its EEPROM with the others.
        call_original(static_cast<std::uint8_t>(value & ((eeprom_->size - 1) >> 8)));
        return;
    }
    if (addr == spmcsr_) {
        // Only the register: the core's own module would start a timer and complain.
        // While a page programs, its command stays in the low bits.
        const std::uint8_t kept = spm_busy_ ? static_cast<std::uint8_t>(kRwwSb | 0x1F) : kRwwSb;
        avr_->data[addr] = static_cast<std::uint8_t>((avr_->data[addr] & kept) | (value & ~kept));
        if (!spm_busy_) spmcsr_written_ = avr_->cycle;
        return;
    }
    call_original(value);
    if (addr == ucsrb_) {
        // The core clears UDRE for good when the transmitter is turned off; the chip
        // keeps it set whenever its transmit buffer is empty.
        if (uart_->tx_cnt == 0) avr_regbit_set(avr_, uart_->udrc.raised);
    }
    fix_uart_timing();
    // The receiver's speed or state changed: when the host's next byte is taken must
    // be worked out again.
    wake_ = true;
}

int AvrBoard::self_program() {
    // An SPM while a page programs does nothing.
    if (spm_busy_) return 0;
    const std::uint8_t control = avr_->data[spmcsr_];
    avr_->data[spmcsr_] = static_cast<std::uint8_t>(control & ~(kSpmEn | kPgErs | kPgWrt | kBlbSet | kRwwSre));
    // SPM works only from the boot section, only within SPMEN's four cycles, and not
    // while the EEPROM is being written.
    if ((control & kSpmEn) == 0 || avr_->cycle - spmcsr_written_ > kSpmWindowCycles) return 0;
    if (avr_->pc < chip_->boot_start || eeprom_busy_) return 0;
    const std::uint32_t z = avr_->data[30] | (avr_->data[31] << 8);
    const std::uint32_t page = z & ~(chip_->page_bytes - 1) & (avr_->flashend);
    const std::uint32_t words = chip_->page_bytes / 2;
    auto clear_buffer = [&] {
        std::fill(std::begin(page_buffer_), std::end(page_buffer_), 0xFFFF);
        std::fill(std::begin(page_buffer_used_), std::end(page_buffer_used_), false);
    };
    if ((control & (kPgErs | kPgWrt)) != 0) {
        if ((control & kPgErs) != 0) {
            std::fill_n(real_flash_ + page, chip_->page_bytes, 0xFF);
        } else {
            // The datasheets want the bits of Z below the page clear for a page write
            // (only an erase ignores them); a chip may do anything else, so the board
            // counts every such write for the tests to fail on.
            if ((z & (chip_->page_bytes - 1)) != 0) ++misaddressed_page_writes_;
            // Programming only clears bits.
            for (std::uint32_t w = 0; w < words; ++w) {
                real_flash_[page + 2 * w] &= static_cast<std::uint8_t>(page_buffer_[w]);
                real_flash_[page + 2 * w + 1] &= static_cast<std::uint8_t>(page_buffer_[w] >> 8);
            }
            clear_buffer();
        }
        if (page < chip_->nrww_start) {
            // The CPU runs on from the loader's section; the application section is
            // gone to it until re-enabled.
            spm_busy_ = true;
            avr_->data[spmcsr_] = static_cast<std::uint8_t>(avr_->data[spmcsr_] | kRwwSb | kSpmEn);
            block_rww(true);
            avr_cycle_timer_register(avr_, cycles_from_us(kPageProgramUs), Hook::program_done, this);
        } else {
            if (rww_blocked_) std::copy_n(real_flash_ + page, chip_->page_bytes, blocked_view_.begin() + page);
            // The CPU is halted for the erase or write.
            avr_->cycle += cycles_from_us(kPageProgramUs);
        }
    } else if ((control & kRwwSre) != 0) {
        avr_->data[spmcsr_] &= static_cast<std::uint8_t>(~kRwwSb);
        block_rww(false);
        clear_buffer();
    } else if ((control & kBlbSet) != 0) {
        // Lock bits are not modelled.
    } else {
        const std::uint32_t w = (z % chip_->page_bytes) / 2;
        if (!page_buffer_used_[w]) {
            page_buffer_[w] = static_cast<std::uint16_t>(avr_->data[0] | (avr_->data[1] << 8));
            page_buffer_used_[w] = true;
        }
    }
    return 0;
}

void AvrBoard::program_done() {
    spm_busy_ = false;
    avr_->data[spmcsr_] &= static_cast<std::uint8_t>(~(kSpmEn | kPgErs | kPgWrt | kBlbSet | kRwwSre));
}

void AvrBoard::block_rww(bool blocked) {
    if (blocked && !rww_blocked_) {
        const std::size_t size = avr_->flashend + 1u;
        blocked_view_.assign(size, 0xFF);
        std::copy(real_flash_ + chip_->nrww_start, real_flash_ + size, blocked_view_.begin() + chip_->nrww_start);
        avr_->flash = blocked_view_.data();
    } else if (!blocked) {
        avr_->flash = real_flash_;
    }
    rww_blocked_ = blocked;
}

void AvrBoard::set_host_baud(int baud) { host_bit_ = static_cast<double>(frequency_) / baud; }

void AvrBoard::host_send(std::uint8_t byte) {
    to_chip_.send(std::max(static_cast<double>(avr_->cycle), to_chip_.idle_from()), host_bit_, byte);
}

void AvrBoard::on_tx(std::uint8_t byte) {
    to_host_.send(std::max(static_cast<double>(avr_->cycle), to_host_.idle_from()), static_cast<double>(uart_byte_cycles()) / 10.0, byte);
    decode_for_host();
}

void AvrBoard::decode_for_host() {
    // The chip's next frame starts no earlier than now and than the end of its last
    // one: what the host read before then is final.
    const double known = std::max(static_cast<double>(avr_->cycle), to_host_.idle_from());
    for (;;) {
        const auto r = to_host_.next(host_bit_, 16, known);
        if (!r || r->sampled >= known) break;
        to_host_.take(*r);
        sent_.push_back({static_cast<std::uint64_t>(std::ceil(r->end)), r->byte});
        sent_flag_ = true;
        if (wake_on_send_) wake_ = true;
    }
}

std::optional<SerialLine::Received> AvrBoard::next_for_chip() {
    const bool u2x = bit(avr_, uart_->u2x);
    return to_chip_.next(static_cast<double>(uart_byte_cycles()) / 10.0, u2x ? 8 : 16, static_cast<double>(avr_->cycle));
}

void AvrBoard::deliver_due() {
    for (;;) {
        const auto r = next_for_chip();
        if (!r || r->sampled > static_cast<double>(avr_->cycle)) break;
        to_chip_.take(*r);
        ++received_;
        if (!bit(avr_, uart_->rxen)) continue;
        if (r->framing_error) ++framing_errors_;
        // Two received bytes wait in the chip; the third one to complete is lost.
        const auto& fifo = uart_->input;
        const unsigned waiting = (fifo.write + uart_fifo_fifo_size - fifo.read) & (uart_fifo_fifo_size - 1);
        if (waiting >= 2) {
            ++overruns_;
            avr_regbit_setto(avr_, uart_->dor, 1);
            continue;
        }
        // The core raises RXC a byte time after the byte is handed to it; the byte
        // has already crossed the line, so it is made to show at once.
        const auto per_byte = uart_->cycles_per_byte;
        uart_->cycles_per_byte = 1;
        avr_raise_irq(uart_->io.irq + UART_IRQ_INPUT, r->byte);
        uart_->cycles_per_byte = per_byte;
        avr_regbit_setto(avr_, uart_->fe, r->framing_error ? 1 : 0);
    }
    decode_for_host();
}

// The hot loop: one call into the core per instruction, and nothing else that can
// be kept out. It only reads the core's own state, so the sanitizers, which cannot
// see into the core anyway, are left out of it: under them it would run slower than
// the chip and a board held to wall time could not keep up.
#if defined(__clang__) || defined(__GNUC__)
__attribute__((no_sanitize("address", "undefined")))
#endif
static void run_core(avr_t* avr, avr_cycle_count_t until, const bool* stop, bool watch_entry, avr_cycle_count_t* entered) {
    while (avr->cycle < until && (avr->state == cpu_Running || avr->state == cpu_Sleeping)) {
        avr_run(avr);
        if (watch_entry && avr->pc == 0) {
            *entered = avr->cycle;
            watch_entry = false;
        }
        if (*stop) return;
    }
}

void AvrBoard::run_until(std::uint64_t cycle, bool stop_on_send) {
    sent_flag_ = false;
    wake_on_send_ = stop_on_send;
    while (avr_->cycle < cycle) {
        deliver_due();
        if (stopped()) {
            avr_->cycle = cycle;
            break;
        }
        const auto incoming = next_for_chip();
        const std::uint64_t next = !incoming ? cycle
                                             : std::min(cycle, std::max(static_cast<std::uint64_t>(std::ceil(incoming->sampled)),
                                                                        avr_->cycle + 1));
        avr_cycle_count_t entered = 0;
        const bool watch = !user_program_after_;
        wake_ = false;
        run_core(avr_, next, &wake_, watch, &entered);
        if (watch && entered != 0) user_program_after_ = entered - reset_cycle_;
        if (stop_on_send && sent_flag_) break;
    }
    deliver_due();
}

}  // namespace zarvik
