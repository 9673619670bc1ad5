#pragma once

#include <cstddef>

namespace zarvik::translations {

struct Message {
    const char* context;
    const char* source;
    const char* translation;
};

// One table a language ("en", "ru"), generated from the .ts files at build time.
struct Table {
    const char* language;
    const Message* messages;
    std::size_t count;
};

extern const Table kTables[];
extern const std::size_t kTableCount;

}  // namespace zarvik::translations
