// The presenter behind both windows, driven as a user drives a window, through a fake
// view: real programmer, real device thread, simulated boards in process on a fake
// clock. No toolkit and no display.
#include "presenter/window_texts.h"
#include "presenter/main_presenter.h"

#include <algorithm>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "memory/device_model.h"
#include "presenter/control_ids.h"
#include "programmer/status_texts.h"
#include "support/programmer_fixture.h"
#include "support/temp_dir.h"
#include "presenter/fake_view.h"

namespace zarvik {
namespace {

using testing::FakeBoards;
using testing::FakePort;
using testing::FakeView;
using testing::Shown;
using testing::TempDir;

constexpr int kSpeed115200 = 6;  // its index in the speed list

int index_of(const std::vector<std::string>& list, const std::string& item) {
    const auto at = std::find(list.begin(), list.end(), item);
    return at == list.end() ? -1 : static_cast<int>(at - list.begin());
}

bool starts_with(const std::string& text, const std::string& start) { return text.rfind(start, 0) == 0; }
bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class Presenter : public ::testing::Test {
protected:
    void SetUp() override { help_file("Help.txt", "Справка\n"); }
    void TearDown() override { set_language(Language::Russian); }

    void help_file(const std::string& name, const std::string& text) { (void)dir.write(name, text); }
    std::string settings() const { return testing::read_file(dir.file("Zarvik.ini")); }

    void start() {
        PresenterEnvironment environment;
        environment.scan_ports = [this] { return ports; };
        environment.describe_port = [](const std::string& name) {
            return name.ends_with("USB0") ? std::string("FT232R USB UART, FTDI, 0403:6001") : std::string();
        };
        environment.make_port = [this](Clock& clock) { return std::make_unique<FakePort>(clock, boards); };
        environment.clock = &clock;
        environment.settings_folder = dir.path().string();
        environment.help_folders = {dir.path().string()};
        environment.documents_folder = "/home/user/Documents";
        presenter = std::make_unique<MainPresenter>(view, environment);
        presenter->start();
    }
    // A board of `model` on the port `name`, listed by the scan.
    // Tests that hold an operation at one exchange take a loader of the original kind:
    // ours skips what already holds the value and sends no such exchange at all.
    SimLoader& board(const std::string& name, const char* model, SimFaults faults = {},
                     LoaderKind kind = LoaderKind::Ours) {
        loaders.push_back(std::make_unique<SimLoader>(*find_device_model(model), faults, kind));
        boards.boards[name] = loaders.back().get();
        ports.push_back(name);
        return *loaders.back();
    }
    void choose(int id, const std::string& item) {
        const int index = index_of(view.item_texts(id), item);
        ASSERT_GE(index, 0) << item;
        view.selection[id] = index;
        presenter->on_choice(id, index);
    }
    // The scan finds the ports; the port and 115200 baud are chosen.
    void open_port(const std::string& name) {
        presenter->on_scan_tick();
        ASSERT_FALSE(presenter->scanning());
        choose(ids::kPortList, name);
        ASSERT_TRUE(presenter->port_open());
        view.selection[ids::kSpeedList] = kSpeed115200;
        presenter->on_choice(ids::kSpeedList, kSpeed115200);
        ASSERT_EQ(view.text(ids::kConnectionLine), "Установлена скорость 115200 бод");
    }
    // Clicks and waits until what the click started on the device thread has ended.
    void run(int id) {
        presenter->on_command(id);
        ASSERT_TRUE(view.pump_until([this] { return !presenter->busy(); }));
    }
    std::string status() const { return view.text(ids::kStatusLine); }
    std::string connection() const { return view.text(ids::kConnectionLine); }
    void type(int id, const std::string& text) {
        view.texts[id] = text;
        presenter->on_text_edited(id, text);
    }

    TempDir dir;
    FakeClock clock;
    FakeBoards boards;
    std::vector<std::unique_ptr<SimLoader>> loaders;
    std::vector<std::string> ports;
    FakeView view;
    // Last: it goes first, while the view and the boards it uses are still there.
    std::unique_ptr<MainPresenter> presenter;
};

TEST_F(Presenter, StartsWithTheListsFilledNothingChosenAndTheSettingsRead) {
    start();
    EXPECT_EQ(view.item_texts(ids::kSpeedList),
              (std::vector<std::string>{"4800", "9600", "19200", "38400", "76800", "100000", "115200", "125000", "230400",
                                        "250000"}));
    EXPECT_EQ(view.selection[ids::kSpeedList], -1);
    EXPECT_EQ(view.item_texts(ids::kModelList), (std::vector<std::string>{"ATmega8", "ATmega88", "ATmega168", "ATmega328"}));
    EXPECT_EQ(view.selection[ids::kModelList], 0);
    EXPECT_EQ(view.selection[ids::kPortList], -1);
    EXPECT_EQ(status(), "");
    EXPECT_EQ(view.text(ids::kFlashPath), "");
    EXPECT_EQ(view.text(ids::kEepromPath), "");
    EXPECT_EQ(view.text(ids::kFosc), "8");
    EXPECT_EQ(view.text(ids::kTimeout), "5");
    EXPECT_EQ(settings(), "Fosc\t = 8\r\ntime_out = 5\r\n");
    EXPECT_TRUE(view.scan_timer);
    EXPECT_FALSE(view.is_enabled(ids::kStop));
    EXPECT_TRUE(view.messages.empty());  // Help.txt is there
    EXPECT_EQ(presenter->programmer_state().model.loader_start, 0x1C00u);
}

TEST_F(Presenter, TheScanRunsUntilAPortIsThereThenListsThemSortedAsText) {
    start();
    presenter->on_scan_tick();
    EXPECT_EQ(connection(), "Нет доступного COM порта");
    EXPECT_TRUE(presenter->scanning());
    EXPECT_TRUE(view.scan_timer);

    for (int i = 21; i > 0; --i) ports.push_back("/dev/ttyFAKE" + std::to_string(i));
    presenter->on_scan_tick();
    EXPECT_EQ(connection(), "Доступно 21 COM портов");
    EXPECT_FALSE(presenter->scanning());
    EXPECT_FALSE(view.scan_timer);
    const auto listed = view.item_texts(ids::kPortList);
    ASSERT_EQ(listed.size(), 21u);
    EXPECT_EQ(listed[0], "/dev/ttyFAKE1");
    EXPECT_EQ(listed[1], "/dev/ttyFAKE10");
    EXPECT_EQ(view.selection[ids::kPortList], -1);
}

// The connection line counts the ports the scan found, the word after its number.
TEST_F(Presenter, TheScanCountsThePortsItFound) {
    struct Case {
        int count;
        const char* line;
    };
    for (const Case& c : {Case{1, "Доступно 1 COM порт"}, Case{3, "Доступно 3 COM порта"},
                          Case{5, "Доступно 5 COM портов"}, Case{21, "Доступно 21 COM портов"}}) {
        presenter.reset();
        view.reset();
        ports.clear();
        for (int i = c.count; i > 0; --i) ports.push_back("/dev/ttyFAKE" + std::to_string(i));
        start();
        presenter->on_scan_tick();
        EXPECT_EQ(connection(), c.line);
        EXPECT_EQ(view.item_texts(ids::kPortList).size(), static_cast<std::size_t>(c.count));
        EXPECT_FALSE(presenter->scanning());
    }
}

TEST_F(Presenter, PortAndSpeedChoicesSayWhatHappened) {
    board("/dev/board", "ATmega8");
    ports.push_back("/dev/zarvik-none");
    boards.refused_speed = 250000;
    start();
    presenter->on_scan_tick();
    choose(ids::kPortList, "/dev/zarvik-none");
    EXPECT_EQ(connection(), "Не удалось открыть порт /dev/zarvik-none");
    EXPECT_FALSE(presenter->port_open());

    presenter->on_choice(ids::kSpeedList, 1);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "COM порт не открыт");
    EXPECT_EQ(view.messages[0].caption, "Ошибка");
    EXPECT_EQ(view.selection[ids::kSpeedList], -1);

    choose(ids::kPortList, "/dev/board");
    EXPECT_EQ(connection(), "Открыт порт /dev/board. Выберите скорость");
    EXPECT_TRUE(presenter->port_open());
    presenter->on_command(ids::kConnect);
    ASSERT_EQ(view.messages.size(), 2u);
    EXPECT_EQ(view.messages[1].text, "Не выбрана скорость порта");
    EXPECT_FALSE(presenter->busy());

    // A speed the port does not take is not taken for chosen.
    presenter->on_choice(ids::kSpeedList, 9);
    EXPECT_EQ(connection(), "Порт не принял скорость 250000 бод");
    EXPECT_EQ(view.selection[ids::kSpeedList], -1);
    ASSERT_EQ(view.messages.size(), 3u);
    EXPECT_EQ(view.messages[2].text, "Порт работает на другой скорости");
    presenter->on_command(ids::kConnect);
    EXPECT_EQ(view.messages.back().text, "Не выбрана скорость порта");

    // The chosen speed goes with a port chosen again: it is applied to it at once, and
    // «Соединить» asks for nothing.
    view.selection[ids::kSpeedList] = kSpeed115200;
    presenter->on_choice(ids::kSpeedList, kSpeed115200);
    ASSERT_EQ(connection(), "Установлена скорость 115200 бод");
    choose(ids::kPortList, "/dev/board");
    EXPECT_EQ(view.selection[ids::kSpeedList], kSpeed115200);
    EXPECT_EQ(connection(), "Установлена скорость 115200 бод");
    EXPECT_EQ(presenter->link(), Link::SpeedSet);
    const std::size_t shown = view.messages.size();
    run(ids::kConnect);
    EXPECT_EQ(view.messages.size(), shown);
    EXPECT_EQ(connection(), "Соединение установлено успешно!");
}

TEST_F(Presenter, ConnectTellsBothOutcomesAndSelectsTheModelThatAnswers) {
    struct Case {
        const char* chip;
        const char* selected;
        const char* after;
        bool said;
    };
    const Case cases[] = {
        {"ATmega328", "ATmega8", "ATmega328", true},
        {"ATmega8", "ATmega328", "ATmega8", true},
        {"ATmega168", "ATmega88", "ATmega168", true},
        {"ATmega88", "ATmega8", "ATmega8", false},  // the same to the host
        {"ATmega168", "ATmega168", "ATmega168", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.chip) + " while " + c.selected + " is selected");
        presenter.reset();
        view.reset();
        ports.clear();
        loaders.clear();
        board("/dev/board", c.chip);
        start();
        open_port("/dev/board");
        choose(ids::kModelList, c.selected);
        run(ids::kConnect);
        EXPECT_EQ(connection(), "Соединение установлено успешно!");
        EXPECT_TRUE(presenter->connected());
        EXPECT_EQ(view.item_texts(ids::kModelList)[static_cast<std::size_t>(view.selection[ids::kModelList])], c.after);
        EXPECT_EQ(presenter->programmer_state().model.name, c.after);
        // Then what the board's loader holds (the simulated one is built for 16 MHz and
        // waits half a second).
        const std::string holds = "Загрузчик платы: 16 МГц, ожидание 0,5 с";
        if (c.said) {
            EXPECT_TRUE(starts_with(status(), "Подключён ")) << status();
            EXPECT_TRUE(status().ends_with(std::string("в списке МК выбран ") + c.after + ". " + holds)) << status();
        } else {
            EXPECT_EQ(status(), holds);
        }
        run(ids::kFlashErase);
        EXPECT_TRUE(starts_with(status(), "Стирание flash закончено!")) << status();
    }

    presenter.reset();
    view.reset();
    board("/dev/silent", "ATmega8", SimFaults{.silent = true});
    start();
    open_port("/dev/silent");
    run(ids::kConnect);
    EXPECT_EQ(connection(), "Соединение не удалось установить");
    EXPECT_FALSE(presenter->connected());
}

TEST_F(Presenter, FlashAndEepromThroughTheButtonsAndTheFileDialogs) {
    SimLoader& chip = board("/dev/board", "ATmega8");
    start();
    open_port("/dev/board");

    view.files.push_back(std::string(ZARVIK_BLINK_HEX));
    presenter->on_command(ids::kFlashBrowse);
    ASSERT_EQ(view.dialogs.size(), 1u);
    EXPECT_EQ(view.dialogs[0].mode, FileDialogMode::Open);
    EXPECT_EQ(view.dialogs[0].filters,
              (std::vector<FileFilter>{{"Файлы программной памяти flash", {"hex", "elf"}}, {"Все файлы", {}}}));
    EXPECT_EQ(view.tooltips[ids::kFlashPath], ZARVIK_BLINK_HEX);
    EXPECT_EQ(presenter->file_path(MemoryKind::Flash), ZARVIK_BLINK_HEX);

    run(ids::kFlashErase);
    EXPECT_TRUE(starts_with(status(), "Стирание flash закончено!  Время стирания: ")) << status();
    EXPECT_EQ(view.progress[ids::kFlashProgress], (std::pair<std::uint32_t, std::uint32_t>{0x1C00, 0x1C00}));
    run(ids::kFlashWrite);
    EXPECT_TRUE(starts_with(status(), "Запись flash закончена!  Время записи: ")) << status();
    run(ids::kFlashVerify);
    EXPECT_TRUE(starts_with(status(), "flash записан правильно!  Время чтения: ")) << status();

    view.files.push_back(dir.file("readback"));
    run(ids::kFlashRead);
    EXPECT_EQ(view.dialogs.back().mode, FileDialogMode::Save);
    EXPECT_TRUE(starts_with(status(), "Чтение flash закончено!  Время чтения: ")) << status();
    EXPECT_TRUE(std::filesystem::exists(dir.file("readback.hex")));  // the extension rule

    view.files.push_back(std::string(ZARVIK_BLINK_EEP));
    presenter->on_command(ids::kEepromBrowse);
    EXPECT_EQ(view.dialogs.back().filters,
              (std::vector<FileFilter>{{"Файлы памяти данных EEPROM", {"eep", "hex"}}, {"Все файлы", {}}}));
    run(ids::kEepromWrite);
    EXPECT_TRUE(starts_with(status(), "Запись EEPROM закончена!  Время записи: ")) << status();
    run(ids::kEepromVerify);
    EXPECT_TRUE(starts_with(status(), "EEPROM записан правильно!  Время чтения: ")) << status();
    view.files.push_back(dir.file("data.eep"));
    run(ids::kEepromRead);
    EXPECT_TRUE(starts_with(status(), "Чтение EEPROM закончено!  Время чтения: ")) << status();
    EXPECT_TRUE(std::filesystem::exists(dir.file("data.eep")));

    // The extension turns the typed name into that of an existing file: asked first,
    // captioned with the program's name, and No reads nothing.
    const std::string before = status();
    const std::size_t reads = chip.log().size();
    view.files.push_back(dir.file("readback"));
    view.answers.push_back(false);
    run(ids::kFlashRead);
    ASSERT_EQ(view.questions.size(), 1u);
    EXPECT_TRUE(contains(view.questions[0].text, dir.file("readback.hex"))) << view.questions[0].text;
    EXPECT_EQ(view.questions[0].caption, "Zarvik");
    EXPECT_EQ(status(), before);
    EXPECT_EQ(chip.log().size(), reads);

    // Cancelling the save dialog sends nothing and leaves the status line alone.
    run(ids::kEepromRead);
    EXPECT_EQ(status(), before);
    EXPECT_EQ(view.progress[ids::kEepromProgress].first, 0u);
    EXPECT_EQ(chip.log().size(), reads);

    // A damaged file: a message box, nothing sent, no phase text left behind.
    view.files.push_back(dir.write("bad.hex", ":0100000011FF\r\n"));
    presenter->on_command(ids::kFlashBrowse);
    run(ids::kFlashWrite);
    ASSERT_FALSE(view.messages.empty());
    EXPECT_TRUE(contains(view.messages.back().text, "контрольная сумма")) << view.messages.back().text;
    EXPECT_EQ(view.messages.back().caption, "Ошибка");
    EXPECT_EQ(status(), "");
    EXPECT_EQ(chip.log().size(), reads);
}

TEST_F(Presenter, OperationsNeedAnOpenPortAndAChosenFile) {
    start();
    struct Case {
        int id;
        const char* says;
    };
    for (const Case& c : {Case{ids::kFlashErase, "COM порт не открыт"}, Case{ids::kEepromWrite, "COM порт не открыт"},
                          Case{ids::kFlashVerify, "COM порт не открыт"}, Case{ids::kFlashRead, "COM порт не открыт"},
                          Case{ids::kConfigureLoader, "COM порт не открыт"}, Case{ids::kStartProgram, "COM порт не открыт"},
                          Case{ids::kConnect, "COM порт не открыт"}}) {
        presenter->on_command(c.id);
        ASSERT_FALSE(view.messages.empty());
        EXPECT_EQ(view.messages.back().text, c.says) << c.id;
        EXPECT_FALSE(presenter->busy());
    }
    EXPECT_TRUE(view.dialogs.empty());  // no file dialog before the port is there

    board("/dev/board", "ATmega8");
    open_port("/dev/board");
    presenter->on_command(ids::kFlashWrite);
    EXPECT_EQ(view.messages.back().text, "Нет загруженного файла flash");
    presenter->on_command(ids::kEepromVerify);
    EXPECT_EQ(view.messages.back().text, "Нет загруженного файла EEPROM");
    EXPECT_FALSE(presenter->busy());

    // A file with no HEX record at all is called what it is.
    presenter->on_files_given({dir.write("notes.hex", "Just some notes\r\n")});
    run(ids::kFlashWrite);
    EXPECT_TRUE(contains(view.messages.back().text, "это не файл Intel HEX")) << view.messages.back().text;
    EXPECT_EQ(status(), "");
}

TEST_F(Presenter, DuringAnOperationOnlyStopAndExitAreLiveAndStopEndsItAfterOneExchange) {
    SimLoader& chip = board("/dev/board", "ATmega328", {}, LoaderKind::Plain);
    start();
    open_port("/dev/board");
    run(ids::kConnect);

    // The erase is held in its third block's write.
    int writes = 0;
    boards.gate.arm([&writes](const Cancellation*) { return ++writes == 3; });
    presenter->on_command(ids::kEepromErase);
    ASSERT_TRUE(presenter->busy());
    EXPECT_TRUE(view.busy_cursor);
    EXPECT_EQ(status(), "Стираем EEPROM");
    for (int id : MainPresenter::controls_locked_while_busy()) EXPECT_FALSE(view.is_enabled(id)) << id;
    EXPECT_TRUE(view.is_enabled(ids::kStop));
    EXPECT_TRUE(view.is_enabled(ids::kExit));
    ASSERT_TRUE(boards.gate.wait_until_held());

    // A click that reached a locked control is dropped, not replayed later.
    presenter->on_command(ids::kFlashErase);
    presenter->on_choice(ids::kModelList, 0);
    presenter->on_command(ids::kStop);
    EXPECT_FALSE(view.is_enabled(ids::kStop));
    boards.gate.open();
    ASSERT_TRUE(view.pump_until([this] { return !presenter->busy(); }));
    EXPECT_TRUE(starts_with(status(), "Прервано при стирании EEPROM, адрес ")) << status();
    EXPECT_LT(view.progress[ids::kEepromProgress].first, 1024u);
    EXPECT_FALSE(view.busy_cursor);
    for (int id : MainPresenter::controls_locked_while_busy()) EXPECT_TRUE(view.is_enabled(id)) << id;
    EXPECT_FALSE(view.is_enabled(ids::kStop));
    EXPECT_EQ(chip.eeprom()[0x3FF], 0xFF);  // untouched by a replayed click: the sim starts blank
    EXPECT_EQ(presenter->programmer_state().model.name, "ATmega328");

    // Esc is «Стоп» while an operation runs.
    writes = 0;
    boards.gate.arm([&writes](const Cancellation*) { return ++writes == 2; });
    presenter->on_command(ids::kEepromErase);
    ASSERT_TRUE(boards.gate.wait_until_held());
    presenter->on_escape();
    boards.gate.open();
    ASSERT_TRUE(view.pump_until([this] { return !presenter->busy(); }));
    EXPECT_TRUE(starts_with(status(), "Прервано")) << status();
    EXPECT_FALSE(view.closed);

    // And the port still works.
    run(ids::kConnect);
    EXPECT_EQ(connection(), "Соединение установлено успешно!");
}

TEST_F(Presenter, ClosingDuringAnOperationAsksFirstAndTheQuestionWaitsForItsAnswer) {
    board("/dev/board", "ATmega328");
    start();
    open_port("/dev/board");
    run(ids::kConnect);

    // No: the operation goes on, and the window stays.
    boards.gate.arm([](const Cancellation*) { return true; });
    presenter->on_command(ids::kEepromErase);
    ASSERT_TRUE(boards.gate.wait_until_held());
    view.answers.push_back(false);
    presenter->on_close();
    ASSERT_EQ(view.questions.size(), 1u);
    EXPECT_EQ(view.questions[0].caption, "Zarvik");
    EXPECT_EQ(view.questions[0].text, "Операция ещё не закончена. Прервать её и закрыть окно?");
    EXPECT_TRUE(presenter->busy());
    EXPECT_FALSE(view.closed);

    // The operation ends while the question is open: the question stays open, the
    // operation's result is shown beneath it, and the answer decides. No keeps the window.
    view.on_ask = [this](const Shown&) {
        boards.gate.open();
        EXPECT_TRUE(view.pump_until([this] { return !presenter->busy(); }));
        EXPECT_TRUE(view.question_open);
        EXPECT_TRUE(starts_with(status(), "Стирание EEPROM закончено!")) << status();
        return false;
    };
    presenter->on_close();
    EXPECT_FALSE(presenter->busy());
    EXPECT_FALSE(view.closed);
    EXPECT_EQ(presenter->life(), Life::Running);

    // Yes, given after the operation ended: the window closes at once.
    boards.gate.arm([](const Cancellation*) { return true; });
    presenter->on_command(ids::kEepromErase);
    ASSERT_TRUE(boards.gate.wait_until_held());
    view.on_ask = [this](const Shown&) {
        boards.gate.open();
        EXPECT_TRUE(view.pump_until([this] { return !presenter->busy(); }));
        EXPECT_FALSE(view.closed);  // not before the answer
        return true;
    };
    presenter->on_close();
    EXPECT_TRUE(view.closed);
    EXPECT_EQ(presenter->life(), Life::Closed);
    view.on_ask = nullptr;

    // Again, with a window that was closed: a new one on the same board.
    presenter.reset();
    view.reset();
    start();
    open_port("/dev/board");
    run(ids::kConnect);

    // Yes: stopped after the exchange under way, then the exit sequence, settings saved.
    std::filesystem::remove(dir.file("Zarvik.ini"));
    boards.gate.arm([](const Cancellation*) { return true; });
    presenter->on_command(ids::kEepromErase);
    ASSERT_TRUE(boards.gate.wait_until_held());
    view.answers.push_back(true);
    presenter->on_command(ids::kExit);
    EXPECT_FALSE(view.closed);
    boards.gate.open();
    ASSERT_TRUE(view.pump_until([this] { return view.closed; }));
    EXPECT_FALSE(presenter->busy());
    EXPECT_EQ(presenter->life(), Life::Closed);
    EXPECT_EQ(settings(), "Fosc\t = 8\r\ntime_out = 5\r\nlast_model = ATmega328\r\nlast_port = /dev/board\r\n"
                          "last_speed = 115200\r\n");
}

TEST_F(Presenter, TheLoadersOwnBlockIsNeverCutShort) {
    board("/dev/board", "ATmega8");
    start();
    open_port("/dev/board");
    run(ids::kConnect);
    // Held at the first write made while the loader's block must not be cut.
    boards.gate.arm([](const Cancellation* cancel) { return cancel != nullptr && cancel->held(HoldKind::LoaderBlock); });
    presenter->on_command(ids::kConfigureLoader);
    ASSERT_TRUE(boards.gate.wait_until_held());
    presenter->on_command(ids::kStop);
    presenter->on_close();
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].caption, "Внимание!");
    EXPECT_TRUE(contains(view.messages[0].text, "первый блок загрузчика")) << view.messages[0].text;
    EXPECT_TRUE(view.questions.empty());
    boards.gate.open();
    ASSERT_TRUE(view.pump_until([this] { return !presenter->busy(); }));
    EXPECT_EQ(status(), "Настройка загрузчика выполнена на частоту 8 МГц и 5 секунд");
    EXPECT_FALSE(view.closed);
}

TEST_F(Presenter, ClosingDuringAFlashWriteAsksAndClosesOnceTheFramesInFlightAreAnswered) {
    SimLoader& chip = board("/dev/board", "ATmega328");
    start();
    open_port("/dev/board");
    run(ids::kConnect);
    const auto program = testing::pattern(0x2000);
    presenter->on_files_given({dir.write("p.hex", testing::ProgrammerBench::hex_records(0, program) + ":00000001FF\r\n")});

    // Held at the fourth frame: three are in flight, their answers still to come. Any
    // hold counts here: which kind it is, is what the window must tell.
    int frames = 0;
    boards.gate.arm([&frames](const Cancellation* cancel) { return cancel != nullptr && cancel->held() && ++frames == 4; });
    presenter->on_command(ids::kFlashWrite);
    ASSERT_TRUE(boards.gate.wait_until_held());
    view.answers.push_back(true);
    presenter->on_close();
    EXPECT_TRUE(view.messages.empty()) << view.messages[0].text;  // no word of the loader's block
    ASSERT_EQ(view.questions.size(), 1u);
    EXPECT_EQ(view.questions[0].text, "Операция ещё не закончена. Прервать её и закрыть окно?");
    EXPECT_EQ(presenter->life(), Life::Closing);
    EXPECT_FALSE(view.closed);  // not before the operation has ended

    boards.gate.open();
    ASSERT_TRUE(view.pump_until([this] { return view.closed; }));
    EXPECT_FALSE(presenter->busy());
    EXPECT_EQ(presenter->life(), Life::Closed);
    // Stopped: the frames sent were programmed, the file's end was never reached.
    EXPECT_TRUE(std::equal(program.begin(), program.begin() + 4 * 128, chip.flash().begin()));
    EXPECT_EQ(std::count(chip.flash().begin() + 0x1F80, chip.flash().begin() + 0x2000, 0xFF), 0x80);
}

TEST_F(Presenter, RefusalsExplainInABoxOrAskYesNoWithNoByDefault) {
    SimLoader& chip = board("/dev/board", "ATmega8");
    start();
    open_port("/dev/board");
    run(ids::kConnect);

    // Another model chosen by hand: the operations take it, and it is refused in a box,
    // nothing sent, no phase text left.
    choose(ids::kModelList, "ATmega328");
    EXPECT_EQ(presenter->programmer_state().model.loader_start, 0x7C00u);
    const std::size_t sent = chip.log().size();
    run(ids::kFlashErase);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].caption, "Ошибка");
    EXPECT_TRUE(contains(view.messages[0].text, "ATmega8/88") && contains(view.messages[0].text, "ATmega328"));
    EXPECT_EQ(status(), "");
    EXPECT_EQ(chip.log().size(), sent);
    choose(ids::kModelList, "ATmega8");

    // A wait under half a second asks; no answer (the default) sends nothing, Yes writes it.
    type(ids::kTimeout, "0,1");
    run(ids::kConfigureLoader);
    ASSERT_EQ(view.questions.size(), 1u);
    EXPECT_EQ(view.questions[0].caption, "Zarvik");
    EXPECT_TRUE(view.questions[0].text.ends_with("Записать такое время ожидания всё же?"));
    EXPECT_EQ(status(), "");
    view.answers.push_back(true);
    run(ids::kConfigureLoader);
    ASSERT_TRUE(view.pump_until([this] { return !presenter->busy(); }));
    EXPECT_EQ(status(), "Настройка загрузчика выполнена на частоту 8 МГц и 0,1 секунды");
}

TEST_F(Presenter, AClockOutsideWhatTheseChipsRunAtIsAskedAbout) {
    SimLoader& chip = board("/dev/board", "ATmega8");
    start();
    open_port("/dev/board");
    run(ids::kConnect);
    const std::size_t sent = chip.log().size();
    type(ids::kFosc, "0.016");  // 16 with the point slipped
    type(ids::kTimeout, "2");
    run(ids::kConfigureLoader);
    ASSERT_EQ(view.questions.size(), 1u);
    EXPECT_EQ(view.questions[0].caption, "Zarvik");
    EXPECT_TRUE(contains(view.questions[0].text, "Частота Fosc 0,016 МГц вне диапазона 1–20 МГц")) << view.questions[0].text;
    EXPECT_TRUE(view.questions[0].text.ends_with("Записать настройку для такой частоты всё же?"));
    EXPECT_EQ(status(), "");
    EXPECT_EQ(chip.log().size(), sent);  // No, the default: nothing reached the board

    view.answers.push_back(true);
    run(ids::kConfigureLoader);
    ASSERT_TRUE(view.pump_until([this] { return !presenter->busy(); }));
    EXPECT_EQ(status(), "Настройка загрузчика выполнена на частоту 0,016 МГц и 2 секунды");
}

TEST_F(Presenter, ATornWaitCountIsShownAtConnectAndConfigureMendsIt) {
    SimFaults torn;
    torn.torn_count = 1'234'567;
    board("/dev/board", "ATmega8", torn);
    start();
    open_port("/dev/board");
    choose(ids::kModelList, "ATmega328");
    run(ids::kConnect);
    EXPECT_EQ(connection(), "Соединение установлено успешно!");
    EXPECT_TRUE(starts_with(status(), "Подключён ATmega8/88 (загрузчик с адреса 1C00): в списке МК выбран ATmega8. "
                                      "Счётчик ожидания загрузчика разорван: две его копии различаются"))
        << status();
    EXPECT_FALSE(contains(status(), "Загрузчик платы")) << status();  // which of the two counts?
    run(ids::kConfigureLoader);
    EXPECT_EQ(status(), "Настройка загрузчика выполнена на частоту 8 МГц и 5 секунд");
    run(ids::kConnect);
    EXPECT_EQ(status(), "Загрузчик платы: 16 МГц, ожидание 2,5 с");  // mended: 5 s at 8 MHz is 2.5 s at its 16
}

// A fresh start takes the clock and the wait from Zarvik.ini, which need not be what the
// board's loader holds: Connect says what it holds, and leaves the fields and the file
// alone, so that the user sees the difference before «Настроить прошивку».
TEST_F(Presenter, ConnectSaysWhatTheBoardsLoaderHoldsAndChangesNoField) {
    struct Case {
        const char* what;
        LoaderKind kind;
        const char* fosc;
        const char* timeout;
        const char* holds;
    };
    const Case cases[] = {
        {"ours, as it comes", LoaderKind::Ours, "16", "0.5", "Загрузчик платы: 16 МГц, ожидание 0,5 с"},
        {"ours, configured for another clock", LoaderKind::Ours, "8", "5", "Загрузчик платы: 16 МГц, ожидание 2,5 с"},
        {"another loader: only its count", LoaderKind::Plain, "8", "5", "Загрузчик платы: счётчик ожидания 3333334"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        presenter.reset();
        view.reset();
        ports.clear();
        loaders.clear();
        std::filesystem::remove(dir.file("Zarvik.ini"));
        board("/dev/board", "ATmega328", {}, c.kind);
        // The board configured by an earlier run, then a fresh start.
        start();
        open_port("/dev/board");
        run(ids::kConnect);
        type(ids::kFosc, c.fosc);
        type(ids::kTimeout, c.timeout);
        run(ids::kConfigureLoader);
        ASSERT_TRUE(starts_with(status(), "Настройка загрузчика выполнена")) << status();
        presenter.reset();
        view.reset();
        std::filesystem::remove(dir.file("Zarvik.ini"));
        start();
        open_port("/dev/board");
        run(ids::kConnect);
        EXPECT_TRUE(status().ends_with(std::string(". ") + c.holds)) << status();
        EXPECT_EQ(view.text(ids::kFosc), "8");
        EXPECT_EQ(view.text(ids::kTimeout), "5");
        EXPECT_EQ(presenter->text(ids::kFosc), "8");
        EXPECT_TRUE(settings().starts_with("Fosc\t = 8\r\ntime_out = 5\r\n")) << settings();
    }
}

TEST_F(Presenter, ALineFaultWhileTheChipIsIdentifiedIsCalledOne) {
    board("/dev/board", "ATmega8", SimFaults{.mute_command = 2});
    start();
    open_port("/dev/board");
    run(ids::kConnect);
    EXPECT_TRUE(contains(status(), "при опознании МК")) << status();
    EXPECT_NE(connection(), "Соединение установлено успешно!");
    EXPECT_FALSE(presenter->connected());
}

TEST_F(Presenter, AnUnconfirmedDeviceIsAskedAbout) {
    SimLoader& chip = board("/dev/board", "ATmega8");
    std::fill_n(chip.flash().begin() + 0x1C00, 128, std::uint8_t{0});
    start();
    open_port("/dev/board");
    run(ids::kConnect);
    chip.flash()[0] = 0x12;
    run(ids::kFlashErase);
    ASSERT_EQ(view.questions.size(), 1u);
    EXPECT_TRUE(contains(view.questions[0].text, "Устройство не опознано")) << view.questions[0].text;
    EXPECT_EQ(view.questions[0].caption, "Zarvik");
    EXPECT_EQ(chip.flash()[0], 0x12);
    view.answers.push_back(true);
    run(ids::kFlashErase);
    ASSERT_TRUE(view.pump_until([this] { return !presenter->busy(); }));
    EXPECT_TRUE(starts_with(status(), "Стирание flash закончено!")) << status();
    EXPECT_EQ(chip.flash()[0], 0xFF);
}

TEST_F(Presenter, TheConnectionLineFollowsTheLink) {
    SimLoader& chip = board("/dev/board", "ATmega328");
    start();
    open_port("/dev/board");
    run(ids::kConnect);
    ASSERT_EQ(connection(), "Соединение установлено успешно!");

    // The loader stops answering in the middle of an erase.
    chip.misbehave(SimFaults{.silent = true});
    run(ids::kEepromErase);
    EXPECT_TRUE(starts_with(status(), "Загрузчик не ответил")) << status();
    EXPECT_EQ(connection(), "Загрузчик перестал отвечать");
    EXPECT_FALSE(presenter->connected());

    // Another board: after «Старт программы» the program has the line.
    board("/dev/other", "ATmega328");
    presenter->on_port_list_opening();
    choose(ids::kPortList, "/dev/other");
    EXPECT_EQ(connection(), "Установлена скорость 115200 бод");  // the speed chosen goes with it
    run(ids::kConnect);
    ASSERT_EQ(connection(), "Соединение установлено успешно!");
    presenter->on_command(ids::kStartProgram);
    EXPECT_EQ(status(), "Программа запущена. Загрузчик снова ответит только после сброса платы");
    EXPECT_EQ(connection(), "Работает программа платы, загрузчик не на связи");
    EXPECT_FALSE(presenter->connected());

    // A third board, whose line goes away in the middle of an erase.
    SimLoader& third = board("/dev/third", "ATmega328", {}, LoaderKind::Plain);
    presenter->on_port_list_opening();
    choose(ids::kPortList, "/dev/third");
    run(ids::kConnect);
    ASSERT_EQ(connection(), "Соединение установлено успешно!");
    third.misbehave(SimFaults{.line_gone_after = 10});
    run(ids::kEepromErase);
    EXPECT_EQ(connection(), "Связь с портом потеряна");
    EXPECT_FALSE(presenter->connected());
}

TEST_F(Presenter, NumbersFollowTheLanguageAndCountedWordsTheirNumber) {
    board("/dev/board", "ATmega328");
    start();
    open_port("/dev/board");
    run(ids::kConnect);
    struct Case {
        Language language;
        const char* fosc;
        const char* timeout;
        const char* status;
    };
    const Case cases[] = {
        {Language::Russian, "16", "2", "Настройка загрузчика выполнена на частоту 16 МГц и 2 секунды"},
        {Language::Russian, "16", "1", "Настройка загрузчика выполнена на частоту 16 МГц и 1 секунду"},
        {Language::Russian, "16", "5", "Настройка загрузчика выполнена на частоту 16 МГц и 5 секунд"},
        {Language::Russian, "7.3728", "1,5", "Настройка загрузчика выполнена на частоту 7,3728 МГц и 1,5 секунды"},
        {Language::English, "7,3728", "2", "Loader configured for 7.3728 MHz and a 2 s start-up wait"},
        {Language::English, "16", "1", "Loader configured for 16 MHz and a 1 s start-up wait"},
    };
    for (const Case& c : cases) {
        set_language(c.language);
        type(ids::kFosc, c.fosc);
        type(ids::kTimeout, c.timeout);
        run(ids::kConfigureLoader);
        EXPECT_EQ(status(), c.status);
    }
    // The clock written goes back into its field as the settings file keeps it: with a point.
    set_language(Language::Russian);
    type(ids::kFosc, "7,3728");
    type(ids::kTimeout, "5");
    run(ids::kConfigureLoader);
    EXPECT_EQ(view.text(ids::kFosc), "7.3728");
    set_language(Language::Russian);

    // The wait too long for the clock: the window names the limit too.
    type(ids::kFosc, "16");
    type(ids::kTimeout, "100");
    run(ids::kConfigureLoader);
    ASSERT_FALSE(view.messages.empty());
    EXPECT_EQ(view.messages.back().text,
              "Задано слишком большое время ожидания запуска программы!\n"
              "При частоте 16 МГц время ожидания может быть не больше 12,52 с.");
    EXPECT_EQ(view.text(ids::kTimeout), "100");  // what was typed stays
}

TEST_F(Presenter, AVerifyMismatchNamesTheMemoryAndHowManyBytesDiffer) {
    SimLoader& chip = board("/dev/board", "ATmega8");
    start();
    open_port("/dev/board");
    struct Case {
        MemoryKind memory;
        std::string file;
        const char* starts;
    };
    const Case cases[] = {
        {MemoryKind::Flash, dir.write("one.hex", ":0100000000FF\r\n:00000001FF\r\n"), "Flash отличается от файла в 1 байте. Ошибка по адресу: 0000 "},
        {MemoryKind::Eeprom, dir.write("two.eep", ":020000000000FE\r\n:00000001FF\r\n"), "EEPROM отличается от файла в 2 байтах. Ошибка по адресу: 000 001 "},
    };
    for (const Case& c : cases) {
        std::fill(chip.flash().begin(), chip.flash().begin() + 0x1C00, std::uint8_t{0xFF});
        presenter->on_files_given({c.file});
        run(c.memory == MemoryKind::Flash ? ids::kFlashVerify : ids::kEepromVerify);
        EXPECT_EQ(status(), c.starts);
    }
}

TEST_F(Presenter, FilesGivenFillThePathOfTheirMemory) {
    start();
    presenter->on_files_given({"/tmp/a/blink.HEX", "/tmp/a/notes.txt", "/tmp/a/data.eep"});
    EXPECT_EQ(view.text(ids::kFlashPath), "/tmp/a/blink.HEX");
    EXPECT_EQ(view.text(ids::kEepromPath), "/tmp/a/data.eep");
    presenter->on_files_given({"/tmp/b/program.elf"});
    EXPECT_EQ(view.text(ids::kFlashPath), "/tmp/b/program.elf");
    EXPECT_EQ(view.text(ids::kEepromPath), "/tmp/a/data.eep");
    presenter->on_files_given({"/tmp/b/README", "/tmp/b/hex"});
    EXPECT_EQ(view.text(ids::kFlashPath), "/tmp/b/program.elf");

    // The file given is the one written.
    SimLoader& chip = board("/dev/board", "ATmega8");
    open_port("/dev/board");
    presenter->on_files_given({dir.write("given.hex", ":0100000042BD\r\n:00000001FF\r\n")});
    run(ids::kFlashWrite);
    EXPECT_TRUE(starts_with(status(), "Запись flash закончена!")) << status();
    EXPECT_EQ(chip.flash()[0], 0x42);

    // Not while an operation runs: the paths are locked then.
    boards.gate.arm([](const Cancellation*) { return true; });
    presenter->on_command(ids::kFlashErase);
    ASSERT_TRUE(boards.gate.wait_until_held());
    presenter->on_files_given({"/tmp/c/late.hex"});
    boards.gate.open();
    ASSERT_TRUE(view.pump_until([this] { return !presenter->busy(); }));
    // The field shows what the presenter makes of the path, its end when the folder lies deep.
    EXPECT_EQ(view.text(ids::kFlashPath), dir.file("given.hex"));
}

TEST_F(Presenter, ThePortListRescansWhenOpenedAndKeepsTheOpenPort) {
    board("/dev/pts/7", "ATmega8");
    start();
    open_port("/dev/pts/7");
    ports = {"/dev/ttyUSB0"};  // plugged in later; the open port is ours
    presenter->on_port_list_opening();
    EXPECT_EQ(view.item_texts(ids::kPortList), (std::vector<std::string>{"/dev/pts/7", "/dev/ttyUSB0"}));
    EXPECT_EQ(view.selection[ids::kPortList], 0);
    EXPECT_EQ(view.items[ids::kPortList][1].tooltip, "FT232R USB UART, FTDI, 0403:6001");
    EXPECT_TRUE(presenter->port_open());

    ports = {"/dev/ttyUSB0", "/dev/ttyACM0"};
    presenter->on_devices_changed();
    EXPECT_EQ(view.item_texts(ids::kPortList),
              (std::vector<std::string>{"/dev/pts/7", "/dev/ttyACM0", "/dev/ttyUSB0"}));
    EXPECT_EQ(view.selection[ids::kPortList], 0);
    EXPECT_EQ(boards.opened.size(), 1u);  // listing opens nothing
}

TEST_F(Presenter, TheSettingsFileKeepsWhatWasTypedAndSaysWhenItCannot) {
    start();
    type(ids::kFosc, "16");
    type(ids::kTimeout, "Ж2");
    view.files.push_back(std::nullopt);
    presenter->on_command(ids::kFlashBrowse);  // empties the status line
    EXPECT_EQ(view.text(ids::kFosc), "16");
    presenter->on_close();  // the exit sequence
    EXPECT_TRUE(view.closed);
    EXPECT_EQ(settings(), "Fosc\t = 16\r\ntime_out = Ж2\r\nlast_model = ATmega8\r\n");  // UTF-8 now
    presenter.reset();

    // Read back whole, Cyrillic included.
    view.reset();
    start();
    EXPECT_EQ(view.text(ids::kFosc), "16");
    EXPECT_EQ(view.text(ids::kTimeout), "Ж2");

    // A file that cannot be written is reported, and the window still closes.
    std::filesystem::remove(dir.file("Zarvik.ini"));
    std::filesystem::create_directory(dir.file("Zarvik.ini"));
    presenter->on_command(ids::kExit);
    ASSERT_FALSE(view.messages.empty());
    EXPECT_TRUE(starts_with(view.messages.back().text, "Не удалось сохранить настройки в файл ")) << view.messages.back().text;
    EXPECT_TRUE(view.closed);
    presenter.reset();

    // One that is there but cannot be read is kept, and the status line says so.
    view.reset();
    start();
    EXPECT_EQ(view.text(ids::kFosc), "8");
    EXPECT_TRUE(contains(status(), "Zarvik.ini")) << status();
    presenter->on_command(ids::kExit);
    EXPECT_TRUE(view.messages.empty());
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("Zarvik.ini")));
}

TEST_F(Presenter, ASettingsFolderThatIsNotThereYetIsMade) {
    const std::string folder = dir.file("config/zarvik");
    PresenterEnvironment environment;
    environment.make_port = [this](Clock& c) { return std::make_unique<FakePort>(c, boards); };
    environment.clock = &clock;
    environment.settings_folder = folder;
    environment.help_folders = {dir.path().string()};
    presenter = std::make_unique<MainPresenter>(view, environment);
    presenter->start();
    EXPECT_EQ(testing::read_file(folder + "/Zarvik.ini"), "Fosc\t = 8\r\ntime_out = 5\r\n");
    type(ids::kFosc, "12");
    presenter->on_close();
    EXPECT_TRUE(view.closed);
    EXPECT_EQ(testing::read_file(folder + "/Zarvik.ini"), "Fosc\t = 12\r\ntime_out = 5\r\nlast_model = ATmega8\r\n");
}

TEST_F(Presenter, HelpComesInTheUsersLanguageAndSaysWhenItIsMissing) {
    help_file("Help.txt", "\xCF\xF0\xE8\xE2\xE5\xF2 1251" + std::string("\0hidden", 7));  // "Привет" in Windows-1251
    help_file("Help_en.txt", "\xEF\xBB\xBFHello");
    start();
    presenter->on_command(ids::kHelpCommand);
    ASSERT_EQ(view.helps.size(), 1u);
    EXPECT_EQ(view.helps[0].text, "Привет 1251");
    EXPECT_EQ(view.helps[0].title, "Помощь");

    set_language(Language::English);
    presenter->on_command(ids::kHelpCommand);
    ASSERT_EQ(view.helps.size(), 2u);
    EXPECT_EQ(view.helps[1].text, "Hello");
    EXPECT_EQ(view.helps[1].title, "Help");

    // Without an English help the Russian one is better than none.
    std::filesystem::remove(dir.file("Help_en.txt"));
    presenter->on_command(ids::kHelpCommand);
    ASSERT_EQ(view.helps.size(), 3u);
    EXPECT_EQ(view.helps[2].text, "Привет 1251");
    set_language(Language::Russian);

    std::filesystem::remove(dir.file("Help.txt"));
    presenter->on_command(ids::kHelpCommand);
    EXPECT_EQ(view.helps.size(), 3u);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].caption, "Внимание!");
    EXPECT_EQ(view.messages[0].text, "В папке программы отсутствует файл \"Help.txt\"");

    // At start-up too, once.
    presenter.reset();
    view.reset();
    start();
    EXPECT_EQ(view.messages.size(), 1u);

    presenter->on_command(ids::kAboutCommand);
    ASSERT_EQ(view.abouts.size(), 1u);
    EXPECT_EQ(view.abouts[0].title, "О программе");
    EXPECT_EQ(view.abouts[0].name, "Загрузчик (Zarvik)");
    EXPECT_EQ(view.abouts[0].version, "Версия 1.0 полная");
    EXPECT_EQ(view.abouts[0].date, "01.04.2024");
}

TEST_F(Presenter, TheSessionsEndWaitsForTheOperationUnderWay) {
    board("/dev/board", "ATmega328", {}, LoaderKind::Plain);
    start();
    open_port("/dev/board");
    run(ids::kConnect);
    presenter->on_session_ending();  // idle: returns at once
    boards.gate.arm([](const Cancellation*) { return true; });
    presenter->on_command(ids::kEepromErase);
    ASSERT_TRUE(boards.gate.wait_until_held());
    // The session's end waits on another thread; the operation goes on once it has asked
    // for the stop.
    std::thread ending([this] { presenter->on_session_ending(); });
    while (!boards.cancel.load()->pending()) std::this_thread::yield();
    boards.gate.open();
    ending.join();
    ASSERT_TRUE(view.pump_until([this] { return !presenter->busy(); }));
    EXPECT_TRUE(starts_with(status(), "Прервано")) << status();
}

TEST_F(Presenter, ALostPortIsClosedAtOnceAndConnectOpensItAgainAtTheChosenSpeed) {
    SimLoader& chip = board("/dev/board", "ATmega328", {}, LoaderKind::Plain);
    start();
    open_port("/dev/board");
    run(ids::kConnect);
    ASSERT_EQ(presenter->link(), Link::Connected);
    chip.misbehave(SimFaults{.line_gone_after = 10});  // the adapter is pulled
    run(ids::kEepromErase);
    EXPECT_EQ(connection(), "Связь с портом потеряна");
    EXPECT_EQ(presenter->link(), Link::NoPort);
    EXPECT_FALSE(presenter->port_open());
    EXPECT_EQ(view.selection[ids::kSpeedList], kSpeed115200);  // the speed stays chosen

    // Plugged back in (a board on the same name): «Соединить» alone, no port chosen
    // again, no speed asked for.
    loaders.push_back(std::make_unique<SimLoader>(*find_device_model("ATmega328"), SimFaults{}, LoaderKind::Plain));
    boards.boards["/dev/board"] = loaders.back().get();
    const std::size_t opened = boards.opened.size();
    const std::size_t shown = view.messages.size();
    run(ids::kConnect);
    EXPECT_EQ(view.messages.size(), shown);
    EXPECT_EQ(boards.opened.size(), opened + 1);
    EXPECT_EQ(boards.opened.back(), "/dev/board");
    EXPECT_EQ(connection(), "Соединение установлено успешно!");
    EXPECT_EQ(presenter->link(), Link::Connected);
}

TEST_F(Presenter, EscStopsAnOperationAndNeverEndsTheProgram) {
    board("/dev/board", "ATmega8");
    start();
    presenter->on_escape();
    open_port("/dev/board");
    presenter->on_escape();
    EXPECT_FALSE(view.closed);
    EXPECT_TRUE(view.questions.empty());
    EXPECT_EQ(presenter->life(), Life::Running);
    run(ids::kConnect);
    EXPECT_EQ(connection(), "Соединение установлено успешно!");
}

TEST_F(Presenter, AClockOutsideTheRangeIsNamedBeforeTheWaitItGives) {
    SimLoader& chip = board("/dev/board", "ATmega8");
    start();
    open_port("/dev/board");
    run(ids::kConnect);
    const std::size_t sent = chip.log().size();
    type(ids::kFosc, "99");
    type(ids::kTimeout, "3");
    run(ids::kConfigureLoader);
    ASSERT_EQ(view.questions.size(), 1u);
    EXPECT_TRUE(contains(view.questions[0].text, "Частота Fosc 99 МГц вне диапазона 1–20 МГц")) << view.questions[0].text;
    EXPECT_FALSE(contains(view.questions[0].text, "время ожидания")) << view.questions[0].text;
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(chip.log().size(), sent);
    // Yes, the clock is meant: then the wait is what is wrong, and nothing is sent.
    view.answers.push_back(true);
    run(ids::kConfigureLoader);
    ASSERT_TRUE(view.pump_until([this] { return !presenter->busy(); }));
    ASSERT_FALSE(view.messages.empty());
    EXPECT_TRUE(starts_with(view.messages.back().text, "Задано слишком большое время ожидания")) << view.messages.back().text;
    EXPECT_EQ(chip.log().size(), sent);
}

TEST_F(Presenter, TheLastModelPortSpeedAndFilesComeBack) {
    board("/dev/board", "ATmega168");
    std::filesystem::create_directory(testing::native(dir.file("Прошивки = новые")));
    const std::string flash = dir.write("Прошивки = новые/blink.hex", ":0100000042BD\r\n:00000001FF\r\n");
    (void)dir.write("Zarvik.ini", "Fosc\t = 16\r\ntime_out = 2\r\nlast_model = ATmega168\r\nlast_port = /dev/board\r\n"
                                  "last_speed = 115200\r\nlast_flash_file = " + flash + "\r\nlast_eeprom_file = /tmp/d.eep\r\n");
    start();
    EXPECT_EQ(view.selection[ids::kModelList], 2);
    EXPECT_EQ(view.selection[ids::kSpeedList], kSpeed115200);
    EXPECT_EQ(presenter->file_path(MemoryKind::Flash), flash);
    EXPECT_EQ(view.tooltips[ids::kFlashPath], flash);
    EXPECT_EQ(presenter->file_path(MemoryKind::Eeprom), "/tmp/d.eep");
    presenter->on_scan_tick();
    EXPECT_EQ(view.selection[ids::kPortList], 0);
    EXPECT_EQ(presenter->link(), Link::SpeedSet);
    EXPECT_EQ(connection(), "Установлена скорость 115200 бод");
    run(ids::kConnect);
    run(ids::kFlashWrite);
    EXPECT_TRUE(starts_with(status(), "Запись flash закончена!")) << status();
    presenter->on_close();
    EXPECT_EQ(settings(), "Fosc\t = 16\r\ntime_out = 2\r\nlast_model = ATmega168\r\nlast_port = /dev/board\r\n"
                          "last_speed = 115200\r\nlast_flash_file = " + flash + "\r\nlast_eeprom_file = /tmp/d.eep\r\n");
    presenter.reset();

    // The port is not there this time: no error box, the list shows what is, and the
    // status line says that the port chosen last time was not found.
    view.reset();
    ports = {"/dev/ttyUSB0"};
    start();
    presenter->on_scan_tick();
    EXPECT_EQ(view.selection[ids::kPortList], -1);
    EXPECT_FALSE(presenter->port_open());
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(view.item_texts(ids::kPortList), std::vector<std::string>{"/dev/ttyUSB0"});
    EXPECT_EQ(status(), "Порт /dev/board, выбранный в прошлый раз, не найден");
}

// A loader that does not answer is not named by the command it missed: the window says
// what the cause most likely is and what to do.
TEST_F(Presenter, ALoaderThatDoesNotAnswerIsToldWithItsLikelyCauseAndWhatToDo) {
    board("/dev/board", "ATmega328");
    start();
    open_port("/dev/board");
    run(ids::kConnect);
    presenter->on_files_given({std::string(ZARVIK_BLINK_HEX)});
    presenter->on_command(ids::kStartProgram);
    ASSERT_EQ(presenter->link(), Link::ProgramRunning);
    struct Case {
        int id;
        const char* status;
    };
    for (const Case& c : {Case{ids::kFlashWrite, "Загрузчик не ответил при записи flash. Сбросьте плату и нажмите «Соединить»"},
                          Case{ids::kEepromErase, "Загрузчик не ответил при стирании EEPROM. Сбросьте плату и нажмите «Соединить»"},
                          Case{ids::kConnect, "Загрузчик не ответил на скорости 115200 бод. Скорее всего, он работает на другой "
                                              "скорости или его время ожидания после сброса уже истекло: сбросьте плату и сразу "
                                              "нажмите «Соединить»"}}) {
        run(c.id);
        EXPECT_EQ(status(), c.status) << c.id;
        EXPECT_FALSE(contains(status(), "'Z'")) << status();
        EXPECT_FALSE(contains(status(), "7C06")) << status();
    }
    EXPECT_EQ(connection(), "Соединение не удалось установить");
    EXPECT_TRUE(view.messages.empty());
}

// "Сброс по DTR": off at first, remembered in Zarvik.ini; when on, Connect pulses DTR
// before the sync, so that a board whose reset follows DTR is in its loader's wait.
TEST_F(Presenter, TheResetThroughDtrIsPulsedBeforeTheSyncAndRemembered) {
    board("/dev/board", "ATmega328");
    start();
    EXPECT_FALSE(view.checked[ids::kResetDtr]);
    EXPECT_TRUE(contains(view.tooltips[ids::kResetDtr], "DTR")) << view.tooltips[ids::kResetDtr];
    open_port("/dev/board");
    run(ids::kConnect);
    presenter->on_command(ids::kStartProgram);
    ASSERT_EQ(presenter->link(), Link::ProgramRunning);
    boards.line_events.clear();

    // Off: the program keeps the line, and nothing touches DTR.
    run(ids::kConnect);
    EXPECT_EQ(connection(), "Соединение не удалось установить");
    EXPECT_EQ(boards.line_events, std::vector<std::string>{"write"});

    // On: the pulse resets the board, and the sync that follows finds its loader.
    boards.line_events.clear();
    presenter->on_checked(ids::kResetDtr, true);
    run(ids::kConnect);
    EXPECT_EQ(connection(), "Соединение установлено успешно!");
    ASSERT_GE(boards.line_events.size(), 2u);
    EXPECT_EQ(boards.line_events[0], "dtr");
    EXPECT_EQ(boards.line_events[1], "write");
    EXPECT_EQ(std::count(boards.line_events.begin(), boards.line_events.end(), "dtr"), 1);

    // Remembered as a line of its own, and ticked at the next start.
    presenter->on_close();
    EXPECT_TRUE(settings().ends_with("\r\nreset = dtr\r\n")) << settings();
    presenter.reset();
    view.reset();
    start();
    EXPECT_TRUE(view.checked[ids::kResetDtr]);

    // A port without DTR: said so, and the sync is sent all the same.
    boards.no_dtr = true;
    boards.line_events.clear();
    presenter->on_scan_tick();
    run(ids::kConnect);
    EXPECT_EQ(connection(), "Соединение установлено успешно!");
    EXPECT_TRUE(starts_with(status(), "Порт не управляет линией DTR: плата не сброшена. ")) << status();
    EXPECT_EQ(boards.line_events, std::vector<std::string>{"write"});

    // Cleared: the file keeps no line for it.
    presenter->on_checked(ids::kResetDtr, false);
    presenter->on_close();
    EXPECT_FALSE(contains(settings(), "reset")) << settings();
}

// A path too long for its field shows as much of its end as fits, character by
// character, so that the field is full: no whole folder is dropped to leave room empty.
TEST(FittedPath, FillsTheFieldWithThePathsEnd) {
    const auto room = [](std::size_t n) {
        return [n](const std::string& text) {
            std::size_t characters = 0;
            for (char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
            return characters <= n;
        };
    };
    struct Case {
        const char* path;
        std::size_t room;
        const char* shown;
    };
    const Case cases[] = {
        {"C:\\short.hex", 40, "C:\\short.hex"},
        {"C:\\Users\\техник\\Прошивки\\blink.hex", 20, "…\\Прошивки\\blink.hex"},
        {"C:\\Users\\техник\\Прошивки\\blink.hex", 18, "…рошивки\\blink.hex"},
        {"/a/very-long-file-name.hex", 10, "…-name.hex"},
        {"/a/b.hex", 1, "…"},
        {"/a/b.hex", 0, "…"},
    };
    for (const Case& c : cases) {
        const std::string shown = window_text::fitted_path(c.path, room(c.room));
        EXPECT_EQ(shown, c.shown) << c.path << " in " << c.room;
    }
}

TEST_F(Presenter, LooksTheWindowTakesFromThePresenter) {
    SimLoader& chip = board("/dev/board", "ATmega328", {}, LoaderKind::Plain);
    start();
    open_port("/dev/board");
    run(ids::kConnect);

    // The field is given the whole path, to fit to its width (fitted_path); the tooltip
    // holds all of it.
    const std::string deep = "/home/user/" + std::string(60, 'd') + "/projects/blink.hex";
    presenter->on_files_given({deep});
    EXPECT_EQ(view.text(ids::kFlashPath), deep);
    EXPECT_EQ(view.tooltips[ids::kFlashPath], deep);
    presenter->on_files_given({"/tmp/short.hex"});
    EXPECT_EQ(view.text(ids::kFlashPath), "/tmp/short.hex");

    // The first dialog opens in the documents, the next where the last file was.
    presenter->on_files_given({});
    view.files.push_back(std::string("/srv/firmware/data.eep"));
    presenter->on_command(ids::kEepromBrowse);
    view.files.push_back(std::nullopt);
    presenter->on_command(ids::kFlashBrowse);
    ASSERT_EQ(view.dialogs.size(), 2u);
    EXPECT_EQ(view.dialogs[0].folder, "/home/user/Documents");  // the EEPROM has no file yet
    EXPECT_EQ(view.dialogs[1].folder, "/srv/firmware");

    // Every operation starts from empty bars: a full flash bar does not stay beside an
    // EEPROM erase.
    run(ids::kFlashErase);
    ASSERT_EQ(view.progress[ids::kFlashProgress].first, view.progress[ids::kFlashProgress].second);
    boards.gate.arm([](const Cancellation*) { return true; });
    presenter->on_command(ids::kEepromErase);
    EXPECT_EQ(view.progress[ids::kFlashProgress].first, 0u);
    EXPECT_EQ(view.progress[ids::kEepromProgress].first, 0u);
    ASSERT_TRUE(boards.gate.wait_until_held());
    boards.gate.open();
    ASSERT_TRUE(view.pump_until([this] { return !presenter->busy(); }));
    (void)chip;
}

TEST_F(Presenter, TheFirstDialogOpensInTheDocuments) {
    start();
    presenter->on_command(ids::kFlashBrowse);
    ASSERT_EQ(view.dialogs.size(), 1u);
    EXPECT_EQ(view.dialogs[0].folder, "/home/user/Documents");
}

}  // namespace
}  // namespace zarvik
