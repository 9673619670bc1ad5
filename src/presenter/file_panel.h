#pragma once

#include <optional>
#include <string>
#include <vector>

#include "presenter/panel_views.h"
#include "presenter/window_texts.h"

namespace zarvik {

// The file panel: the flash and EEPROM file paths, their open and save dialogs, and
// files dropped on the window or named on its command line.
class FilePanel {
public:
    FilePanel(FileView& view, ShownTexts& texts, std::string documents_folder);

    // The last run's paths; empty ones leave a path empty.
    void start(const std::string& flash, const std::string& eeprom);

    // «f» and «e»: the open dialog; a path chosen becomes the memory's.
    void browse(MemoryKind memory);
    // .eep files fill the EEPROM path, .hex and .elf the flash one; others are ignored.
    // Returns the memories whose path changed.
    std::vector<MemoryKind> give(const std::vector<std::string>& paths);
    // The save dialog of a read, with the memory's extension added where it was left
    // out; asks before that extension turns the name into an existing file's. Nothing
    // when the user cancelled.
    std::optional<std::string> choose_save(MemoryKind memory);

    // The guard of the buttons that need a file: false, and a message, without one.
    bool require(MemoryKind memory);
    const std::string& path(MemoryKind memory) const { return memory == MemoryKind::Flash ? flash_ : eeprom_; }

    // What the dialogs offer, in order: the memory's own files first, then every file.
    static std::vector<FileFilter> open_filters(MemoryKind memory);

private:
    void set_path(MemoryKind memory, const std::string& path);
    // Where the next dialog opens: the folder used last, else the memory's file's, else
    // the user's documents.
    std::string dialog_folder(MemoryKind memory) const;

    FileView& view_;
    ShownTexts& texts_;
    std::string documents_;
    std::string last_folder_;
    std::string flash_;
    std::string eeprom_;
};

}  // namespace zarvik
