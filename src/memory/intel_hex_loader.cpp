#include "memory/intel_hex_loader.h"

#include <algorithm>
#include <optional>
#include <cerrno>
#include <cstring>
#include <limits>

#include "memory/file_io.h"
#include "memory/memory_image.h"

namespace zarvik {
namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

class RecordParser {
public:
    RecordParser(std::string_view text, std::span<std::uint8_t> image, std::span<std::uint8_t> filled)
        : text_(text), image_(image), filled_(filled) {}

    HexLoadResult run() {
        std::fill(image_.begin(), image_.end(), kBlank);
        std::fill(filled_.begin(), filled_.end(), std::uint8_t{0});
        std::size_t pos = text_.find(':');
        if (pos == std::string_view::npos) return HexError{HexError::Kind::NotHex, {}, 0, 0, 0, 0, {}};
        if (auto error = check_text_before_first_record(pos)) return *error;
        while (pos != std::string_view::npos) {
            line_ += static_cast<std::size_t>(std::count(text_.begin() + static_cast<std::ptrdiff_t>(scanned_),
                                                         text_.begin() + static_cast<std::ptrdiff_t>(pos), '\n'));
            scanned_ = pos;
            const std::size_t next = text_.find(':', pos + 1);
            const std::string_view record =
                text_.substr(pos + 1, next == std::string_view::npos ? std::string_view::npos : next - pos - 1);
            if (auto error = parse_record(record)) return *error;
            pos = next;
        }
        if (!seen_data_) return HexError{HexError::Kind::Empty, {}, 0, 0, 0, 0, {}};
        return LoadedRange{low_, high_};
    }

private:
    // Lines before the first record are skipped (a comment, a byte-order mark), but the
    // line that holds the first colon must begin with it: a comment such as
    // "# made by: me" would otherwise be read as a damaged record.
    std::optional<HexError> check_text_before_first_record(std::size_t colon) const {
        const std::size_t newline = text_.rfind('\n', colon);
        const std::size_t line_start = newline == std::string_view::npos ? 0 : newline + 1;
        std::string_view lead = text_.substr(line_start, colon - line_start);
        if (line_start == 0 && lead.starts_with(kByteOrderMark)) lead.remove_prefix(kByteOrderMark.size());
        if (std::all_of(lead.begin(), lead.end(), is_space)) return std::nullopt;
        HexError e = error(HexError::Kind::NotARecord);
        e.line = 1 + static_cast<std::size_t>(std::count(text_.begin(), text_.begin() + static_cast<std::ptrdiff_t>(colon), '\n'));
        return e;
    }

    HexError error(HexError::Kind kind) const {
        HexError e;
        e.kind = kind;
        e.line = line_;
        return e;
    }

    // Decodes the byte at character position `at` of the record.
    bool byte_at(std::string_view record, std::size_t at, std::uint8_t& out, std::optional<HexError>& failure) const {
        if (at + 2 > record.size() || is_space(record[at]) || is_space(record[at + 1])) {
            failure = error(HexError::Kind::ShortRecord);
            return false;
        }
        const int hi = hex_value(record[at]);
        const int lo = hex_value(record[at + 1]);
        if (hi < 0 || lo < 0) {
            auto e = error(HexError::Kind::BadCharacter);
            e.found = static_cast<unsigned char>(hi < 0 ? record[at] : record[at + 1]);
            failure = e;
            return false;
        }
        out = static_cast<std::uint8_t>(hi * 16 + lo);
        return true;
    }

    std::optional<HexError> parse_record(std::string_view record) {
        std::optional<HexError> failure;
        std::uint8_t head[4];
        for (std::size_t i = 0; i < 4; ++i) {
            if (!byte_at(record, 2 * i, head[i], failure)) return failure;
        }
        const std::size_t count = head[0];
        const std::uint32_t offset = static_cast<std::uint32_t>(head[1] << 8 | head[2]);
        const std::uint8_t type = head[3];
        std::uint8_t data[255];
        unsigned sum = head[0] + head[1] + head[2] + head[3];
        for (std::size_t i = 0; i < count; ++i) {
            if (!byte_at(record, 8 + 2 * i, data[i], failure)) return failure;
            sum += data[i];
        }
        std::uint8_t checksum = 0;
        const std::size_t checksum_at = 8 + 2 * count;
        if (!byte_at(record, checksum_at, checksum, failure)) return failure;
        // After the checksum: only blanks up to the line end, then only blank lines up to
        // the next record. Text on a line of its own is no record at all, and is named so.
        std::size_t line = line_;
        for (std::size_t i = checksum_at + 2; i < record.size(); ++i) {
            if (record[i] == '\n') {
                ++line;
            } else if (!is_space(record[i])) {
                auto e = error(line == line_ ? HexError::Kind::BadCharacter : HexError::Kind::NotARecord);
                e.line = line;
                if (line == line_) e.found = static_cast<unsigned char>(record[i]);
                return e;
            }
        }
        const auto expected = static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
        if (expected != checksum) {
            auto e = error(HexError::Kind::BadChecksum);
            e.expected = expected;
            e.found = checksum;
            return e;
        }
        switch (type) {
            case 0x00:
                return store(offset, std::span<const std::uint8_t>(data, count));
            case 0x02:
            case 0x04:
                if (count != 2) return error(HexError::Kind::BadRecord);
                base_ = type == 0x02 ? (std::uint64_t{data[0]} << 8 | data[1]) << 4
                                     : (std::uint64_t{data[0]} << 8 | data[1]) << 16;
                return std::nullopt;
            default:  // end of file, start addresses and unknown types carry no data
                return std::nullopt;
        }
    }

    std::optional<HexError> store(std::uint32_t offset, std::span<const std::uint8_t> data) {
        if (data.empty()) return std::nullopt;
        const std::uint64_t first = base_ + offset;
        const std::uint64_t end = first + data.size();
        if (end > image_.size()) {
            auto e = error(HexError::Kind::BeyondCapacity);
            const std::uint64_t bad = std::max<std::uint64_t>(first, image_.size());
            e.address = static_cast<std::uint32_t>(std::min<std::uint64_t>(bad, std::numeric_limits<std::uint32_t>::max()));
            return e;
        }
        std::copy(data.begin(), data.end(), image_.begin() + static_cast<std::ptrdiff_t>(first));
        if (!filled_.empty()) std::fill_n(filled_.begin() + static_cast<std::ptrdiff_t>(first), data.size(), std::uint8_t{1});
        const auto first32 = static_cast<std::uint32_t>(first);
        const auto end32 = static_cast<std::uint32_t>(end);
        if (!seen_data_) {
            low_ = first32;
            high_ = end32;
            seen_data_ = true;
        } else {
            low_ = std::min(low_, first32);
            high_ = std::max(high_, end32);
        }
        return std::nullopt;
    }

    std::string_view text_;
    std::span<std::uint8_t> image_;
    std::span<std::uint8_t> filled_;
    std::size_t line_ = 1;
    std::size_t scanned_ = 0;
    std::uint64_t base_ = 0;
    bool seen_data_ = false;
    std::uint32_t low_ = 0;
    std::uint32_t high_ = 0;
};

}  // namespace

HexLoadResult load_intel_hex(std::string_view text, std::span<std::uint8_t> image, std::span<std::uint8_t> filled) {
    return RecordParser(text, image, filled).run();
}

HexLoadResult load_intel_hex_file(const std::string& path, std::span<std::uint8_t> image) {
    std::string text;
    if (auto error = read_whole_file(path, text)) {
        HexError e;
        e.kind = HexError::Kind::CannotOpen;
        e.file = path;
        e.detail = std::move(*error);
        return e;
    }
    auto result = load_intel_hex(text, image);
    if (auto* e = std::get_if<HexError>(&result)) e->file = path;
    return result;
}

}  // namespace zarvik
