#pragma once

#include <QString>

#include <string_view>

namespace zarvik {

// Help.txt may come from either world: UTF-8 where it is valid UTF-8, otherwise the
// Windows-1251 the program's texts were always written in. A zero byte ends the text.
QString decode_help_text(std::string_view bytes);

QString from_cp1251(std::string_view bytes);
std::string to_cp1251(const QString& text);

}  // namespace zarvik
