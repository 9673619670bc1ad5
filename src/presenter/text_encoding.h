#pragma once

#include <string>
#include <string_view>

namespace zarvik {

// The presenter speaks UTF-8; Zarvik.ini and an old Help.txt are Windows-1251, the
// code page the program's texts were always written in.

// Bytes of Windows-1251 as UTF-8; a byte the code page leaves undefined becomes U+FFFD.
std::string utf8_from_cp1251(std::string_view bytes);
// UTF-8 as Windows-1251; a character the code page lacks becomes '?'.
std::string cp1251_from_utf8(std::string_view text);
bool is_valid_utf8(std::string_view text);

// A help file may come from either world: UTF-8 where it is valid UTF-8 (a byte-order
// mark dropped), otherwise Windows-1251. A zero byte ends the text.
std::string decode_help_text(std::string_view bytes);

}  // namespace zarvik
