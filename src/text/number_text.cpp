#include "text/number_text.h"

#include <cstdio>

namespace zarvik {

PluralForm plural_form(std::string_view number, Language language) {
    const std::size_t separator = number.find_first_of(".,");
    std::string_view whole = number.substr(0, separator);
    bool fraction = false;
    if (separator != std::string_view::npos) {
        for (char c : number.substr(separator + 1)) fraction = fraction || (c >= '0' && c <= '9');
    }
    while (!whole.empty() && (whole.front() == ' ' || whole.front() == '-' || whole.front() == '+')) whole.remove_prefix(1);
    unsigned last_two = 0;
    for (char c : whole) {
        if (c < '0' || c > '9') break;
        last_two = (last_two * 10 + static_cast<unsigned>(c - '0')) % 100;
    }
    if (language == Language::English) return !fraction && last_two == 1 && whole.find_first_not_of('0') == whole.size() - 1 ? PluralForm::One : PluralForm::Many;
    if (fraction) return PluralForm::Few;
    const unsigned last = last_two % 10;
    if (last_two >= 11 && last_two <= 14) return PluralForm::Many;
    if (last == 1) return PluralForm::One;
    if (last >= 2 && last <= 4) return PluralForm::Few;
    return PluralForm::Many;
}

std::string localized_number(std::string_view number, Language language) {
    const char separator = language == Language::Russian ? ',' : '.';
    std::string out(number);
    for (std::size_t i = 0; i < out.size(); ++i) {
        // Only a separator between digits: the point that ends a sentence stays.
        const bool between_digits = i > 0 && i + 1 < out.size() && out[i - 1] >= '0' && out[i - 1] <= '9' &&
                                    out[i + 1] >= '0' && out[i + 1] <= '9';
        if ((out[i] == '.' || out[i] == ',') && between_digits) out[i] = separator;
    }
    return out;
}

std::string format_number(double value, int decimals, Language language) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    std::string text(buffer);
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0') text.pop_back();
        if (text.back() == '.') text.pop_back();
    }
    return localized_number(text, language);
}

}  // namespace zarvik
