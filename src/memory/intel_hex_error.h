#pragma once

#include <cstdint>
#include <string>

namespace zarvik {

// What is wrong with an ELF file that cannot be read.
enum class ElfDefect {
    None,
    Header,       // the file header is cut short, or of no form ELF has, or not what avr-gcc writes
    SegmentTable, // the table of segments lies past the end of the file, or its entries are of another size
    SegmentData,  // a segment's bytes lie past the end of the file
};

// Why a HEX (or ELF) file was refused. The core never prints it: the faces turn it into text.
struct HexError {
    enum class Kind {
        CannotOpen,      // the file cannot be opened or read
        BadCharacter,    // a non-hex character inside a record's fields
        ShortRecord,     // the record ends before its byte count, address, type, data and checksum
        NotARecord,      // a line of text that does not begin with the record's colon
        BadChecksum,     // expected = computed checksum, found = the file's
        BadRecord,       // an address record whose byte count is not 2
        BeyondCapacity,  // data would land outside the image (address = first such byte)
        Empty,           // no data record with data
        NotAvrElf,       // an ELF file for another machine (found = its e_machine)
        BadElf,          // an ELF file that cannot be read (elf_defect = why)
        NotHex,          // not one record in the file: it is no Intel HEX file at all
    };
    Kind kind = Kind::Empty;
    std::string file;            // the path as given, when loading from a file
    std::size_t line = 0;        // 1-based line of the record, 0 when not tied to a line
    std::uint32_t address = 0;   // full address of the offending data, where it applies
    std::uint32_t expected = 0;  // checksum: the computed value
    std::uint32_t found = 0;     // checksum: the file's value; bad character: its code
    std::string detail;          // system error text for CannotOpen
    ElfDefect elf_defect = ElfDefect::None;
};

}  // namespace zarvik
