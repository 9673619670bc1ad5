#pragma once

// What the console layer does with text, as plain functions that every platform builds,
// so that the Windows rules are checked by the tests on Linux too.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zarvik::cli {

// How much of `text` ends on a whole UTF-8 character: a character split between two
// writes (a device's output comes in whatever pieces the line gives) is held back until
// its last byte comes, so that a console never shows half of one as U+FFFD. Bytes that
// can never become a character are not held.
std::size_t utf8_whole_length(std::string_view text);

// Columns `text` (UTF-8) takes on a terminal: one a character, Cyrillic included.
std::size_t text_columns(std::string_view text);

// A Windows command line split into arguments as CommandLineToArgvW splits it: the
// program's name up to the first blank (or within quotes, taken as it is), then
// arguments separated by blanks, where quotes group, 2n backslashes before a quote give
// n and the quote groups, 2n+1 give n and a quote, "" inside quotes gives a quote and
// ends the quoted part, and other backslashes are themselves. Kept here rather than taken from shell32, which would
// load user32 and so keep Windows from telling the console handler of a log-off or a
// shutdown.
std::vector<std::wstring> split_windows_command_line(std::wstring_view line);

}  // namespace zarvik::cli
