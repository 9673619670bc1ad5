#pragma once

// Windows speaks UTF-16; everything else in Zarvik is UTF-8. These convert at the
// edge, so a Cyrillic file name or an error text in the system's language survives.
#if defined(_WIN32)

#include <string>
#include <string_view>

namespace zarvik::win {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view wide);
// The system's description of a GetLastError() code, in UTF-8, without the line break.
std::string system_message(unsigned long code);

}  // namespace zarvik::win

#endif
