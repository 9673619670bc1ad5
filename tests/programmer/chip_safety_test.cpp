// The chip is never touched unless it is the model the host was told, and the loader's
// own block is never left erased.
#include <gtest/gtest.h>

#include "loader/wait_count.h"
#include "programmer/status_texts.h"
#include "support/programmer_fixture.h"

namespace zarvik {
namespace {

using testing::ProgrammerBench;
using testing::SimBoard;
using Result = OperationOutcome::Result;

// The commands that change memory; none of them may reach a chip that was refused.
bool changes_memory(std::uint8_t command) {
    return command == 'E' || command == 'e' || command == 'B' || command == 'F' || command == 'D';
}

// Command bytes the board saw: every fourth byte outside a `B` block.
std::vector<std::uint8_t> commands(const SimLoader& loader) {
    std::vector<std::uint8_t> out;
    const auto& log = loader.log();
    for (std::size_t i = 0; i < log.size();) {
        out.push_back(log[i].byte);
        i += log[i].byte == 'B' ? 4 + 128 : 4;
    }
    return out;
}

struct Host {
    explicit Host(SimBoard& board, const char* model)
        : state(std::make_unique<ProgrammerState>()), programmer(*state, board.link, board.clock) {
        programmer.set_model(*find_device_model(model));
    }
    std::unique_ptr<ProgrammerState> state;
    Programmer programmer;
};

TEST(ChipIdentity, EachModelIsToldByItsLoaderBlock) {
    struct Case { const char* chip; std::uint32_t start; const char* name; };
    for (const Case& c : {Case{"ATmega8", 0x1C00, "ATmega8/88"}, Case{"ATmega88", 0x1C00, "ATmega8/88"},
                          Case{"ATmega168", 0x3C00, "ATmega168"}, Case{"ATmega328", 0x7C00, "ATmega328"}}) {
        SimBoard board(c.chip);
        Host host(board, "ATmega8");
        const ChipIdentity& id = host.programmer.identify_device();
        ASSERT_TRUE(id.found()) << c.chip;
        EXPECT_EQ(*id.loader_start, c.start) << c.chip;
        EXPECT_EQ(chip_name(*id.loader_start), c.name);
        for (std::uint8_t command : commands(board.loader)) EXPECT_FALSE(changes_memory(command)) << c.chip;
    }
}

TEST(ChipIdentity, TheWrongModelIsRefusedBeforeAnythingChanges) {
    // A smaller chip wraps addresses: erasing 0..7BFF on an ATmega8 would erase its loader.
    struct Case { const char* chip; const char* selected; };
    for (const Case& c : {Case{"ATmega8", "ATmega328"}, Case{"ATmega168", "ATmega328"}, Case{"ATmega328", "ATmega8"},
                          Case{"ATmega88", "ATmega168"}}) {
        SimBoard board(c.chip);
        Host host(board, c.selected);
        testing::TempDir dir;
        const std::string hex = dir.write("p.hex", ProgrammerBench::hex_records(0, testing::pattern(300)) + ":00000001FF\r\n");
        const std::string eep = dir.write("p.eep", ProgrammerBench::hex_records(0, testing::pattern(20)) + ":00000001FF\r\n");
        const std::vector<std::uint8_t> flash_before(board.loader.flash().begin(), board.loader.flash().end());
        const std::vector<std::uint8_t> eeprom_before(board.loader.eeprom().begin(), board.loader.eeprom().end());
        Programmer& p = host.programmer;
        for (const OperationOutcome& o :
             {p.erase(MemoryKind::Flash), p.erase(MemoryKind::Eeprom), p.write(MemoryKind::Flash, hex),
              p.write(MemoryKind::Eeprom, eep), p.verify(MemoryKind::Flash, hex), p.read(MemoryKind::Eeprom),
              p.configure_loader("16", "2")}) {
            EXPECT_EQ(o.result, Result::Refused) << c.chip << " as " << c.selected;
            EXPECT_EQ(o.refusal, Refusal::WrongDevice);
            EXPECT_NE(status_text(o).find(std::string("выбран ") + c.selected), std::string::npos) << status_text(o);
        }
        for (std::uint8_t command : commands(board.loader)) EXPECT_FALSE(changes_memory(command)) << c.chip;
        EXPECT_TRUE(std::equal(flash_before.begin(), flash_before.end(), board.loader.flash().begin()));
        EXPECT_TRUE(std::equal(eeprom_before.begin(), eeprom_before.end(), board.loader.eeprom().begin()));
    }
    SimBoard board("ATmega8");
    Host host(board, "ATmega328");
    EXPECT_EQ(status_text(host.programmer.erase(MemoryKind::Flash)),
              "Подключён ATmega8/88 (загрузчик с адреса 1C00), а выбран ATmega328: в устройство ничего не отправлено");
}

TEST(ChipIdentity, IsReadOncePerConnection) {
    SimBoard board("ATmega328");
    Host host(board, "ATmega328");
    host.programmer.connect();
    const std::size_t connected = board.loader.log().size();
    ASSERT_TRUE(host.programmer.read(MemoryKind::Eeprom).ok());
    const std::size_t after_first = board.loader.log().size() - connected;
    const std::size_t after_second_start = board.loader.log().size();
    ASSERT_TRUE(host.programmer.read(MemoryKind::Eeprom).ok());
    EXPECT_EQ(board.loader.log().size() - after_second_start, after_first - 3 * 12);  // the same read, minus 3 identity reads
    host.programmer.connect();
    const std::size_t before = board.loader.log().size();  // after the connect's sync
    ASSERT_TRUE(host.programmer.read(MemoryKind::Eeprom).ok());
    EXPECT_EQ(board.loader.log().size() - before, after_first);  // asked again after a new connect
}

TEST(ChipIdentity, AnUnrecognisedLoaderNeedsConsentAndNeverGetsItsBlockPatched) {
    SimBoard board("ATmega328");
    auto flash = board.loader.flash();
    std::fill_n(flash.begin() + 0x7C00, 128, std::uint8_t{0x00});  // a loader laid out otherwise
    Host host(board, "ATmega328");
    const auto refused = host.programmer.erase(MemoryKind::Eeprom);
    EXPECT_EQ(refused.result, Result::Refused);
    EXPECT_EQ(refused.refusal, Refusal::DeviceNotConfirmed);
    for (std::uint8_t command : commands(board.loader)) EXPECT_FALSE(changes_memory(command));

    host.programmer.accept_unconfirmed_device();
    EXPECT_TRUE(host.programmer.erase(MemoryKind::Eeprom).ok());
    // Consent skips the identity check, never the configuration's own look at the block.
    const auto configured = host.programmer.configure_loader("16", "2");
    EXPECT_EQ(configured.refusal, Refusal::NoLoaderBlock);
    EXPECT_TRUE(std::all_of(flash.begin() + 0x7C00, flash.begin() + 0x7C80, [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(status_text(configured), "По адресу 7C00 нет первого блока загрузчика ATmega328: настройка не записана");
}

TEST(ChipIdentity, AnEchoingLineNeverSucceeds) {
    SimFaults echo;
    echo.echo = true;
    SimBoard board("ATmega328", echo);
    Host host(board, "ATmega328");
    EXPECT_EQ(host.programmer.connect(), HandshakeOutcome::Connected);  // "UUUU" still counts as an answer
    testing::TempDir dir;
    const std::string hex = dir.write("p.hex", ProgrammerBench::hex_records(0, testing::pattern(64)) + ":00000001FF\r\n");
    EXPECT_FALSE(host.programmer.erase(MemoryKind::Flash).ok());
    EXPECT_FALSE(host.programmer.write(MemoryKind::Flash, hex).ok());
    EXPECT_EQ(host.programmer.erase(MemoryKind::Flash).refusal, Refusal::DeviceNotConfirmed);
}

// A one-colour RGB565 picture in a program: the word 0xE71C, low byte first, over
// 0x1000-0x23FF. Its bytes at 0x1C00 look like the loader's block: every second byte is
// a load-immediate, and both "copies" of the count agree.
void paint_picture(std::span<std::uint8_t> flash) {
    for (std::uint32_t a = 0x1000; a < 0x2400; a += 2) {
        flash[a] = 0x1C;
        flash[a + 1] = 0xE7;
    }
}

std::vector<std::uint8_t> copy_of(std::span<const std::uint8_t> bytes) { return {bytes.begin(), bytes.end()}; }

TEST(ChipIdentity, AProgramsDataIsNeverTakenForALoader) {
    // Data that shows the layout at a lower start, but not the same bytes at the chip's
    // own loader start, is data.
    struct Case { const char* chip; std::uint32_t data_at; bool torn_looking; };
    for (const Case& c : {Case{"ATmega328", 0x1C00, false}, Case{"ATmega328", 0x3C00, false},
                          Case{"ATmega168", 0x1C00, false}, Case{"ATmega328", 0x3C00, true}}) {
        SimBoard board(c.chip);
        auto flash = board.loader.flash();
        if (c.data_at == 0x1C00) {
            paint_picture(flash);
        } else {
            std::copy_n(board.loader.loader_first_block().begin(), 128, flash.begin() + c.data_at);
            flash[c.data_at + 10] ^= 0x01;  // one byte apart from the real block
        }
        if (c.torn_looking) flash[c.data_at + 82] ^= 0x03;
        const std::span<const std::uint8_t, 128> lookalike(flash.data() + c.data_at, 128);
        ASSERT_NE(classify_loader_block(lookalike), LoaderBlockKind::None) << "the data must look like a loader";
        Host host(board, "ATmega8");
        const ChipIdentity& id = host.programmer.identify_device();
        ASSERT_TRUE(id.found()) << c.chip << " " << c.data_at;
        EXPECT_EQ(*id.loader_start, board.loader.model().loader_start) << c.chip << " " << c.data_at;
        EXPECT_FALSE(id.torn_count);
    }
}

TEST(ChipIdentity, APictureInAnATmega328IsLeftAloneByConfigureAndErase) {
    SimBoard board("ATmega328");
    paint_picture(board.loader.flash());
    const auto picture = copy_of(board.loader.flash().first(0x7C00));
    Host host(board, "ATmega328");
    const OperationOutcome configured = host.programmer.configure_loader("16", "2");
    ASSERT_TRUE(configured.ok()) << status_text(configured);
    EXPECT_EQ(copy_of(board.loader.flash().first(0x7C00)), picture);  // 0x1C30-0x1C59 untouched
    EXPECT_EQ(decode_wait_count(board.loader.loader_first_block(), 0), 2'666'667u);
    EXPECT_EQ(decode_wait_count(board.loader.loader_first_block(), 1), 2'666'667u);
    // The identity read the three candidates; everything after went to the loader's block.
    std::vector<std::uint32_t> addresses;
    const auto& log = board.loader.log();
    for (std::size_t i = 0; i + 3 < log.size(); i += log[i].byte == 'B' ? 4 + 128 : 4) {
        if (log[i].byte == 'A') addresses.push_back(static_cast<std::uint32_t>(log[i + 1].byte << 8 | log[i + 2].byte));
    }
    ASSERT_GE(addresses.size(), 3u);
    EXPECT_EQ(std::vector(addresses.begin(), addresses.begin() + 3), (std::vector<std::uint32_t>{0x1C00, 0x3C00, 0x7C00}));
    for (std::size_t i = 3; i < addresses.size(); ++i) {
        EXPECT_TRUE(addresses[i] == 0x7C00 || addresses[i] == 0x7C40) << std::hex << addresses[i];
    }
    const auto erased = host.programmer.erase(MemoryKind::Flash);
    ASSERT_TRUE(erased.ok()) << status_text(erased);
    EXPECT_EQ(erased.end_address, 0x7C00u);
    const auto user = board.loader.flash().first(0x7C00);
    EXPECT_TRUE(std::all_of(user.begin(), user.end(), [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_TRUE(has_loader_layout(board.loader.loader_first_block()));
}

TEST(ChipIdentity, ATornWaitCountIsStillThisLoaderAndConfigureRepairsIt) {
    // On the chips with 64-byte pages the block's two copies lie in different pages.
    for (const char* chip : {"ATmega8", "ATmega88", "ATmega168", "ATmega328"}) {
        SimFaults torn;
        torn.torn_count = 1'234'567;
        SimBoard board(chip, torn);
        ASSERT_EQ(classify_loader_block(board.loader.loader_first_block()), LoaderBlockKind::TornCount);
        Host host(board, chip);
        const ChipIdentity id = host.programmer.identify_device();
        ASSERT_TRUE(id.found()) << chip;
        EXPECT_EQ(*id.loader_start, board.loader.model().loader_start);
        EXPECT_TRUE(id.torn_count);
        EXPECT_EQ(id.wait_count, SimLoader::kFactoryWaitCount);
        EXPECT_EQ(id.second_wait_count, 1'234'567u);
        EXPECT_EQ(torn_count_text(id),
                  "Счётчик ожидания загрузчика разорван: две его копии различаются (666667 и 1234567). Операции "
                  "выполняются; настройка загрузчика перепишет обе копии");

        testing::TempDir dir;
        const std::string hex = dir.write("p.hex", ProgrammerBench::hex_records(0, testing::pattern(300)) + ":00000001FF\r\n");
        EXPECT_TRUE(host.programmer.write(MemoryKind::Flash, hex).ok()) << chip;
        EXPECT_TRUE(host.programmer.verify(MemoryKind::Flash, hex).ok()) << chip;
        const OperationOutcome configured = host.programmer.configure_loader("16", "2");
        ASSERT_TRUE(configured.ok()) << chip << ": " << status_text(configured);
        EXPECT_EQ(decode_wait_count(board.loader.loader_first_block(), 0), 2'666'667u);
        EXPECT_EQ(decode_wait_count(board.loader.loader_first_block(), 1), 2'666'667u);
        EXPECT_FALSE(host.programmer.identify_device().torn_count);
        EXPECT_TRUE(torn_count_text(host.programmer.identify_device()).empty());
    }
    EXPECT_TRUE(torn_count_text(ChipIdentity{}).empty());
}

TEST(ChipIdentity, AShortOrMissingAnswerWhileItIsReadIsALineFault) {
    // The selected model is one the chip would be taken for if a failed read were read as
    // "no loader here": erasing 0..3BFF on an ATmega8 wraps over its own loader.
    struct Case { const char* what; SimFaults faults; const char* says; };
    SimFaults silent_first;
    // The sync that opens an operation started without a connect is command 1.
    silent_first.mute_command = 2;
    SimFaults missing_block;
    missing_block.mute_command = 4;
    SimFaults short_block;
    short_block.short_block = true;
    for (const Case& c : {Case{"a silent first answer", silent_first, "Загрузчик не ответил при опознании МК: команда 'A', адрес 1C00"},
                          Case{"a missing block", missing_block, "Загрузчик не ответил при опознании МК: команда 'b', адрес 1C00"},
                          Case{"a short block", short_block,
                               "Загрузчик ответил не полностью при опознании МК: команда 'b', адрес 1C00, получено 100 байт из 128"}}) {
        SimBoard board("ATmega8", c.faults);
        const auto before = copy_of(board.loader.flash());
        Host host(board, "ATmega168");
        const OperationOutcome o = host.programmer.erase(MemoryKind::Flash);
        EXPECT_EQ(o.result, Result::LinkFailure) << c.what;
        EXPECT_TRUE(o.while_identifying) << c.what;
        ASSERT_TRUE(o.link_failure) << c.what;
        EXPECT_EQ(o.link_failure->address, 0x1C00u) << c.what;
        EXPECT_EQ(status_text(o), c.says) << c.what;
        for (std::uint8_t command : commands(board.loader)) EXPECT_FALSE(changes_memory(command)) << c.what;
        EXPECT_EQ(copy_of(board.loader.flash()), before) << c.what;
    }
}

TEST(ChipIdentity, ForceNeverLetsAnotherModelThrough) {
    for (const char* selected : {"ATmega168", "ATmega328"}) {
        SimBoard board("ATmega8");
        const auto before = copy_of(board.loader.flash());
        Host host(board, selected);
        host.programmer.accept_unconfirmed_device();
        for (const OperationOutcome& o : {host.programmer.erase(MemoryKind::Flash), host.programmer.configure_loader("16", "2")}) {
            EXPECT_EQ(o.result, Result::Refused) << selected;
            EXPECT_EQ(o.refusal, Refusal::WrongDevice) << selected;
        }
        EXPECT_EQ(copy_of(board.loader.flash()), before) << selected;
    }
}

TEST(ChipIdentity, TheFileIsCheckedWithoutAByteToTheDevice) {
    ProgrammerBench bench("ATmega328");
    struct Case { const char* what; std::string path; Result result; Refusal refusal; };
    const Case cases[] = {
        {"missing", bench.dir.file("typo.hex"), Result::FileFailure, Refusal::None},
        {"damaged", bench.dir.write("bad.hex", ":0100000011FF\r\n"), Result::FileFailure, Refusal::None},
        {"reaching the loader", bench.hex_file("long.hex", 0x7C00, testing::pattern(16)), Result::Refused,
         Refusal::DataOverLoader},
        {"fits", bench.hex_file("good.hex", 0x7B00, testing::pattern(256)), Result::Success, Refusal::None},
    };
    for (const Case& c : cases) {
        const OperationOutcome o = bench.programmer.check_file(MemoryKind::Flash, c.path);
        EXPECT_EQ(o.result, c.result) << c.what;
        EXPECT_EQ(o.refusal, c.refusal) << c.what;
    }
    const OperationOutcome eeprom =
        bench.programmer.check_file(MemoryKind::Eeprom, bench.hex_file("big.eep", 0x3F0, testing::pattern(32)));
    EXPECT_EQ(eeprom.refusal, Refusal::DataBeyondEeprom);
    EXPECT_EQ(bench.commands_sent(), 0u);
}

TEST(ChipIdentity, ItsTextsSpeakBothLanguages) {
    struct Restore {
        ~Restore() { set_language(Language::Russian); }
    } restore;
    OperationOutcome identifying;
    identifying.operation = Operation::Erase;
    identifying.result = Result::LinkFailure;
    identifying.link_failure = TransactionFailure{'b', 0x3C00, 128, 100};
    identifying.while_identifying = true;
    OperationOutcome out_of_step = identifying;
    out_of_step.while_identifying = false;
    out_of_step.operation = Operation::Read;
    out_of_step.memory = MemoryKind::Eeprom;
    out_of_step.link_failure->out_of_step = true;
    OperationOutcome clock;
    clock.operation = Operation::Configure;
    clock.result = Result::Refused;
    clock.refusal = Refusal::FoscOutOfRange;
    clock.fosc_text = "0.016";
    ChipIdentity torn;
    torn.loader_start = 0x1C00;
    torn.torn_count = true;
    torn.wait_count = 1;
    torn.second_wait_count = 2;
    set_language(Language::English);
    EXPECT_EQ(status_text(identifying),
              "Incomplete answer from the loader while identifying the chip: command 'b', address 3C00, got 100 of 128 bytes");
    EXPECT_EQ(status_text(out_of_step),
              "The exchange with the loader fell out of step while reading EEPROM, address 3C00, and it did not answer the "
              "sync: check the line and reset the board");
    EXPECT_EQ(status_text(clock),
              "Fosc 0.016 MHz is outside 1–20 MHz, the range these chips and this loader run at: with such a count the "
              "loader may answer nobody after a reset. Nothing was sent to the device");
    EXPECT_EQ(torn_count_text(torn),
              "The loader's wait count is torn: its two copies differ (1 and 2). Operations go on; configuring the loader "
              "rewrites both copies");
}

// Requests a stop once the host has written a given number of bytes.
class StopAfter final : public ByteLink {
public:
    StopAfter(ByteLink& inner, Cancellation& cancel, std::size_t bytes) : inner_(inner), cancel_(cancel), left_(bytes) {}
    bool write(std::span<const std::uint8_t> bytes) override {
        left_ = bytes.size() >= left_ ? 0 : left_ - bytes.size();
        if (left_ == 0) cancel_.request();
        return inner_.write(bytes);
    }
    ReadResult read(std::span<std::uint8_t> into) override {
        // A port gives up its wait when the stop is not held, as the real one does.
        if (cancel_.requested()) return ReadResult{0, false, true};
        return inner_.read(into);
    }
    void discard_input() override { inner_.discard_input(); }

private:
    ByteLink& inner_;
    Cancellation& cancel_;
    std::size_t left_;
};

TEST(LoaderConfigurationSafety, AStopAtAnyMomentLeavesTheOldCountOrTheNew) {
    // From 666667 to 2666667 some nibbles need bits set, so the block must be erased.
    const std::uint32_t old_count = SimLoader::kFactoryWaitCount;
    const std::uint32_t new_count = 2'666'667;
    bool saw_interrupted = false, saw_done = false;
    for (std::size_t stop_after = 1; stop_after < 700; stop_after += 3) {
        SimBoard board("ATmega328");
        Cancellation cancel;
        StopAfter link(board.link, cancel, stop_after);
        auto state = std::make_unique<ProgrammerState>();
        Programmer p(*state, link, board.clock);
        p.set_model(*find_device_model("ATmega328"));
        p.set_cancellation(&cancel);
        const OperationOutcome o = p.configure_loader("16", "2");
        const auto block = board.loader.loader_first_block();
        ASSERT_TRUE(has_loader_layout(block)) << "stopped after " << stop_after << " bytes";
        const std::uint32_t count = decode_wait_count(block, 0);
        EXPECT_TRUE(count == old_count || count == new_count) << count;
        if (o.result == Result::Interrupted) {
            saw_interrupted = true;
            EXPECT_EQ(count, old_count);
        } else {
            EXPECT_EQ(o.result, Result::Success) << status_text(o);
            EXPECT_EQ(count, new_count);
            saw_done = true;
        }
    }
    EXPECT_TRUE(saw_interrupted);
    EXPECT_TRUE(saw_done);
}

// Notes which holds were in force at each write, and may request a stop once the host
// has written a given number of bytes; its reads give up on a stop that no hold delays,
// as a real port's do.
class HoldWatch final : public ByteLink {
public:
    HoldWatch(ByteLink& inner, Cancellation& cancel, std::size_t stop_after)
        : inner_(inner), cancel_(cancel), left_(stop_after) {}
    bool write(std::span<const std::uint8_t> bytes) override {
        loader_block = loader_block || cancel_.held(HoldKind::LoaderBlock);
        frames_in_flight = frames_in_flight || cancel_.held(HoldKind::FramesInFlight);
        if (left_ > 0) {
            left_ = bytes.size() >= left_ ? 0 : left_ - bytes.size();
            if (left_ == 0) cancel_.request();
        }
        return inner_.write(bytes);
    }
    ReadResult read(std::span<std::uint8_t> into) override {
        if (cancel_.requested()) return ReadResult{0, false, true};
        return inner_.read(into);
    }
    void discard_input() override { inner_.discard_input(); }

    bool loader_block = false;
    bool frames_in_flight = false;

private:
    ByteLink& inner_;
    Cancellation& cancel_;
    std::size_t left_;
};

// A window refuses to close only while the loader's own block is written; the frames of
// an ordinary write hold a stop back only until their answers are in.
TEST(LoaderConfigurationSafety, OnlyTheLoadersBlockIsHeldAsTheLoaders) {
    struct Case {
        const char* name;
        LoaderKind kind;
        bool write;              // a flash write, or else the configuration
        std::size_t stop_after;  // bytes written before a stop is asked for; 0: none
        bool loader_block;
        bool frames_in_flight;
    };
    for (const Case& c : {Case{"flash write, our loader", LoaderKind::Ours, true, 0, false, true},
                          Case{"flash write stopped inside the frames", LoaderKind::Ours, true, 1000, false, true},
                          Case{"configuration, our loader", LoaderKind::Ours, false, 0, true, false},
                          Case{"configuration, plain loader", LoaderKind::Plain, false, 0, true, false}}) {
        SCOPED_TRACE(c.name);
        SimBoard board("ATmega328", {}, c.kind);
        Cancellation cancel;
        HoldWatch link(board.link, cancel, c.stop_after);
        auto state = std::make_unique<ProgrammerState>();
        Programmer p(*state, link, board.clock);
        p.set_model(*find_device_model("ATmega328"));
        p.set_cancellation(&cancel);
        ASSERT_TRUE(p.identify_device().found());
        testing::TempDir dir;
        const auto program = testing::pattern(0x2000);
        const std::string file =
            dir.write("p.hex", ProgrammerBench::hex_records(0, program) + ":00000001FF\r\n");
        testing::RecordingProgress progress;
        const OperationOutcome o =
            c.write ? p.write(MemoryKind::Flash, file, progress) : p.configure_loader("16", "2", progress);
        EXPECT_EQ(link.loader_block, c.loader_block);
        EXPECT_EQ(link.frames_in_flight, c.frames_in_flight);
        if (c.stop_after == 0) {
            EXPECT_TRUE(o.ok()) << status_text(o);
            continue;
        }
        // The answers in flight were read to their end, not cut by the stop: the loader
        // holds what was reported, and nothing was lost on the line.
        ASSERT_EQ(o.result, Result::Interrupted) << status_text(o);
        ASSERT_FALSE(progress.positions.empty());
        const std::uint32_t reported = progress.positions.back();
        EXPECT_GT(reported, 0u);
        EXPECT_LT(reported, 0x2000u);
        EXPECT_TRUE(std::equal(program.begin(), program.begin() + reported, board.loader.flash().begin()));
    }
}

TEST(LoaderConfigurationSafety, ProgramsFirstAndErasesOnlyWhenTheBlockDidNotTake) {
    ProgrammerBench bench;
    ASSERT_TRUE(bench.programmer.configure_loader("16", "2").ok());
    auto sent = commands(bench.board.loader);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), 'E'), 2);
    // B A F before the first E: the block is never blank before a programming attempt.
    const auto first_f = std::find(sent.begin(), sent.end(), 'F');
    const auto first_e = std::find(sent.begin(), sent.end(), 'E');
    EXPECT_LT(first_f, first_e);

    // The same count again: the block takes at once and nothing is erased.
    bench.board.loader.misbehave({});
    ASSERT_TRUE(bench.programmer.configure_loader("16", "2").ok());
    sent = commands(bench.board.loader);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), 'E'), 0);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), 'F'), 1);
}

TEST(LoaderConfigurationSafety, ABlockThatStillDiffersAfterTheEraseIsNotReportedDone) {
    // Lock bits that guard the loader: its pages take neither `E` nor `F`.
    SimFaults locked;
    locked.loader_locked = true;
    ProgrammerBench bench("ATmega328", locked);
    const auto before = copy_of(bench.board.loader.loader_first_block());
    const OperationOutcome o = bench.programmer.configure_loader("16", "2");
    EXPECT_EQ(o.result, Result::Differences);
    EXPECT_FALSE(o.ok());
    EXPECT_GT(o.difference_count, 0u);
    const auto sent = commands(bench.board.loader);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), 'E'), 2);  // the fallback was tried
    EXPECT_EQ(status_text(o), "Загрузчик не принял настройку: по адресу 7C31 записано EA, прочитано E2");
    EXPECT_EQ(copy_of(bench.board.loader.loader_first_block()), before);
}

TEST(LoaderConfigurationSafety, AClockOutsideOneToTwentyMHzNeedsConsent) {
    struct Case { const char* fosc; const char* timeout; bool refused; };
    const Case cases[] = {
        {"0.016", "2", true},  // 16 with the point slipped: a 2 ms wait on the real board
        {"0,999", "2", true}, {"20.001", "2", true}, {"160", "0.5", true},
        {"1", "2", false},     {"20", "2", false},   {"16", "2", false}, {"7,3728", "1", false},
    };
    for (const Case& c : cases) {
        ProgrammerBench bench;
        const OperationOutcome o = bench.programmer.configure_loader(c.fosc, c.timeout);
        if (!c.refused) {
            EXPECT_TRUE(o.ok()) << c.fosc << ": " << status_text(o);
            continue;
        }
        EXPECT_EQ(o.result, Result::Refused) << c.fosc;
        EXPECT_EQ(o.refusal, Refusal::FoscOutOfRange) << c.fosc;
        EXPECT_EQ(bench.commands_sent(), 0u) << c.fosc;
        EXPECT_NE(status_text(o).find("вне диапазона 1–20 МГц"), std::string::npos) << status_text(o);
        EXPECT_EQ(decode_wait_count(bench.board.loader.loader_first_block(), 0), SimLoader::kFactoryWaitCount);
        const OperationOutcome agreed =
            bench.programmer.configure_loader(c.fosc, c.timeout, no_progress(), {.allow_unusual_clock = true});
        EXPECT_TRUE(agreed.ok()) << c.fosc << ": " << status_text(agreed);
    }
    // A typo is named as the clock, before what it makes of the wait: 99 MHz with a
    // 3 s wait would overflow the count, and 0.016 with 0.1 s would be too short.
    for (const auto& [fosc, timeout] : {std::pair{"99", "3"}, std::pair{"0.016", "0.1"}}) {
        ProgrammerBench typo;
        const OperationOutcome o = typo.programmer.configure_loader(fosc, timeout);
        EXPECT_EQ(o.refusal, Refusal::FoscOutOfRange) << fosc << ": " << status_text(o);
        EXPECT_EQ(typo.commands_sent(), 0u);
    }
    ProgrammerBench bench;
    EXPECT_EQ(status_text(bench.programmer.configure_loader("0,016", "2")),
              "Частота Fosc 0,016 МГц вне диапазона 1–20 МГц, на котором работают эти МК и загрузчик: с таким "
              "счётчиком загрузчик после сброса может никому не ответить. В устройство ничего не отправлено");
}

TEST(LoaderConfigurationSafety, AWaitUnderHalfASecondNeedsConsent) {
    for (const char* timeout : {"0", "0,1", "0.49"}) {
        ProgrammerBench bench;
        const auto refused = bench.programmer.configure_loader("16", timeout);
        EXPECT_EQ(refused.refusal, Refusal::WaitTooShort) << timeout;
        EXPECT_EQ(bench.commands_sent(), 0u);
        EXPECT_TRUE(bench.programmer.configure_loader("16", timeout, no_progress(), {.allow_short_wait = true}).ok());
    }
    ProgrammerBench bench;
    // A clock of 0 makes count 1 at any time, but it is the clock that is wrong: named first.
    EXPECT_EQ(bench.programmer.configure_loader("0", "5").refusal, Refusal::FoscOutOfRange);
    EXPECT_EQ(bench.programmer.configure_loader("0", "5", no_progress(), {.allow_unusual_clock = true}).refusal,
              Refusal::WaitTooShort);
    EXPECT_TRUE(bench.programmer.configure_loader("16", "0,5").ok());
}

TEST(Operations, AStopEndsAfterTheTransactionUnderWay) {
    ProgrammerBench bench;
    Cancellation cancel;
    bench.programmer.set_cancellation(&cancel);
    struct StopAt final : ProgressObserver {
        Cancellation& c;
        explicit StopAt(Cancellation& cancel) : c(cancel) {}
        void on_position(std::uint32_t position) override {
            if (position >= 256) c.request();
        }
    } stop_at(cancel);
    const auto o = bench.programmer.erase(MemoryKind::Eeprom, stop_at);
    EXPECT_EQ(o.result, Result::Interrupted);
    EXPECT_EQ(o.stopped_address, 256u);
    EXPECT_EQ(status_text(o), "Прервано при стирании EEPROM, адрес 0100: операция не закончена");
    const auto sent = commands(bench.board.loader);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), 'e'), 2);
    // The line stays usable.
    cancel.clear();
    EXPECT_TRUE(bench.programmer.read(MemoryKind::Eeprom).ok());
}

TEST(Operations, ABlankMemoryReadBackVerifiesAgainstTheSameDevice) {
    ProgrammerBench bench;
    const auto read = bench.programmer.read(MemoryKind::Eeprom);
    ASSERT_TRUE(read.ok());
    const std::string path = bench.dir.file("blank.eep");
    ASSERT_TRUE(bench.programmer.save_read(read, path).ok());
    EXPECT_TRUE(bench.programmer.verify(MemoryKind::Eeprom, path).ok());
}

}  // namespace
}  // namespace zarvik
