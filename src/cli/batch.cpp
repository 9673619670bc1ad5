#include "cli/batch.h"

#include <algorithm>
#include <thread>

#include "cli/console.h"
#include "loader/handshake.h"
#include "loader/loader_signature.h"
#include "memory/file_io.h"
#include "platform/durable_file.h"
#include "serial/port_scan.h"
#include "serial/serial_port.h"
#include "text/language.h"

namespace zarvik::cli {
namespace {

// How often a waiting port asks for a loader. Well under the shortest start-up wait a
// loader may be given (half a second), so a board that was reset is never missed.
constexpr std::int64_t kPollMs = 150;
// Probes in a row without an answer after which the programmed board counts as gone. One
// lost answer must not make a board still in its loader look like a new one.
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
    : base_(base), options_(options), view_(view), clock_(clock), stop_(stop), log_(options.log_path, options.csv_path) {}

void Batch::use_link(const std::string& port, ByteLink& link, Clock& clock) { lines_[port] = {&link, &clock}; }

int Batch::run(const std::vector<Step>& plan) {
    std::vector<std::thread> threads;
    threads.reserve(options_.ports.size());
    for (const std::string& port : options_.ports) {
        threads.emplace_back([this, &port, &plan] {
            if (options_.repeat) run_port_repeatedly(port, plan);
            else run_port(port, plan);
        });
    }
    for (std::thread& t : threads) t.join();
    const std::lock_guard lock(mutex_);
    if (options_.ports.size() > 1 || options_.repeat || options_.always_summarise) view_.summary(summary_);
    return exit_code_;
}

void Batch::run_port(const std::string& port, const std::vector<Step>& plan) {
    const auto line = lines_.find(port);
    if (line != lines_.end()) run_board(port, plan, *line->second.clock, line->second.link, stop_);
    else run_board(port, plan, clock_, nullptr, stop_);
}

// A board is taken when its loader answers on the port (it was reset, or plugged in), and
// the next one only once that board has gone: its loader silent (the program it was given
// runs) or its port away. A board left in its loader keeps answering, so it is never
// programmed twice. A stop ends the waiting; the board under way runs to its end.
void Batch::run_port_repeatedly(const std::string& name, const std::vector<Step>& plan) {
    const auto given = lines_.find(name);
    Clock& clock = given != lines_.end() ? *given->second.clock : clock_;
    std::unique_ptr<SerialPort> port;
    auto open_line = [&]() -> ByteLink* {
        if (given != lines_.end()) return given->second.link;
        if (port) return port.get();
        port = std::make_unique<SerialPort>(clock);
        port->set_cancellation(&stop_);
        if (!port->open(name) || !port->set_speed(base_.baud)) port.reset();
        return port.get();
    };
    // Sends the sync once; None when the line is gone (the port is closed then).
    auto probe = [&](ByteLink& link) {
        LoaderProtocol protocol(link, clock);
        const HandshakeOutcome h = connect_to_loader(protocol);
        if (h == HandshakeOutcome::LineLost) port.reset();
        return h;
    };
    view_.note(name, tr_text("cli", "ждём плату"));
    while (!stop_.pending()) {
        ByteLink* link = open_line();
        if (link == nullptr || probe(*link) != HandshakeOutcome::Connected) {
            if (!stop_.pending()) clock.sleep_ms(kPollMs);
            continue;
        }
        // The stop asked for from now on waits for this board's end.
        Cancellation board;
        if (port) port->set_cancellation(&board);
        run_board(name, plan, clock, link, board);
        if (port) port->set_cancellation(&stop_);
        int silent = 0;
        while (!stop_.pending() && silent < kSilentProbesForGone) {
            clock.sleep_ms(kPollMs);
            if (!stop_.pending()) {
                ByteLink* again = open_line();
                const HandshakeOutcome h = again != nullptr ? probe(*again) : HandshakeOutcome::LineLost;
                if (h == HandshakeOutcome::LineLost) break;
                silent = h == HandshakeOutcome::Connected ? 0 : silent + 1;
            }
        }
        if (!stop_.pending()) view_.note(name, tr_text("cli", "плата снята, ждём следующую"));
    }
}

int Batch::run_board(const std::string& port, const std::vector<Step>& plan, Clock& clock, ByteLink* link,
                     Cancellation& cancel) {
    BoardRecord record;
    record.time = utc_timestamp();
    record.host = host_name();
    record.port = port;
    record.adapter_serial = describe_serial_port(port).serial;
    record.files = files_of(plan);
    const std::unique_ptr<Reporter> reporter = view_.board(port);
    RecordingReporter recording(*reporter, record);
    SessionOptions options = base_;
    options.port = port;
    const std::int64_t started = clock.now_ms();
    {
        Session session(options, recording, clock, cancel);
        if (link != nullptr) session.use_link(*link);
        record.exit_code = session.run(plan);
        const LoaderFacts facts = session.loader_facts();
        record.chip = facts.chip;
        record.loader_kind = facts.kind;
        record.loader_version = facts.version;
    }
    record.milliseconds = clock.now_ms() - started;
    record.serial_spoiled = record.serial.has_value() && !record.passed();
    const int code = record.exit_code;
    finish(std::move(record));
    return code;
}

void Batch::finish(BoardRecord record) {
    // The log line is written before the board counts: a line that cannot be kept fails
    // the run, since the record is what the batch is for.
    if (auto error = log_.append(record)) {
        view_.note(record.port, tr_text("cli", "журнал не записан: ") + *error);
        record.exit_code = worse_exit_code(record.exit_code, kFile);
    }
    const std::lock_guard lock(mutex_);
    exit_code_ = worse_exit_code(exit_code_, record.exit_code);
    if (record.passed()) ++summary_.passed;
    else ++summary_.failed;
    if (record.serial) ++summary_.numbers_used;
    if (record.serial_spoiled) ++summary_.spoiled;
    summary_.boards.push_back(std::move(record));
}

}  // namespace zarvik::cli
