#pragma once

// One line error at every place of a short operation, on the real core running our
// loader firmware, and what it did to the chip. Only the host's public operations
// (as the command line runs them) and the simulated chip's memories are used, so the
// sweep holds whatever the roads do inside.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "loader/wait_count.h"
#include "memory/device_model.h"
#include "programmer/programmer.h"
#include "sim/avr/avr_board.h"
#include "sim/avr/avr_link.h"
#include "support/fault_link.h"
#include "support/temp_dir.h"

namespace zarvik::testing {

enum class SweepOperation { WriteFlash, WriteEeprom, Configure };

inline const char* operation_name(SweepOperation op) {
    switch (op) {
        case SweepOperation::WriteFlash: return "write flash";
        case SweepOperation::WriteEeprom: return "write eeprom";
        case SweepOperation::Configure: return "configure 16 2";
    }
    return "?";
}

// The rules a run must keep, whatever happened on the line.
enum class Invariant {
    LoaderKept,       // the loader's 1 KB unchanged, but for the configured count in both copies
    EepromKept,       // EEPROM outside what the operation writes is unchanged
    FlashKept,        // flash outside what the operation writes is unchanged
    PageRestKept,     // bytes of a chip page the flash file touches but does not cover are unchanged
    SuccessIsTrue,    // an operation that reported success left the file on the chip
    PageAddressed,    // every page write had Z at the page's start, as the datasheets want
};
inline constexpr int kInvariants = 6;

inline const char* invariant_name(Invariant i) {
    switch (i) {
        case Invariant::LoaderKept: return "loader changed";
        case Invariant::EepromKept: return "EEPROM changed";
        case Invariant::FlashKept: return "flash outside the file changed";
        case Invariant::PageRestKept: return "bytes of a touched page outside the file changed";
        case Invariant::SuccessIsTrue: return "success reported for data not on the chip";
        case Invariant::PageAddressed: return "a page written with Z off its start";
    }
    return "?";
}

struct RunReport {
    bool broken[kInvariants] = {};
    std::string detail;   // the first thing found wrong
    bool reported_ok = false;  // the first attempt ended as the command line's exit 0
    bool retried = false;
    bool retry_ok = false;

    bool clean() const { return std::none_of(std::begin(broken), std::end(broken), [](bool b) { return b; }); }
};

struct SweepSummary {
    int runs = 0;
    int faulty_runs = 0;  // runs that broke at least one rule
    int broken[kInvariants] = {};
    int reported_ok = 0;
    std::vector<std::string> examples;  // the first few, fault and what it did

    void add(const LineFault& fault, const RunReport& r) {
        ++runs;
        if (r.reported_ok) ++reported_ok;
        if (r.clean()) return;
        ++faulty_runs;
        for (int i = 0; i < kInvariants; ++i) broken[i] += r.broken[i] ? 1 : 0;
        if (examples.size() < 5) examples.push_back(describe(fault) + ": " + r.detail);
    }
    std::string text() const {
        std::string t = std::to_string(faulty_runs) + " of " + std::to_string(runs) + " runs broke a rule";
        for (int i = 0; i < kInvariants; ++i) {
            if (broken[i] > 0) t += "; " + std::string(invariant_name(static_cast<Invariant>(i))) + ": " + std::to_string(broken[i]);
        }
        for (const auto& e : examples) t += "\n    " + e;
        return t;
    }
};

// Intel HEX of `bytes` placed at `address`, 16 bytes a record.
inline std::string hex_at(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
    std::string out;
    char line[64];
    for (std::size_t i = 0; i < bytes.size(); i += 16) {
        const std::size_t n = std::min<std::size_t>(16, bytes.size() - i);
        const auto a = static_cast<unsigned>(address + i);
        unsigned sum = static_cast<unsigned>(n + (a >> 8) + (a & 0xFF));
        std::snprintf(line, sizeof line, ":%02X%04X00", static_cast<unsigned>(n), a & 0xFFFF);
        out += line;
        for (std::size_t k = 0; k < n; ++k) {
            std::snprintf(line, sizeof line, "%02X", bytes[i + k]);
            out += line;
            sum += bytes[i + k];
        }
        std::snprintf(line, sizeof line, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
        out += line;
    }
    return out + ":00000001FF\r\n";
}

// Random `ldi` instructions: data that differs everywhere, and a program that does
// nothing harmful if a damaged run starts it.
inline std::vector<std::uint8_t> harmless_code(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> out(n);
    for (std::size_t i = 0; i + 1 < n; i += 2) {
        out[i] = static_cast<std::uint8_t>(rng());
        out[i + 1] = static_cast<std::uint8_t>(0xE0 | (rng() & 0x0F));
    }
    return out;
}

// One chip model with our loader, a program and EEPROM data on it; every run starts
// from that state, after a reset, with a new host.
class FaultSweep {
public:
    static constexpr std::uint32_t kHz = 16'000'000;
    static constexpr int kBaud = 115200;
    // The flash file: partial chip pages at both ends, several whole ones between.
    static constexpr std::uint32_t kFlashAt = 0x30;
    static constexpr std::uint32_t kFlashBytes = 0x15A;
    // EEPROM is written from address 0 by design (bytes a file leaves out below its
    // end are written blank), so the file starts there.
    static constexpr std::uint32_t kEepromAt = 0;
    static constexpr std::uint32_t kEepromBytes = 24;

    explicit FaultSweep(const char* model_name) : model_(*find_device_model(model_name)), board_(model_name, kHz) {
        if (!board_.ok()) return;
        const std::string loader = std::string(ZARVIK_LOADER_DIR) + "/zarvik-loader-" + std::string(board_.chip().mcu) + "-" +
                                   ZARVIK_LOADER_SUFFIX + ".hex";
        loaded_ = board_.load_flash_hex(loader);
        // A program in the whole application section, ending in a loop on itself.
        const auto program = harmless_code(model_.loader_start, 1);
        std::copy(program.begin(), program.end(), board_.flash().begin());
        board_.flash()[model_.loader_start - 2] = 0xFF;
        board_.flash()[model_.loader_start - 1] = 0xCF;  // rjmp .-2
        // Blank below the file's first record: a verify compares from address 0, and a
        // program there would be a difference however well the write went. The rest of
        // the file's last chip page holds code, and must keep it.
        std::fill_n(board_.flash().begin(), kFlashAt, std::uint8_t{0xFF});
        std::mt19937 rng(2);
        for (auto& b : board_.eeprom()) b = static_cast<std::uint8_t>(rng());
        flash0_.assign(board_.flash().begin(), board_.flash().end());
        eeprom0_.assign(board_.eeprom().begin(), board_.eeprom().end());

        flash_file_ = harmless_code(kFlashBytes, 3);
        eeprom_file_.resize(kEepromBytes);
        for (auto& b : eeprom_file_) b = static_cast<std::uint8_t>(rng());
        std::ofstream(dir_.file("f.hex"), std::ios::binary) << hex_at(kFlashAt, flash_file_);
        std::ofstream(dir_.file("e.eep"), std::ios::binary) << hex_at(kEepromAt, eeprom_file_);
        new_count_ = static_cast<std::uint32_t>(compute_wait_count("16", "2").count);
    }

    bool ok() const { return board_.ok() && loaded_; }
    std::string error() const { return board_.ok() ? "cannot load the loader image" : board_.error(); }
    const DeviceModel& model() const { return model_; }
    // The protocol version in the loader's signature as built (0: no signature).
    int loader_version() const {
        const std::uint8_t* s = flash0_.data() + model_.loader_start;
        return std::equal(s + 2, s + 6, "ZRVK") ? s[6] : 0;
    }

    // How many bytes the host sends for `op` on a clean line.
    std::uint64_t clean_length(SweepOperation op) {
        RunReport ignored;
        return run_with(op, std::nullopt, ignored);
    }

    RunReport run(SweepOperation op, const LineFault& fault) {
        RunReport r;
        run_with(op, fault, r);
        return r;
    }

    RunReport run_clean(SweepOperation op) {
        RunReport r;
        run_with(op, std::nullopt, r);
        return r;
    }

private:
    struct Attempt {
        bool step_ok = false;  // the operation itself (a write without --no-verify's check)
        bool exit_ok = false;  // and, for a write, the verify after it
    };

    // The command line's run: connect, the identity, the operation; a write is
    // verified unless it failed.
    Attempt attempt(ByteLink& line, Clock& clock, SweepOperation op) {
        ProgrammerState state;
        Programmer p(state, line, clock);
        p.set_model(model_);
        if (p.connect() != HandshakeOutcome::Connected) return {};
        p.identify_device();
        if (p.identity_failure(Operation::Write, MemoryKind::Flash)) return {};
        switch (op) {
            case SweepOperation::WriteFlash:
            case SweepOperation::WriteEeprom: {
                const MemoryKind memory = op == SweepOperation::WriteFlash ? MemoryKind::Flash : MemoryKind::Eeprom;
                const std::string file = dir_.file(memory == MemoryKind::Flash ? "f.hex" : "e.eep");
                const bool written = p.write(memory, file, no_progress(), {.erase_pages = true}).ok();
                return {written, written && p.verify(memory, file).ok()};
            }
            case SweepOperation::Configure: {
                const bool done = p.configure_loader("16", "2").ok();
                return {done, done};
            }
        }
        return {};
    }

    std::uint64_t run_with(SweepOperation op, std::optional<LineFault> fault, RunReport& r) {
        std::copy(flash0_.begin(), flash0_.end(), board_.flash().begin());
        std::copy(eeprom0_.begin(), eeprom0_.end(), board_.eeprom().begin());
        board_.reset();
        board_.sent().clear();
        AvrLink wire(board_, kBaud);
        FaultLink line(wire, fault);
        const Attempt first = attempt(line, wire, op);
        r.reported_ok = first.exit_ok;
        if (first.step_ok) check_holds_file(op, r, first.exit_ok ? "first attempt" : "first attempt (with --no-verify)");
        if (!first.exit_ok) {
            // As a user would: the same command once more, with a new connection.
            r.retried = true;
            const Attempt second = attempt(line, wire, op);
            r.retry_ok = second.exit_ok;
            if (second.step_ok) check_holds_file(op, r, second.exit_ok ? "second attempt" : "second attempt (with --no-verify)");
        }
        check_kept(op, r);
        if (board_.misaddressed_page_writes() != misaddressed_) {
            misaddressed_ = board_.misaddressed_page_writes();
            fail(r, Invariant::PageAddressed, "a page write with bits of Z below the page set");
        }
        return line.sent();
    }

    void fail(RunReport& r, Invariant i, const std::string& what) {
        if (!r.clean() && r.broken[static_cast<int>(i)]) return;
        if (r.clean()) r.detail = what;
        r.broken[static_cast<int>(i)] = true;
    }

    static std::string at(std::uint32_t address, std::uint8_t expected, std::uint8_t found) {
        char text[64];
        std::snprintf(text, sizeof text, "0x%04X holds %02X, not %02X", address, found, expected);
        return text;
    }

    // The first address in [from, to) where the chip's `memory` differs from `expected`.
    static std::optional<std::uint32_t> first_difference(std::span<const std::uint8_t> memory,
                                                         const std::vector<std::uint8_t>& expected, std::uint32_t from,
                                                         std::uint32_t to) {
        for (std::uint32_t a = from; a < to; ++a) {
            if (memory[a] != expected[a]) return a;
        }
        return std::nullopt;
    }

    void check_holds_file(SweepOperation op, RunReport& r, const char* which) {
        auto flash = board_.flash();
        switch (op) {
            case SweepOperation::WriteFlash:
                for (std::uint32_t i = 0; i < kFlashBytes; ++i) {
                    if (flash[kFlashAt + i] == flash_file_[i]) continue;
                    fail(r, Invariant::SuccessIsTrue,
                         std::string(which) + " reported success, " + at(kFlashAt + i, flash_file_[i], flash[kFlashAt + i]));
                    return;
                }
                return;
            case SweepOperation::WriteEeprom:
                for (std::uint32_t i = 0; i < kEepromBytes; ++i) {
                    const std::uint8_t found = board_.eeprom()[kEepromAt + i];
                    if (found == eeprom_file_[i]) continue;
                    fail(r, Invariant::SuccessIsTrue,
                         std::string(which) + " reported success, EEPROM " + at(kEepromAt + i, eeprom_file_[i], found));
                    return;
                }
                return;
            case SweepOperation::Configure: {
                const std::span<const std::uint8_t, 128> block(flash.data() + model_.loader_start, 128);
                if (decode_wait_count(block, 0) != new_count_ || decode_wait_count(block, 1) != new_count_) {
                    fail(r, Invariant::SuccessIsTrue, std::string(which) + " reported success, the count is not the new one");
                }
                return;
            }
        }
    }

    void check_kept(SweepOperation op, RunReport& r) {
        const auto flash = board_.flash();
        const auto eeprom = board_.eeprom();
        const std::uint32_t ls = model_.loader_start;
        // The loader: as it was, or (configure only) with the new count in both copies.
        std::vector<std::uint8_t> expected = flash0_;
        if (op == SweepOperation::Configure && decode_wait_count(std::span<const std::uint8_t, 128>(flash.data() + ls, 128), 0) == new_count_) {
            patch_wait_count(std::span<std::uint8_t, 128>(expected.data() + ls, 128), new_count_);
        }
        if (auto a = first_difference(flash, expected, ls, ls + 1024)) {
            fail(r, Invariant::LoaderKept, "loader " + at(*a, expected[*a], flash[*a]));
        }
        // EEPROM: a flash write or a configuration leaves it whole; an EEPROM write
        // leaves the bytes outside its file.
        for (std::uint32_t a = 0; a < eeprom.size(); ++a) {
            if (op == SweepOperation::WriteEeprom && a >= kEepromAt && a < kEepromAt + kEepromBytes) continue;
            if (eeprom[a] != eeprom0_[a]) {
                fail(r, Invariant::EepromKept, "EEPROM " + at(a, eeprom0_[a], eeprom[a]));
                break;
            }
        }
        // The application section outside the flash file; the bytes of a chip page
        // the file only partly covers are counted apart.
        const std::uint32_t page = board_.chip().page_bytes;
        const std::uint32_t touched_from = kFlashAt / page * page;
        const std::uint32_t touched_to = (kFlashAt + kFlashBytes + page - 1) / page * page;
        bool outside = false, rest = false;
        for (std::uint32_t a = 0; a < ls; ++a) {
            if (flash[a] == flash0_[a]) continue;
            if (op != SweepOperation::WriteFlash || a < touched_from || a >= touched_to) {
                if (!outside) fail(r, Invariant::FlashKept, "flash " + at(a, flash0_[a], flash[a]));
                outside = true;
            } else if (a < kFlashAt || a >= kFlashAt + kFlashBytes) {
                if (!rest) fail(r, Invariant::PageRestKept, "page rest " + at(a, flash0_[a], flash[a]));
                rest = true;
            }
        }
    }

    const DeviceModel model_;
    AvrBoard board_;
    TempDir dir_;
    bool loaded_ = false;
    std::vector<std::uint8_t> flash0_, eeprom0_, flash_file_, eeprom_file_;
    std::uint64_t misaddressed_ = 0;
    std::uint32_t new_count_ = 0;
};

// Faults for a sweep over `length` bytes sent: every offset with every kind (the
// flipped bit drawn with `seed`, or each of the eight with `all_bits`), or `samples`
// of them drawn with `seed`.
inline std::vector<LineFault> faults_for(std::uint64_t length, std::optional<int> samples, unsigned seed,
                                         bool all_bits = false) {
    std::vector<LineFault> all;
    std::mt19937 rng(seed);
    if (!samples) {
        for (std::uint64_t at = 0; at < length; ++at) {
            all.push_back({LineFault::Kind::Drop, at, 0});
            all.push_back({LineFault::Kind::Duplicate, at, 0});
            const int drawn = static_cast<int>(rng() % 8);
            for (int bit = 0; bit < 8; ++bit) {
                if (all_bits || bit == drawn) all.push_back({LineFault::Kind::Flip, at, bit});
            }
        }
        return all;
    }
    for (int i = 0; i < *samples; ++i) {
        const auto kind = static_cast<LineFault::Kind>(rng() % 3);
        all.push_back({kind, rng() % length, static_cast<int>(rng() % 8)});
    }
    return all;
}

}  // namespace zarvik::testing
