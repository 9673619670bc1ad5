// zarvik-cli: the programmer for Makefiles, CI jobs and production lines.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>

#include <array>
#include <memory>
#include <sstream>
#include <variant>

#include "cli/command_plan.h"
#include "cli/console.h"
#include "zarvik_version.h"
#include "cli/reporter.h"
#include "platform/system_language.h"
#include "text/language.h"
#include "programmer/programmer.h"
#include "programmer/status_texts.h"
#include "serial/port_scan.h"
#include "serial/serial_port.h"
#include "sim/board/sim_link.h"
#include "sim/board/sim_loader.h"

namespace {

using namespace zarvik;
using zarvik::cli::Reporter;
using zarvik::cli::Step;

enum Exit { kOk = 0, kDifferences = 1, kUsage = 2, kLink = 3, kFile = 4, kWrongDevice = 5 };

// A stop only records the request: the operation stops after the transaction under
// way, and not at all while the loader's own block is being rewritten.
zarvik::Cancellation g_cancel;

int interrupted_exit_code() { return cli::stop_exit_code(cli::Console::stop_reason()); }

int exit_code_for(const OperationOutcome& o) {
    switch (o.result) {
        case OperationOutcome::Result::Success: return kOk;
        case OperationOutcome::Result::Differences: return kDifferences;
        case OperationOutcome::Result::LinkFailure: return kLink;
        case OperationOutcome::Result::FileFailure: return kFile;
        case OperationOutcome::Result::Interrupted: return interrupted_exit_code();
        case OperationOutcome::Result::Refused:
            switch (o.refusal) {
                case Refusal::WrongDevice:
                case Refusal::DeviceNotConfirmed:
                case Refusal::NoLoaderBlock: return kWrongDevice;
                case Refusal::DataOverLoader:
                case Refusal::DataBeyondEeprom: return kFile;
                default: return kUsage;
            }
    }
    return kLink;
}

struct Options {
    std::string port;
    int baud = 115200;
    std::string model = "ATmega8";
    bool model_given = false;  // -m: otherwise the chip's own model is used
    bool force = false;
    std::string erase = "pages";  // before `write flash`: pages, all or none
    bool no_verify = false;
    std::string reset;
    std::string simulate;  // "@" when given without a model
    bool quiet = false;
    bool json = false;
    std::string protocol = "auto";  // "plain": the four-byte protocol only, even with our loader
    std::vector<std::string> words;
};

class Session {
public:
    Session(const Options& options, Reporter& reporter) : options_(options), reporter_(reporter) {}

    int run(const std::vector<Step>& plan) {
        for (const Step& step : plan) {
            const int code = run_step(step);
            if (g_cancel.pending()) {
                reporter_.error(cli::stop_text(cli::Console::stop_reason()));
                return interrupted_exit_code();
            }
            if (code != kOk) return code;
        }
        return kOk;
    }

private:
    // Opens the port once, or sets the speed of the one already open.
    int open_port(int baud) {
        if (!port_) {
            if (options_.port.empty()) {
                reporter_.error(tr_text("cli", "не указан порт (--port PATH), или используйте --simulate"));
                return kUsage;
            }
            port_ = std::make_unique<SerialPort>(clock_);
            port_->set_cancellation(&g_cancel);
            if (!port_->open(options_.port)) {
                reporter_.error(port_->error_text());
                port_.reset();
                return kLink;
            }
        }
        if (!port_->set_speed(baud)) {
            reporter_.error(port_->error_text());
            return kLink;
        }
        return kOk;
    }

    // A serial terminal on the port, for the program that `start` began: what it sends
    // is shown, what is typed goes to it. Ctrl-C is how it ends, so that is no failure.
    int monitor(const Step& step) {
        if (!options_.simulate.empty()) {
            reporter_.error(tr_text("cli", "monitor: у --simulate нет программы, которая что-то отправляет"));
            return kUsage;
        }
        const int baud = step.baud > 0 ? step.baud : options_.baud;
        if (const int code = open_port(baud); code != kOk) return code;
        reporter_.monitoring(options_.port, baud);
        cli::Keyboard keyboard;
        std::array<std::uint8_t, 256> buf{};
        for (;;) {
            const std::string typed = keyboard.take();
            if (!typed.empty() &&
                !port_->write(std::span(reinterpret_cast<const std::uint8_t*>(typed.data()), typed.size()))) {
                if (g_cancel.pending()) break;
                reporter_.error(tr_text("status", kLineLost));
                return kLink;
            }
            // One byte is awaited at most 100 ms, so typing is never held up for long;
            // what follows it is taken until the line pauses.
            ReadResult got = port_->read(std::span(buf).first(1));
            if (got.count == 1 && !got.interrupted && !got.line_lost) {
                const ReadResult more = port_->read(std::span(buf).subspan(1));
                got.count += more.count;
                got.line_lost = more.line_lost;
                got.interrupted = more.interrupted;
            }
            reporter_.monitor_output(std::span<const std::uint8_t>(buf.data(), got.count));
            if (got.interrupted || g_cancel.pending()) break;
            if (got.line_lost) {
                reporter_.error(tr_text("status", kLineLost));
                return kLink;
            }
        }
        if (cli::Console::stop_reason() == cli::StopReason::Interrupt) {
            cli::Console::forget_stop();
            g_cancel.clear();
        }
        return kOk;
    }

    // Opens the line and checks for the loader once, before the first device command.
    int ensure_connected(bool announce) {
        if (programmer_) {
            if (announce) reporter_.connection(true, true);
            return kOk;
        }
        const DeviceModel model = *find_device_model(options_.model);
        ByteLink* link = nullptr;
        if (!options_.simulate.empty()) {
            const std::string sim_model = options_.simulate == "@" ? options_.model : options_.simulate;
            sim_ = std::make_unique<SimLoader>(*find_device_model(sim_model));
            sim_link_ = std::make_unique<SimLink>(*sim_, clock_);
            link = sim_link_.get();
        } else {
            if (const int code = open_port(options_.baud); code != kOk) return code;
            if (options_.reset == "dtr" && !port_->pulse_dtr()) {
                reporter_.warning(tr_text("cli", "порт не управляет линией DTR, сброс не выполнен"));
            }
            link = port_.get();
        }
        state_ = std::make_unique<ProgrammerState>();
        programmer_ = std::make_unique<Programmer>(*state_, *link, clock_);
        programmer_->set_model(model);
        programmer_->set_cancellation(&g_cancel);
        if (options_.protocol == "plain") programmer_->set_road_choice(RoadChoice::Plain);
        const HandshakeOutcome handshake = programmer_->connect();
        reporter_.connection(handshake == HandshakeOutcome::Connected, announce);
        if (handshake != HandshakeOutcome::Connected) {
            programmer_.reset();
            return kLink;
        }
        if (options_.force) programmer_->accept_unconfirmed_device();
        return kOk;
    }

    // Without -m the chip says which model it is; asked once, before the first command
    // that touches memory (which would ask anyway). A loader whose wait count is torn
    // is named here too: everything works, and `configure` repairs it. A line fault
    // while the identity is read ends the run: without -m the model is not known, and
    // a second reading could name the chip from a different answer.
    int take_identity(const Step& step) {
        if (identity_taken_) return kOk;
        identity_taken_ = true;
        const ChipIdentity& id = programmer_->identify_device();
        if (auto failure = programmer_->identity_failure(operation_of(step), step.memory)) {
            reporter_.begin(failure->operation, failure->memory);
            return report(*failure);
        }
        if (!id.found()) return kOk;
        if (!options_.model_given) {
            if (const DeviceModel* model = model_for_loader_start(*id.loader_start, kDefaultModel)) {
                programmer_->set_model(*model);
                reporter_.device(chip_name(model->loader_start), model->loader_start);
            }
        }
        if (id.torn_count) reporter_.warning(torn_count_text(id));
        return kOk;
    }

    static Operation operation_of(const Step& step) {
        switch (step.kind) {
            case Step::Kind::Write: return Operation::Write;
            case Step::Kind::Verify: return Operation::Verify;
            case Step::Kind::Read: return Operation::Read;
            case Step::Kind::Configure: return Operation::Configure;
            default: return Operation::Erase;
        }
    }

    int report(const OperationOutcome& o) {
        reporter_.outcome(o);
        return exit_code_for(o);
    }

    int run_step(const Step& step) {
        if (step.kind == Step::Kind::Ports) return list_ports();
        if (step.kind == Step::Kind::Monitor) return monitor(step);
        if (const int code = ensure_connected(step.kind == Step::Kind::Connect); code != kOk) return code;
        Programmer& p = *programmer_;
        if (step.kind != Step::Kind::Connect && step.kind != Step::Kind::Start) {
            if (const int code = take_identity(step); code != kOk) return code;
        }
        switch (step.kind) {
            case Step::Kind::Ports:
            case Step::Kind::Connect:
            case Step::Kind::Monitor:
                return kOk;
            case Step::Kind::Start:
                if (!p.start_program()) {
                    reporter_.error(tr_text("status", kLineLost));
                    return kLink;
                }
                reporter_.started_program();
                return kOk;
            case Step::Kind::Erase: {
                reporter_.begin(Operation::Erase, step.memory);
                const int code = report(p.erase(step.memory, reporter_));
                if (step.memory == MemoryKind::Flash) flash_blank_ = code == kOk;
                return code;
            }
            case Step::Kind::Write: {
                WriteOptions write_options;
                if (step.memory == MemoryKind::Flash) {
                    if (options_.erase == "all" && !flash_blank_) {
                        // The chip and the file are both checked before the whole user
                        // area is erased: a missing, damaged or too long file must leave
                        // the program that is there.
                        if (auto refused = p.confirm_device(Operation::Erase, MemoryKind::Flash)) {
                            reporter_.begin(Operation::Erase, MemoryKind::Flash);
                            return report(*refused);
                        }
                        if (const OperationOutcome checked = p.check_file(MemoryKind::Flash, step.file); !checked.ok()) {
                            reporter_.begin(Operation::Write, MemoryKind::Flash);
                            return report(checked);
                        }
                        reporter_.begin(Operation::Erase, MemoryKind::Flash);
                        if (const int code = report(p.erase(MemoryKind::Flash, reporter_)); code != kOk) return code;
                    }
                    // Right after a full erase every page is blank already.
                    write_options.erase_pages = options_.erase == "pages" && !flash_blank_;
                    flash_blank_ = false;
                }
                reporter_.begin(Operation::Write, step.memory);
                const int code = report(p.write(step.memory, step.file, reporter_, write_options));
                if (code != kOk || options_.no_verify || g_cancel.pending()) return code;
                reporter_.begin(Operation::Verify, step.memory);
                return report(p.verify(step.memory, step.file, reporter_));
            }
            case Step::Kind::Verify:
                reporter_.begin(Operation::Verify, step.memory);
                return report(p.verify(step.memory, step.file, reporter_));
            case Step::Kind::Read: {
                reporter_.begin(Operation::Read, step.memory);
                OperationOutcome o = p.read(step.memory, reporter_);
                if (o.ok()) o = p.save_read(o, step.file);
                return report(o);
            }
            case Step::Kind::Configure:
                reporter_.begin(Operation::Configure, MemoryKind::Flash);
                return report(p.configure_loader(step.fosc, step.timeout, reporter_,
                                                 {.allow_short_wait = options_.force, .allow_unusual_clock = options_.force}));
        }
        return kOk;
    }

    int list_ports() {
        std::vector<std::string> names = scan_serial_ports(serial_port_candidates());
        sort_ports_by_number(names);
        std::vector<PortDescription> descriptions;
        descriptions.reserve(names.size());
        for (const std::string& name : names) descriptions.push_back(describe_serial_port(name));
        reporter_.ports(names, descriptions, port_count_text(static_cast<int>(names.size())));
        return kOk;
    }

    const Options& options_;
    Reporter& reporter_;
    SteadyClock clock_;
    std::unique_ptr<SerialPort> port_;
    std::unique_ptr<SimLoader> sim_;
    std::unique_ptr<SimLink> sim_link_;
    std::unique_ptr<ProgrammerState> state_;
    std::unique_ptr<Programmer> programmer_;
    bool identity_taken_ = false;
    bool flash_blank_ = false;  // the last flash command was a full erase
};

}  // namespace

static int run(cli::Console& console) {
    int argc = console.argc();
    char** argv = console.argv();
    set_language(language_for_arguments(argc, argv, system_language()));
    Options options;
    CLI::App app{tr_text("cli-help", "Zarvik: erase, write, verify and read the flash and EEPROM of AVR microcontrollers\n"
                                     "(ATmega8, ATmega88, ATmega168, ATmega328) through their resident loader."),
                 "zarvik-cli"};
    app.footer(tr_text("cli-help", cli::kCommandHelp));
    app.set_version_flag("--version", "zarvik-cli " ZARVIK_VERSION);
    // "/x" is a path here, also on Windows, where CLI11 would take it for an option.
    app.allow_windows_style_options(false);
    std::vector<std::string> speeds;
    for (int s : kLineSpeeds) speeds.push_back(std::to_string(s));
    app.add_option("-p,--port", options.port, tr_text("cli-help", cli::kPortExample));
    app.add_option("-b,--baud", options.baud, tr_text("cli-help", "line speed"))
        ->check(CLI::IsMember(speeds))
        ->capture_default_str();
    auto* model_option =
        app.add_option("-m,--model", options.model,
                       tr_text("cli-help", "ATmega8, ATmega88, ATmega168 or ATmega328; without it, the model the chip shows"))
            ->check(CLI::IsMember({"ATmega8", "ATmega88", "ATmega168", "ATmega328"}));
    app.add_flag("--force", options.force,
                 tr_text("cli-help", "go on with a loader whose first block is not recognised, and accept a wait under 0.5 s or a clock outside 1-20 MHz; never another model than --model"));
    app.add_option("--erase", options.erase,
                   tr_text("cli-help", "before `write flash`: erase just the pages written (pages), the whole user area (all), or nothing (none)"))
        ->check(CLI::IsMember({"pages", "all", "none"}))
        ->capture_default_str();
    app.add_flag("--no-verify", options.no_verify, tr_text("cli-help", "do not verify after write"));
    app.add_option("--protocol", options.protocol,
                   tr_text("cli-help", "auto: our loader's checked session when its first block shows protocol version 2; plain: only the plain four-byte commands"))
        ->check(CLI::IsMember({"auto", "plain"}))
        ->capture_default_str();
    std::string lang;
    app.add_option("--lang", lang, tr_text("cli-help", "language of the messages: en or ru (default: the system's; Russian when unset)"))
        ->check(CLI::IsMember({"en", "ru"}));
    app.add_option("--reset", options.reset, tr_text("cli-help", "pulse DTR before connecting, for boards whose reset follows it"))
        ->check(CLI::IsMember({"dtr"}));
    app.add_flag("--simulate{@}", options.simulate,
                 tr_text("cli-help", "run against a simulated loader in this process (--simulate=MODEL for another model than --model)"))
        ->check(CLI::IsMember({"@", "ATmega8", "ATmega88", "ATmega168", "ATmega328"}))
        ->option_text("[=MODEL]");
    auto* quiet = app.add_flag("-q,--quiet", options.quiet, tr_text("cli-help", "print failures only"));
    app.add_flag("--json", options.json, tr_text("cli-help", "print one JSON object a line for each progress step and result"))
        ->excludes(quiet);
    app.add_option("command", options.words, tr_text("cli-help", "COMMAND [ARGS] [COMMAND [ARGS] ...], see below"))
        ->required()
        ->option_text(" ");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        std::ostringstream out;
        std::ostringstream err;
        const int code = app.exit(e, out, err);
        cli::write_text(stdout, out.str());
        cli::write_text(stderr, err.str());
        return code == 0 ? kOk : kUsage;
    }
    options.model_given = model_option->count() > 0;
    auto plan = cli::parse_plan(options.words);
    if (auto* error = std::get_if<std::string>(&plan)) {
        cli::print(stderr, "zarvik-cli: %s\nRun with --help for more information.\n", error->c_str());
        return kUsage;
    }

    cli::Console::on_stop(g_cancel);
    SteadyClock clock;
    const Reporter::Mode mode = options.json ? Reporter::Mode::Json : options.quiet ? Reporter::Mode::Quiet : Reporter::Mode::Text;
    Reporter reporter(mode, console.stderr_is_terminal(), clock);
    Session session(options, reporter);
    return session.run(std::get<std::vector<Step>>(plan));
}

int main(int argc, char** argv) {
    try {
        cli::Console console(argc, argv);
        return run(console);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zarvik-cli: %s\n", e.what());
        return 3;
    }
}
