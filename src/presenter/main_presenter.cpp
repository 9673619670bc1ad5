#include "presenter/main_presenter.h"

#include <algorithm>
#include <filesystem>
#include <optional>

#include "memory/file_io.h"
#include "presenter/exit_sequence.h"
#include "presenter/file_panel.h"
#include "presenter/operation_runner.h"
#include "presenter/port_panel.h"
#include "presenter/text_encoding.h"
#include "presenter/window_texts.h"
#include "programmer/status_texts.h"

namespace zarvik {
namespace {

namespace wt = window_text;

std::string join_path(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return (std::filesystem::path(folder) / name).string();
}

bool is_locked_while_busy(int id) {
    const auto& locked = OperationRunner::locked_while_busy();
    return std::find(locked.begin(), locked.end(), id) != locked.end();
}

// The buttons of each memory, by what they do.
struct MemoryButton {
    int id;
    MemoryKind memory;
    Operation operation;
    bool browse;
};
constexpr MemoryButton kMemoryButtons[] = {
    {ids::kFlashErase, MemoryKind::Flash, Operation::Erase, false},
    {ids::kFlashWrite, MemoryKind::Flash, Operation::Write, false},
    {ids::kFlashVerify, MemoryKind::Flash, Operation::Verify, false},
    {ids::kFlashRead, MemoryKind::Flash, Operation::Read, false},
    {ids::kFlashBrowse, MemoryKind::Flash, Operation::Read, true},
    {ids::kEepromErase, MemoryKind::Eeprom, Operation::Erase, false},
    {ids::kEepromWrite, MemoryKind::Eeprom, Operation::Write, false},
    {ids::kEepromVerify, MemoryKind::Eeprom, Operation::Verify, false},
    {ids::kEepromRead, MemoryKind::Eeprom, Operation::Read, false},
    {ids::kEepromBrowse, MemoryKind::Eeprom, Operation::Read, true},
};

}  // namespace

struct MainPresenter::Impl {
    Impl(MainView& v, PresenterEnvironment e)
        : view(v),
          environment(std::move(e)),
          texts(v),
          runner(v, device, texts),
          ports(v, device, runner, texts, environment),
          files(v, texts, environment.documents_folder),
          exit(v, runner, environment.settings_folder, [this] { return collect(); }, [this] { ports.close_port(); }),
          device(v, environment) {
        runner.ended_hook = [this] { return exit.operation_ended(); };
        runner.link_failed = [this](bool line_lost) { ports.link_failed(line_lost); };
    }

    // --- Start-up, Help and About ---

    void start() {
        texts.show(ids::kStatusLine, {});
        check_help_file();
        std::string unreadable;
        const LoaderSettings settings = exit.read_settings(unreadable);
        show_loader_text(ids::kFosc, settings.fosc);
        show_loader_text(ids::kTimeout, settings.timeout);
        ports.start(settings);
        files.start(settings.flash_file, settings.eeprom_file);
        if (!unreadable.empty()) texts.show(ids::kStatusLine, unreadable);
        view.set_enabled(ids::kStop, false);
    }

    std::string help_file_name() const {
        return current_language() == Language::English ? "Help_en.txt" : "Help.txt";
    }
    // The help file in the user's language, else the Russian one; nothing when neither
    // can be read.
    std::optional<std::string> read_help() const {
        for (const std::string& name : {help_file_name(), std::string("Help.txt")}) {
            for (const std::string& folder : environment.help_folders) {
                std::string bytes;
                if (!read_whole_file(join_path(folder, name), bytes)) return bytes;
            }
        }
        return std::nullopt;
    }
    void warn_help_missing() {
        view.show_message(tr_string("status", kWarningCaption), wt::fill(wt::kHelpMissing, {help_file_name()}));
    }
    void check_help_file() {
        if (!read_help()) warn_help_missing();
    }
    void on_help() {
        const auto bytes = read_help();
        if (!bytes) {
            warn_help_missing();
            return;
        }
        view.show_help(HelpContent{tr_string("window", wt::kHelpTitle), decode_help_text(*bytes)});
    }
    void on_about() {
        view.show_about(AboutContent{tr_string("window", wt::kAboutTitle), tr_string("window", wt::kAboutName),
                                     tr_string("window", wt::kAboutVersion), wt::kAboutDate});
    }

    // --- The loader's two texts ---

    void show_loader_text(int id, const std::string& text) {
        (id == ids::kFosc ? fosc : timeout) = text;
        texts.show(id, text);
    }

    LoaderSettings collect() const {
        LoaderSettings now;
        now.fosc = fosc;
        now.timeout = timeout;
        now.model = ports.chosen_model();
        now.port = ports.chosen_port();
        now.speed = ports.chosen_speed();
        now.flash_file = files.path(MemoryKind::Flash);
        now.eeprom_file = files.path(MemoryKind::Eeprom);
        now.reset = ports.chosen_reset();
        return now;
    }

    // --- Commands ---

    void report(const OperationOutcome& outcome) { runner.set_status(wt::operation_text(outcome)); }

    void on_memory_button(const MemoryButton& button) {
        const MemoryKind memory = button.memory;
        if (button.browse) {
            runner.set_status({});
            runner.reset_bar(memory);
            files.browse(memory);
            return;
        }
        // The guards every button that talks to the board shares, in this order: the
        // port (a lost one opened again), then the file the operation needs.
        if (!ports.ensure_port()) return;
        const auto finish = [this](const OperationOutcome& o) { report(o); };
        switch (button.operation) {
            case Operation::Erase:
                runner.run(memory, phase_text(Phase::Erasing, memory),
                           [memory](Programmer& p, ProgressObserver& progress, const OperationAttempt&) {
                               return p.erase(memory, progress);
                           },
                           finish);
                break;
            case Operation::Write:
            case Operation::Verify: {
                if (!files.require(memory)) return;
                const std::string path = files.path(memory);
                const bool write = button.operation == Operation::Write;
                runner.run(memory, phase_text(write ? Phase::Writing : Phase::Reading, memory),
                           [memory, path, write](Programmer& p, ProgressObserver& progress, const OperationAttempt&) {
                               return write ? p.write(memory, path, progress) : p.verify(memory, path, progress);
                           },
                           finish);
                break;
            }
            case Operation::Read: {
                // The file is chosen after the port is known to be there, and the bar is
                // emptied even when the dialog is cancelled.
                runner.reset_bar(memory);
                const auto target = files.choose_save(memory);
                if (!target) return;
                runner.run(memory, phase_text(Phase::Reading, memory),
                           [memory, target = *target](Programmer& p, ProgressObserver& progress, const OperationAttempt&) {
                               const OperationOutcome read = p.read(memory, progress);
                               return read.ok() ? p.save_read(read, target) : read;
                           },
                           finish);
                break;
            }
            case Operation::Configure: break;
        }
    }

    void on_configure_loader() {
        if (!ports.ensure_port()) return;
        const std::string fosc_text = fosc;
        const std::string timeout_text = timeout;
        runner.run(
            MemoryKind::Flash, phase_text(Phase::Configuring, MemoryKind::Flash),
            [fosc_text, timeout_text](Programmer& p, ProgressObserver& progress, const OperationAttempt& attempt) {
                ConfigureOptions options;
                options.allow_short_wait = attempt.allow_short_wait;
                options.allow_unusual_clock = attempt.allow_unusual_clock;
                return p.configure_loader(fosc_text, timeout_text, progress, options);
            },
            [this](const OperationOutcome& o) {
                show_loader_text(ids::kFosc, o.fosc_text);
                show_loader_text(ids::kTimeout, o.timeout_text);
                report(o);
            });
    }

    void on_command(int id) {
        if (exit.life() != Life::Running) return;
        // A click that reached a locked control is dropped, not replayed later.
        if (runner.busy() && is_locked_while_busy(id)) return;
        for (const MemoryButton& button : kMemoryButtons) {
            if (button.id == id) {
                on_memory_button(button);
                return;
            }
        }
        switch (id) {
            case ids::kExit: exit.on_close(); break;
            case ids::kStop: runner.request_stop(); break;
            case ids::kHelpCommand: on_help(); break;
            case ids::kAboutCommand: on_about(); break;
            case ids::kConnect:
                if (ports.ensure_port()) ports.on_connect();
                break;
            case ids::kStartProgram:
                if (ports.ensure_port()) ports.on_start_program();
                break;
            case ids::kConfigureLoader: on_configure_loader(); break;
            default: break;
        }
    }

    MainView& view;
    PresenterEnvironment environment;
    ShownTexts texts;
    OperationRunner runner;
    PortPanel ports;
    FilePanel files;
    ExitSequence exit;
    std::string fosc;
    std::string timeout;
    // Last, so that it is the first to go: its device thread ends before the panels
    // its tasks call back into.
    DeviceSession device;
};

MainPresenter::MainPresenter(MainView& view, PresenterEnvironment environment)
    : impl_(std::make_unique<Impl>(view, std::move(environment))) {}

MainPresenter::~MainPresenter() = default;

void MainPresenter::start() { impl_->start(); }

void MainPresenter::on_command(int id) { impl_->on_command(id); }

void MainPresenter::on_choice(int id, int index) {
    Impl& p = *impl_;
    if (p.runner.busy() || p.exit.life() != Life::Running) return;
    switch (id) {
        case ids::kPortList: p.ports.on_port_chosen(index); break;
        case ids::kSpeedList: p.ports.on_speed_chosen(index); break;
        case ids::kModelList: p.ports.on_model_chosen(index); break;
        default: break;
    }
}

void MainPresenter::on_checked(int id, bool checked) {
    Impl& p = *impl_;
    if (p.runner.busy() || p.exit.life() != Life::Running) return;
    if (id == ids::kResetDtr) p.ports.on_reset_dtr(checked);
}

void MainPresenter::on_text_edited(int id, const std::string& text) {
    // What is typed is the presenter's text at once, so nothing shown later throws it
    // away, and the configuration and the settings file use what the user sees.
    if (impl_->runner.busy()) return;
    if (id == ids::kFosc) impl_->fosc = text;
    if (id == ids::kTimeout) impl_->timeout = text;
}

void MainPresenter::on_port_list_opening() { impl_->ports.rescan(); }

void MainPresenter::on_devices_changed() {
    if (!impl_->ports.scanning()) impl_->ports.rescan();
}

void MainPresenter::on_scan_tick() { impl_->ports.on_scan_tick(); }

void MainPresenter::on_escape() {
    // «Стоп» during an operation; otherwise Esc has nothing to end: closing is for
    // «Выход» and the close box, which save the settings and may ask first.
    impl_->runner.request_stop();
}

void MainPresenter::on_close() { impl_->exit.on_close(); }

void MainPresenter::on_files_given(const std::vector<std::string>& paths) {
    Impl& p = *impl_;
    if (p.runner.busy() || p.exit.life() != Life::Running) return;  // the paths are locked meanwhile
    for (const MemoryKind memory : p.files.give(paths)) p.runner.reset_bar(memory);
}

void MainPresenter::on_session_ending() { impl_->runner.stop_and_wait(); }

bool MainPresenter::busy() const { return impl_->runner.busy(); }
bool MainPresenter::scanning() const { return impl_->ports.scanning(); }
bool MainPresenter::port_open() const { return port_is_open(impl_->ports.link()); }
bool MainPresenter::connected() const { return impl_->ports.link() == Link::Connected; }
Link MainPresenter::link() const { return impl_->ports.link(); }
Life MainPresenter::life() const { return impl_->exit.life(); }

std::string MainPresenter::text(int id) const {
    if (id == ids::kFosc) return impl_->fosc;
    if (id == ids::kTimeout) return impl_->timeout;
    return impl_->texts.of(id);
}

std::string MainPresenter::file_path(MemoryKind memory) const { return impl_->files.path(memory); }

ProgrammerState MainPresenter::programmer_state() const {
    ProgrammerState copy;
    impl_->device.call([&] { copy = impl_->device.state(); });
    return copy;
}

const std::vector<int>& MainPresenter::controls_locked_while_busy() { return OperationRunner::locked_while_busy(); }

}  // namespace zarvik
