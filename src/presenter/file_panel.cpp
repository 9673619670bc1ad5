#include "presenter/file_panel.h"

#include <filesystem>
#include <system_error>

#include "memory/file_kind.h"
#include "memory/intel_hex_writer.h"
#include "programmer/status_texts.h"

namespace zarvik {
namespace {

namespace wt = window_text;

int path_id(MemoryKind memory) { return memory == MemoryKind::Flash ? ids::kFlashPath : ids::kEepromPath; }

std::string folder_of(const std::string& path) {
    const std::size_t at = path.find_last_of("\\/");
    return at == std::string::npos ? std::string() : path.substr(0, at);
}

}  // namespace

FilePanel::FilePanel(FileView& view, ShownTexts& texts, std::string documents_folder)
    : view_(view), texts_(texts), documents_(std::move(documents_folder)) {}

void FilePanel::start(const std::string& flash, const std::string& eeprom) {
    set_path(MemoryKind::Flash, flash);
    set_path(MemoryKind::Eeprom, eeprom);
}

void FilePanel::set_path(MemoryKind memory, const std::string& path) {
    (memory == MemoryKind::Flash ? flash_ : eeprom_) = path;
    // A long path shows its end, the file's name; the whole of it in the tooltip.
    texts_.show(path_id(memory), path);  // the field fits it (fitted_path)
    view_.set_tooltip(path_id(memory), path);
}

std::vector<FileFilter> FilePanel::open_filters(MemoryKind memory) {
    const bool flash = memory == MemoryKind::Flash;
    return {
        FileFilter{tr_string("window", flash ? wt::kFlashFiles : wt::kEepromFiles),
                   flash ? std::vector<std::string>{"hex", "elf"} : std::vector<std::string>{"eep", "hex"}},
        FileFilter{tr_string("window", wt::kAllFiles), {}},
    };
}

std::string FilePanel::dialog_folder(MemoryKind memory) const {
    if (!last_folder_.empty()) return last_folder_;
    const std::string own = folder_of(path(memory));
    return own.empty() ? documents_ : own;
}

void FilePanel::browse(MemoryKind memory) {
    FileDialogRequest request{FileDialogMode::Open, memory, open_filters(memory), dialog_folder(memory), {}};
    const auto chosen = view_.choose_file(request);
    if (!chosen || chosen->empty()) return;
    last_folder_ = folder_of(*chosen);
    set_path(memory, *chosen);
}

std::vector<MemoryKind> FilePanel::give(const std::vector<std::string>& paths) {
    std::vector<MemoryKind> changed;
    for (const std::string& given : paths) {
        if (const auto memory = memory_for_file(given)) {
            set_path(*memory, given);
            changed.push_back(*memory);
        }
    }
    return changed;
}

std::optional<std::string> FilePanel::choose_save(MemoryKind memory) {
    const bool flash = memory == MemoryKind::Flash;
    const std::string extension = flash ? "hex" : "eep";
    FileDialogRequest request{FileDialogMode::Save, memory,
                              {FileFilter{tr_string("window", flash ? wt::kFlashFiles : wt::kEepromFiles), {extension}}},
                              dialog_folder(memory), extension};
    const auto typed = view_.choose_file(request);
    if (!typed || typed->empty()) return std::nullopt;
    last_folder_ = folder_of(*typed);
    std::string chosen = with_required_extension(*typed, "." + extension);
    // The dialog asked only about the name as typed; the extension may have made it
    // the name of another file that exists.
    std::error_code ec;
    if (chosen != *typed && std::filesystem::exists(chosen, ec)) {
        if (!view_.ask_yes_no(wt::kProgramName, wt::fill(wt::kAskReplace, {chosen}))) return std::nullopt;
    }
    return chosen;
}

bool FilePanel::require(MemoryKind memory) {
    if (!path(memory).empty()) return true;
    texts_.show(ids::kStatusLine, {});
    view_.show_message(tr_string("status", kErrorCaption),
                       tr_string("status", memory == MemoryKind::Flash ? kNoFlashFile : kNoEepromFile));
    return false;
}

}  // namespace zarvik
