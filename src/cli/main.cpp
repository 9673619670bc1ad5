// zarvik-cli: the programmer for Makefiles, CI jobs and production lines.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>

#include <atomic>
#include <csignal>
#include <memory>
#include <variant>

#include "cli/command_plan.h"
#include "cli/console.h"
#include "cli/reporter.h"
#include "programmer/programmer.h"
#include "programmer/status_texts.h"
#include "serial/port_scan.h"
#include "serial/serial_port.h"
#include "sim/sim_link.h"
#include "sim/sim_loader.h"

namespace {

using namespace zarvik;
using zarvik::cli::Reporter;
using zarvik::cli::Step;

enum Exit { kOk = 0, kDifferences = 1, kUsage = 2, kLink = 3, kFile = 4, kInterrupted = 130 };

std::atomic<bool> g_interrupted{false};
zarvik::Cancellation g_cancel;

void on_interrupt(int) {
    g_interrupted.store(true);
    g_cancel.request();
}

int exit_code_for(const OperationOutcome& o) {
    switch (o.result) {
        case OperationOutcome::Result::Success: return kOk;
        case OperationOutcome::Result::Differences: return kDifferences;
        case OperationOutcome::Result::LinkFailure: return kLink;
        case OperationOutcome::Result::FileFailure: return kFile;
        case OperationOutcome::Result::Refused:
            return o.operation == Operation::Configure ? kUsage : kFile;
    }
    return kLink;
}

struct Options {
    std::string port;
    int baud = 115200;
    std::string model = "ATmega8";
    bool no_verify = false;
    std::string reset;
    std::string simulate;  // "@" when given without a model
    bool quiet = false;
    bool json = false;
    std::vector<std::string> words;
};

class Session {
public:
    Session(const Options& options, Reporter& reporter) : options_(options), reporter_(reporter) {}

    int run(const std::vector<Step>& plan) {
        for (const Step& step : plan) {
            const int code = run_step(step);
            if (g_interrupted.load()) {
                reporter_.error("прервано");
                return kInterrupted;
            }
            if (code != kOk) return code;
        }
        return kOk;
    }

private:
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
            if (options_.port.empty()) {
                reporter_.error("не указан порт (--port PATH), или используйте --simulate");
                return kUsage;
            }
            port_ = std::make_unique<SerialPort>(clock_);
            port_->set_cancellation(&g_cancel);
            if (!port_->open(options_.port)) {
                reporter_.error(port_->error_text());
                return kLink;
            }
            if (!port_->set_speed(options_.baud)) {
                reporter_.error("порт не принял скорость " + std::to_string(options_.baud) + " бод");
                return kLink;
            }
            if (options_.reset == "dtr" && !port_->pulse_dtr()) {
                reporter_.warning("порт не управляет линией DTR, сброс не выполнен");
            }
            link = port_.get();
        }
        state_ = std::make_unique<ProgrammerState>();
        programmer_ = std::make_unique<Programmer>(*state_, *link, clock_);
        programmer_->set_model(model);
        const HandshakeOutcome handshake = programmer_->connect();
        reporter_.connection(handshake == HandshakeOutcome::Connected, announce);
        if (handshake != HandshakeOutcome::Connected) {
            programmer_.reset();
            return kLink;
        }
        return kOk;
    }

    int report(const OperationOutcome& o) {
        reporter_.outcome(o);
        return exit_code_for(o);
    }

    int run_step(const Step& step) {
        if (step.kind == Step::Kind::Ports) return list_ports();
        if (const int code = ensure_connected(step.kind == Step::Kind::Connect); code != kOk) return code;
        Programmer& p = *programmer_;
        switch (step.kind) {
            case Step::Kind::Ports:
            case Step::Kind::Connect:
                return kOk;
            case Step::Kind::Start:
                if (!p.start_program()) {
                    reporter_.error(kLineLost);
                    return kLink;
                }
                reporter_.started_program();
                return kOk;
            case Step::Kind::Erase:
                reporter_.begin(Operation::Erase, step.memory);
                return report(p.erase(step.memory, reporter_));
            case Step::Kind::Write: {
                reporter_.begin(Operation::Write, step.memory);
                const int code = report(p.write(step.memory, step.file, reporter_));
                if (code != kOk || options_.no_verify || g_interrupted.load()) return code;
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
                return report(p.configure_loader(step.fosc, step.timeout, reporter_));
        }
        return kOk;
    }

    int list_ports() {
        const std::vector<std::string> names = scan_serial_ports(serial_port_candidates());
        reporter_.ports(names, port_count_text(static_cast<int>(names.size())));
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
};

}  // namespace

static int run(cli::Console& console) {
    int argc = console.argc();
    char** argv = console.argv();
    Options options;
    CLI::App app{"Zarvik: erase, write, verify and read the flash and EEPROM of AVR microcontrollers\n"
                 "(ATmega8, ATmega88, ATmega168, ATmega328) through their resident loader.",
                 "zarvik-cli"};
    app.footer(cli::kCommandHelp);
    // "/x" is a path here, also on Windows, where CLI11 would take it for an option.
    app.allow_windows_style_options(false);
    std::vector<std::string> speeds;
    for (int s : kLineSpeeds) speeds.push_back(std::to_string(s));
    app.add_option("-p,--port", options.port, cli::kPortExample);
    app.add_option("-b,--baud", options.baud, "line speed")
        ->check(CLI::IsMember(speeds))
        ->capture_default_str();
    auto* model_option = app.add_option("-m,--model", options.model, "ATmega8, ATmega88, ATmega168 or ATmega328")
        ->check(CLI::IsMember({"ATmega8", "ATmega88", "ATmega168", "ATmega328"}))
        ->capture_default_str();
    app.add_flag("--no-verify", options.no_verify, "do not verify after write");
    app.add_option("--reset", options.reset, "pulse DTR before connecting, for boards whose reset follows it")
        ->check(CLI::IsMember({"dtr"}));
    app.add_flag("--simulate{@}", options.simulate,
                 "run against a simulated loader in this process (--simulate=MODEL for another model than --model)")
        ->check(CLI::IsMember({"@", "ATmega8", "ATmega88", "ATmega168", "ATmega328"}))
        ->option_text("[=MODEL]");
    auto* quiet = app.add_flag("-q,--quiet", options.quiet, "print failures only");
    app.add_flag("--json", options.json, "print one JSON object a line for each progress step and result")
        ->excludes(quiet);
    app.add_option("command", options.words, "COMMAND [ARGS] [COMMAND [ARGS] ...], see below")
        ->required()
        ->option_text(" ");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? kOk : kUsage;
    }
    // A simulated board of a named model is programmed as that model unless -m says otherwise.
    if (model_option->count() == 0 && !options.simulate.empty() && options.simulate != "@") options.model = options.simulate;
    auto plan = cli::parse_plan(options.words);
    if (auto* error = std::get_if<std::string>(&plan)) {
        std::fprintf(stderr, "zarvik-cli: %s\nRun with --help for more information.\n", error->c_str());
        return kUsage;
    }

    cli::Console::on_interrupt([] { on_interrupt(SIGINT); });
    std::signal(SIGTERM, on_interrupt);
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
