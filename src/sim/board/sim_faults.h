#pragma once

#include <cstdint>

namespace zarvik {

// Misbehaviours the simulated loader can show on demand, one or several at once.
struct SimFaults {
    bool silent = false;               // answers nothing at all
    bool echo = false;                 // a line that only echoes what it receives
    int mute_command = 0;              // gives no answer to this (1-based) command packet
    bool short_block = false;          // sends 100 of the 128 bytes after `b`
    std::int64_t late_ms = 0;          // every answer comes this much later
    bool garbage = false;              // every answer byte is noise
    std::int64_t line_gone_after = -1; // the line disappears after this many host bytes
    std::int64_t drop_byte = -1;       // this (1-based) host byte is lost on the line
    std::int64_t flip_byte = -1;       // this (1-based) host byte arrives with its lowest bit flipped
    std::int64_t corrupt_at = -1;      // the flash byte at this address is programmed with a bit flipped
    std::int64_t wrong_check_at = -1;  // our loader's check of the unit at this address comes back wrong
    bool loader_locked = false;        // the lock bits guard the loader's pages: `E` and `F`
                                       // there are acknowledged and change nothing
    // From the start, the second copy of the loader's wait count holds this value: a
    // configuration cut between the two 64-byte pages of the loader's first block.
    std::int64_t torn_count = -1;
};

}  // namespace zarvik
