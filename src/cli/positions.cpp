#include "cli/positions.h"

#include "cli/console.h"
#include "serial/serial_port.h"
#include "text/language.h"

namespace zarvik::cli {
namespace {

Position position_of(const std::string& word) {
    const std::size_t equals = word.find('=');
    // A path's own '=' (after a folder's name) does not name anything.
    if (equals != std::string::npos && equals > 0 && word.find_first_of("/\\") > equals) {
        return {word.substr(0, equals), word.substr(equals + 1)};
    }
    return {{}, word};
}

}  // namespace

std::variant<std::vector<Position>, std::string> parse_positions(const std::vector<std::string>& words) {
    std::vector<Position> positions;
    for (const std::string& word : words) {
        Position position = position_of(word);
        if (position.port.empty()) {
            return formatted_text(tr_text("cli", "у места %s не указан порт"), position.label().c_str());
        }
        for (const Position& before : positions) {
            if (!position.name.empty() && position.name == before.name) {
                return formatted_text(tr_text("cli", "место %s указано дважды"), position.name.c_str());
            }
            if (position.port == before.port) {
                return formatted_text(tr_text("cli", "порт %s указан дважды"), position.port.c_str());
            }
            if (same_port(position.port, before.port)) {
                return formatted_text(tr_text("cli", "%s и %s — один и тот же порт"), before.port.c_str(),
                                      position.port.c_str());
            }
        }
        positions.push_back(std::move(position));
    }
    return positions;
}

std::vector<std::string> split_port_words(const std::string& list) {
    std::vector<std::string> words;
    std::size_t from = 0;
    while (from <= list.size()) {
        const std::size_t comma = std::min(list.find(',', from), list.size());
        if (comma > from) words.push_back(list.substr(from, comma - from));
        from = comma + 1;
    }
    return words;
}

std::vector<Position> failed_positions(const std::vector<Position>& positions, const LastOutcomes& outcomes) {
    std::vector<Position> failed;
    for (const Position& position : positions) {
        const auto last = outcomes.find(position.label());
        if (last != outcomes.end() && last->second) failed.push_back(position);
    }
    return failed;
}

}  // namespace zarvik::cli
