#include "sim/sim_loader.h"

#include <algorithm>

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

}  // namespace

SimLoader::SimLoader(const DeviceModel& model, SimFaults faults) : model_(model), faults_(faults) {
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
}

bool SimLoader::writable(std::uint32_t at) const {
    return !faults_.loader_locked || at % flash_size() < model_.loader_start;
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
    last_byte_us_ = now_us;
    answer.bytes.clear();
    answer.busy_us = 0;
    if (faults_.echo) {
        answer.bytes.push_back(byte);
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
            execute(answer);
        }
    }
    if (faults_.line_gone_after >= 0 && host_bytes_ >= faults_.line_gone_after) {
        line_gone_ = true;
        return false;
    }
    if (answer.bytes.empty() || faults_.silent || (faults_.mute_command > 0 && commands_ == faults_.mute_command) || started_) {
        // After `S` the user program runs and the loader is gone until the next reset.
        return false;
    }
    if (faults_.garbage) garble(answer);
    return true;
}

void SimLoader::execute(Answer& answer) {
    const std::uint8_t a1 = packet_[1];
    const std::uint8_t a2 = packet_[2];
    const std::uint32_t size = flash_size();
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
                if (writable(page + i)) flash_[(page + i) % size] &= buffer_[i];
            }
            ack(answer, kPageProgramUs * pages);
            break;
        }
        case command::kWriteEeprom: {
            const std::uint32_t n = std::min<std::uint32_t>(a1, 128);
            for (std::uint32_t i = 0; i < n; ++i) eeprom_[(address_ + i) % model_.eeprom_size] = buffer_[i];
            ack(answer, kEepromByteUs * n);
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
        case command::kEraseEeprom:
            for (std::uint32_t i = 0; i < 128; ++i) eeprom_[(address_ + i) % model_.eeprom_size] = 0xFF;
            ack(answer, kEepromByteUs * 128);
            break;
        case command::kStart:
            started_ = true;
            break;
        default:
            break;  // the loader ignores what it does not know
    }
}

}  // namespace zarvik
