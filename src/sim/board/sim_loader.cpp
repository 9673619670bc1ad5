#include "sim/board/sim_loader.h"

#include <algorithm>
#include <string_view>

#include "loader/loader_session.h"
#include "loader/loader_signature.h"
#include "loader/protocol.h"
#include "loader/wait_count.h"

namespace zarvik {
namespace {

// Programming times of the ATmega parts, so that a host that does not wait long
// enough shows on the simulated line as it would on a board.
constexpr std::int64_t kPageProgramUs = 4500;
constexpr std::int64_t kPageEraseUs = 4500;
constexpr std::int64_t kEepromByteUs = 3400;

constexpr std::array<std::uint8_t, 4> kAck{'O', 'K', '\r', '\n'};
constexpr std::int64_t kUnitCheckUs = 300;  // a nibble-table CRC of 128 bytes at 16 MHz
constexpr std::string_view kPlainLetters = "UABFDfdbEeS";
constexpr std::string_view kSessionLetters = "ZCfdFDW";
// Where the first block holds the clock the loader was built for, low byte first.
constexpr std::size_t kClockAt = 8;

std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// The twelve bytes whose low nibbles hold the wait count, in both copies.
bool count_byte(std::size_t offset) {
    for (const auto& offsets : {kWaitCountOffsetsFirst, kWaitCountOffsetsSecond}) {
        for (const std::size_t o : offsets) {
            if (offset == o || offset == o + 1) return true;
        }
    }
    return false;
}

}  // namespace

SimLoader::SimLoader(const DeviceModel& model, SimFaults faults, LoaderKind kind)
    : model_(model), faults_(faults), kind_(kind) {
    flash_.fill(0xFF);
    eeprom_.fill(0xFF);
    // The loader's own code: a fixed filler, with the six load-immediate instructions
    // that hold the wait count (ldi r24/r25/r26, twice) where the host patches them.
    for (std::uint32_t i = 0; i < kLoaderSize; ++i) {
        flash_[model_.loader_start + i] = static_cast<std::uint8_t>((i * 37 + 11) & 0xFF);
    }
    std::span<std::uint8_t, 128> first(flash_.data() + model_.loader_start, 128);
    const std::uint8_t regs[3] = {8, 9, 10};  // r24, r25, r26 as ldi encodes them
    for (const auto& offsets : {kWaitCountOffsetsFirst, kWaitCountOffsetsSecond}) {
        for (std::size_t k = 0; k < 3; ++k) {
            first[offsets[k]] = static_cast<std::uint8_t>(regs[k] << 4);
            first[offsets[k] + 1] = 0xE0;
        }
    }
    // Both copies of the count stand in eight equal bytes, as in the firmware.
    std::copy(first.begin() + 48, first.begin() + 56, first.begin() + 82);
    patch_wait_count(first, kFactoryWaitCount);
    if (faults_.torn_count >= 0) {
        std::array<std::uint8_t, 128> torn{};
        std::copy(first.begin(), first.end(), torn.begin());
        patch_wait_count(torn, static_cast<std::uint32_t>(faults_.torn_count));
        std::copy(torn.begin() + 64, torn.end(), first.begin() + 64);
    }
    // ATmega8 and ATmega88 program 32-word pages, the larger chips 64-word ones.
    chip_page_ = model_.page_bytes;
    halting_from_ = model_.halting_from;
    if (kind_ == LoaderKind::Ours) {
        put_signature(first, static_cast<std::uint8_t>(chip_page_ / 2));
        for (std::size_t i = 0; i < 4; ++i) first[kClockAt + i] = static_cast<std::uint8_t>(kClockHz >> (8 * i));
    }
    if (kind_ == LoaderKind::OursVersion1) {
        put_signature(first, static_cast<std::uint8_t>(chip_page_ / 2), kUnsafeFastProtocolVersion);
    }
}


bool SimLoader::writable(std::uint32_t at) const {
    return !faults_.loader_locked || at % flash_size() < model_.loader_start;
}

void SimLoader::program_flash(std::uint32_t address, std::uint8_t value) {
    const std::uint32_t at = address % flash_size();
    if (faults_.corrupt_at >= 0 && at == static_cast<std::uint32_t>(faults_.corrupt_at)) value ^= 0x10;
    flash_[at] = value;
}

void SimLoader::settle(std::int64_t now_us) {
    std::size_t done = 0;
    while (done < programming_.size() && programming_[done].done_us <= now_us) {
        const Programming& p = programming_[done++];
        for (std::size_t i = 0; i < p.data.size(); ++i) program_flash(p.address + static_cast<std::uint32_t>(i), p.data[i]);
    }
    programming_.erase(programming_.begin(), programming_.begin() + static_cast<std::ptrdiff_t>(done));
}

void SimLoader::finish_programming() { settle(INT64_MAX); }

std::int64_t SimLoader::finish_before_command(std::int64_t now_us) {
    // Every frame taken is programmed before the loader acts on another command.
    if (programming_.empty()) return 0;
    const std::int64_t waited = std::max<std::int64_t>(0, busy_until_us_ - now_us);
    finish_programming();
    return waited;
}

std::uint32_t SimLoader::unit_check(bool flash, std::uint32_t address) const {
    std::array<std::uint8_t, 128> unit{};
    const std::uint32_t limit = flash ? flash_size() : model_.eeprom_size;
    for (std::uint32_t i = 0; i < unit.size(); ++i) {
        const std::uint32_t at = (address + i) % limit;
        unit[i] = flash ? flash_[at] : eeprom_[at];
    }
    std::uint32_t check = crc32(unit);
    if (flash && faults_.wrong_check_at >= 0 && address % limit == static_cast<std::uint32_t>(faults_.wrong_check_at)) check ^= 1;
    return check;
}

void SimLoader::ack(Answer& answer, std::int64_t busy_us) {
    answer.bytes.assign(kAck.begin(), kAck.end());
    answer.busy_us = busy_us;
}

void SimLoader::garble(Answer& answer) {
    for (auto& b : answer.bytes) {
        noise_ ^= noise_ << 13;
        noise_ ^= noise_ >> 17;
        noise_ ^= noise_ << 5;
        b = static_cast<std::uint8_t>(noise_);
    }
}

void SimLoader::press_reset() {
    finish_programming();
    hunt();
    mode_ = Mode::Plain;
    started_ = false;
    block_fill_ = 0;
    tentative_until_us_ = -1;
}

void SimLoader::hunt() {
    mode_ = Mode::Hunt;
    sync_run_ = 0;
    packet_fill_ = 0;
    loading_block_ = false;
    in_frame_ = false;
    frame_.clear();
    session_sync_ = 0;
}

bool SimLoader::receive(std::uint8_t byte, std::int64_t now_us, Answer& answer) {
    answer.bytes.clear();
    answer.busy_us = 0;
    answer.quiet_us = 0;
    answer.withdraw_last = false;
    if (line_gone_) return false;
    log_.push_back({now_us, byte});
    ++host_bytes_;
    // The loader counts silence from its last byte in, or from its last answer out.
    const bool silence = now_us - std::max(last_byte_us_, answered_us_) > kAbandonAfterUs;
    if (silence && (packet_fill_ > 0 || loading_block_)) {
        packet_fill_ = 0;
        loading_block_ = false;
    }
    if (silence && (in_frame_ || session_sync_ > 0 || mode_ == Mode::Session)) {
        // A frame cut short by silence is dropped unanswered, and what comes after is
        // never taken for a command: nothing until a sync. A session left quiet between
        // frames ends the same way: the host may have gone.
        hunt();
    }
    if (tentative_until_us_ >= 0) {
        if (now_us < tentative_until_us_) {
            // The sync was followed by more bytes: data of frames sent ahead, not a host
            // that waits for the answer. The loader keeps hunting.
            answer.withdraw_last = true;
            const int run = sync_run_;
            hunt();
            // A longer run of `U` followed by silence still ends in a sync.
            sync_run_ = run;
        }
        tentative_until_us_ = -1;
    }
    last_byte_us_ = now_us;
    settle(now_us);
    // While the CPU is halted for a page of the NRWW section, the UART keeps two bytes
    // and loses the rest.
    const bool halted = now_us < halted_until_us_;
    halted_bytes_ = halted ? halted_bytes_ + 1 : 0;
    if (faults_.flip_byte > 0 && host_bytes_ == faults_.flip_byte) byte ^= 0x01;
    if ((faults_.drop_byte > 0 && host_bytes_ == faults_.drop_byte) || halted_bytes_ > 2) {
        // Lost on the line, or overrun: the loader never sees it.
    } else if (faults_.echo) {
        answer.bytes.push_back(byte);
    } else if (mode_ == Mode::Hunt) {
        take_hunt_byte(byte, answer, now_us);
    } else if (in_frame_) {
        take_frame_byte(byte, answer, now_us);
    } else if (mode_ == Mode::Session) {
        take_session_byte(byte, answer, now_us);
    } else {
        take_plain_byte(byte, answer, now_us);
    }
    if (!answer.bytes.empty()) answered_us_ = std::max(answered_us_, now_us + answer.busy_us);
    if (faults_.line_gone_after >= 0 && host_bytes_ >= faults_.line_gone_after) {
        // The board goes with its line (powered by the same cable): what was still
        // programming is lost.
        line_gone_ = true;
        settle(now_us);
        programming_.clear();
        return false;
    }
    if (answer.bytes.empty() || faults_.silent || (faults_.mute_command > 0 && commands_ == faults_.mute_command) || started_) {
        // After `S` the user program runs and the loader is gone until the next reset.
        if (answer.quiet_us > 0) tentative_until_us_ = -1;
        answer.bytes.clear();
        return false;
    }
    if (faults_.garbage) garble(answer);
    return true;
}

void SimLoader::take_hunt_byte(std::uint8_t byte, Answer& answer, std::int64_t now_us) {
    sync_run_ = byte == command::kSync ? sync_run_ + 1 : 0;
    if (sync_run_ < 4) return;
    // Answered only once the line has stayed quiet: frames sent ahead may hold 55 55 55 55.
    ++commands_;
    mode_ = Mode::Plain;
    answer.busy_us = finish_before_command(now_us) + kHuntQuietUs;
    answer.quiet_us = kHuntQuietUs;
    tentative_until_us_ = now_us + kHuntQuietUs;
    const char* id = "Loader";
    answer.bytes.assign(id, id + 6);
}

void SimLoader::take_session_byte(std::uint8_t byte, Answer& answer, std::int64_t now_us) {
    if (session_sync_ > 0 || byte == command::kSync) {
        // A `U` where a frame would start begins a sync; it ends the session.
        if (byte != command::kSync) {
            hunt();
            return;
        }
        if (++session_sync_ < 4) return;
        session_sync_ = 0;
        ++commands_;
        mode_ = Mode::Plain;
        answer.busy_us = finish_before_command(now_us);
        const char* id = "Loader";
        answer.bytes.assign(id, id + 6);
        return;
    }
    if (kSessionLetters.find(static_cast<char>(byte)) == std::string_view::npos) {
        hunt();
        return;
    }
    in_frame_ = true;
    frame_.assign(1, byte);
}

void SimLoader::take_frame_byte(std::uint8_t byte, Answer& answer, std::int64_t now_us) {
    frame_.push_back(byte);
    // Only `D` and `W` carry data; for the others `len` is a count.
    const bool carries = frame_[0] == session_command::kWriteEeprom || frame_[0] == session_command::kPageProgram ||
                         frame_[0] == session_command::kLoaderBlock;
    const std::size_t len = carries && frame_.size() >= 2 ? frame_[1] : 0;
    if (frame_.size() < 4u + len + 4u) return;
    in_frame_ = false;
    if (crc32(std::span(frame_).first(4 + len)) != le32(frame_.data() + 4 + len)) {
        // A frame that fails its check runs nothing and gets no answer: its address may
        // be the damaged part.
        hunt();
        return;
    }
    ++commands_;
    run_frame(answer, now_us);
}

void SimLoader::take_plain_byte(std::uint8_t byte, Answer& answer, std::int64_t now_us) {
    if (loading_block_) {
        buffer_[block_fill_++] = byte;
        if (block_fill_ == buffer_.size()) {
            loading_block_ = false;
            ack(answer);
        }
        return;
    }
    if (guarded() && packet_fill_ == 0) {
        if (byte == session_command::kOpen && kind_ == LoaderKind::Ours) {
            in_frame_ = true;
            frame_.assign(1, byte);
            return;
        }
        if (kPlainLetters.find(static_cast<char>(byte)) == std::string_view::npos) {
            // An unknown letter: nothing of this packet runs, and the loader hunts.
            hunt();
            return;
        }
    }
    if (guarded() && packet_fill_ > 0 && packet_[0] == command::kSync && byte != command::kSync) {
        hunt();
        return;
    }
    packet_[packet_fill_++] = byte;
    if (packet_fill_ == packet_.size()) {
        packet_fill_ = 0;
        ++commands_;
        execute(answer, now_us);
    }
}

void SimLoader::frame_answer(Answer& answer, std::uint8_t letter, std::uint32_t address, std::span<const std::uint8_t> data) {
    answer.bytes = session_frame(letter, address, data);
}

void SimLoader::page_frame(Answer& answer, std::uint32_t address, std::span<const std::uint8_t> data, std::int64_t now_us) {
    // The frame leaves RAM for the page buffer once the one before it is programmed;
    // then it programs while the next comes in. Pages whose content does not change are
    // not touched; a page programs as an erase and a write.
    const std::int64_t taken = std::max(now_us, busy_until_us_);
    const std::uint32_t first_page = address / chip_page_;
    const std::uint32_t last_page = (address + static_cast<std::uint32_t>(data.size()) - 1) / chip_page_;
    std::int64_t busy = 0;
    for (std::uint32_t page = first_page; page <= last_page; ++page) {
        bool same = true;
        for (std::uint32_t a = std::max(page * chip_page_, address);
             a < std::min((page + 1) * chip_page_, address + static_cast<std::uint32_t>(data.size())); ++a) {
            same = same && flash_[a] == data[a - address];
        }
        if (!same) busy += kPageEraseUs + kPageProgramUs;
    }
    busy_until_us_ = taken + busy;
    programming_.push_back({busy_until_us_, address, std::vector<std::uint8_t>(data.begin(), data.end())});
    // The answer is the CRC-32 of the range as the flash will hold it.
    std::vector<std::uint8_t> held(data.begin(), data.end());
    for (std::size_t i = 0; i < held.size(); ++i) {
        const std::uint32_t at = (address + static_cast<std::uint32_t>(i)) % flash_size();
        if (faults_.corrupt_at >= 0 && at == static_cast<std::uint32_t>(faults_.corrupt_at)) held[i] ^= 0x10;
    }
    const std::uint32_t check = crc32(held);
    const std::array<std::uint8_t, 4> programmed{static_cast<std::uint8_t>(check), static_cast<std::uint8_t>(check >> 8),
                                                 static_cast<std::uint8_t>(check >> 16), static_cast<std::uint8_t>(check >> 24)};
    frame_answer(answer, session_command::kPageProgram, address, programmed);
    // Answered once its pages are programmed.
    answer.busy_us = busy_until_us_ - now_us;
    // The CPU stops while a page of the NRWW section programs.
    if (address + data.size() > halting_from_) halted_until_us_ = busy_until_us_;
}

void SimLoader::run_frame(Answer& answer, std::int64_t now_us) {
    const std::uint8_t letter = frame_[0];
    const std::size_t len = frame_[1];
    const std::uint32_t address = static_cast<std::uint32_t>(frame_[2] << 8 | frame_[3]);
    const bool carries = letter == session_command::kWriteEeprom || letter == session_command::kPageProgram ||
                         letter == session_command::kLoaderBlock;
    const std::span<const std::uint8_t> data(frame_.data() + 4, carries ? len : 0);
    const bool opening = letter == session_command::kOpen;
    if (mode_ != Mode::Session && !opening) {
        hunt();
        return;
    }
    if (letter == session_command::kPageProgram) {
        if (address + len > model_.loader_start) {
            // A range that reaches the loader: nothing, no answer, a hunt.
            finish_programming();
            hunt();
            return;
        }
        if (len > 0) {
            page_frame(answer, address, data, now_us);
        } else {
            const std::uint32_t empty = crc32(std::span<const std::uint8_t>{});
            frame_answer(answer, letter, address,
                         std::array<std::uint8_t, 4>{static_cast<std::uint8_t>(empty), static_cast<std::uint8_t>(empty >> 8),
                                                     static_cast<std::uint8_t>(empty >> 16), static_cast<std::uint8_t>(empty >> 24)});
        }
        return;
    }
    const std::int64_t waited = finish_before_command(now_us);
    // Counts of reads: (n - 1) mod 128 + 1, as the loader takes them.
    const std::uint32_t count = (static_cast<std::uint32_t>(len) + 127) % 128 + 1;
    std::vector<std::uint8_t> out;
    auto read_into = [&](bool flash) {
        const std::uint32_t limit = flash ? flash_size() : model_.eeprom_size;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint32_t at = (address + i) % limit;
            out.push_back(flash ? flash_[at] : eeprom_[at]);
        }
    };
    switch (letter) {
        case session_command::kOpen:
            // The opening reads the flash like `f`: at the loader's start + 6, the version,
            // page words and clock.
            mode_ = Mode::Session;
            read_into(true);
            break;
        case session_command::kFlashChecks: {
            // Up to 32 units, which fill the answer; a count of 0 means 32 as well.
            const std::uint32_t units = len == 0 || len > 32 ? 32 : static_cast<std::uint32_t>(len);
            for (std::uint32_t u = 0; u < units; ++u) put32(out, unit_check(true, address + u * 128));
            answer.busy_us = kUnitCheckUs * units;
            break;
        }
        case session_command::kReadFlash:
        case session_command::kReadEeprom: read_into(letter == session_command::kReadFlash); break;
        case session_command::kWriteEeprom: {
            // The data go into the buffer; `len` counts as a read's count does.
            std::copy(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(len, 128)), buffer_.begin());
            std::uint32_t written = 0;
            for (std::uint32_t i = 0; i < count; ++i) {
                std::uint8_t& cell = eeprom_[(address + i) % model_.eeprom_size];
                if (cell != buffer_[i]) ++written;
                cell = buffer_[i];
            }
            // Answered with what the EEPROM holds once the last byte is written.
            read_into(false);
            answer.busy_us = kEepromByteUs * written;
            break;
        }
        case session_command::kLoaderBlock: {
            // The plain `F` on the frame's data: its address high byte stands where `F`
            // has its count of pages, so a block at the loader's start is two pages.
            std::copy(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(len, 128)), buffer_.begin());
            const std::uint32_t pages = std::min<std::uint32_t>(address >> 8, 2);
            write_flash_buffer(address % flash_size() & ~(kFlashPageBytes - 1), pages);
            out.assign(buffer_.begin(), buffer_.end());
            answer.busy_us = kPageProgramUs * pages;
            break;
        }
        default: hunt(); return;
    }
    frame_answer(answer, letter, address, out);
    answer.busy_us += waited;
}

bool SimLoader::loader_block_change_allowed() const {
    // Only the twelve nibbles of the count may differ from the chip's block, and both
    // copies in the new block must be equal.
    const std::uint8_t* chip = flash_.data() + model_.loader_start;
    for (std::size_t i = 0; i < 128; ++i) {
        const std::uint8_t mask = count_byte(i) ? 0xF0 : 0xFF;
        if ((buffer_[i] & mask) != (chip[i] & mask)) return false;
    }
    return std::equal(buffer_.begin() + 48, buffer_.begin() + 56, buffer_.begin() + 82);
}

void SimLoader::write_flash_buffer(std::uint32_t page, std::uint32_t pages) {
    const std::uint32_t size = flash_size();
    const std::uint32_t end = page + pages * kFlashPageBytes;
    const std::uint32_t loader = model_.loader_start;
    if (guarded() && end > loader && page < size) {
        // Our loader's own section: only the exact first block, and only its count.
        if (page != loader || pages != 2 || !loader_block_change_allowed()) return;
        if (std::equal(buffer_.begin(), buffer_.end(), flash_.begin() + loader)) return;
        if (!writable(loader)) return;
        std::copy(buffer_.begin(), buffer_.end(), flash_.begin() + loader);
        return;
    }
    for (std::uint32_t i = 0; i < pages * kFlashPageBytes; ++i) {
        if (writable(page + i)) program_flash(page + i, flash_[(page + i) % size] & buffer_[i]);
    }
}

void SimLoader::execute(Answer& answer, std::int64_t now_us) {
    const std::uint8_t a1 = packet_[1];
    const std::uint8_t a2 = packet_[2];
    const std::uint32_t size = flash_size();
    const std::int64_t waited = finish_before_command(now_us);
    const bool ours = kind_ != LoaderKind::Plain;
    switch (packet_[0]) {
        case command::kSync:
            if (a1 == command::kSync && a2 == command::kSync && packet_[3] == command::kSync) {
                const char* id = "Loader";
                answer.bytes.assign(id, id + 6);
            }
            break;
        case command::kSetAddress:
            address_ = static_cast<std::uint32_t>(a1 << 8 | a2);
            ack(answer);
            break;
        case command::kLoadBuffer:
            loading_block_ = true;
            block_fill_ = 0;
            break;
        case command::kWriteFlash: {
            // The chip ignores the address bits past its flash and EEPROM: addresses wrap.
            const std::uint32_t page = address_ % size & ~(kFlashPageBytes - 1);
            const std::uint32_t pages = std::min<std::uint32_t>(a2, 2);
            write_flash_buffer(page, pages);
            ack(answer, kPageProgramUs * pages);
            break;
        }
        case command::kWriteEeprom: {
            const std::uint32_t n = std::min<std::uint32_t>(a1, 128);
            std::uint32_t written = 0;
            for (std::uint32_t i = 0; i < n; ++i) {
                std::uint8_t& cell = eeprom_[(address_ + i) % model_.eeprom_size];
                // Ours skips the bytes that hold the value already.
                if (!ours || cell != buffer_[i]) ++written;
                cell = buffer_[i];
            }
            ack(answer, kEepromByteUs * written);
            break;
        }
        case command::kReadFlash:
        case command::kReadEeprom: {
            const bool flash = packet_[0] == command::kReadFlash;
            const std::uint32_t limit = flash ? size : model_.eeprom_size;
            for (std::uint32_t i = 0; i < 128; ++i) {
                const std::uint32_t at = (address_ + i) % limit;
                buffer_[i] = flash ? flash_[at] : eeprom_[at];
            }
            ack(answer);
            break;
        }
        case command::kFetchBuffer:
            answer.bytes.assign(buffer_.begin(), buffer_.begin() + (faults_.short_block ? 100 : 128));
            break;
        case command::kEraseFlashPage: {
            const std::uint32_t page = address_ % size & ~(kFlashPageBytes - 1);
            // Ours erases nothing of its own section.
            if (writable(page) && !(ours && page >= model_.loader_start)) {
                std::fill_n(flash_.begin() + page, kFlashPageBytes, std::uint8_t{0xFF});
            }
            ack(answer, kPageEraseUs);
            break;
        }
        case command::kEraseEeprom: {
            std::uint32_t erased = 0;
            for (std::uint32_t i = 0; i < 128; ++i) {
                std::uint8_t& cell = eeprom_[(address_ + i) % model_.eeprom_size];
                if (!ours || cell != 0xFF) ++erased;
                cell = 0xFF;
            }
            ack(answer, kEepromByteUs * erased);
            break;
        }
        case command::kStart:
            started_ = true;
            break;
        default:
            // A loader of the original kind ignores what it does not know.
            break;
    }
    answer.busy_us += waited;
}

}  // namespace zarvik
