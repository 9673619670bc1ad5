#include "programmer/plain_road.h"

#include <algorithm>

namespace zarvik {

OperationOutcome PlainRoad::erase(OperationOutcome o, ProgressObserver& progress) {
    const MemoryKind memory = o.memory;
    const std::uint32_t size = o.end_address;
    const std::uint32_t step = memory == MemoryKind::Flash ? kFlashPageBytes : kBlockSize;
    progress.on_range(size);
    progress.on_position(0);
    return timed(clock_, o, [&](OperationOutcome out) {
        for (std::uint32_t a = 0; a < size; a += step) {
            if (stop_requested()) return interrupted(out, a);
            auto failure = memory == MemoryKind::Flash ? protocol_.erase_flash_page(a) : protocol_.erase_eeprom_block(a);
            if (failure) return failed(out, *failure);
            progress.on_position(a + step);
        }
        return out;
    });
}

OperationOutcome PlainRoad::write(OperationOutcome o, ProgressObserver& progress, WriteOptions options) {
    return o.memory == MemoryKind::Flash ? write_flash(o, progress, options) : write_eeprom(o, progress);
}

OperationOutcome PlainRoad::write_flash(const OperationOutcome& o, ProgressObserver& progress, WriteOptions options) {
    // Flash is programmed in whole chip pages (64 or 128 bytes). Deliberately unlike
    // the byte-for-byte 0xFF fill of plain writes: the bytes of the file's first and
    // last chip pages that the file does not cover are read first and written back as
    // the chip held them, so that writing a file never erases the user's data beside it.
    const PageSpan span = file_pages(o, state_.model);
    progress.on_range(span.end);
    progress.on_position(0);
    return timed(clock_, o, [&](OperationOutcome out) {
        const UnitReader read_unit = [&](std::uint32_t a, std::span<std::uint8_t, kLoaderBlock> into) {
            return protocol_.read_flash_block(a, into);
        };
        if (auto failure = keep_bytes_outside_file(state_.flash_image.bytes, out.first_address, out.end_address, span,
                                                   read_unit)) {
            return failed(out, *failure);
        }
        out.first_address = span.start;
        out.end_address = span.end;
        for (std::uint32_t a = span.start; a < span.end; a += kBlockSize) {
            if (stop_requested()) return interrupted(out, a);
            std::copy_n(state_.flash_image.bytes.begin() + a, kBlockSize, state_.block.begin());
            const std::uint8_t pages = span.end - a <= kFlashPageBytes ? 1 : 2;
            for (std::uint32_t page = 0; options.erase_pages && page < pages; ++page) {
                if (auto failure = protocol_.erase_flash_page(a + page * kFlashPageBytes)) return failed(out, *failure);
            }
            if (auto failure = protocol_.write_flash_block(a, state_.block, pages)) return failed(out, *failure);
            progress.on_position(a + kBlockSize);
        }
        return out;
    });
}

OperationOutcome PlainRoad::write_eeprom(const OperationOutcome& o, ProgressObserver& progress) {
    // Every byte of the range, as the image holds it: for a file the programmer starts
    // it at address 0, so that bytes the file leaves out are written blank.
    const std::uint32_t first = o.first_address;
    const std::uint32_t end = o.end_address;
    progress.on_range(end);
    progress.on_position(first);
    return timed(clock_, o, [&](OperationOutcome out) {
        for (std::uint32_t a = first; a < end; a += kBlockSize) {
            if (stop_requested()) return interrupted(out, a);
            std::copy_n(state_.eeprom_image.bytes.begin() + a, kBlockSize, state_.block.begin());
            const auto n = static_cast<std::uint8_t>(std::min<std::uint32_t>(kBlockSize, end - a));
            if (auto failure = protocol_.write_eeprom_block(a, state_.block, n)) return failed(out, *failure);
            progress.on_position(a + n);
        }
        return out;
    });
}

OperationOutcome PlainRoad::read(OperationOutcome o, ProgressObserver& progress) {
    const std::uint32_t count = o.end_address;
    constexpr auto kBlock = static_cast<std::uint32_t>(kBlockSize);
    const std::uint32_t from = o.first_address / kBlock * kBlock;
    const auto readback = readback_of(state_, o.memory);
    progress.on_range(count);
    progress.on_position(from);
    return timed(clock_, o, [&](OperationOutcome out) {
        for (std::uint32_t a = from; a < count; a += kBlockSize) {
            if (stop_requested()) return interrupted(out, a);
            auto failure = out.memory == MemoryKind::Flash ? protocol_.read_flash_block(a, state_.block)
                                                           : protocol_.read_eeprom_block(a, state_.block);
            if (failure) return failed(out, *failure);
            std::copy(state_.block.begin(), state_.block.end(), readback.begin() + a);
            progress.on_position(a + kBlockSize);
        }
        return out;
    });
}

OperationOutcome PlainRoad::verify(OperationOutcome o, ProgressObserver& progress) {
    o = read(o, progress);
    if (!o.ok()) return o;
    const std::uint32_t first = o.first_address;
    const std::uint32_t count = o.end_address - first;
    note_differences(o, first, image_of(state_, o.memory).subspan(first, count),
                     readback_of(state_, o.memory).subspan(first, count));
    return judged(o);
}

}  // namespace zarvik
