#include "cli/batch.h"

#include <algorithm>
#include <thread>

#include "cli/console.h"
#include "loader/handshake.h"
#include "loader/loader_signature.h"
#include "memory/file_io.h"
#include "memory/serial_number.h"
#include "platform/durable_file.h"
#include "serial/port_scan.h"
#include "serial/serial_port.h"
#include "text/language.h"

namespace zarvik::cli {
namespace {

// How often a waiting port asks for a loader. Well under the shortest start-up wait a
// loader may be given (half a second), so a board that was reset is never missed.
constexpr std::int64_t kPollMs = 150;
// Probes in a row without an answer after which a board left in its loader counts as
// gone. One lost answer must not make it look like a new one.
constexpr int kSilentProbesForGone = 3;

int severity(int code) {
    switch (code) {
        case kOk: return 0;
        case kUsage: return 1;
        case kFile: return 2;
        case kWrongDevice: return 3;
        case kDifferences: return 4;
        case kLink: return 5;
        default: return 6;  // a stop: 128 plus the signal's number
    }
}

// The files the chain writes or compares, each once, with the CRC-32 of its bytes.
std::vector<FileRecord> files_of(const std::vector<Step>& plan) {
    std::vector<FileRecord> files;
    for (const Step& step : plan) {
        if (step.kind != Step::Kind::Write && step.kind != Step::Kind::Verify) continue;
        const std::string memory = memory_word(step.memory);
        const bool seen = std::any_of(files.begin(), files.end(), [&](const FileRecord& f) {
            return f.memory == memory && f.path == step.file;
        });
        if (seen) continue;
        FileRecord file{memory, step.file, std::nullopt};
        std::string bytes;
        if (!read_whole_file(step.file, bytes)) {
            file.crc32 = crc32(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
        }
        files.push_back(std::move(file));
    }
    return files;
}

}  // namespace

int worse_exit_code(int a, int b) { return severity(b) > severity(a) ? b : a; }

Batch::Batch(const SessionOptions& base, const BatchOptions& options, BatchView& view, Clock& clock, Cancellation& stop)
    : base_(base), options_(options), view_(view), clock_(clock), stop_(stop), log_(options.log_path, options.csv_path),
      boards_(options.positions.size()), tallies_(options.positions.size()) {}

void Batch::use_link(const std::string& port, ByteLink& link, Clock& clock) { lines_[port] = {&link, &clock}; }

// What the batch keeps of each board must be keepable before the first board is touched:
// found only afterwards, a board would be programmed with no record.
std::optional<std::string> Batch::check_before_first_board() const {
    if (auto error = log_.check()) return tr_string("cli", "в журнал нельзя писать: ") + *error;
    if (base_.serial) return serial_counter_problem(*base_.serial);
    return std::nullopt;
}

int Batch::run(const std::vector<Step>& plan) {
    if (auto problem = check_before_first_board()) {
        view_.problem(*problem);
        return kFile;
    }
    std::vector<std::thread> threads;
    threads.reserve(options_.positions.size());
    for (std::size_t i = 0; i < options_.positions.size(); ++i) {
        threads.emplace_back([this, i, &plan] {
            if (options_.repeat) run_repeatedly(i, plan);
            else run_once(i, plan);
        });
    }
    for (std::thread& t : threads) t.join();
    const std::lock_guard lock(mutex_);
    if (options_.positions.size() > 1 || options_.repeat) {
        BatchSummary summary;
        summary.all = all_;
        for (const auto& position : boards_) {
            for (const BoardRecord& b : position) {
                if (b.serial && b.serial_spoiled) ++summary.spoiled;
                else if (b.serial) ++summary.numbers_used;
                summary.boards.push_back(b);
            }
        }
        view_.summary(summary);
    }
    return exit_code_;
}

bool Batch::taking_boards() const {
    const std::lock_guard lock(mutex_);
    return taking_;
}

void Batch::run_once(std::size_t index, const std::vector<Step>& plan) {
    const auto line = lines_.find(options_.positions[index].port);
    const bool given = line != lines_.end();
    run_board(index, plan, given ? *line->second.clock : clock_, given ? line->second.link : nullptr, stop_);
}

// A board is taken when its loader answers on the port: it was reset, or plugged in.
// After `start` its program runs, and its loader answers again only after a reset: any
// answer then is the next board (or the same one, reset), and is programmed. A board
// whose program was not started is still in its loader: it is said so, and it is not
// programmed again until it has gone (its loader silent, or its port away). A stop ends
// the waiting; a board that has answered is programmed to its end.
void Batch::run_repeatedly(std::size_t index, const std::vector<Step>& plan) {
    const Position& position = options_.positions[index];
    const auto given = lines_.find(position.port);
    Clock& clock = given != lines_.end() ? *given->second.clock : clock_;
    std::unique_ptr<SerialPort> port;
    std::string port_problem;  // why the port did not open, said once until it does
    const std::string waiting = tr_string("cli", "ждём плату");
    auto open_line = [&]() -> ByteLink* {
        if (given != lines_.end()) return given->second.link;
        if (port) return port.get();
        auto opened = std::make_unique<SerialPort>(clock);
        opened->set_cancellation(&stop_);
        if (!opened->open(position.port) || !opened->set_speed(base_.baud)) {
            if (opened->error_text() != port_problem) {
                port_problem = opened->error_text();
                view_.note(position, port_problem + tr_string("cli", "; ждём, когда порт появится"));
            }
            return nullptr;
        }
        port = std::move(opened);
        if (!port_problem.empty()) {
            port_problem.clear();
            view_.note(position, waiting);
        }
        return port.get();
    };
    // Sends the sync once; LineLost when the line is gone (the port is closed then).
    auto probe = [&]() {
        ByteLink* link = open_line();
        if (link == nullptr) return HandshakeOutcome::LineLost;
        LoaderProtocol protocol(*link, clock);
        const HandshakeOutcome h = connect_to_loader(protocol);
        if (h == HandshakeOutcome::LineLost) port.reset();
        return h;
    };
    auto pause = [&] {
        if (!stop_.pending()) clock.sleep_ms(kPollMs);
    };
    view_.note(position, waiting);
    while (!stop_.pending() && taking_boards()) {
        if (probe() != HandshakeOutcome::Connected) {
            pause();
            continue;
        }
        // The stop asked for from now on waits for this board's end.
        Cancellation board;
        if (port) port->set_cancellation(&board);
        const BoardRecord record = run_board(index, plan, clock, open_line(), board);
        if (port) port->set_cancellation(&stop_);
        if (!record.logged) break;
        if (record.program_started()) {
            view_.note(position, tr_string("cli", "ждём следующую плату"));
            continue;
        }
        bool said = false;
        for (int silent = 0; silent < kSilentProbesForGone;) {
            pause();
            if (stop_.pending()) break;
            const HandshakeOutcome h = probe();
            if (h == HandshakeOutcome::LineLost) break;
            if (h != HandshakeOutcome::Connected) {
                ++silent;
                continue;
            }
            silent = 0;
            if (!said) view_.note(position, tr_string("cli", "плата всё ещё в загрузчике: повторно не программируется"));
            said = true;
        }
        if (!stop_.pending()) view_.note(position, tr_string("cli", "плата снята, ждём следующую"));
    }
    if (!taking_boards()) view_.note(position, tr_string("cli", "журнал не записан: новые платы не принимаются"));
}

BoardRecord Batch::run_board(std::size_t index, const std::vector<Step>& plan, Clock& clock, ByteLink* link,
                             Cancellation& cancel) {
    const Position& position = options_.positions[index];
    BoardRecord record;
    record.time = utc_timestamp();
    record.station = options_.station;
    record.host = host_name();
    record.position = position.name;
    record.port = position.port;
    record.adapter_serial = describe_serial_port(position.port).serial;
    record.files = files_of(plan);
    if (base_.serial) {
        record.serial_place = serial_place_text(base_.serial->place);
        record.serial_format = serial_format_text(base_.serial->layout);
    }
    const std::unique_ptr<Reporter> reporter = view_.board(position);
    RecordingReporter recording(*reporter, record);
    SessionOptions options = base_;
    options.port = position.port;
    const std::int64_t started = clock.now_ms();
    {
        Session session(options, recording, clock, cancel);
        if (link != nullptr) session.use_link(*link);
        record.exit_code = session.run(plan);
        const LoaderFacts facts = session.loader_facts();
        record.chip = facts.chip;
        record.chip_asked = facts.chip_asked;
        record.loader_kind = facts.kind;
        record.loader_version = facts.version;
    }
    record.milliseconds = clock.now_ms() - started;
    record.ended = utc_timestamp();
    record.serial_spoiled = record.serial.has_value() && !record.passed();
    finish(index, record);
    return record;
}

bool Batch::finish(std::size_t index, BoardRecord& record) {
    // The line is written before the board counts. One that cannot be kept fails the run,
    // since the record is what the batch is for, and no position takes another board:
    // it would have no record either.
    const auto log_error = log_.append(record);
    record.logged = !log_error;
    const std::lock_guard lock(mutex_);
    if (log_error) {
        exit_code_ = worse_exit_code(exit_code_, kFile);
        taking_ = false;
        view_.problem(port_prefix(options_.positions[index].label()) + tr_string("cli", "журнал не записан: ") +
                      *log_error + tr_string("cli", "; новые платы не принимаются"));
    }
    exit_code_ = worse_exit_code(exit_code_, record.exit_code);
    Tally& here = tallies_[index];
    ++(record.passed() ? here.passed : here.failed);
    ++(record.passed() ? all_.passed : all_.failed);
    boards_[index].push_back(record);
    // Under the lock, so that the counts reach the screen in the order they were made.
    view_.verdict(options_.positions[index], record, here, all_);
    return record.logged;
}

}  // namespace zarvik::cli
