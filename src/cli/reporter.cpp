#include "cli/reporter.h"

#include <cstdio>

#include "programmer/status_texts.h"
#include "text/language.h"
#include "text/number_text.h"

namespace zarvik::cli {
namespace {

// What the command line can add to a refusal: the way out it offers.
std::string cli_hint(const OperationOutcome& o) {
    if (o.result != OperationOutcome::Result::Refused) return {};
    char buf[160];
    switch (o.refusal) {
        case Refusal::WaitCountTooLarge:
            if (o.longest_wait_seconds <= 0) return {};
            std::snprintf(buf, sizeof buf, tr_text("cli", " (при %s МГц — не больше %.2f с)"), o.fosc_text.c_str(),
                          o.longest_wait_seconds);
            return buf;
        case Refusal::WaitTooShort:
        case Refusal::FoscOutOfRange: return tr_text("cli", " (--force, если так и задумано)");
        case Refusal::DeviceNotConfirmed: return tr_text("cli", " (--force, если у загрузчика другой первый блок)");
        default: return {};
    }
}

// What the command line adds to a verify that found differences: how many bytes differ
// in all, where the window's list of addresses stops at "и далее".
std::string difference_count_text(const OperationOutcome& o) {
    if (o.result != OperationOutcome::Result::Differences || o.operation == Operation::Configure) return {};
    const std::string count = std::to_string(o.difference_count);
    const PluralForm form = plural_form(count);
    const char* text = form == PluralForm::One ? tr_text("cli", " (всего различается %u байт)")
                       : form == PluralForm::Few ? tr_text("cli", " (всего различаются %u байта)")
                                                 : tr_text("cli", " (всего различаются %u байт)");
    char buf[96];
    std::snprintf(buf, sizeof buf, text, o.difference_count);
    return buf;
}

}  // namespace

const char* operation_word(Operation op) {
    switch (op) {
        case Operation::Erase: return "erase";
        case Operation::Write: return "write";
        case Operation::Verify: return "verify";
        case Operation::Read: return "read";
        case Operation::Configure: return "configure";
    }
    return "";
}

const char* memory_word(MemoryKind m) { return m == MemoryKind::Flash ? "flash" : "eeprom"; }

std::string operation_text(Operation op, MemoryKind m) {
    const bool flash = m == MemoryKind::Flash;
    switch (op) {
        case Operation::Erase: return flash ? tr_text("cli", "стирание flash") : tr_text("cli", "стирание eeprom");
        case Operation::Write: return flash ? tr_text("cli", "запись flash") : tr_text("cli", "запись eeprom");
        case Operation::Verify: return flash ? tr_text("cli", "сравнение flash") : tr_text("cli", "сравнение eeprom");
        case Operation::Read: return flash ? tr_text("cli", "чтение flash") : tr_text("cli", "чтение eeprom");
        case Operation::Configure: return tr_text("cli", "настройка загрузчика");
    }
    return {};
}

const char* outcome_word(OperationOutcome::Result r) {
    switch (r) {
        case OperationOutcome::Result::Success: return "success";
        case OperationOutcome::Result::Differences: return "differences";
        case OperationOutcome::Result::LinkFailure: return "link-error";
        case OperationOutcome::Result::FileFailure: return "file-error";
        case OperationOutcome::Result::Refused: return "refused";
        case OperationOutcome::Result::Interrupted: return "interrupted";
    }
    return "";
}

std::string result_text(const OperationOutcome& o) {
    return status_text(o, TimeUnit::InLanguage) + difference_count_text(o) + cli_hint(o);
}

std::string port_prefix(const std::string& port) { return port.empty() ? std::string() : port + ": "; }

}  // namespace zarvik::cli
