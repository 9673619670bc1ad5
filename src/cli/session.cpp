#include "cli/session.h"

#include <array>
#include <span>

#include "cli/console.h"
#include "loader/chip_identity.h"
#include "programmer/programmer.h"
#include "programmer/status_texts.h"
#include "serial/port_scan.h"
#include "serial/serial_port.h"
#include "sim/board/sim_link.h"
#include "sim/board/sim_loader.h"
#include "text/language.h"

namespace zarvik::cli {
namespace {

int interrupted_exit_code() { return stop_exit_code(Console::stop_reason()); }

Operation operation_of(const Step& step) {
    switch (step.kind) {
        case Step::Kind::Write: return Operation::Write;
        case Step::Kind::Verify: return Operation::Verify;
        case Step::Kind::Read: return Operation::Read;
        case Step::Kind::Configure: return Operation::Configure;
        default: return Operation::Erase;
    }
}

}  // namespace

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
                case Refusal::DataBeyondEeprom:
                case Refusal::SerialOverFileData: return kFile;
                default: return kUsage;
            }
    }
    return kLink;
}

Session::Session(const SessionOptions& options, Reporter& reporter, Clock& clock, Cancellation& cancel)
    : options_(options), reporter_(reporter), clock_(clock), cancel_(cancel) {}

Session::~Session() = default;

int Session::run(const std::vector<Step>& plan) {
    plan_ = &plan;
    if (const int code = check_serial_before_sending(plan); code != kOk) return code;
    // A number that no write of its memory carried goes on its own after the last step
    // that touches memory, before the program is started.
    std::size_t serial_at = plan.size();
    while (serial_at > 0 && (plan[serial_at - 1].kind == Step::Kind::Start ||
                             plan[serial_at - 1].kind == Step::Kind::Monitor)) {
        --serial_at;
    }
    for (std::size_t i = 0; i <= plan.size(); ++i) {
        int code = kOk;
        if (options_.serial && i == serial_at) code = write_serial_alone();
        if (code == kOk && i < plan.size()) code = run_step(plan[i]);
        if (cancel_.pending()) {
            reporter_.error(stop_text(Console::stop_reason()));
            return interrupted_exit_code();
        }
        if (code != kOk) return code;
    }
    return kOk;
}


LoaderFacts Session::loader_facts() const {
    LoaderFacts facts;
    if (identity_ && identity_->found()) {
        facts.chip = chip_name(*identity_->loader_start);
        if (options_.model_given && *identity_->loader_start != options_.model.loader_start) {
            facts.chip_asked = std::string(options_.model.name);
        }
    }
    if (identity_ && identity_->signature) {
        facts.kind = "zarvik";
        facts.version = identity_->signature->version;
    } else if (identity_ && identity_->found()) {
        facts.kind = "other";
    }
    return facts;
}

// Opens the port once, or sets the speed of the one already open.
int Session::open_port(int baud) {
    if (!port_) {
        if (options_.port.empty()) {
            reporter_.error(tr_text("cli", "не указан порт (--port PATH), или используйте --simulate"));
            return kUsage;
        }
        port_ = std::make_unique<SerialPort>(clock_);
        port_->set_cancellation(&cancel_);
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
int Session::monitor(const Step& step) {
    if (options_.simulate) {
        reporter_.error(tr_text("cli", "monitor: у --simulate нет программы, которая что-то отправляет"));
        return kUsage;
    }
    const int baud = step.baud > 0 ? step.baud : options_.baud;
    if (const int code = open_port(baud); code != kOk) return code;
    reporter_.monitoring(options_.port, baud);
    Keyboard keyboard;
    std::array<std::uint8_t, 256> buf{};
    for (;;) {
        const std::string typed = keyboard.take();
        if (!typed.empty() &&
            !port_->write(std::span(reinterpret_cast<const std::uint8_t*>(typed.data()), typed.size()))) {
            if (cancel_.pending()) break;
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
        if (got.interrupted || cancel_.pending()) break;
        if (got.line_lost) {
            reporter_.error(tr_text("status", kLineLost));
            return kLink;
        }
    }
    if (Console::stop_reason() == StopReason::Interrupt) {
        Console::forget_stop();
        cancel_.clear();
    }
    return kOk;
}

// Opens the line and checks for the loader once, before the first device command.
int Session::ensure_connected(bool announce) {
    if (programmer_) {
        if (announce) reporter_.connection(true, true);
        return kOk;
    }
    ByteLink* link = link_;
    if (link == nullptr && options_.simulate) {
        sim_ = std::make_unique<SimLoader>(*options_.simulate);
        sim_link_ = std::make_unique<SimLink>(*sim_, clock_);
        link = sim_link_.get();
    } else if (link == nullptr) {
        if (const int code = open_port(options_.baud); code != kOk) return code;
        if (options_.pulse_dtr && !port_->pulse_dtr()) {
            reporter_.warning(tr_text("cli", "порт не управляет линией DTR, сброс не выполнен"));
        }
        link = port_.get();
    }
    state_ = std::make_unique<ProgrammerState>();
    programmer_ = std::make_unique<Programmer>(*state_, *link, clock_);
    programmer_->set_model(options_.model);
    programmer_->set_cancellation(&cancel_);
    if (options_.road != RoadChoice::Auto) programmer_->set_road_choice(options_.road);
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
int Session::take_identity(const Step& step) {
    if (identity_taken_) return kOk;
    identity_taken_ = true;
    const ChipIdentity& id = programmer_->identify_device();
    identity_ = id;
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

int Session::report(const OperationOutcome& o) {
    reporter_.outcome(o);
    return exit_code_for(o);
}

int Session::run_step(const Step& step) {
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
        case Step::Kind::Write:
            return write(step);
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

int Session::write(const Step& step) {
    Programmer& p = *programmer_;
    if (const int code = take_serial(); code != kOk) return code;
    WriteOptions write_options;
    if (step.memory == MemoryKind::Flash) {
        if (options_.erase == EraseBefore::All && !flash_blank_) {
            // The chip and the file are both checked before the whole user area is
            // erased: a missing, damaged or too long file must leave the program that
            // is there.
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
        write_options.erase_pages = options_.erase == EraseBefore::Pages && !flash_blank_;
        flash_blank_ = false;
    }
    reporter_.begin(Operation::Write, step.memory);
    const int code = report(p.write(step.memory, step.file, reporter_, write_options));
    // The programmer lays the number into the image of its memory's file.
    if (code == kOk && options_.serial && step.memory == options_.serial->place.memory) serial_written_ = true;
    if (code != kOk || !options_.verify_after_write || cancel_.pending()) return code;
    reporter_.begin(Operation::Verify, step.memory);
    return report(p.verify(step.memory, step.file, reporter_));
}

int Session::list_ports() {
    std::vector<std::string> names = scan_serial_ports(serial_port_candidates());
    sort_ports_by_number(names);
    std::vector<PortDescription> descriptions;
    descriptions.reserve(names.size());
    for (const std::string& name : names) descriptions.push_back(describe_serial_port(name));
    reporter_.ports(names, descriptions, port_count_text(static_cast<int>(names.size())));
    return kOk;
}

}  // namespace zarvik::cli
