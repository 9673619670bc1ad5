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
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "cli/batch_views.h"
#include "memory/intel_hex_writer.h"
#include "memory/serial_number.h"
#include "production/serial_counter.h"
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

// A program of `size` bytes from address 0.
std::string program_file(TempDir& dir, std::size_t size, std::uint8_t seed = 1) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + seed);
    return dir.write("program.hex", to_intel_hex(bytes));
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

TEST_F(Batch, RepeatProgramsABoardEachTimeItIsResetAndOnceWhileItStaysInItsLoader) {
    struct Case {
        const char* name;
        std::vector<std::string> tail;  // after the write
        std::vector<std::int64_t> resets_ms;
        bool plugged_at_start;
        int boards_programmed;
    };
    const Case cases[] = {
        // Started after each programming: silent until the next reset.
        {"reset twice", {"start"}, {10'000, 20'000}, false, 2},
        // Never started: it keeps answering, and is the same board all along.
        {"left in its loader", {}, {}, true, 1},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string program = program_file(dir, 500);
        Boards boards({"A"});
        Cancellation stop;
        ScriptedLine line(boards["A"], stop);
        line.resets_ms = c.resets_ms;
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
    }
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

}  // namespace
}  // namespace zarvik
