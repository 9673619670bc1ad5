#include "sim/sim_loader.h"

#include <algorithm>

#include "loader/fast_protocol.h"
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
    patch_wait_count(first, kFactoryWaitCount);
    if (faults_.torn_count >= 0) {
        std::array<std::uint8_t, 128> torn{};
        std::copy(first.begin(), first.end(), torn.begin());
        patch_wait_count(torn, static_cast<std::uint32_t>(faults_.torn_count));
        std::copy(torn.begin() + 64, torn.end(), first.begin() + 64);
    }
    // ATmega8 and ATmega88 program 32-word pages, the larger chips 64-word ones.
    chip_page_ = model_.loader_start == 0x1C00 ? 64 : 128;
    halting_from_ = model_.loader_start == 0x7C00 ? 0x7000 : model_.loader_start - 0x400;
    if (kind_ == LoaderKind::Ours) put_signature(first, static_cast<std::uint8_t>(chip_page_ / 2));
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

void SimLoader::status_answer(Answer& answer, std::uint32_t address, std::uint8_t status, std::int64_t now_us) {
    answer.bytes = {static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address & 0xFF), status};
    if (status == 0) return;
    // A refusal is an answer like any other: it comes once every frame taken before is
    // programmed. Then the loader takes nothing until a sync.
    answer.busy_us = std::max<std::int64_t>(0, busy_until_us_ - now_us);
    finish_programming();
    locked_ = true;
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

bool SimLoader::receive(std::uint8_t byte, std::int64_t now_us, Answer& answer) {
    if (line_gone_) return false;
    log_.push_back({now_us, byte});
    ++host_bytes_;
    if ((packet_fill_ > 0 || loading_block_) && now_us - last_byte_us_ > kAbandonAfterUs) {
        packet_fill_ = 0;
        loading_block_ = false;
    }
    if (frame_need_ > 0 && now_us - last_byte_us_ > kAbandonAfterUs) {
        // A frame cut short by silence is dropped unanswered, and what comes after is
        // never taken for a command: nothing until a sync.
        frame_need_ = 0;
        frame_.clear();
        locked_ = true;
        sync_run_ = 0;
    }
    last_byte_us_ = now_us;
    answer.bytes.clear();
    answer.busy_us = 0;
    settle(now_us);
    // While the CPU is halted for a page of the NRWW section, the UART keeps two bytes
    // and loses the rest.
    const bool halted = now_us < halted_until_us_;
    halted_bytes_ = halted ? halted_bytes_ + 1 : 0;
    if ((faults_.drop_byte > 0 && host_bytes_ == faults_.drop_byte) || halted_bytes_ > 2) {
        // Lost on the line, or overrun: the loader never sees it.
    } else if (faults_.echo) {
        answer.bytes.push_back(byte);
    } else if (locked_) {
        sync_run_ = byte == command::kSync ? sync_run_ + 1 : 0;
        if (sync_run_ == 4) {
            answer.busy_us = std::max<std::int64_t>(0, busy_until_us_ - now_us);
            finish_programming();
            locked_ = false;
            sync_run_ = 0;
            packet_fill_ = 0;
            const char* id = "Loader";
            answer.bytes.assign(id, id + 6);
        }
    } else if (frame_need_ > 0) {
        frame_.push_back(byte);
        if (frame_.size() == frame_need_) take_frame(answer, now_us);
    } else if (loading_block_) {
        buffer_[block_fill_++] = byte;
        if (block_fill_ == buffer_.size()) {
            loading_block_ = false;
            ack(answer);
        }
    } else {
        packet_[packet_fill_++] = byte;
        if (packet_fill_ == packet_.size()) {
            packet_fill_ = 0;
            ++commands_;
            execute(answer, now_us);
        }
    }
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
        return false;
    }
    if (faults_.garbage) garble(answer);
    return true;
}

void SimLoader::take_frame(Answer& answer, std::int64_t now_us) {
    const std::uint32_t address = static_cast<std::uint32_t>(frame_[0] << 8 | frame_[1]);
    const std::size_t n = frame_need_ - 3 - 4;
    frame_need_ = 0;
    const std::uint32_t sent = static_cast<std::uint32_t>(frame_[3 + n]) | static_cast<std::uint32_t>(frame_[4 + n]) << 8 |
                               static_cast<std::uint32_t>(frame_[5 + n]) << 16 | static_cast<std::uint32_t>(frame_[6 + n]) << 24;
    if (crc32(std::span(frame_).first(3 + n)) != sent) {
        status_answer(answer, address, 1, now_us);
        return;
    }
    // The frame leaves RAM for the page buffer once the one before it is programmed;
    // then it programs while the next comes in.
    const std::int64_t taken = std::max(now_us, busy_until_us_);
    const std::uint32_t first_page = address / chip_page_;
    const std::uint32_t last_page = (address + static_cast<std::uint32_t>(n) - 1) / chip_page_;
    busy_until_us_ = taken + (last_page - first_page + 1) * (kPageEraseUs + kPageProgramUs);
    programming_.push_back({busy_until_us_, address, std::vector<std::uint8_t>(frame_.begin() + 3, frame_.begin() + 3 + static_cast<std::ptrdiff_t>(n))});
    status_answer(answer, address, 0, now_us);
    answer.busy_us = taken - now_us;
    if (kind_ == LoaderKind::Ours && address + n > halting_from_) {
        // The CPU stops while such a page programs: answered once it is done.
        halted_until_us_ = busy_until_us_;
        answer.busy_us = busy_until_us_ - now_us;
    }
}

void SimLoader::fast_command(Answer& answer, std::int64_t now_us) {
    const std::uint32_t address = static_cast<std::uint32_t>(packet_[1] << 8 | packet_[2]);
    const std::uint32_t n = packet_[3] == 0 ? 256 : packet_[3];
    switch (packet_[0]) {
        case fast_command::kFlashChecks:
        case fast_command::kEepromChecks: {
            const bool flash = packet_[0] == fast_command::kFlashChecks;
            for (std::uint32_t u = 0; u < n; ++u) {
                const std::uint32_t check = unit_check(flash, address + u * 128);
                for (int i = 0; i < 4; ++i) answer.bytes.push_back(static_cast<std::uint8_t>(check >> (8 * i)));
            }
            answer.busy_us = kUnitCheckUs;
            break;
        }
        case fast_command::kRangeErase: {
            if (address % 128 != 0 || address + n * 128 > model_.loader_start) {
                answer.bytes = {packet_[1], packet_[2], 2};
                break;
            }
            std::int64_t busy = 0;
            for (std::uint32_t page = address; page < address + n * 128; page += chip_page_) {
                auto first = flash_.begin() + page;
                if (std::all_of(first, first + chip_page_, [](std::uint8_t b) { return b == 0xFF; })) continue;
                std::fill_n(first, chip_page_, std::uint8_t{0xFF});
                busy += kPageEraseUs;
            }
            answer.bytes = {packet_[1], packet_[2], 0};
            answer.busy_us = busy;
            break;
        }
        case fast_command::kPageProgram:
            if (address % 64 != 0 || (packet_[3] != 64 && packet_[3] != 128) || address + packet_[3] > model_.loader_start) {
                status_answer(answer, address, 2, now_us);
                break;
            }
            frame_.assign(packet_.begin() + 1, packet_.end());
            frame_need_ = 3 + packet_[3] + 4;
            break;
        default: break;
    }
}

void SimLoader::execute(Answer& answer, std::int64_t now_us) {
    const std::uint8_t a1 = packet_[1];
    const std::uint8_t a2 = packet_[2];
    const std::uint32_t size = flash_size();
    // Every frame taken is programmed before the loader acts on another command.
    std::int64_t waited = 0;
    if (packet_[0] != fast_command::kPageProgram && !programming_.empty()) {
        waited = std::max<std::int64_t>(0, busy_until_us_ - now_us);
        finish_programming();
    }
    const bool ours = kind_ == LoaderKind::Ours;
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
            for (std::uint32_t i = 0; i < pages * kFlashPageBytes; ++i) {
                if (writable(page + i)) program_flash(page + i, flash_[(page + i) % size] & buffer_[i]);
            }
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
            if (writable(page)) std::fill_n(flash_.begin() + page, kFlashPageBytes, std::uint8_t{0xFF});
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
            // The loader ignores what it does not know; only ours knows the fast road.
            if (ours) fast_command(answer, now_us);
            break;
    }
    answer.busy_us += waited;
}

}  // namespace zarvik
