#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/byte_link.h"

namespace zarvik::testing {

// One line error on the way from the host to the chip: a byte lost, a byte arriving
// twice (an adapter that resends), or one bit of it changed by noise.
struct LineFault {
    enum class Kind { Drop, Duplicate, Flip };
    Kind kind = Kind::Drop;
    // Counted over everything the host sends through the link, from its first byte.
    std::uint64_t offset = 0;
    int bit = 0;  // Flip only: 0 is the byte's lowest bit
};

inline const char* kind_name(LineFault::Kind kind) {
    switch (kind) {
        case LineFault::Kind::Drop: return "drop";
        case LineFault::Kind::Duplicate: return "duplicate";
        case LineFault::Kind::Flip: return "flip";
    }
    return "?";
}

inline std::string describe(const LineFault& fault) {
    std::string text = std::string(kind_name(fault.kind)) + " at " + std::to_string(fault.offset);
    if (fault.kind == LineFault::Kind::Flip) text += " bit " + std::to_string(fault.bit);
    return text;
}

// A line that does to what the host sends exactly the one fault it is given, once,
// and passes everything else (and all the chip sends) unchanged. Without a fault it
// only counts, so that a clean run tells how many offsets a sweep has.
class FaultLink final : public ByteLink {
public:
    explicit FaultLink(ByteLink& line, std::optional<LineFault> fault = std::nullopt) : line_(line), fault_(fault) {}

    bool write(std::span<const std::uint8_t> bytes) override {
        const std::uint64_t first = sent_;
        sent_ += bytes.size();
        if (!fault_ || fault_->offset < first || fault_->offset >= sent_) return line_.write(bytes);
        const std::size_t at = static_cast<std::size_t>(fault_->offset - first);
        std::vector<std::uint8_t> out(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
        const std::uint8_t byte = bytes[at];
        switch (fault_->kind) {
            case LineFault::Kind::Drop: break;
            case LineFault::Kind::Duplicate: out.insert(out.end(), {byte, byte}); break;
            case LineFault::Kind::Flip: out.push_back(static_cast<std::uint8_t>(byte ^ (1u << fault_->bit))); break;
        }
        out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at) + 1, bytes.end());
        applied_ = true;
        return line_.write(out);
    }
    ReadResult read(std::span<std::uint8_t> into) override { return line_.read(into); }
    void discard_input() override { line_.discard_input(); }

    // Bytes the host has handed to the link so far.
    std::uint64_t sent() const { return sent_; }
    // The fault has happened (the host got as far as its offset).
    bool applied() const { return applied_; }

private:
    ByteLink& line_;
    std::optional<LineFault> fault_;
    std::uint64_t sent_ = 0;
    bool applied_ = false;
};

}  // namespace zarvik::testing
