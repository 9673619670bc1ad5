#pragma once

#include <string>
#include <string_view>

#include "text/language.h"

namespace zarvik {

// Which form of a counted word a number takes. Russian: 1, 21, 101 (not 11) take One
// («секунда»), 2-4, 22-24 (not 12-14) take Few («секунды»), the rest Many («секунд»);
// a number written with a fraction takes Few («0,5 секунды», «1,0 секунды»). English: exactly 1 takes One,
// every other number Many.
enum class PluralForm { One, Few, Many };
PluralForm plural_form(std::string_view number, Language language = current_language());

// A number as the language writes it: a decimal comma in Russian, a point in English.
// Input may use either; nothing else in the text is changed.
std::string localized_number(std::string_view number, Language language = current_language());

// `value` with at most `decimals` digits after the separator, trailing zeros dropped.
std::string format_number(double value, int decimals, Language language = current_language());

}  // namespace zarvik
