// Several boards at once from one command, in process: each on its own simulated loader
// and fake clock, the serial numbers from a real counter file, the log read back as
// JSON Lines.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "cli/batch_views.h"
#include "cli/positions.h"
#include "memory/intel_hex_writer.h"
#include "memory/serial_number.h"
#include "platform/file_calls.h"
#include "production/serial_counter.h"
#include "programmer/status_texts.h"
#include "support/cli_run.h"
#include "support/temp_dir.h"
#include "text/language.h"

namespace zarvik {
namespace {

using testing::drained;
using testing::SimBoard;
using testing::TempDir;

// A board whose cable a script plugs in and whose reset button it presses, at times on
// the board's own clock or a time after each start of its program, and which asks the
// batch to stop at a time or once the host has sent some bytes: everything happens on
// the batch's thread, in the same order on every run.
class ScriptedLine final : public ByteLink {
public:
    ScriptedLine(SimBoard& board, Cancellation& stop) : board_(board), stop_(stop) {}

    std::vector<std::int64_t> resets_ms;  // the first one plugs the board in
    std::vector<std::int64_t> resets_after_start_ms;  // one for each start of the program, in turn
    std::int64_t stop_ms = 0;
    std::size_t stop_after_bytes = 0;  // sent by the host once the board is plugged in
    bool plugged_at_start = false;

    bool write(std::span<const std::uint8_t> bytes) override {
        follow_script();
        if (!plugged()) return true;
        sent_ += bytes.size();
        if (stop_after_bytes > 0 && sent_ >= stop_after_bytes) stop_.request();
        return board_.link.write(bytes);
    }
    ReadResult read(std::span<std::uint8_t> into) override {
        follow_script();
        if (plugged()) return board_.link.read(into);
        board_.clock.sleep_ms(100);  // nobody answers a board that is not there
        return {};
    }
    void discard_input() override { board_.link.discard_input(); }

private:
    bool plugged() const { return plugged_at_start || next_reset_ > 0; }
    void follow_script() {
        const std::int64_t now = board_.clock.now_ms();
        const bool running = board_.loader.program_running();
        if (running && !was_running_ && next_after_start_ < resets_after_start_ms.size()) {
            resets_ms.push_back(now + resets_after_start_ms[next_after_start_++]);
        }
        was_running_ = running;
        while (next_reset_ < resets_ms.size() && now >= resets_ms[next_reset_]) {
            board_.loader.press_reset();
            ++next_reset_;
        }
        if (stop_ms > 0 && now >= stop_ms) stop_.request();
    }

    SimBoard& board_;
    Cancellation& stop_;
    std::size_t next_reset_ = 0;
    std::size_t next_after_start_ = 0;
    bool was_running_ = false;
    std::size_t sent_ = 0;
};

struct BatchRun {
    int code = -1;
    std::string out;
    std::string err;
};

// The boards of a batch, each on its own simulated chip with our loader.
class Boards {
public:
    explicit Boards(std::vector<std::string> ports, SimFaults faults = {}, const char* model = "ATmega328")
        : ports_(std::move(ports)) {
        for (std::size_t i = 0; i < ports_.size(); ++i) {
            boards_.push_back(std::make_unique<SimBoard>(model, faults, LoaderKind::Ours));
        }
    }
    SimBoard& operator[](const std::string& port) { return *boards_[index(port)]; }
    const std::vector<std::string>& ports() const { return ports_; }

    // `lines` replace a board's own line where given.
    BatchRun run(const cli::SessionOptions& session, cli::BatchOptions options, const std::vector<std::string>& words,
                 bool json = false, std::map<std::string, ByteLink*> lines = {}, Cancellation* stop = nullptr) {
        options.positions.clear();
        for (const std::string& port : ports_) options.positions.push_back({{}, port});
        const auto plan = cli::parse_plan(words);
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        FakeClock clock;
        cli::EventLinesView text(cli::TextReporter::Verbosity::Normal, ports_.size() > 1,
                                 ports_.size() > 1 || options.repeat, false, clock, out, err);
        cli::JsonBatchView json_view(out, err);
        Cancellation own_stop;
        cli::Batch batch(session, options, json ? static_cast<cli::BatchView&>(json_view) : text, clock,
                         stop != nullptr ? *stop : own_stop);
        for (const std::string& port : ports_) {
            SimBoard& board = (*this)[port];
            const auto line = lines.find(port);
            batch.use_link(port, line != lines.end() ? *line->second : static_cast<ByteLink&>(board.link), board.clock);
        }
        BatchRun run;
        run.code = batch.run(std::get<std::vector<cli::Step>>(plan));
        run.out = drained(out);
        run.err = drained(err);
        return run;
    }

private:
    std::size_t index(const std::string& port) const {
        return static_cast<std::size_t>(std::find(ports_.begin(), ports_.end(), port) - ports_.begin());
    }
    std::vector<std::string> ports_;
    std::vector<std::unique_ptr<SimBoard>> boards_;
};

std::vector<QJsonObject> json_lines(const std::string& text) {
    std::vector<QJsonObject> objects;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
        EXPECT_TRUE(doc.isObject()) << line;
        objects.push_back(doc.object());
    }
    return objects;
}

std::string read_text(const std::string& path) {
    std::ifstream in(testing::native(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

cli::SessionOptions with_serial(SerialCounter& counter, const char* place, const char* format) {
    cli::SessionOptions options;
    options.model = *find_device_model("ATmega328");
    options.model_given = true;
    options.serial = cli::SerialNumbering{*parse_serial_place(place), *parse_serial_format(format), &counter};
    return options;
}

std::vector<std::uint8_t> program_bytes(std::size_t size, std::uint8_t seed = 1) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + seed);
    return bytes;
}

// A program of `size` bytes from address 0.
std::string program_file(TempDir& dir, std::size_t size, std::uint8_t seed = 1) {
    return dir.write("program.hex", to_intel_hex(program_bytes(size, seed)));
}

std::uint32_t u32le_at(std::span<const std::uint8_t> memory, std::uint32_t address) {
    return memory[address] | memory[address + 1] << 8 | memory[address + 2] << 16 |
           static_cast<std::uint32_t>(memory[address + 3]) << 24;
}

class Batch : public ::testing::Test {
protected:
    void SetUp() override { set_language(Language::Russian); }
};

TEST_F(Batch, ThreeBoardsGetThreeNumbersEachInItsPlaceAndVerified) {
    TempDir dir;
    const std::string program = program_file(dir, 1000);
    SerialCounter counter(dir.file("serial.txt"), 1000);
    Boards boards({"A", "B", "C"});
    for (const std::string& port : boards.ports()) {
        std::fill(boards[port].loader.eeprom().begin(), boards[port].loader.eeprom().end(), 0x5A);
    }
    cli::BatchOptions options;
    options.log_path = dir.file("boards.jsonl");
    const BatchRun run = boards.run(with_serial(counter, "eeprom:0x20", "u32le"), options,
                                    {"write", "flash", program}, false);
    ASSERT_EQ(run.code, cli::kOk) << run.out << run.err;

    std::set<std::uint32_t> numbers;
    for (const QJsonObject& line : json_lines(read_text(dir.file("boards.jsonl")))) {
        const std::string port = line["port"].toString().toStdString();
        const auto number = static_cast<std::uint32_t>(line["serial"].toDouble());
        SimBoard& board = boards[port];
        EXPECT_EQ(u32le_at(board.loader.eeprom(), 0x20), number) << port;
        // Only the number's own bytes changed in the EEPROM.
        EXPECT_EQ(board.loader.eeprom()[0x1F], 0x5A);
        EXPECT_EQ(board.loader.eeprom()[0x24], 0x5A);
        EXPECT_EQ(line["outcome"].toString(), "passed");
        EXPECT_EQ(line["serial_state"].toString(), "used");
        QStringList steps;
        for (const QJsonValue op : line["operations"].toArray()) {
            const QString memory = op["memory"].toString();
            steps << op["operation"].toString() + (memory.isEmpty() ? "" : " " + memory) + " " + op["outcome"].toString();
        }
        EXPECT_EQ(steps.join(", ").toStdString(), "connect success, write flash success, verify flash success, write eeprom success, "
                                    "verify eeprom success") << port;
        numbers.insert(number);
    }
    EXPECT_EQ(numbers, (std::set<std::uint32_t>{1000, 1001, 1002}));
    EXPECT_EQ(std::get<std::uint64_t>(counter.peek()), 1003u);
    // Each board's result line names its port; the table counts three.
    for (const char* port : {"A: ", "B: ", "C: "}) EXPECT_NE(run.out.find(port), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Плат: 3, годных: 3, с отказом: 0; номеров использовано: 3, испорчено: 0"), std::string::npos)
        << run.out;
}

TEST_F(Batch, TheNumberInFlashKeepsTheRestOfItsPage) {
    TempDir dir;
    const std::string program = program_file(dir, 300);
    SerialCounter counter(dir.file("serial.txt"), 7);
    Boards boards({"A"});
    // Calibration bytes beside the number, in the page the file does not reach.
    auto flash = boards["A"].loader.flash();
    for (std::uint32_t a = 0x7B00; a < 0x7B80; ++a) flash[a] = static_cast<std::uint8_t>(a);
    const BatchRun run = boards.run(with_serial(counter, "flash:0x7B10", "ascii:6"), {}, {"write", "flash", program});
    ASSERT_EQ(run.code, cli::kOk) << run.out << run.err;
    EXPECT_EQ(std::string(flash.begin() + 0x7B10, flash.begin() + 0x7B16), "000007");
    EXPECT_EQ(flash[0x7B0F], 0x0F);
    EXPECT_EQ(flash[0x7B16], 0x16);
    EXPECT_EQ(flash[0], 1);  // the program is there too
}

TEST_F(Batch, FailedAndUnpluggedBoardsAreLoggedAndTheirNumbersSpoiled) {
    TempDir dir;
    const std::string program = program_file(dir, 2000);
    SerialCounter counter(dir.file("serial.txt"), 1);
    Boards boards({"ok", "flaky", "pulled"});
    SimFaults flipped;
    flipped.corrupt_at = 0x100;  // this board programs one byte wrong
    boards["flaky"].loader.misbehave(flipped);
    SimFaults gone;
    gone.line_gone_after = 600;  // the cable comes out during the write
    boards["pulled"].loader.misbehave(gone);
    cli::BatchOptions options;
    options.log_path = dir.file("boards.jsonl");
    options.csv_path = dir.file("boards.csv");
    const BatchRun run = boards.run(with_serial(counter, "eeprom:0", "u16be"), options, {"write", "flash", program},
                                    true);
    EXPECT_EQ(run.code, cli::kLink) << "a lost line is worse than differences";

    std::map<std::string, QJsonObject> by_port;
    for (const QJsonObject& line : json_lines(read_text(dir.file("boards.jsonl")))) {
        by_port[line["port"].toString().toStdString()] = line;
        EXPECT_FALSE(line["time"].toString().isEmpty());
        EXPECT_TRUE(line["time"].toString().endsWith("Z"));
        EXPECT_EQ(line["chip"].toString(), "ATmega328");
        EXPECT_EQ(line["loader"].toString(), "zarvik");
        EXPECT_EQ(line["loader_version"].toInt(), 2);
        EXPECT_EQ(line["files"][0]["name"].toString().toStdString(), program);
        EXPECT_EQ(line["files"][0]["crc32"].toString().size(), 8);
    }
    ASSERT_EQ(by_port.size(), 3u);
    EXPECT_EQ(by_port["ok"]["outcome"].toString(), "passed");
    EXPECT_EQ(by_port["ok"]["serial_state"].toString(), "used");
    EXPECT_EQ(by_port["flaky"]["exit_code"].toInt(), cli::kDifferences);
    EXPECT_EQ(by_port["pulled"]["exit_code"].toInt(), cli::kLink);
    for (const char* port : {"flaky", "pulled"}) {
        EXPECT_EQ(by_port[port]["outcome"].toString(), "failed") << port;
        EXPECT_EQ(by_port[port]["serial_state"].toString(), "spoiled") << port;
    }
    // Every progress and result object names its port; the run ends with the summary.
    const std::vector<QJsonObject> events = json_lines(run.out);
    ASSERT_FALSE(events.empty());
    for (std::size_t i = 0; i + 1 < events.size(); ++i) EXPECT_TRUE(events[i].contains("port")) << i;
    EXPECT_EQ(events.back()["event"].toString(), "summary");
    EXPECT_EQ(events.back()["spoiled"].toInt(), 2);
    EXPECT_EQ(events.back()["numbers_used"].toInt(), 1) << "the spoiled ones apart";
    // The CSV keeps the same boards under one header.
    const std::string csv = read_text(dir.file("boards.csv"));
    EXPECT_EQ(csv.rfind("time,host,port,", 0), 0u) << csv;
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 4);
}

TEST_F(Batch, ExitCodeIsTheWorstBoardsInTheOrderOfSeverity) {
    using namespace cli;
    // From least to most severe.
    const std::vector<int> order = {kOk, kUsage, kFile, kWrongDevice, kDifferences, kLink, 130};
    for (std::size_t i = 0; i < order.size(); ++i) {
        for (std::size_t j = 0; j < order.size(); ++j) {
            EXPECT_EQ(worse_exit_code(order[i], order[j]), order[std::max(i, j)]) << order[i] << " " << order[j];
        }
    }
}

std::size_t count_of(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

TEST_F(Batch, RepeatProgramsABoardEachTimeItIsResetAndOnceWhileItStaysInItsLoader) {
    struct Case {
        const char* name;
        std::vector<std::string> tail;  // after the write
        std::vector<std::int64_t> resets_ms;
        std::vector<std::int64_t> resets_after_start_ms;
        bool plugged_at_start;
        int boards_programmed;
        bool said_still_in_loader;
    };
    const Case cases[] = {
        // Started after each programming: silent until the next reset.
        {"reset twice", {"start"}, {10'000, 20'000}, {}, false, 2, false},
        // Reset while the probes of the old rule still asked whether the board had gone:
        // the loader that answers them is the next board.
        {"reset 0.3 s after each start", {"start"}, {10'000}, {300, 300, 300}, false, 4, false},
        {"reset 0.5 s after each start", {"start"}, {10'000}, {500, 500}, false, 3, false},
        {"reset 1 s after each start", {"start"}, {10'000}, {1'000, 1'000}, false, 3, false},
        // Never started: it keeps answering, and is the same board all along; said once.
        {"left in its loader", {}, {}, {}, true, 1, true},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string program = program_file(dir, 500);
        Boards boards({"A"});
        Cancellation stop;
        ScriptedLine line(boards["A"], stop);
        line.resets_ms = c.resets_ms;
        line.resets_after_start_ms = c.resets_after_start_ms;
        line.plugged_at_start = c.plugged_at_start;
        line.stop_ms = 30'000;
        cli::BatchOptions options;
        options.repeat = true;
        options.log_path = dir.file("boards.jsonl");
        std::vector<std::string> words = {"write", "flash", program};
        words.insert(words.end(), c.tail.begin(), c.tail.end());
        cli::SessionOptions session;
        const BatchRun run = boards.run(session, options, words, false, {{"A", &line}}, &stop);
        EXPECT_EQ(run.code, cli::kOk) << c.name << run.out << run.err;
        EXPECT_EQ(json_lines(read_text(dir.file("boards.jsonl"))).size(), static_cast<std::size_t>(c.boards_programmed))
            << c.name;
        EXPECT_NE(run.out.find("Плат: " + std::to_string(c.boards_programmed) + ", годных: " +
                               std::to_string(c.boards_programmed)),
                  std::string::npos)
            << c.name << run.out;
        EXPECT_EQ(count_of(run.err, "всё ещё в загрузчике"), c.said_still_in_loader ? 1u : 0u) << c.name << run.err;
        // Each board's verdict stays with its number of boards at the position.
        EXPECT_EQ(count_of(run.out, "PASS"), static_cast<std::size_t>(c.boards_programmed)) << c.name << run.out;
    }
}

TEST_F(Batch, AStopWhileABoardIsWrittenUnderRepeatLetsThatBoardFinishAndPass) {
    TempDir dir;
    const std::string program = program_file(dir, 20'000);
    Boards boards({"A"});
    Cancellation stop;
    ScriptedLine line(boards["A"], stop);
    line.resets_ms = {1'000};
    line.stop_after_bytes = 4'000;  // well into the write
    cli::BatchOptions options;
    options.repeat = true;
    options.log_path = dir.file("boards.jsonl");
    const BatchRun run = boards.run({}, options, {"write", "flash", program, "start"}, false, {{"A", &line}}, &stop);
    EXPECT_TRUE(stop.pending());
    EXPECT_EQ(run.code, cli::kOk) << run.out << run.err;
    const auto lines = json_lines(read_text(dir.file("boards.jsonl")));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["outcome"].toString(), "passed") << run.err;
    EXPECT_EQ(boards["A"].loader.flash()[19'999], program_bytes(20'000)[19'999]);
}

TEST_F(Batch, ANumberOverTheFileOrTheLoaderIsRefusedBeforeAnythingIsSent) {
    TempDir dir;
    const std::string program = program_file(dir, 256);
    struct Case {
        const char* place;
        const char* format;
        const char* why;
    };
    const Case cases[] = {
        {"flash:0x80", "u32le", "файла"},          // on the program's bytes
        {"flash:0x7BFE", "u32le", "загрузчик"},     // reaches the loader
        {"eeprom:0x3FF", "u16le", "EEPROM"},       // past the EEPROM's end
    };
    for (const Case& c : cases) {
        SerialCounter counter(dir.file("serial.txt"), 1);
        Boards boards({"A"});
        cli::BatchOptions options;
        options.log_path = dir.file("boards.jsonl");
        const BatchRun run = boards.run(with_serial(counter, c.place, c.format), options, {"write", "flash", program});
        EXPECT_NE(run.code, cli::kOk) << c.place;
        EXPECT_TRUE(boards["A"].sent().empty()) << c.place;
        EXPECT_EQ(std::get<std::uint64_t>(counter.peek()), 1u) << c.place << ": no number taken";
        EXPECT_NE((run.out + run.err).find(c.why), std::string::npos) << c.place << run.out << run.err;
    }
}

TEST_F(Batch, ADamagedCounterFileIsRefusedBeforeAnythingIsSent) {
    TempDir dir;
    const std::string program = program_file(dir, 256);
    struct Case {
        const char* content;  // nullptr: no file, and no start given
        const char* format;
    };
    const Case cases[] = {
        {"", "u32le"}, {"twelve\n", "u32le"}, {"-5\n", "u32le"}, {"99999999999999999999999\n", "u32le"},
        {nullptr, "u32le"},
        {"65536\n", "u16le"},  // good, but no longer fits the format
        {"1000\n", "ascii:3"},
    };
    for (const Case& c : cases) {
        const std::string path = dir.file("serial.txt");
        std::filesystem::remove(testing::native(path));
        if (c.content != nullptr) dir.write("serial.txt", c.content);
        SerialCounter counter(path, std::nullopt);
        Boards boards({"A"});
        const BatchRun run = boards.run(with_serial(counter, "eeprom:0", c.format), {}, {"write", "flash", program});
        const std::string shown = c.content ? c.content : "(none)";
        EXPECT_EQ(run.code, cli::kFile) << shown;
        EXPECT_TRUE(boards["A"].sent().empty()) << shown;
        EXPECT_NE(run.err.find("serial.txt"), std::string::npos) << shown << run.err;
        if (c.content != nullptr) {
            EXPECT_EQ(read_text(path), c.content) << "the counter is left as it was";
        }
    }
}

TEST_F(Batch, AFileTheChipRefusesCostsNoNumber) {
    TempDir dir;
    // 8 KB: more than an ATmega8 has below its loader, which only the chip tells.
    const std::string program = program_file(dir, 8000);
    SerialCounter counter(dir.file("serial.txt"), 5);
    auto options = with_serial(counter, "eeprom:0", "u16le");
    options.model_given = false;
    Boards boards({"A"}, {}, "ATmega8");
    const BatchRun run = boards.run(options, {}, {"write", "flash", program});
    EXPECT_EQ(run.code, cli::kFile) << run.out << run.err;
    EXPECT_EQ(std::get<std::uint64_t>(counter.peek()), 5u);
    EXPECT_EQ(run.out.find("Серийный номер"), std::string::npos) << run.out;
}


// The fields of a CSV log's lines by the header's names (RFC 4180 quoting).
std::vector<std::map<std::string, std::string>> csv_records(const std::string& text) {
    std::vector<std::vector<std::string>> rows(1);
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') field += text[++i];
            else if (c == '"') quoted = false;
            else field += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            rows.back().push_back(std::move(field));
            field.clear();
        } else if (c == '\n') {
            rows.back().push_back(std::move(field));
            field.clear();
            rows.emplace_back();
        } else if (c != '\r') {
            field += c;
        }
    }
    std::vector<std::map<std::string, std::string>> records;
    for (std::size_t r = 1; r < rows.size(); ++r) {
        if (rows[r].empty()) continue;
        EXPECT_EQ(rows[r].size(), rows[0].size()) << "line " << r << " is not whole";
        std::map<std::string, std::string> record;
        for (std::size_t f = 0; f < rows[r].size() && f < rows[0].size(); ++f) record[rows[0][f]] = rows[r][f];
        records.push_back(std::move(record));
    }
    return records;
}

TEST_F(Batch, EveryFailedBoardCarriesTheScreensMessageInBothLogs) {
    struct Case {
        const char* name;
        SimFaults faults;
        const char* board;
        const char* asked;  // -m, or nullptr
        const char* message;
        bool part_written;  // the write stopped in its middle
    };
    SimFaults lost;
    lost.line_gone_after = 1'500;
    SimFaults differs;
    differs.corrupt_at = 0x100;
    SimFaults silent;
    silent.silent = true;
    const Case cases[] = {
        {"the port lost mid-write", lost, "ATmega328", nullptr, "Связь с портом потеряна при записи flash", true},
        {"differences on verify", differs, "ATmega328", nullptr, "Ошибка по адресу: 0100", false},
        {"a wrong chip", {}, "ATmega168", "ATmega328", "а выбран ATmega328", false},
        {"no answer from the loader", silent, "ATmega328", nullptr, "Соединение не удалось установить", false},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string program = program_file(dir, 4'000);
        Boards boards({"A"}, {}, c.board);
        boards["A"].loader.misbehave(c.faults);
        cli::SessionOptions session;
        if (c.asked != nullptr) {
            session.model = *find_device_model(c.asked);
            session.model_given = true;
        }
        cli::BatchOptions options;
        options.log_path = dir.file("boards.jsonl");
        options.csv_path = dir.file("boards.csv");
        const BatchRun run = boards.run(session, options, {"write", "flash", program});
        EXPECT_NE(run.code, cli::kOk) << c.name;
        const auto json = json_lines(read_text(dir.file("boards.jsonl")));
        const auto csv = csv_records(read_text(dir.file("boards.csv")));
        ASSERT_EQ(json.size(), 1u) << c.name;
        ASSERT_EQ(csv.size(), 1u) << c.name;
        const std::string error = json[0]["error"].toString().toStdString();
        EXPECT_NE(error.find(c.message), std::string::npos) << c.name << ": " << error;
        EXPECT_EQ(csv[0].at("error"), error) << c.name;
        EXPECT_NE((run.out + run.err).find(error), std::string::npos) << c.name << ": the screen showed it\n"
                                                                     << run.out << run.err;
        if (c.part_written) {
            // The bytes the loader confirmed, not the 4000 planned.
            const QJsonObject write = json[0]["operations"][1].toObject();
            EXPECT_EQ(write["operation"].toString(), "write") << c.name;
            EXPECT_GT(write["bytes"].toInt(), 0) << c.name;
            EXPECT_LT(write["bytes"].toInt(), 4'000) << c.name;
            EXPECT_EQ(std::to_string(write["bytes"].toInt()) + " B", csv[0].at("operations").substr(
                csv[0].at("operations").find("write flash link-error ") + 23, std::to_string(write["bytes"].toInt()).size() + 2))
                << c.name << ": " << csv[0].at("operations");
        }
    }
}

TEST_F(Batch, TheLogAndTheTableNameTheChipFoundAndAWrongChipTakesNoNumber) {
    struct Case {
        const char* name;
        const char* board;
        const char* asked;  // -m, or nullptr
        std::vector<std::string> words;
        const char* chip;
        const char* chip_asked;
        bool numbered;
        const char* table;
    };
    const Case cases[] = {
        {"another chip than -m", "ATmega328", "ATmega168", {"write", "flash"}, "ATmega328", "ATmega168", false,
         "ATmega328 (задан ATmega168)"},
        {"an ATmega88, which its loader shares with the ATmega8", "ATmega88", nullptr, {"write", "flash"}, "ATmega8/88",
         "", true, "ATmega8/88"},
        {"an ATmega88 asked for as such", "ATmega88", "ATmega88", {"write", "flash"}, "ATmega8/88", "", true,
         "ATmega8/88"},
        {"connect alone reads no chip", "ATmega328", nullptr, {"connect"}, "", "", false, nullptr},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string program = program_file(dir, 1'000);
        SerialCounter counter(dir.file("serial.txt"), 400);
        Boards boards({"A", "B"}, {}, c.board);
        cli::SessionOptions session;
        if (c.numbered || c.asked != nullptr) session = with_serial(counter, "eeprom:0x10", "u16le");
        if (std::string(c.words[0]) == "connect") session = {};
        session.model_given = c.asked != nullptr;
        if (c.asked != nullptr) session.model = *find_device_model(c.asked);
        std::vector<std::string> words = c.words;
        if (words[0] == "write") words.push_back(program);
        cli::BatchOptions options;
        options.log_path = dir.file("boards.jsonl");
        const BatchRun run = boards.run(session, options, words);
        for (const QJsonObject& line : json_lines(read_text(dir.file("boards.jsonl")))) {
            EXPECT_EQ(line["chip"].toString().toStdString(), c.chip) << c.name;
            EXPECT_EQ(line["chip_asked"].toString().toStdString(), c.chip_asked) << c.name;
            EXPECT_EQ(line["serial"].isNull(), !c.numbered) << c.name;
        }
        if (session.serial) {
            EXPECT_EQ(std::get<std::uint64_t>(counter.peek()), c.numbered ? 402u : 400u) << c.name;
        }
        if (c.table != nullptr) {
            EXPECT_NE(run.out.find(c.table), std::string::npos) << c.name << "\n" << run.out;
        }
    }
}

// Cuts short one write to a file whose name ends in `suffix`, the one after `skip` whole
// ones, as a disk that fills during it.
class FullDisk final : public FileCallWatcher {
public:
    FullDisk(std::string suffix, int skip) : suffix_(std::move(suffix)), skip_(skip) { watch_file_calls(this); }
    ~FullDisk() override { watch_file_calls(nullptr); }
    bool before(FileCall call, const std::string& path, std::size_t& bytes) override {
        const std::lock_guard lock(mutex_);
        if (call != FileCall::Write || !path.ends_with(suffix_) || skip_-- != 0) return true;
        bytes /= 2;
        return true;
    }

private:
    std::mutex mutex_;
    std::string suffix_;
    int skip_;
};

TEST_F(Batch, AFullDiskLeavesBothLogsWholeAndAgreeingWithTheTable) {
    for (const char* cut : {".jsonl", ".csv"}) {
        TempDir dir;
        const std::string program = program_file(dir, 500);
        SerialCounter counter(dir.file("serial.txt"), 1);
        cli::BatchOptions options;
        options.log_path = dir.file("boards.jsonl");
        options.csv_path = dir.file("boards.csv");
        BatchRun run;
        {
            FullDisk full(cut, 1);  // the second board's line
            Boards boards({"A", "B", "C"});
            run = boards.run(with_serial(counter, "eeprom:0", "u16le"), options, {"write", "flash", program});
        }
        EXPECT_EQ(run.code, cli::kFile) << cut << ": a board without its line fails the run\n" << run.out << run.err;
        EXPECT_NE(run.err.find("журнал не записан"), std::string::npos) << cut << run.err;
        EXPECT_EQ(count_of(run.out, "(нет в журнале)"), 1u) << cut << run.out;
        // Every board programmed passed, in the table as in the logs that hold it.
        EXPECT_EQ(count_of(run.out, "годна"), 3u) << cut << run.out;
        // Room again: the next board's lines begin on lines of their own.
        Boards more({"D"});
        EXPECT_EQ(more.run(with_serial(counter, "eeprom:0", "u16le"), options, {"write", "flash", program}).code,
                  cli::kOk);
        const auto json = json_lines(read_text(dir.file("boards.jsonl")));
        const auto csv = csv_records(read_text(dir.file("boards.csv")));
        ASSERT_EQ(json.size(), 3u) << cut;
        ASSERT_EQ(csv.size(), 3u) << cut;
        for (std::size_t i = 0; i < json.size(); ++i) {
            EXPECT_EQ(json[i]["port"].toString().toStdString(), csv[i].at("port")) << cut;
            EXPECT_EQ(json[i]["outcome"].toString().toStdString(), csv[i].at("outcome")) << cut;
            EXPECT_EQ(json[i]["outcome"].toString(), "passed") << cut;
        }
    }
}

TEST_F(Batch, UnderRepeatALogThatCannotBeWrittenStopsTakingBoardsAtOnce) {
    TempDir dir;
    const std::string program = program_file(dir, 500);
    Boards boards({"A"});
    Cancellation stop;
    ScriptedLine line(boards["A"], stop);
    line.resets_ms = {1'000, 20'000};
    line.stop_ms = 60'000;  // never needed: the run ends by itself
    cli::BatchOptions options;
    options.repeat = true;
    options.log_path = dir.file("boards.jsonl");
    BatchRun run;
    {
        FullDisk full(".jsonl", 0);
        run = boards.run({}, options, {"write", "flash", program, "start"}, false, {{"A", &line}}, &stop);
    }
    EXPECT_EQ(run.code, cli::kFile) << run.out << run.err;
    EXPECT_FALSE(stop.pending());
    EXPECT_LT(boards["A"].clock.now_ms(), 20'000) << "the next board was waited for";
    EXPECT_NE(run.err.find("новые платы не принимаются"), std::string::npos) << run.err;
    EXPECT_EQ(read_text(dir.file("boards.jsonl")), "");
}

TEST_F(Batch, WhatCannotBeKeptStopsTheRunBeforeTheFirstBoard) {
    struct Case {
        const char* name;
        const char* json;  // relative to the folder
        const char* csv;
        const char* counter;  // content, or nullptr for no numbers
        const char* named;    // in the message
    };
    const Case cases[] = {
        {"a JSON log in a missing folder", "gone/boards.jsonl", "", nullptr, "gone"},
        {"a CSV log that is a folder", "boards.jsonl", "folder", nullptr, "folder"},
        {"a damaged counter", "boards.jsonl", "", "twelve\n", "serial.txt"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        std::filesystem::create_directory(dir.path() / "folder");
        const std::string program = program_file(dir, 500);
        std::optional<SerialCounter> counter;
        cli::SessionOptions session;
        if (c.counter != nullptr) {
            counter.emplace(dir.write("serial.txt", c.counter), std::nullopt);
            session = with_serial(*counter, "eeprom:0", "u16le");
        }
        cli::BatchOptions options;
        options.log_path = dir.file(c.json);
        if (*c.csv != '\0') options.csv_path = dir.file(c.csv);
        Boards boards({"A", "B"});
        const BatchRun run = boards.run(session, options, {"write", "flash", program});
        EXPECT_EQ(run.code, cli::kFile) << c.name;
        for (const char* port : {"A", "B"}) EXPECT_TRUE(boards[port].sent().empty()) << c.name << " " << port;
        EXPECT_NE(run.err.find(c.named), std::string::npos) << c.name << run.err;
        EXPECT_EQ(run.out.find("Плат:"), std::string::npos) << c.name << ": no board, no table";
    }
}

TEST_F(Batch, QuietShowsTheFailedBoardsOnlyAndNoTable) {
    TempDir dir;
    const std::string program = program_file(dir, 500);
    Boards boards({"A", "B"});
    SimFaults differs;
    differs.corrupt_at = 0x10;
    boards["B"].loader.misbehave(differs);
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    FakeClock clock;
    cli::EventLinesView quiet(cli::TextReporter::Verbosity::Quiet, true, true, false, clock, out, err);
    cli::BatchOptions options;
    options.positions = {{"1", "A"}, {"2", "B"}};
    cli::SessionOptions session;
    Cancellation stop;
    cli::Batch batch(session, options, quiet, clock, stop);
    for (const char* port : {"A", "B"}) batch.use_link(port, boards[port].link, boards[port].clock);
    EXPECT_EQ(batch.run(std::get<std::vector<cli::Step>>(cli::parse_plan({"write", "flash", program}))),
              cli::kDifferences);
    const std::string shown = drained(out) + drained(err);
    EXPECT_NE(shown.find("2: FAIL"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("PASS"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("Плат:"), std::string::npos) << shown;
}

// What a terminal shows of one drawing of the live lines: the lines between a carriage
// return and the erase that ends each, colours taken out.
std::vector<std::string> drawn_lines(const std::string& screen) {
    std::vector<std::string> lines;
    for (std::size_t at = screen.find('\r'); at != std::string::npos; at = screen.find('\r', at + 1)) {
        const std::size_t end = screen.find("\x1b[K", at);
        if (end == std::string::npos) break;
        std::string line = screen.substr(at + 1, end - at - 1);
        for (std::size_t esc = line.find("\x1b["); esc != std::string::npos; esc = line.find("\x1b[")) {
            line.erase(esc, line.find('m', esc) - esc + 1);
        }
        lines.push_back(line);
    }
    return lines;
}

std::size_t columns_of(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char ch) {
        return (static_cast<unsigned char>(ch) & 0xC0) != 0x80;
    }));
}

TEST_F(Batch, LiveLinesFitEightyColumnsAndKeepEachPositionsVerdictUntilItsNextBoard) {
    for (const bool colour : {true, false}) {
        std::FILE* err = std::tmpfile();
        std::FILE* out = std::tmpfile();
        FakeClock clock;
        const std::vector<cli::Position> positions = {{"1", "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.1:1.0-port0"},
                                                      {"", "/dev/ttyUSB1"}};
        cli::LiveLinesView view(positions, colour, clock, out, err);
        cli::BoardRecord passed;
        passed.serial = 1001;
        {
            auto reporter = view.board(positions[0]);
            reporter->serial_number(1001);
            reporter->begin(Operation::Write, MemoryKind::Flash);
            reporter->on_range(32'000);
            clock.sleep_ms(500);  // a bar is drawn at most ten times a second
            reporter->on_position(16'000);
            reporter->started_program();
        }
        view.verdict(positions[0], passed, {1, 0}, {1, 0});
        view.note(positions[0], tr_string("cli", "ждём следующую плату"));
        cli::BoardRecord failed;
        failed.exit_code = cli::kLink;
        view.verdict(positions[1], failed, {0, 1}, {1, 1});
        const std::string screen = drained(err);
        for (const std::string& line : drawn_lines(screen)) EXPECT_LE(columns_of(line), 79u) << line;
        const std::vector<std::string> last = drawn_lines(screen.substr(screen.rfind("\x1b[3A")));
        ASSERT_EQ(last.size(), 3u) << screen;
        EXPECT_EQ(last[0].rfind("1  ", 0), 0u) << last[0];
        EXPECT_NE(last[0].find("ждём следующую плату"), std::string::npos) << last[0];
        EXPECT_TRUE(last[0].ends_with("PASS № 1001")) << last[0];
        EXPECT_TRUE(last[1].ends_with("FAIL")) << last[1];
        // The counts in one column, whatever each line's verdict.
        EXPECT_EQ(columns_of(last[0].substr(0, last[0].find("✓1 ✗0"))),
                  columns_of(last[1].substr(0, last[1].find("✓0 ✗1")))) << last[0] << "\n" << last[1];
        EXPECT_NE(last[2].find("годных 1, с отказом 1"), std::string::npos) << last[2];
        EXPECT_EQ(screen.find(kProgramStarted), std::string::npos) << "the long text has a short state";
        EXPECT_NE(screen.find("программа запущена"), std::string::npos);
        EXPECT_NE(screen.find("запись flash ["), std::string::npos) << "the operation is named in the language";
        EXPECT_EQ(screen.find("\x1b[1;32mPASS № 1001\x1b[0m") != std::string::npos, colour) << screen;
        // The next board at the position takes the verdict away.
        std::FILE* again = std::tmpfile();
        cli::LiveLinesView next(positions, colour, clock, out, again);
        next.verdict(positions[0], passed, {1, 0}, {1, 0});
        { auto reporter = next.board(positions[0]); reporter->begin(Operation::Erase, MemoryKind::Flash); }
        const std::string redrawn = drained(again);
        const std::vector<std::string> now = drawn_lines(redrawn.substr(redrawn.rfind("\x1b[3A")));
        EXPECT_EQ(now[0].find("PASS"), std::string::npos) << now[0];
        EXPECT_NE(now[0].find("✓1 ✗0"), std::string::npos) << now[0];
        std::fclose(out);
    }
}

TEST_F(Batch, RerunTakesThePositionsWhoseLastLineInTheLogFailed) {
    TempDir dir;
    const std::string log = dir.write(
        "boards.jsonl",
        // A first run: 1 fails, 2 passes, an unnamed port fails; another station's 2 fails.
        "{\"station\":\"s1\",\"position\":\"1\",\"port\":\"/dev/a\",\"operations\":[{\"outcome\":\"success\"}],"
        "\"outcome\":\"failed\"}\n"
        "{\"station\":\"s1\",\"position\":\"2\",\"port\":\"/dev/b\",\"outcome\":\"passed\"}\n"
        "{\"station\":\"s1\",\"position\":\"\",\"port\":\"/dev/x\",\"outcome\":\"failed\"}\n"
        "{\"station\":\"s2\",\"position\":\"2\",\"port\":\"/dev/b\",\"outcome\":\"failed\"}\n"
        // A line of the first version names its host, not its station.
        "{\"host\":\"s1\",\"port\":\"/dev/y\",\"outcome\":\"failed\"}\n"
        // The rerun: 1 passes now; 3 fails; a line cut short by a crash is passed over.
        "{\"station\":\"s1\",\"position\":\"1\",\"port\":\"/dev/a\",\"outcome\":\"passed\"}\n"
        "{\"station\":\"s1\",\"position\":\"3\",\"port\":\"/dev/c\",\"error\":\"\\\"Ошибка\\\" \\u0410\",\"outcome\":\"failed\"}\n"
        "{\"station\":\"s1\",\"position\":\"2\",\"port\":\"/dev/b\",\"outco");
    const auto outcomes = cli::last_outcomes(log, "s1");
    ASSERT_TRUE(std::holds_alternative<cli::LastOutcomes>(outcomes)) << std::get<std::string>(outcomes);
    const std::vector<cli::Position> positions = {
        {"1", "/dev/a"}, {"2", "/dev/b"}, {"3", "/dev/c"}, {"", "/dev/x"}, {"", "/dev/y"}, {"4", "/dev/d"}};
    std::vector<std::string> again;
    for (const cli::Position& p : cli::failed_positions(positions, std::get<cli::LastOutcomes>(outcomes))) {
        again.push_back(p.label());
    }
    EXPECT_EQ(again, (std::vector<std::string>{"3", "/dev/x", "/dev/y"}));
    const auto fields = cli::top_level_fields(
        "{\"station\":\"s1\",\"port\":\"/dev/c\",\"error\":\"\\\"Ошибка\\\" \\u0410\",\"outcome\":\"failed\"}");
    ASSERT_TRUE(fields.has_value());
    EXPECT_EQ(fields->at("error"), "\"Ошибка\" А");
    EXPECT_TRUE(std::holds_alternative<std::string>(cli::last_outcomes(dir.file("none.jsonl"), "s1")));
}

}  // namespace
}  // namespace zarvik
