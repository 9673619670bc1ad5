#include "presenter/main_presenter.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "loader/cancellation.h"
#include "loader/chip_identity.h"
#include "memory/device_model.h"
#include "memory/file_io.h"
#include "memory/intel_hex_writer.h"
#include "presenter/device_worker.h"
#include "presenter/settings_file.h"
#include "presenter/text_encoding.h"
#include "presenter/window_texts.h"
#include "programmer/programmer.h"
#include "programmer/status_texts.h"
#include "serial/serial_port.h"
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

}  // namespace window_text

namespace {

namespace wt = window_text;

// Every control that starts an operation or changes the port, speed, model, files or
// the loader's texts: disabled while an operation runs, so that none overlap.
const std::vector<int>& locked_while_busy() {
    static const std::vector<int> locked = {
        ids::kConnect,     ids::kStartProgram, ids::kPortList,    ids::kModelList,    ids::kSpeedList,
        ids::kFlashBrowse, ids::kEepromBrowse, ids::kFlashErase,  ids::kFlashWrite,   ids::kFlashVerify,
        ids::kFlashRead,   ids::kEepromErase,  ids::kEepromWrite, ids::kEepromVerify, ids::kEepromRead,
        ids::kFosc,        ids::kTimeout,      ids::kConfigureLoader,
    };
    return locked;
}

int bar_of(MemoryKind memory) { return memory == MemoryKind::Flash ? ids::kFlashProgress : ids::kEepromProgress; }
int path_id(MemoryKind memory) { return memory == MemoryKind::Flash ? ids::kFlashPath : ids::kEepromPath; }

const DeviceModel* model_for_loader_start(std::uint32_t start, const DeviceModel& selected) {
    if (selected.loader_start == start) return &selected;
    for (const auto& model : kDeviceModels) {
        if (model.loader_start == start) return &model;
    }
    return nullptr;
}

std::string lower_extension(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return extension;
}

std::string join_path(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return (std::filesystem::path(folder) / name).string();
}

std::string hex4(std::uint32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%.4X", value);
    return buffer;
}

}  // namespace

// What an operation is run with; a refusal that the user overrules runs it again.
struct OperationAttempt {
    bool allow_short_wait = false;
    bool accept_unconfirmed = false;
};

struct MainPresenter::Impl {
    using Attempt = OperationAttempt;
    using Work = std::function<OperationOutcome(Programmer&, ProgressObserver&, const Attempt&)>;
    using Finish = std::function<void(const OperationOutcome&)>;

    Impl(MainView& v, PresenterEnvironment e)
        : view(v), environment(std::move(e)), clock(environment.clock != nullptr ? *environment.clock : steady) {
        port = environment.make_port ? environment.make_port(clock) : make_serial_device_port(clock);
        port->set_cancellation(&cancel);
        forget_device();
    }

    ~Impl() {
        // The device thread ends after the exchange under way; nothing it still posts runs.
        cancel.request();
        alive.reset();
    }

    // --- The window's thread ---

    // Runs `task` on the window's thread unless the presenter is gone by then.
    void to_ui(std::function<void()> task) {
        view.post_to_ui([weak = std::weak_ptr<int>(alive), task = std::move(task)] {
            if (weak.lock()) task();
        });
    }

    void show_text(int id, const std::string& text) {
        std::string& kept = text_of(id);
        kept = text;
        view.set_text(id, text);
    }
    std::string& text_of(int id) {
        switch (id) {
            case ids::kStatusLine: return status;
            case ids::kConnectionLine: return connection;
            case ids::kFosc: return fosc;
            case ids::kTimeout: return timeout;
            case ids::kFlashPath: return flash_path;
            case ids::kEepromPath: return eeprom_path;
            default: return scratch;
        }
    }
    void set_status(const std::string& text) { show_text(ids::kStatusLine, text); }
    void set_connection_line(const std::string& text) {
        if (text == connection) return;  // the scan repeats its text every tick
        show_text(ids::kConnectionLine, text);
    }
    void set_bar(MemoryKind memory, std::uint32_t value, std::optional<std::uint32_t> maximum = {}) {
        Bar& bar = bars[memory == MemoryKind::Flash ? 0 : 1];
        if (maximum) bar.maximum = std::max<std::uint32_t>(*maximum, 1);
        bar.value = std::min(value, bar.maximum);
        view.set_progress(bar_of(memory), bar.value, bar.maximum);
    }

    void message(const std::string& text) { view.show_message(tr_string("status", kErrorCaption), text); }
    bool ask(const std::string& text) { return view.ask_yes_no(wt::kProgramName, text); }

    bool refuse_without_port() {
        if (port_open) return false;
        message(tr_string("status", kPortNotOpen));
        return true;
    }

    void set_busy(bool now_busy) {
        if (now_busy == busy) return;
        busy = now_busy;
        cancel.clear();
        for (int id : locked_while_busy()) view.set_enabled(id, !busy);
        view.set_enabled(ids::kStop, busy);
        view.set_busy(busy);
    }

    void start() {
        for (const int id : {ids::kStatusLine, ids::kFlashPath, ids::kEepromPath}) show_text(id, {});
        check_help_file();
        std::vector<ListItem> speeds;
        speeds.reserve(std::size(kLineSpeeds));
        for (int speed : kLineSpeeds) speeds.push_back({std::to_string(speed), {}});
        view.set_items(ids::kSpeedList, speeds);
        view.set_selection(ids::kSpeedList, -1);
        std::vector<ListItem> models;
        models.reserve(kDeviceModels.size());
        for (const auto& model : kDeviceModels) models.push_back({std::string(model.name), {}});
        view.set_items(ids::kModelList, models);
        view.set_selection(ids::kModelList, 0);
        // A per-user folder may not be there yet on a first run.
        std::error_code ignored;
        if (!environment.settings_folder.empty()) std::filesystem::create_directories(environment.settings_folder, ignored);
        std::string unreadable;
        const LoaderSettings settings = load_settings(environment.settings_folder, &unreadable);
        settings_unreadable = !unreadable.empty();
        show_text(ids::kFosc, utf8_from_cp1251(settings.fosc));
        show_text(ids::kTimeout, utf8_from_cp1251(settings.timeout));
        worker.call([this] { programmer->set_model(kDefaultModel); });
        connected = false;
        speed_chosen = false;
        if (settings_unreadable) {
            set_status(wt::fill(wt::kSettingsUnreadable, {join_path(environment.settings_folder, kSettingsFileName), unreadable}));
        }
        view.set_items(ids::kPortList, {});
        view.set_selection(ids::kPortList, -1);
        view.set_enabled(ids::kStop, false);
        scanning = true;
        view.set_scan_timer(true);
    }

    // --- Help and About ---

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

    // --- The exit ---

    void on_close() {
        if (busy) {
            ask_then_stop_and_exit();
            return;
        }
        run_exit_sequence();
    }

    void ask_then_stop_and_exit() {
        if (exit_when_done || question_open) return;
        if (cancel.held()) {
            view.show_message(tr_string("status", kWarningCaption), tr_string("window", wt::kCannotCloseNow));
            return;
        }
        question_open = true;
        const bool yes = ask(tr_string("window", wt::kAskStopAndClose));
        question_open = false;
        if (!yes) return;
        if (!busy) {
            run_exit_sequence();  // it ended just as the user said yes
            return;
        }
        exit_when_done = true;
        request_stop();
    }

    void request_stop() {
        if (!busy) return;
        // During a span that must not be cut, the request waits for its end.
        cancel.request();
        view.set_enabled(ids::kStop, false);
    }

    void run_exit_sequence() {
        if (exited) return;
        exited = true;
        scanning = false;
        view.set_scan_timer(false);
        worker.call([this] { port->close(); });  // puts back the line settings the port had
        port_open = false;
        const LoaderSettings typed{cp1251_from_utf8(fosc), cp1251_from_utf8(timeout)};
        // A file that was there but could not be read keeps what it holds, unless the user
        // typed values of their own to replace the defaults that stood in for it.
        const bool keep_unreadable =
            settings_unreadable && typed.fosc == LoaderSettings{}.fosc && typed.timeout == LoaderSettings{}.timeout;
        if (!keep_unreadable) {
            if (auto error = save_settings(environment.settings_folder, typed)) {
                message(wt::fill(wt::kSettingsNotSaved, {join_path(environment.settings_folder, kSettingsFileName), *error}));
            }
        }
        view.close_window();
    }

    // --- Operations ---

    // Runs on the device thread; hands every step to the window's thread, where the bar
    // and the status line are shown in their turn.
    class ForwardedProgress final : public ProgressObserver {
    public:
        ForwardedProgress(Impl& impl, MemoryKind memory) : impl_(impl), memory_(memory) {}
        void on_phase(Phase phase) override {
            impl_.to_ui([&impl = impl_, phase, memory = memory_] { impl.set_status(phase_text(phase, memory)); });
        }
        void on_range(std::uint32_t maximum) override {
            impl_.to_ui([&impl = impl_, maximum, memory = memory_] {
                const Bar& bar = impl.bars[memory == MemoryKind::Flash ? 0 : 1];
                impl.set_bar(memory, bar.value, maximum);
            });
        }
        void on_position(std::uint32_t position) override {
            impl_.to_ui([&impl = impl_, position, memory = memory_] { impl.set_bar(memory, position); });
        }

    private:
        Impl& impl_;
        MemoryKind memory_;
    };

    // Runs `work` on the device thread with the memory's bar following its progress; the
    // phase text is on the status line from the start. `finish` sees what was neither
    // refused nor a file failure.
    void run_operation(MemoryKind memory, const std::string& phase, const Work& work, const Finish& finish,
                       Attempt attempt = {}) {
        set_busy(true);
        set_status(phase);
        worker.post([this, memory, phase, work, finish, attempt] {
            ForwardedProgress progress(*this, memory);
            if (attempt.accept_unconfirmed) programmer->accept_unconfirmed_device();
            const OperationOutcome outcome = work(*programmer, progress, attempt);
            to_ui([this, outcome, memory, phase, work, finish, attempt] {
                operation_ended(outcome, memory, phase, work, finish, attempt);
            });
        });
    }

    // What the link's state says after an exchange: the connection line follows it.
    void follow_link(const OperationOutcome& outcome) {
        if (!outcome.link_failure) return;
        connected = false;
        set_connection_line(outcome.link_failure->line_lost ? tr_string("status", kLineLost)
                                                            : tr_string("window", wt::kLoaderSilent));
    }

    // The end of any operation: a question about it that is still open is moot now.
    void operation_over() {
        set_busy(false);
        if (question_open) view.close_question();
    }

    void operation_ended(const OperationOutcome& outcome, MemoryKind memory, const std::string& phase, const Work& work,
                         const Finish& finish, Attempt attempt) {
        operation_over();
        if (exit_when_done) {
            run_exit_sequence();
            return;
        }
        follow_link(outcome);
        using Result = OperationOutcome::Result;
        if (outcome.result == Result::Refused &&
            (outcome.refusal == Refusal::WaitTooShort || outcome.refusal == Refusal::DeviceNotConfirmed)) {
            set_status({});  // nothing was sent; no phase text stays behind
            const bool short_wait = outcome.refusal == Refusal::WaitTooShort;
            const char* question = short_wait ? wt::kAskShortWait : wt::kAskUnconfirmed;
            if (!ask(window_status_text(outcome) + "\n\n" + tr_string("window", question))) return;
            Attempt again = attempt;
            (short_wait ? again.allow_short_wait : again.accept_unconfirmed) = true;
            run_operation(memory, phase, work, finish, again);
            return;
        }
        if (outcome.result == Result::Refused || outcome.result == Result::FileFailure) {
            set_status({});
            message(window_status_text(outcome));
            return;
        }
        finish(outcome);
    }

    // The core's text, with what the window adds: the longest wait a refused one could
    // have been, and which memory differs in how many bytes.
    static std::string window_status_text(const OperationOutcome& outcome) {
        std::string text = status_text(outcome);
        if (outcome.result == OperationOutcome::Result::Refused && outcome.refusal == Refusal::WaitCountTooLarge &&
            outcome.longest_wait_seconds > 0) {
            text += "\n" + wt::fill(wt::kLongestWait, {localized_number(outcome.fosc_text),
                                                       format_number(outcome.longest_wait_seconds, 2)});
        }
        if (outcome.result == OperationOutcome::Result::Differences && outcome.operation == Operation::Verify) {
            const std::string count = std::to_string(outcome.difference_count);
            const PluralForm form = plural_form(count);
            const char* phrase = form == PluralForm::One ? wt::kDiffersOne
                                 : form == PluralForm::Few ? wt::kDiffersFew
                                                           : wt::kDiffersMany;
            text = wt::fill(phrase, {outcome.memory == MemoryKind::Flash ? "Flash" : "EEPROM", count}) + text;
        }
        return text;
    }

    void report(const OperationOutcome& outcome) { set_status(window_status_text(outcome)); }

    void on_erase(MemoryKind memory) {
        if (refuse_without_port()) return;
        run_operation(
            memory, phase_text(Phase::Erasing, memory),
            [memory](Programmer& p, ProgressObserver& progress, const Attempt&) { return p.erase(memory, progress); },
            [this](const OperationOutcome& o) { report(o); });
    }

    bool refuse_without_file(MemoryKind memory) {
        if (!path_of(memory).empty()) return false;
        message(tr_string("status", memory == MemoryKind::Flash ? kNoFlashFile : kNoEepromFile));
        return true;
    }

    void on_write(MemoryKind memory) {
        if (!port_open) {
            set_status({});
            message(tr_string("status", kPortNotOpen));
            return;
        }
        if (refuse_without_file(memory)) return;
        const std::string path = path_of(memory);
        run_operation(
            memory, phase_text(Phase::Writing, memory),
            [memory, path](Programmer& p, ProgressObserver& progress, const Attempt&) {
                return p.write(memory, path, progress);
            },
            [this](const OperationOutcome& o) { report(o); });
    }

    void on_verify(MemoryKind memory) {
        set_status({});
        if (refuse_without_port() || refuse_without_file(memory)) return;
        const std::string path = path_of(memory);
        run_operation(
            memory, phase_text(Phase::Reading, memory),
            [memory, path](Programmer& p, ProgressObserver& progress, const Attempt&) {
                return p.verify(memory, path, progress);
            },
            [this](const OperationOutcome& o) { report(o); });
    }

    FileDialogRequest file_dialog(FileDialogMode mode, MemoryKind memory) const {
        const bool flash = memory == MemoryKind::Flash;
        return FileDialogRequest{mode, memory, tr_string("window", flash ? wt::kFlashFiles : wt::kEepromFiles),
                                 flash ? "*.hex" : "*.eep"};
    }

    std::optional<std::string> choose_save_file(MemoryKind memory) {
        const auto typed = view.choose_file(file_dialog(FileDialogMode::Save, memory));
        if (!typed || typed->empty()) return std::nullopt;
        std::string path = with_required_extension(*typed, memory == MemoryKind::Flash ? ".hex" : ".eep");
        // The dialog asked only about the name as typed; the extension may have made it
        // the name of another file that exists.
        std::error_code ec;
        if (path != *typed && std::filesystem::exists(path, ec)) {
            if (!ask(wt::fill(wt::kAskReplace, {path}))) return std::nullopt;
        }
        return path;
    }

    void on_read(MemoryKind memory) {
        set_bar(memory, 0);
        if (refuse_without_port()) return;
        const auto path = choose_save_file(memory);
        if (!path) return;
        run_operation(
            memory, phase_text(Phase::Reading, memory),
            [memory, target = *path](Programmer& p, ProgressObserver& progress, const Attempt&) {
                const OperationOutcome read = p.read(memory, progress);
                return read.ok() ? p.save_read(read, target) : read;
            },
            [this](const OperationOutcome& o) { report(o); });
    }

    void on_browse(MemoryKind memory) {
        set_status({});
        set_bar(memory, 0);
        const auto path = view.choose_file(file_dialog(FileDialogMode::Open, memory));
        if (!path || path->empty()) return;
        show_text(path_id(memory), *path);
    }

    void on_files_given(const std::vector<std::string>& paths) {
        if (busy) return;  // the paths are locked while an operation runs
        for (const std::string& path : paths) {
            const std::string extension = lower_extension(path);
            if (extension == ".eep") {
                set_bar(MemoryKind::Eeprom, 0);
                show_text(ids::kEepromPath, path);
            } else if (extension == ".hex" || extension == ".elf") {
                set_bar(MemoryKind::Flash, 0);
                show_text(ids::kFlashPath, path);
            }
        }
    }

    void on_configure_loader() {
        if (refuse_without_port()) return;
        const std::string fosc_text = fosc;
        const std::string timeout_text = timeout;
        run_operation(
            MemoryKind::Flash, phase_text(Phase::Configuring, MemoryKind::Flash),
            [fosc_text, timeout_text](Programmer& p, ProgressObserver& progress, const Attempt& attempt) {
                ConfigureOptions options;
                options.allow_short_wait = attempt.allow_short_wait;
                return p.configure_loader(fosc_text, timeout_text, progress, options);
            },
            [this](const OperationOutcome& o) {
                show_text(ids::kFosc, o.fosc_text);
                show_text(ids::kTimeout, o.timeout_text);
                report(o);
            });
    }

    // --- Connection ---

    void on_connect() {
        set_status({});
        if (refuse_without_port()) return;
        if (!speed_chosen) {
            message(tr_string("status", kSpeedNotChosen));
            return;
        }
        set_busy(true);
        worker.post([this] {
            const bool handshake = programmer->connect() == HandshakeOutcome::Connected;
            std::optional<ChipIdentity> identity;
            // Which chip answers, asked once for this connection: three block reads.
            if (handshake) identity = programmer->identify_device();
            const DeviceModel selected = state.model;
            to_ui([this, handshake, identity, selected] { connect_done(handshake, identity, selected); });
        });
    }

    void connect_done(bool handshake, const std::optional<ChipIdentity>& identity, const DeviceModel& selected) {
        operation_over();
        if (exit_when_done) {
            run_exit_sequence();
            return;
        }
        connected = handshake;
        set_connection_line(tr_string("status", handshake ? kConnected : kNotConnected));
        if (!identity || !identity->found()) return;
        const DeviceModel* found = model_for_loader_start(*identity->loader_start, selected);
        if (found == nullptr || found->loader_start == selected.loader_start) return;
        select_model(*found);
        set_status(wt::fill(wt::kModelDetected,
                            {chip_name(*identity->loader_start), hex4(*identity->loader_start), found->name}));
    }

    void select_model(const DeviceModel& model) {
        for (std::size_t i = 0; i < kDeviceModels.size(); ++i) {
            if (kDeviceModels[i].name == model.name) view.set_selection(ids::kModelList, static_cast<int>(i));
        }
        worker.call([this, model] { programmer->set_model(model); });
    }

    void on_start_program() {
        if (refuse_without_port()) return;
        bool sent = false;
        worker.call([this, &sent] { sent = programmer->start_program(); });
        // The user program has the line now; the loader answers only after a reset.
        connected = false;
        if (sent) set_connection_line(tr_string("window", wt::kProgramRunning));
        set_status(sent ? tr_string("status", kProgramStarted) : tr_string("window", wt::kStartNotSent));
    }

    // --- Port, speed, model ---

    std::vector<std::string> scan() const {
        std::vector<std::string> found = environment.scan_ports ? environment.scan_ports() : std::vector<std::string>{};
        std::sort(found.begin(), found.end());
        found.erase(std::unique(found.begin(), found.end()), found.end());
        return found;
    }

    void fill_port_list(const std::vector<std::string>& ports) {
        shown_ports = ports;
        std::vector<ListItem> items;
        items.reserve(ports.size());
        for (const std::string& name : ports) {
            items.push_back({name, environment.describe_port ? environment.describe_port(name) : std::string()});
        }
        view.set_items(ids::kPortList, items);
    }

    void on_scan_tick() {
        if (!scanning) return;
        if (port_open) {
            worker.call([this] { port->close(); });
            port_open = false;
        }
        const std::vector<std::string> found = scan();
        if (found.empty()) {
            if (!shown_ports.empty()) fill_port_list({});
            set_connection_line(tr_string("status", kNoPorts));
            return;
        }
        fill_port_list(found);
        view.set_selection(ids::kPortList, -1);
        scanning = false;
        view.set_scan_timer(false);
        set_connection_line(port_count_text(static_cast<int>(found.size())));
    }

    void rescan_ports() {
        // The list as it is now, with the port this window holds open kept in it.
        if (scanning || busy) return;
        std::vector<std::string> found = scan();
        if (port_open && std::find(found.begin(), found.end(), port_name) == found.end()) {
            found.push_back(port_name);
            std::sort(found.begin(), found.end());
        }
        const std::string current = selected_port;
        fill_port_list(found);
        const auto at = std::find(found.begin(), found.end(), current);
        view.set_selection(ids::kPortList, current.empty() || at == found.end() ? -1 : static_cast<int>(at - found.begin()));
    }

    void on_port_chosen(int index) {
        if (index < 0 || static_cast<std::size_t>(index) >= shown_ports.size()) return;
        port_name = shown_ports[static_cast<std::size_t>(index)];
        selected_port = port_name;
        bool opened = false;
        worker.call([this, &opened] {
            port->close();
            opened = port->open(port_name);
            forget_device();  // another line may lead to another chip
        });
        port_open = opened;
        connected = false;
        // The speed was set on the port that was open before: this one is asked for its own.
        speed_chosen = false;
        view.set_selection(ids::kSpeedList, -1);
        set_connection_line(wt::fill(opened ? wt::kPortOpened : wt::kPortNotOpened, {port_name}));
    }

    void on_speed_chosen(int index) {
        if (!port_open) {
            view.set_selection(ids::kSpeedList, -1);
            message(tr_string("status", kPortNotOpen));
            return;
        }
        if (index < 0 || static_cast<std::size_t>(index) >= std::size(kLineSpeeds)) return;
        const int baud = kLineSpeeds[index];
        bool applied = false;
        std::string why;
        worker.call([this, baud, &applied, &why] {
            applied = port->set_speed(baud);
            if (!applied) why = port->error_text();
        });
        speed_chosen = applied;
        const std::string speed = std::to_string(baud);
        if (applied) {
            set_connection_line(wt::fill(wt::kSpeedSet, {speed}));
            return;
        }
        view.set_selection(ids::kSpeedList, -1);
        set_connection_line(wt::fill(wt::kSpeedRefused, {speed}));
        if (!why.empty()) message(why);
    }

    void on_model_chosen(int index) {
        if (index < 0 || static_cast<std::size_t>(index) >= kDeviceModels.size()) return;
        const DeviceModel chosen = kDeviceModels[static_cast<std::size_t>(index)];
        worker.call([this, chosen] { programmer->set_model(chosen); });
    }

    // --- The device thread ---

    // Only on the device thread (or before it has work). A new line: the chip's identity
    // is asked again before it is touched.
    void forget_device() {
        const DeviceModel model = state.model;
        programmer.emplace(state, *port, clock);
        programmer->set_cancellation(&cancel);
        programmer->set_model(model);
    }

    std::string& path_of(MemoryKind memory) { return memory == MemoryKind::Flash ? flash_path : eeprom_path; }

    struct Bar {
        std::uint32_t value = 0;
        std::uint32_t maximum = 1;
    };

    MainView& view;
    PresenterEnvironment environment;
    SteadyClock steady;
    Clock& clock;
    Cancellation cancel;
    ProgrammerState state;
    std::unique_ptr<DevicePort> port;
    std::optional<Programmer> programmer;
    // What the device thread posts runs only while this lives.
    std::shared_ptr<int> alive = std::make_shared<int>(0);

    bool busy = false;
    bool scanning = false;
    bool port_open = false;
    bool connected = false;
    bool speed_chosen = false;
    bool exited = false;
    bool exit_when_done = false;
    bool question_open = false;
    // Zarvik.ini was there but could not be read: its defaults are not written back.
    bool settings_unreadable = false;

    std::string status;
    std::string connection;
    std::string fosc;
    std::string timeout;
    std::string flash_path;
    std::string eeprom_path;
    std::string scratch;
    std::string port_name;
    std::string selected_port;
    std::vector<std::string> shown_ports;
    Bar bars[2];

    // Last, so that it is the first to go: the thread ends before what its tasks use.
    DeviceWorker worker;
};

MainPresenter::MainPresenter(MainView& view, PresenterEnvironment environment)
    : impl_(std::make_unique<Impl>(view, std::move(environment))) {}

MainPresenter::~MainPresenter() = default;

void MainPresenter::start() { impl_->start(); }

void MainPresenter::on_command(int id) {
    Impl& p = *impl_;
    // A click that reached a locked control is dropped, not replayed later.
    const auto& locked_ids = locked_while_busy();
    const bool locked = std::find(locked_ids.begin(), locked_ids.end(), id) != locked_ids.end();
    if (p.busy && locked) return;
    if (p.exited) return;
    switch (id) {
        case ids::kExit: p.on_close(); break;
        case ids::kConnect: p.on_connect(); break;
        case ids::kStartProgram: p.on_start_program(); break;
        case ids::kFlashErase: p.on_erase(MemoryKind::Flash); break;
        case ids::kFlashWrite: p.on_write(MemoryKind::Flash); break;
        case ids::kFlashVerify: p.on_verify(MemoryKind::Flash); break;
        case ids::kFlashRead: p.on_read(MemoryKind::Flash); break;
        case ids::kFlashBrowse: p.on_browse(MemoryKind::Flash); break;
        case ids::kEepromErase: p.on_erase(MemoryKind::Eeprom); break;
        case ids::kEepromWrite: p.on_write(MemoryKind::Eeprom); break;
        case ids::kEepromVerify: p.on_verify(MemoryKind::Eeprom); break;
        case ids::kEepromRead: p.on_read(MemoryKind::Eeprom); break;
        case ids::kEepromBrowse: p.on_browse(MemoryKind::Eeprom); break;
        case ids::kConfigureLoader: p.on_configure_loader(); break;
        case ids::kStop: p.request_stop(); break;
        case ids::kHelpCommand: p.on_help(); break;
        case ids::kAboutCommand: p.on_about(); break;
        default: break;
    }
}

void MainPresenter::on_choice(int id, int index) {
    Impl& p = *impl_;
    if (p.busy || p.exited) return;
    switch (id) {
        case ids::kPortList: p.on_port_chosen(index); break;
        case ids::kSpeedList: p.on_speed_chosen(index); break;
        case ids::kModelList: p.on_model_chosen(index); break;
        default: break;
    }
}

void MainPresenter::on_text_edited(int id, const std::string& text) {
    // What is typed is the presenter's text at once, so nothing shown later throws it
    // away, and the configuration and the settings file use what the user sees.
    if (impl_->busy) return;
    if (id == ids::kFosc) impl_->fosc = text;
    if (id == ids::kTimeout) impl_->timeout = text;
}

void MainPresenter::on_port_list_opening() { impl_->rescan_ports(); }

void MainPresenter::on_devices_changed() {
    if (!impl_->scanning) impl_->rescan_ports();
}

void MainPresenter::on_scan_tick() { impl_->on_scan_tick(); }

void MainPresenter::on_escape() {
    // During an operation Esc is «Стоп», not the exit.
    if (impl_->busy) {
        impl_->request_stop();
        return;
    }
    impl_->on_close();
}

void MainPresenter::on_close() { impl_->on_close(); }

void MainPresenter::on_files_given(const std::vector<std::string>& paths) { impl_->on_files_given(paths); }

void MainPresenter::on_session_ending() {
    if (!impl_->busy) return;
    impl_->cancel.request();
    impl_->worker.call([] {});  // returns once the operation under way has ended
}

bool MainPresenter::busy() const { return impl_->busy; }
bool MainPresenter::scanning() const { return impl_->scanning; }
bool MainPresenter::port_open() const { return impl_->port_open; }
bool MainPresenter::connected() const { return impl_->connected; }

std::string MainPresenter::text(int id) const { return impl_->text_of(id); }

ProgrammerState MainPresenter::programmer_state() const {
    ProgrammerState copy;
    impl_->worker.call([&] { copy = impl_->state; });
    return copy;
}

const std::vector<int>& MainPresenter::controls_locked_while_busy() { return locked_while_busy(); }

}  // namespace zarvik
