#include "presenter/window_texts.h"

#include "presenter/panel_views.h"
#include "programmer/status_texts.h"
#include "text/number_text.h"

#include <vector>

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

namespace {

// The loader did not answer at all, nor the sync sent after an earlier silence: it is
// not listening (the board's program runs, or its wait after a reset is over). The
// command and address the core names mean nothing to the user then; what to do does.
bool loader_silent(const OperationOutcome& outcome) {
    if (outcome.result != OperationOutcome::Result::LinkFailure || !outcome.link_failure) return false;
    const TransactionFailure& f = *outcome.link_failure;
    return (f.received == 0 || f.out_of_step) && !f.line_lost && !f.interrupted && !f.wrong_answer;
}

}  // namespace

std::string operation_text(const OperationOutcome& outcome) {
    if (loader_silent(outcome)) {
        // A frame that may have been written keeps the core's words about it.
        if (outcome.link_failure->frame_effect == FrameEffect::NotAsked) {
            return fill(kNoAnswerDuring, {during_text(outcome)});
        }
        return status_text(outcome) + ". " + tr_string("window", kResetAdvice);
    }
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

std::string fitted_path(const std::string& path, const std::function<bool(const std::string&)>& fits) {
    if (fits(path)) return path;
    static constexpr std::string_view kEllipsis = "…";
    // Where each character begins: a tail never starts inside a UTF-8 sequence.
    std::vector<std::size_t> starts;
    for (std::size_t i = 1; i < path.size(); ++i) {
        if ((static_cast<unsigned char>(path[i]) & 0xC0) != 0x80) starts.push_back(i);
    }
    // The longest tail that fits; a shorter tail fits whenever a longer one does.
    std::size_t lo = 0;
    std::size_t hi = starts.size();  // starts[hi] would be the empty tail
    const auto tail_fits = [&](std::size_t k) {
        return fits(std::string(kEllipsis) + (k < starts.size() ? path.substr(starts[k]) : std::string()));
    };
    if (!tail_fits(starts.size())) return std::string(kEllipsis);
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (tail_fits(mid)) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    return std::string(kEllipsis) + (lo < starts.size() ? path.substr(starts[lo]) : std::string());
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
