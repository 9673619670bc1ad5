#include "presenter/window_texts.h"

#include "presenter/panel_views.h"
#include "programmer/status_texts.h"
#include "text/number_text.h"

namespace zarvik {
namespace window_text {

std::string fill(const char* text, std::initializer_list<std::string_view> values) {
    const std::string source = tr_string("window", text);
    std::string out;
    out.reserve(source.size());
    for (std::size_t i = 0; i < source.size(); ++i) {
        const char next = i + 1 < source.size() ? source[i + 1] : '\0';
        const auto index = static_cast<std::size_t>(next - '1');
        if (source[i] == '%' && next >= '1' && next <= '9' && index < values.size()) {
            out += *(values.begin() + index);
            ++i;
        } else {
            out.push_back(source[i]);
        }
    }
    return out;
}

std::string operation_text(const OperationOutcome& outcome) {
    std::string text = status_text(outcome);
    if (outcome.result == OperationOutcome::Result::Refused && outcome.refusal == Refusal::WaitCountTooLarge &&
        outcome.longest_wait_seconds > 0) {
        text += "\n" + fill(kLongestWait, {localized_number(outcome.fosc_text), format_number(outcome.longest_wait_seconds, 2)});
    }
    if (outcome.result == OperationOutcome::Result::Differences && outcome.operation == Operation::Verify) {
        const std::string count = std::to_string(outcome.difference_count);
        const PluralForm form = plural_form(count);
        const char* phrase = form == PluralForm::One ? kDiffersOne : form == PluralForm::Few ? kDiffersFew : kDiffersMany;
        text = fill(phrase, {outcome.memory == MemoryKind::Flash ? "Flash" : "EEPROM", count}) + text;
    }
    return text;
}

namespace {

// Characters, not bytes: a UTF-8 sequence is one.
std::size_t characters(std::string_view text) {
    std::size_t n = 0;
    for (char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

}  // namespace

std::string shown_path(const std::string& path, std::size_t room) {
    if (characters(path) <= room) return path;
    static constexpr std::string_view kEllipsis = "…";
    // The last `room - 1` characters, begun at a separator where one is near enough,
    // so that the file's name is whole and the folders shown are whole too.
    std::size_t keep = room - 1;
    std::size_t start = path.size();
    while (start > 0 && keep > 0) {
        --start;
        if ((static_cast<unsigned char>(path[start]) & 0xC0) != 0x80) --keep;
    }
    const std::size_t separator = path.find_first_of("\\/", start);
    const std::size_t last_separator = path.find_last_of("\\/");
    // A name longer than the field is shown from its end all the same.
    if (separator != std::string::npos && separator <= last_separator) start = separator;
    return std::string(kEllipsis) + path.substr(start);
}

}  // namespace window_text

void ShownTexts::show(int id, const std::string& text) {
    auto [at, added] = texts_.try_emplace(id, text);
    if (!added && at->second == text) {
        // The scan repeats its line every tick; the other texts are sent again, since the
        // user may have typed over an edit since.
        if (id == ids::kConnectionLine) return;
    }
    at->second = text;
    view_.set_text(id, text);
}

const std::string& ShownTexts::of(int id) const {
    static const std::string none;
    const auto it = texts_.find(id);
    return it == texts_.end() ? none : it->second;
}

}  // namespace zarvik
