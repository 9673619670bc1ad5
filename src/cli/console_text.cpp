#include "cli/console_text.h"

namespace zarvik::cli {

std::size_t text_columns(std::string_view text) {
    std::size_t n = 0;
    for (const char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
    }
    return n;
}

std::size_t utf8_whole_length(std::string_view text) {
    // Look back at most three bytes for the start of a character that has not ended.
    const std::size_t n = text.size();
    for (std::size_t back = 1; back <= 3 && back <= n; ++back) {
        const auto c = static_cast<unsigned char>(text[n - back]);
        if ((c & 0xC0) == 0x80) continue;  // a continuation byte: look further back
        std::size_t length = 1;
        if ((c & 0xE0) == 0xC0) length = 2;
        else if ((c & 0xF0) == 0xE0) length = 3;
        else if ((c & 0xF8) == 0xF0) length = 4;
        return length > back ? n - back : n;
    }
    return n;
}

std::vector<std::wstring> split_windows_command_line(std::wstring_view line) {
    std::vector<std::wstring> args;
    std::size_t i = 0;
    const auto blank = [&](std::size_t at) { return at < line.size() && (line[at] == L' ' || line[at] == L'\t'); };
    // The program's name: no backslash rules.
    std::wstring name;
    if (i < line.size() && line[i] == L'"') {
        ++i;
        while (i < line.size() && line[i] != L'"') name += line[i++];
        if (i < line.size()) ++i;
    } else {
        while (i < line.size() && !blank(i)) name += line[i++];
    }
    args.push_back(name);
    for (;;) {
        while (blank(i)) ++i;
        if (i >= line.size()) break;
        std::wstring arg;
        bool quoted = false;
        while (i < line.size() && (quoted || !blank(i))) {
            if (line[i] == L'\\') {
                std::size_t slashes = 0;
                while (i < line.size() && line[i] == L'\\') {
                    ++slashes;
                    ++i;
                }
                if (i < line.size() && line[i] == L'"') {
                    arg.append(slashes / 2, L'\\');
                    if (slashes % 2 == 1) {
                        arg += L'"';
                        ++i;
                    }
                } else {
                    arg.append(slashes, L'\\');
                }
                continue;
            }
            if (line[i] == L'"') {
                if (quoted && i + 1 < line.size() && line[i + 1] == L'"') {
                    arg += L'"';  // and the quoted part ends, as the system's splitter has it
                    quoted = false;
                    i += 2;
                    continue;
                }
                quoted = !quoted;
                ++i;
                continue;
            }
            arg += line[i++];
        }
        args.push_back(arg);
    }
    return args;
}

}  // namespace zarvik::cli
