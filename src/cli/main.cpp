// zarvik-cli: the programmer for Makefiles, CI jobs and production lines.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include <memory>
#include <optional>
#include <sstream>
#include <string_view>
#include <utility>
#include <variant>

#include "cli/command_plan.h"
#include "cli/batch.h"
#include "cli/batch_views.h"
#include "cli/console.h"
#include "cli/json_reporter.h"
#include "cli/positions.h"
#include "cli/session.h"
#include "cli/text_reporter.h"
#include "memory/serial_number.h"
#include "platform/durable_file.h"
#include "platform/system_language.h"
#include "production/serial_counter.h"
#include "serial/serial_port.h"
#include "text/language.h"
#include "zarvik_version.h"

namespace {

using namespace zarvik;
using namespace zarvik::cli;

// A stop only records the request: the operation stops after the transaction under
// way, and not at all while the loader's own block is being rewritten.
Cancellation g_cancel;

// An option's words and what each means, for CLI11's check and for the session.
template <typename T>
using Words = std::initializer_list<std::pair<const char*, T>>;

constexpr Words<EraseBefore> kEraseWords = {{"pages", EraseBefore::Pages}, {"all", EraseBefore::All},
                                            {"none", EraseBefore::None}};
constexpr Words<RoadChoice> kProtocolWords = {{"auto", RoadChoice::Auto}, {"plain", RoadChoice::Plain}};

template <typename T>
std::vector<std::string> words_of(Words<T> words) {
    std::vector<std::string> out;
    for (const auto& w : words) out.emplace_back(w.first);
    return out;
}

template <typename T>
T meaning_of(Words<T> words, const std::string& word) {
    for (const auto& w : words) {
        if (word == w.first) return w.second;
    }
    return words.begin()->second;  // CLI11 has let no other word through
}

// "@" stands for --simulate given without a model: the simulated chip is -m's.
constexpr const char* kSameModel = "@";

std::vector<std::string> model_names() {
    std::vector<std::string> names;
    names.reserve(kDeviceModels.size());
    for (const DeviceModel& m : kDeviceModels) names.emplace_back(m.name);
    return names;
}

// The model names joined by ", ", from `first` to before `end`.
std::string model_list(std::size_t first = 0, std::size_t end = kDeviceModels.size()) {
    std::string out;
    for (std::size_t i = first; i < end; ++i) {
        if (i > first) out += ", ";
        out += kDeviceModels[i].name;
    }
    return out;
}

template <typename... Texts>
std::string formatted(const char* format, const Texts&... texts) {
    const int n = std::snprintf(nullptr, 0, format, texts.c_str()...);
    std::string out(static_cast<std::size_t>(std::max(n, 0)) + 1, '\0');
    std::snprintf(out.data(), out.size(), format, texts.c_str()...);
    out.resize(out.size() - 1);
    return out;
}

// The command line as CLI11 reads it, before its words become the session's options.
struct CommandLine {
    std::vector<std::string> ports;  // -p, as often as given
    std::string port_list;           // --ports, one list
    int baud = 115200;
    std::string model{kDefaultModel.name};
    bool force = false;
    std::string erase = "pages";
    bool no_verify = false;
    std::string reset;
    std::string simulate;
    bool quiet = false;
    bool json = false;
    std::string protocol = "auto";
    std::vector<std::string> words;
    bool repeat = false;
    std::string log;
    std::string log_csv;
    std::string serial_at;
    std::string serial_format = "u32le";
    std::string serial_file;
    std::optional<std::uint64_t> serial_start;
    std::string station;
    std::string rerun_failed;
};

// The production line's options, checked against each other and the command chain;
// the usage error's text when they do not fit.
std::optional<std::string> batch_usage_error(const CommandLine& line, const std::vector<Position>& positions,
                                             const std::vector<Step>& plan) {
    const bool several = positions.size() > 1 || line.repeat;
    for (const Step& step : plan) {
        if (several && (step.kind == Step::Kind::Monitor || step.kind == Step::Kind::Ports)) {
            return tr_text("cli", "ports и monitor не сочетаются с несколькими портами и --repeat");
        }
    }
    if (line.repeat && (positions.empty() || !line.simulate.empty())) {
        return tr_text("cli", "--repeat ждёт плату на порту: укажите --port, без --simulate");
    }
    if (!line.rerun_failed.empty() && positions.empty()) {
        return tr_text("cli", "--rerun-failed выбирает из мест --ports и -p: укажите их");
    }
    if (!line.serial_at.empty() && line.serial_file.empty()) {
        return tr_text("cli", "--serial-at берёт номера из файла счётчика: укажите --serial-file");
    }
    if (line.serial_at.empty() && (!line.serial_file.empty() || line.serial_start)) {
        return tr_text("cli", "--serial-file и --serial-start действуют только с --serial-at");
    }
    return std::nullopt;
}

// The verdicts' colours, unless the user or the terminal asks for none (NO_COLOR, a
// dumb terminal).
bool colour_wanted() {
    const char* no_colour = std::getenv("NO_COLOR");
    const char* term = std::getenv("TERM");
    return (no_colour == nullptr || *no_colour == '\0') && (term == nullptr || std::string_view(term) != "dumb");
}

// A terminal that redraws a block of lines in place; a Windows console without its
// terminal mode would print the escapes, so there each event takes a line.
bool live_lines_supported() {
#if defined(_WIN32)
    return false;
#else
    return true;
#endif
}

}  // namespace

static int run(Console& console) {
    int argc = console.argc();
    char** argv = console.argv();
    set_language(language_for_arguments(argc, argv, system_language()));
    CommandLine line;
    CLI::App app{formatted(tr_text("cli-help",
                                   "Zarvik: erase, write, verify and read the flash and EEPROM of AVR microcontrollers\n"
                                   "(%s) through their resident loader."),
                           model_list()),
                 "zarvik-cli"};
    app.footer(tr_text("cli-help", kCommandHelp));
    app.set_version_flag("--version", "zarvik-cli " ZARVIK_VERSION);
    // "/x" is a path here, also on Windows, where CLI11 would take it for an option.
    app.allow_windows_style_options(false);
    std::vector<std::string> speeds;
    for (int s : kLineSpeeds) speeds.push_back(std::to_string(s));
    app.add_option("-p,--port", line.ports, tr_text("cli-help", kPortExample))
        ->expected(1)
        ->allow_extra_args(false)  // one path an occurrence: the words after it are commands
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_option("--ports", line.port_list,
                   tr_text("cli-help", "several ports, separated by commas: the same commands run on each board at once; NAME=PATH names a fixture position"))
        ->expected(1)
        ->allow_extra_args(false);  // one list: the words after it are commands
    app.add_flag("--repeat", line.repeat,
                 tr_text("cli-help", "on each port, wait for a board, program it, and wait for the next (after `start`, a reset is the next board); Ctrl-C ends once the boards under way are done"));
    app.add_option("--log", line.log, tr_text("cli-help", "append one JSON line for each board to this file"));
    app.add_option("--log-csv", line.log_csv, tr_text("cli-help", "append one CSV line for each board to this file"));
    app.add_option("--station", line.station, tr_text("cli-help", "the station's name in the log (default: the host's name)"));
    app.add_option("--rerun-failed", line.rerun_failed,
                   tr_text("cli-help", "run again only the positions whose last line in this JSON log failed"));
    app.add_option("--serial-at", line.serial_at, tr_text("cli-help", "give each board a serial number at eeprom:ADDR or flash:ADDR"))
        ->check([](const std::string& text) {
            return parse_serial_place(text) ? std::string() : std::string(tr_text("cli-help", "expected eeprom:ADDR or flash:ADDR"));
        });
    app.add_option("--serial-format", line.serial_format, tr_text("cli-help", "u16le, u16be, u32le, u32be or ascii:N (decimal, N digits)"))
        ->check([](const std::string& text) {
            return parse_serial_format(text) ? std::string() : std::string(tr_text("cli-help", "expected u16le, u16be, u32le, u32be or ascii:N"));
        })
        ->capture_default_str();
    app.add_option("--serial-file", line.serial_file, tr_text("cli-help", "the file that holds the next serial number"));
    app.add_option("--serial-start", line.serial_start, tr_text("cli-help", "the first number, when the serial file does not exist yet"));
    app.add_option("-b,--baud", line.baud, tr_text("cli-help", "line speed"))
        ->check(CLI::IsMember(speeds))
        ->capture_default_str();
    auto* model_option =
        app.add_option("-m,--model", line.model,
                       formatted(tr_text("cli-help", "%s or %s; without it, the model the chip shows"),
                                 model_list(0, kDeviceModels.size() - 1), model_list(kDeviceModels.size() - 1)))
            ->check(CLI::IsMember(model_names()));
    app.add_flag("--force", line.force,
                 tr_text("cli-help", "go on with a loader whose first block is not recognised, and accept a wait under 0.5 s or a clock outside 1-20 MHz; never another model than --model"));
    app.add_option("--erase", line.erase,
                   tr_text("cli-help", "before `write flash`: erase just the pages written (pages), the whole user area (all), or nothing (none)"))
        ->check(CLI::IsMember(words_of(kEraseWords)))
        ->capture_default_str();
    app.add_flag("--no-verify", line.no_verify, tr_text("cli-help", "do not verify after write"));
    app.add_option("--protocol", line.protocol,
                   tr_text("cli-help", "auto: our loader's checked session when its first block shows protocol version 2; plain: only the plain four-byte commands"))
        ->check(CLI::IsMember(words_of(kProtocolWords)))
        ->capture_default_str();
    std::string lang;
    app.add_option("--lang", lang, tr_text("cli-help", "language of the messages: en or ru (default: the system's; Russian when unset)"))
        ->check(CLI::IsMember({"en", "ru"}));
    app.add_option("--reset", line.reset, tr_text("cli-help", "pulse DTR before connecting, for boards whose reset follows it"))
        ->check(CLI::IsMember({"dtr"}));
    std::vector<std::string> simulated{kSameModel};
    for (const std::string& name : model_names()) simulated.push_back(name);
    app.add_flag(std::string("--simulate{") + kSameModel + "}", line.simulate,
                 tr_text("cli-help", "run against a simulated loader in this process (--simulate=MODEL for another model than --model)"))
        ->check(CLI::IsMember(simulated))
        ->option_text("[=MODEL]");
    auto* quiet = app.add_flag("-q,--quiet", line.quiet, tr_text("cli-help", "print failures only"));
    app.add_flag("--json", line.json, tr_text("cli-help", "print one JSON object a line for each progress step and result"))
        ->excludes(quiet);
    app.add_option("command", line.words, tr_text("cli-help", "COMMAND [ARGS] [COMMAND [ARGS] ...], see below"))
        ->required()
        ->option_text(" ");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        std::ostringstream out;
        std::ostringstream err;
        const int code = app.exit(e, out, err);
        write_text(stdout, out.str());
        write_text(stderr, err.str());
        return code == 0 ? kOk : kUsage;
    }
    auto plan = parse_plan(line.words);
    if (auto* error = std::get_if<std::string>(&plan)) {
        print(stderr, "zarvik-cli: %s\nRun with --help for more information.\n", error->c_str());
        return kUsage;
    }

    std::vector<std::string> port_words = line.ports;
    for (const std::string& word : split_port_words(line.port_list)) port_words.push_back(word);
    auto parsed_positions = parse_positions(port_words);
    const std::string* usage_error = std::get_if<std::string>(&parsed_positions);
    std::optional<std::string> batch_error;
    if (usage_error == nullptr) {
        batch_error = batch_usage_error(line, std::get<std::vector<Position>>(parsed_positions), std::get<std::vector<Step>>(plan));
        if (batch_error) usage_error = &*batch_error;
    }
    if (usage_error != nullptr) {
        print(stderr, "zarvik-cli: %s\nRun with --help for more information.\n", usage_error->c_str());
        return kUsage;
    }
    std::vector<Position> positions = std::get<std::vector<Position>>(std::move(parsed_positions));
    const std::string station = line.station.empty() ? host_name() : line.station;
    if (!line.rerun_failed.empty()) {
        const auto outcomes = last_outcomes(line.rerun_failed, station);
        if (const auto* error = std::get_if<std::string>(&outcomes)) {
            print(stderr, "zarvik-cli: %s\n", error->c_str());
            return kFile;
        }
        positions = failed_positions(positions, std::get<LastOutcomes>(outcomes));
        if (positions.empty()) {
            if (!line.quiet) {
                print(stderr, tr_text("cli", "zarvik-cli: в журнале %s нет мест станции %s с отказом: запускать нечего\n"),
                      line.rerun_failed.c_str(), station.c_str());
            }
            return kOk;
        }
    }
    const bool named = std::any_of(positions.begin(), positions.end(), [](const Position& p) { return !p.name.empty(); });

    SessionOptions options;
    options.port = positions.empty() ? std::string() : positions.front().port;
    options.baud = line.baud;
    options.model = *find_device_model(line.model);
    options.model_given = model_option->count() > 0;
    options.force = line.force;
    options.erase = meaning_of(kEraseWords, line.erase);
    options.verify_after_write = !line.no_verify;
    options.pulse_dtr = line.reset == "dtr";
    if (!line.simulate.empty()) {
        options.simulate = line.simulate == kSameModel ? options.model : *find_device_model(line.simulate);
    }
    options.road = meaning_of(kProtocolWords, line.protocol);

    Console::on_stop(g_cancel);
    SteadyClock clock;
    std::unique_ptr<Reporter> reporter;  // a single board's, outside a batch
    if (line.json) {
        reporter = std::make_unique<JsonReporter>();
    } else {
        reporter = std::make_unique<TextReporter>(line.quiet ? TextReporter::Verbosity::Quiet : TextReporter::Verbosity::Normal,
                                                  console.stderr_is_terminal(), clock);
    }
    const std::vector<Step>& steps = std::get<std::vector<Step>>(plan);
    const bool batch = positions.size() > 1 || named || line.repeat || !line.log.empty() || !line.log_csv.empty() ||
                       !line.serial_at.empty() || !line.rerun_failed.empty();
    if (!batch) {
        Session session(options, *reporter, clock, g_cancel);
        return session.run(steps);
    }
    std::optional<SerialCounter> counter;
    if (!line.serial_at.empty()) {
        counter.emplace(line.serial_file, line.serial_start);
        options.serial = SerialNumbering{*parse_serial_place(line.serial_at), *parse_serial_format(line.serial_format),
                                         &*counter};
    }
    BatchOptions batch_options;
    batch_options.positions = positions.empty() ? std::vector<Position>{Position{}} : positions;
    batch_options.repeat = line.repeat;
    batch_options.log_path = line.log;
    batch_options.csv_path = line.log_csv;
    batch_options.station = station;
    const bool several = batch_options.positions.size() > 1;
    // Each board's verdict and the closing table, where more than one board may run.
    const bool verdicts = several || line.repeat;
    std::unique_ptr<BatchView> view;
    if (line.json) {
        view = std::make_unique<JsonBatchView>();
    } else if (verdicts && !line.quiet && console.stderr_is_terminal() && live_lines_supported()) {
        view = std::make_unique<LiveLinesView>(batch_options.positions, colour_wanted(), clock);
    } else {
        // A single board keeps its progress bar on a terminal.
        view = std::make_unique<EventLinesView>(line.quiet ? TextReporter::Verbosity::Quiet : TextReporter::Verbosity::Normal,
                                                several || named, verdicts, !several && console.stderr_is_terminal(), clock);
    }
    Batch runner(options, batch_options, *view, clock, g_cancel);
    return runner.run(steps);
}

int main(int argc, char** argv) {
    try {
        Console console(argc, argv);
        return run(console);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zarvik-cli: %s\n", e.what());
        return 3;
    }
}
