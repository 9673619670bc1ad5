// The command line's session in process: the steps, their exit codes and what they
// print, over the simulated loader on a fake clock. The program itself (its options,
// signals, ports and terminal) is tested as a process in cli_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "loader/chip_identity.h"
#include "loader/wait_count.h"
#include "memory/device_model.h"
#include "memory/intel_hex_loader.h"
#include "memory/memory_image.h"
#include "support/cli_run.h"
#include "support/temp_dir.h"
#include "text/language.h"

namespace zarvik {
namespace {

using testing::CliRun;
using testing::run_session;
using testing::SimBoard;

cli::SessionOptions given(const char* model) {
    cli::SessionOptions options;
    options.model = *find_device_model(model);
    options.model_given = true;
    return options;
}

// The command letters the host sent, block bytes skipped.
std::string commands_sent(const SimBoard& board) {
    const std::vector<std::uint8_t> bytes = board.sent();
    std::string out;
    for (std::size_t i = 0; i < bytes.size();) {
        out.push_back(static_cast<char>(bytes[i]));
        i += bytes[i] == 'B' ? 4 + 128 : 4;
    }
    return out;
}

class CliSession : public ::testing::Test {
protected:
    void SetUp() override { set_language(Language::Russian); }
};

TEST_F(CliSession, ExitCodes) {
    testing::TempDir dir;
    const std::string damaged = dir.write("bad.hex", ":0100000011FF\r\n");
    const std::string eep = dir.file("none.eep");
    const std::string no_dir = dir.file("no/dir.eep");
    SimFaults echo, silent, short_block, mute_first;
    echo.echo = true;
    silent.silent = true;
    short_block.short_block = true;
    mute_first.mute_command = 2;  // 1 is the handshake's sync
    const auto force = [](cli::SessionOptions& o) { o.force = true; };
    const auto chips_own = [](cli::SessionOptions& o) { o.model_given = false; };
    struct Case {
        const char* what;
        std::vector<std::string> words;
        int code;
        const char* says;
        const char* board = "ATmega8";
        SimFaults faults = {};
        const char* model = "ATmega8";
        std::function<void(cli::SessionOptions&)> adjust = {};
    };
    const Case cases[] = {
        {"differences", {"verify", "flash", ZARVIK_BLINK_HEX}, 1, "Ошибка по адресу: 0000 "},
        {"wait count too large", {"configure", "16", "13"}, 2,
         "Задано слишком большое время ожидания запуска программы! (при 16 МГц — не больше 12.52 с)"},
        {"clock is no number", {"configure", "abc", "2"}, 2, "Частота Fosc должна быть числом"},
        {"wait is no number", {"configure", "16", ""}, 2, "Время ожидания time_out должно быть числом"},
        {"wait with words after it", {"configure", "16", "2 xyz"}, 2, "time_out"},
        {"wait too short", {"configure", "16", "0.1"}, 2, "--force"},
        {"clock outside 1-20 MHz", {"configure", "0.016", "2"}, 2, "вне диапазона 1–20 МГц"},
        {"clock outside 1-20 MHz, with --force", {"configure", "0.016", "2"}, 0,
         "Настройка загрузчика выполнена на частоту 0,016 МГц и 2 секунды", "ATmega8", {}, "ATmega8", force},
        {"wrong chip", {"erase", "flash"}, 5, "Подключён ATmega8/88 (загрузчик с адреса 1C00), а выбран ATmega328",
         "ATmega8", {}, "ATmega328"},
        {"wrong chip, even with --force", {"erase", "flash"}, 5,
         "Подключён ATmega8/88 (загрузчик с адреса 1C00), а выбран ATmega328", "ATmega8", {}, "ATmega328", force},
        {"no loader block to confirm the chip", {"erase", "flash"}, 5, "Устройство не опознано", "ATmega8", echo},
        {"a short block while the chip is identified", {"erase", "flash"}, 3,
         "Загрузчик ответил не полностью при опознании МК: команда 'b', адрес 1C00, получено 100 байт из 128", "ATmega8",
         short_block, "ATmega8", chips_own},
        {"a silent first answer while the chip is identified", {"erase", "flash"}, 3,
         "Загрузчик не ответил при опознании МК: команда 'A', адрес 1C00", "ATmega8", mute_first, "ATmega8", chips_own},
        {"no loader answers", {"erase", "flash"}, 3, "Соединение не удалось установить", "ATmega8", silent},
        {"damaged file", {"write", "flash", damaged}, 4, "строка 1"},
        {"missing file", {"verify", "eeprom", eep}, 4, "none.eep"},
        {"export not written", {"read", "eeprom", no_dir}, 4, "Не удалось записать файл"},
    };
    for (const Case& c : cases) {
        SimBoard board(c.board, c.faults, LoaderKind::Ours);
        cli::SessionOptions options = given(c.model);
        if (c.adjust) c.adjust(options);
        const CliRun r = run_session(board, options, c.words);
        EXPECT_EQ(r.code, c.code) << c.what << "\n" << r.out << r.err;
        EXPECT_NE((r.out + r.err).find(c.says), std::string::npos) << c.what << "\n" << r.out << r.err;
    }
}

TEST_F(CliSession, TheWrongChipIsRefusedWithNothingChanged) {
    for (const std::vector<std::string>& words :
         {std::vector<std::string>{"erase", "flash"}, {"write", "flash", ZARVIK_BLINK_HEX}, {"erase", "eeprom"},
          {"configure", "16", "2"}}) {
        SimBoard board("ATmega8", {}, LoaderKind::Ours);
        const CliRun r = run_session(board, given("ATmega328"), words);
        EXPECT_EQ(r.code, cli::kWrongDevice) << words[0] << "\n" << r.out << r.err;
        EXPECT_NE(r.err.find("а выбран ATmega328: в устройство ничего не отправлено"), std::string::npos) << r.err;
        const std::string sent = commands_sent(board);
        EXPECT_FALSE(sent.empty());
        EXPECT_EQ(sent.find_first_of("EeBFD"), std::string::npos) << sent;
    }
}

TEST_F(CliSession, WithoutAModelTheChipsOwnIsUsed) {
    for (const DeviceModel& model : kDeviceModels) {
        testing::TempDir dir;
        SimBoard board(std::string(model.name).c_str(), {}, LoaderKind::Ours);
        const std::string back = dir.file("back.eep");
        const CliRun r = run_session(board, {}, {"write", "eeprom", ZARVIK_BLINK_EEP, "read", "eeprom", back});
        EXPECT_EQ(r.code, cli::kOk) << model.name << r.err;
        EXPECT_EQ(r.out.rfind("МК: " + chip_name(model.loader_start) + " (загрузчик с адреса ", 0), 0u) << r.out;
        // The whole EEPROM of that model was read, and it holds what was written.
        EepromImage image;
        const auto loaded = load_intel_hex_file(back, image.span());
        ASSERT_TRUE(std::holds_alternative<LoadedRange>(loaded)) << model.name;
        EXPECT_TRUE(std::equal(board.loader.eeprom().begin(), board.loader.eeprom().end(), image.bytes.begin()))
            << model.name;
    }
}

TEST_F(CliSession, EraseAllChecksTheFileBeforeErasing) {
    testing::TempDir dir;
    const std::string past_loader = dir.write("long.hex", ":100000000102030405060708090A0B0C0D0E0F1068\r\n"
                                                          ":107C00000102030405060708090A0B0C0D0E0F10EC\r\n"
                                                          ":00000001FF\r\n");
    FlashImage blink;
    ASSERT_TRUE(std::holds_alternative<LoadedRange>(load_intel_hex_file(ZARVIK_BLINK_HEX, blink.span())));
    struct Case { const char* what; std::string file; const char* says; };
    const Case cases[] = {
        {"missing", dir.file("typo.hex"), "typo.hex"},
        {"damaged", dir.write("bad.hex", ":0100000011FF\r\n"), "строка 1"},
        {"reaching into the loader", past_loader, "доходят до адреса 7C0F"},
    };
    for (const Case& c : cases) {
        SimBoard board("ATmega328", {}, LoaderKind::Ours);
        std::copy_n(blink.bytes.begin(), 0x7C00, board.loader.flash().begin());
        cli::SessionOptions options;
        options.erase = cli::EraseBefore::All;
        const CliRun r = run_session(board, options, {"write", "flash", c.file});
        EXPECT_EQ(r.code, cli::kFile) << c.what << "\n" << r.out << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.what << "\n" << r.err;
        EXPECT_EQ(r.out.find("Стирание flash закончено"), std::string::npos) << c.what << "\n" << r.out;
        EXPECT_EQ(commands_sent(board).find_first_of("EeBFD"), std::string::npos) << c.what << ": " << commands_sent(board);
        EXPECT_TRUE(std::equal(blink.bytes.begin(), blink.bytes.begin() + 0x7C00, board.loader.flash().begin())) << c.what;
    }
}

TEST_F(CliSession, AProgramsPictureIsNeverTakenForTheLoader) {
    // A one-colour RGB565 picture: the word 0xE71C over 0x1000-0x23FF of an ATmega328.
    // At 0x1C00 it looks like the loader's first block of an ATmega8.
    testing::TempDir dir;
    std::string picture;
    for (unsigned a = 0x1000; a < 0x2400; a += 16) {
        char line[64];
        unsigned sum = 16 + (a >> 8) + (a & 0xFF) + 8 * (0x1C + 0xE7);
        std::snprintf(line, sizeof line, ":10%.4X00", a);
        picture += line;
        for (int i = 0; i < 8; ++i) picture += "1CE7";
        std::snprintf(line, sizeof line, "%.2X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
        picture += line;
    }
    const std::string hex = dir.write("picture.hex", picture + ":00000001FF\r\n");
    FlashImage image;
    ASSERT_TRUE(std::holds_alternative<LoadedRange>(load_intel_hex_file(hex, image.span())));
    for (const bool model_given : {false, true}) {
        SimBoard board("ATmega328", {}, LoaderKind::Ours);
        std::copy_n(image.bytes.begin(), 0x7C00, board.loader.flash().begin());
        cli::SessionOptions options = given("ATmega328");
        options.model_given = model_given;
        // The picture is still there after the configuration; then the erase takes the
        // whole user area of an ATmega328.
        const CliRun r = run_session(board, options, {"configure", "16", "2", "verify", "flash", hex, "erase", "flash"});
        EXPECT_EQ(r.code, cli::kOk) << r.out << r.err;
        if (!model_given) {
            EXPECT_EQ(r.out.rfind("МК: ATmega328 (загрузчик с адреса 0x7C00)\n", 0), 0u) << r.out;
        }
        EXPECT_NE(r.out.find("flash записан правильно!"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("ATmega8/88"), std::string::npos) << r.out;
        const auto flash = board.loader.flash();
        EXPECT_TRUE(std::all_of(flash.begin(), flash.begin() + 0x7C00, [](std::uint8_t b) { return b == 0xFF; }));
        EXPECT_EQ(decode_wait_count(board.loader.loader_first_block(), 0), 2'666'667u);
        EXPECT_EQ(decode_wait_count(board.loader.loader_first_block(), 1), 2'666'667u);
    }
}

TEST_F(CliSession, ATornWaitCountIsNamedAndConfigureRepairsIt) {
    // A configuration cut between the two pages of an ATmega8's loader block.
    SimFaults torn;
    torn.torn_count = 1234567;
    SimBoard board("ATmega8", torn, LoaderKind::Ours);
    const CliRun r = run_session(board, {}, {"write", "eeprom", ZARVIK_BLINK_EEP, "configure", "16", "2"});
    EXPECT_EQ(r.code, cli::kOk) << r.out << r.err;
    EXPECT_EQ(r.out.rfind("МК: ATmega8/88 (загрузчик с адреса 0x1C00)\n", 0), 0u) << r.out;
    EXPECT_NE(r.err.find("Счётчик ожидания загрузчика разорван: две его копии различаются (666667 и 1234567)"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("EEPROM записан правильно!"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Настройка загрузчика выполнена"), std::string::npos) << r.out;
    EXPECT_EQ(decode_wait_count(board.loader.loader_first_block(), 0), 2'666'667u);
    EXPECT_EQ(decode_wait_count(board.loader.loader_first_block(), 1), 2'666'667u);
}

}  // namespace
}  // namespace zarvik
