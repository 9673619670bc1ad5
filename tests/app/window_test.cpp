// The window with real widgets, real dialogs and message boxes, the real serial port,
// and zarvik-sim on a pseudo-terminal. Runs offscreen.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

#include "app/CAboutDlg.h"
#include "app/CHelpDlg.h"
#include "app/CVelborDlg.h"
#include "app/control_ids.h"
#include "serial/port_scan.h"
#include "support/pty_pair.h"
#include "support/sim_process.h"

using namespace zarvik;

namespace {

// Acts on the next modal window (message box, file dialog) as a user would, once it is up.
class ModalDriver : public QObject {
public:
    explicit ModalDriver(std::function<void(QWidget*)> act) : act_(std::move(act)) {
        connect(&timer_, &QTimer::timeout, this, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal == nullptr || !modal->isVisible() || done_) return;
            done_ = true;
            timer_.stop();
            act_(modal);
        });
        timer_.start(20);
    }
    bool done() const { return done_; }

private:
    std::function<void(QWidget*)> act_;
    QTimer timer_;
    bool done_ = false;
};

struct Box {
    QString caption;
    QString text;
    bool icon = true;
    int buttons = 0;
};

// Answers the next message box with OK and tells what it said.
std::unique_ptr<ModalDriver> expect_box(Box& seen) {
    return std::make_unique<ModalDriver>([&seen](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (box == nullptr) return;
        seen.caption = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon() != QMessageBox::NoIcon;
        seen.buttons = static_cast<int>(box->buttons().size());
        box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->click() : box->accept();
    });
}

// Picks a file in the next file dialog.
std::unique_ptr<ModalDriver> choose_file(const QString& path, QString* filter = nullptr) {
    return std::make_unique<ModalDriver>([path, filter](QWidget* w) {
        auto* dialog = qobject_cast<QFileDialog*>(w);
        if (dialog == nullptr) return;
        if (filter != nullptr) *filter = dialog->nameFilters().join(";");
        // As a user does: go to the folder, type the name, press the dialog's button.
        dialog->setDirectory(QFileInfo(path).absolutePath());
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        name->setText(QFileInfo(path).fileName());
        QMetaObject::invokeMethod(dialog, "accept");
    });
}

std::unique_ptr<ModalDriver> cancel_dialog() {
    return std::make_unique<ModalDriver>([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
}

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> folder_;
    QString original_dir_;
    QStringList ports_;

    std::unique_ptr<CVelborDlg> make_window() {
        CVelborDlg::Environment env;
        env.scan_ports = [this] { return ports_; };
        env.settings_folder = folder_->path();
        auto window = std::make_unique<CVelborDlg>(env);
        window->show();
        return window;
    }
    static QString text(CVelborDlg& w, int id) {
        QWidget* c = w.control(id);
        if (auto* l = qobject_cast<QLabel*>(c)) return l->text();
        if (auto* e = qobject_cast<QLineEdit*>(c)) return e->text();
        if (auto* b = qobject_cast<QComboBox*>(c)) return b->currentText();
        return {};
    }
    static void click(CVelborDlg& w, int id) { QTest::mouseClick(qobject_cast<QPushButton*>(w.control(id)), Qt::LeftButton); }
    // Clicks and waits until what the click started on the device thread has ended,
    // its closing message boxes included.
    static void run(CVelborDlg& w, int id) {
        click(w, id);
        QTRY_VERIFY_WITH_TIMEOUT(!w.busy(), 60000);
    }
    static void choose(CVelborDlg& w, int id, const QString& item) {
        auto* combo = qobject_cast<QComboBox*>(w.control(id));
        const int index = combo->findText(item);
        QVERIFY2(index >= 0, qPrintable(item));
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }
    // Port and speed chosen as a user would, on the simulated board.
    void open_board(CVelborDlg& w, const QString& port) {
        QTRY_COMPARE(w.scanning(), false);
        choose(w, ids::kPortList, port);
        choose(w, ids::kSpeedList, "115200");
        QCOMPARE(text(w, ids::kConnectionLine), QString::fromUtf8("Установлена скорость 115200 бод"));
    }
    QString file(const QString& name) const { return QDir(folder_->path()).filePath(name); }

private slots:
    void init() {
        folder_ = std::make_unique<QTemporaryDir>();
        original_dir_ = QDir::currentPath();
        QDir::setCurrent(folder_->path());
        QFile help(file("Help.txt"));
        help.open(QIODevice::WriteOnly);
        help.write("Справка\n");
        ports_.clear();
    }
    void cleanup() { QDir::setCurrent(original_dir_); }

    void startUpState() {
        auto w = make_window();
        QCOMPARE(text(*w, ids::kModelList), QString("ATmega8"));
        auto* speeds = qobject_cast<QComboBox*>(w->control(ids::kSpeedList));
        QCOMPARE(speeds->count(), 10);
        QCOMPARE(speeds->itemText(4), QString("76800"));
        QCOMPARE(speeds->currentIndex(), -1);
        QCOMPARE(qobject_cast<QComboBox*>(w->control(ids::kPortList))->currentIndex(), -1);
        QCOMPARE(text(*w, ids::kStatusLine), QString());
        QCOMPARE(text(*w, ids::kFlashPath), QString());
        QCOMPARE(text(*w, ids::kFosc), QString("8"));
        QCOMPARE(text(*w, ids::kTimeout), QString("5"));
        QCOMPARE(QFileInfo(file("Zarvik.ini")).size(), 25);
        QCOMPARE(w->windowTitle(), QString::fromUtf8("Загрузчик (Zarvik) (Версия 1.0 полная)"));
        QVERIFY(qobject_cast<QPushButton*>(w->control(ids::kConnect))->isDefault());
        QCOMPARE(w->menu_bar()->actions().size(), 2);
        QCOMPARE(w->programmer_state().model.loader_start, 0x1C00u);
        QVERIFY(!w->windowIcon().isNull());
    }

    void scanTexts_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("line");
        QTest::newRow("none") << 0 << QString::fromUtf8("Нет доступного COM порта");
        QTest::newRow("1") << 1 << QString::fromUtf8("Доступно 1 COM порт");
        QTest::newRow("3") << 3 << QString::fromUtf8("Доступно 3 COM порта");
        QTest::newRow("5") << 5 << QString::fromUtf8("Доступно 5 COM портов");
        QTest::newRow("21") << 21 << QString::fromUtf8("Доступно 21 COM портов");
    }
    void scanTexts() {
        QFETCH(int, count);
        QFETCH(QString, line);
        for (int i = count; i > 0; --i) ports_ << QString("/dev/ttyFAKE%1").arg(i);
        auto w = make_window();
        QTRY_COMPARE(text(*w, ids::kConnectionLine), line);
        QTest::qWait(50);
        QCOMPARE(w->scanning(), count == 0);
        auto* list = qobject_cast<QComboBox*>(w->control(ids::kPortList));
        QCOMPARE(list->count(), count);
        if (count >= 3) QCOMPARE(list->itemText(0), QString("/dev/ttyFAKE1"));  // sorted as text
        if (count == 21) QCOMPARE(list->itemText(1), QString("/dev/ttyFAKE10"));
    }

    void portAndSpeedChoices() {
        testing::PtyPair pty;
        const QString path = QString::fromStdString(pty.path());
        ports_ << path << "/dev/zarvik-none";
        auto w = make_window();
        QTRY_COMPARE(w->scanning(), false);
        choose(*w, ids::kPortList, "/dev/zarvik-none");
        QCOMPARE(text(*w, ids::kConnectionLine), QString::fromUtf8("Не удалось открыть порт /dev/zarvik-none"));
        QVERIFY(!w->port_open());

        Box seen;
        auto box = expect_box(seen);
        choose(*w, ids::kSpeedList, "9600");
        QVERIFY(box->done());
        QCOMPARE(seen.text, QString::fromUtf8("COM порт не открыт"));
        QCOMPARE(seen.caption, QString::fromUtf8("Ошибка"));
        QVERIFY(!seen.icon);
        QCOMPARE(seen.buttons, 1);
        QCOMPARE(qobject_cast<QComboBox*>(w->control(ids::kSpeedList))->currentIndex(), -1);

        choose(*w, ids::kPortList, path);
        QCOMPARE(text(*w, ids::kConnectionLine), QString::fromUtf8("Открыт порт ") + path + QString::fromUtf8(". Выберите скорость"));
        QVERIFY(w->port_open());

        Box speed;
        auto none = expect_box(speed);
        click(*w, ids::kConnect);
        QCOMPARE(speed.text, QString::fromUtf8("Не выбрана скорость порта"));
    }

    void handshakeBothOutcomes() {
        testing::SimProcess board({"--model", "ATmega8"});
        testing::SimProcess silent({"--silent"});
        ports_ << board.path() << silent.path();
        auto w = make_window();
        open_board(*w, board.path());
        run(*w, ids::kConnect);
        QCOMPARE(text(*w, ids::kConnectionLine), QString::fromUtf8("Соединение установлено успешно!"));
        open_board(*w, silent.path());
        run(*w, ids::kConnect);
        QCOMPARE(text(*w, ids::kConnectionLine), QString::fromUtf8("Соединение не удалось установить"));
    }

    void flashAndEepromThroughTheButtons() {
        testing::SimProcess board({"--model", "ATmega8"});
        ports_ << board.path();
        auto w = make_window();
        open_board(*w, board.path());

        QString filter;
        auto pick = choose_file(ZARVIK_BLINK_HEX, &filter);
        click(*w, ids::kFlashBrowse);
        QVERIFY(pick->done());
        QCOMPARE(filter, QString::fromUtf8("Файлы программной памяти flash (*.hex)"));
        QCOMPARE(text(*w, ids::kFlashPath), QString(ZARVIK_BLINK_HEX));

        const auto status = [&] { return text(*w, ids::kStatusLine); };
        run(*w, ids::kFlashErase);
        QVERIFY2(status().startsWith(QString::fromUtf8("Стирание flash закончено!  Время стирания: ")), qPrintable(status()));
        QCOMPARE(qobject_cast<QProgressBar*>(w->control(ids::kFlashProgress))->value(), 0x1C00);
        run(*w, ids::kFlashWrite);
        QVERIFY2(status().startsWith(QString::fromUtf8("Запись flash закончена!  Время записи: ")), qPrintable(status()));
        run(*w, ids::kFlashVerify);
        QVERIFY2(status().startsWith(QString::fromUtf8("flash записан правильно!  Время чтения: ")), qPrintable(status()));

        auto save = choose_file(file("readback"));
        run(*w, ids::kFlashRead);
        QVERIFY(save->done());
        QVERIFY2(status().startsWith(QString::fromUtf8("Чтение flash закончено!  Время чтения: ")), qPrintable(status()));
        QVERIFY(QFileInfo::exists(file("readback.hex")));  // the extension rule

        auto pick_eep = choose_file(ZARVIK_BLINK_EEP, &filter);
        click(*w, ids::kEepromBrowse);
        QCOMPARE(filter, QString::fromUtf8("Файлы памяти данных EEPROM (*.eep)"));
        run(*w, ids::kEepromWrite);
        QVERIFY2(status().startsWith(QString::fromUtf8("Запись EEPROM закончена!  Время записи: ")), qPrintable(status()));
        run(*w, ids::kEepromVerify);
        QVERIFY2(status().startsWith(QString::fromUtf8("EEPROM записан правильно!  Время чтения: ")), qPrintable(status()));
        auto save_eep = choose_file(file("data.eep"));
        run(*w, ids::kEepromRead);
        QVERIFY2(status().startsWith(QString::fromUtf8("Чтение EEPROM закончено!  Время чтения: ")), qPrintable(status()));
        QVERIFY(QFileInfo::exists(file("data.eep")));

        // The extension turns the typed name into that of an existing file: asked first,
        // and "No" reads nothing.
        const QString read_before = status();
        Box question;
        auto typed = choose_file(file("readback"));
        // The file dialog comes first, then the question; answer the question with "No".
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&question] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || !question.text.isEmpty()) return;
            question.text = box->text();
            box->button(QMessageBox::No)->click();
        });
        poll.start(20);
        run(*w, ids::kFlashRead);
        poll.stop();
        QVERIFY2(question.text.contains(file("readback.hex")), qPrintable(question.text));
        QCOMPARE(status(), read_before);

        // Cancelling the save dialog sends nothing and leaves the status line alone.
        const QString before = status();
        auto cancel = cancel_dialog();
        run(*w, ids::kEepromRead);
        QVERIFY(cancel->done());
        QCOMPARE(status(), before);
        QCOMPARE(qobject_cast<QProgressBar*>(w->control(ids::kEepromProgress))->value(), 0);

        // A damaged file: a message box, nothing sent, the status keeps "Записываем Flash".
        QFile bad(file("bad.hex"));
        bad.open(QIODevice::WriteOnly);
        bad.write(":0100000011FF\r\n");
        bad.close();
        auto pick_bad = choose_file(file("bad.hex"));
        click(*w, ids::kFlashBrowse);
        Box seen;
        auto box = expect_box(seen);
        run(*w, ids::kFlashWrite);
        QVERIFY2(seen.text.contains(QString::fromUtf8("контрольная сумма")), qPrintable(seen.text));
        QCOMPARE(status(), QString());  // no phase text stays behind a refusal
    }

    void loaderConfiguration() {
        testing::SimProcess board({"--model", "ATmega328"});
        ports_ << board.path();
        auto w = make_window();
        open_board(*w, board.path());
        choose(*w, ids::kModelList, "ATmega328");
        QCOMPARE(w->programmer_state().model.loader_start, 0x7C00u);
        auto* fosc = qobject_cast<QLineEdit*>(w->control(ids::kFosc));
        fosc->selectAll();
        QTest::keyClicks(fosc, "7,3728");
        run(*w, ids::kConfigureLoader);
        QCOMPARE(text(*w, ids::kStatusLine),
                 QString::fromUtf8("Настройка загрузчика выполнена на частоту 7.3728 МГц и 5 секунд"));
        QCOMPARE(fosc->text(), QString("7.3728"));

        auto* timeout = qobject_cast<QLineEdit*>(w->control(ids::kTimeout));
        timeout->selectAll();
        QTest::keyClicks(timeout, "100");
        Box seen;
        auto box = expect_box(seen);
        run(*w, ids::kConfigureLoader);
        QCOMPARE(seen.text, QString::fromUtf8("Задано слишком большое время ожидания запуска программы!"));
        QCOMPARE(timeout->text(), QString("100"));
    }

    void typedTextSurvivesARefreshAndIsSaved() {
        auto w = make_window();
        auto* fosc = qobject_cast<QLineEdit*>(w->control(ids::kFosc));
        fosc->selectAll();
        QTest::keyClicks(fosc, "16");
        auto cancel = cancel_dialog();
        click(*w, ids::kFlashBrowse);  // empties the status line and refreshes the window
        QVERIFY(cancel->done());
        QCOMPARE(fosc->text(), QString("16"));
        QTest::keyClick(w.get(), Qt::Key_Escape);  // the exit sequence
        QVERIFY(!w->isVisible());
        QFile ini(file("Zarvik.ini"));
        ini.open(QIODevice::ReadOnly);
        QCOMPARE(ini.readAll(), QByteArray("Fosc\t = 16\r\ntime_out = 5\r\n"));
    }

    void settingsThatCannotBeSavedAreReported() {
        auto w = make_window();
        QFile::remove(file("Zarvik.ini"));
        QDir().mkdir(file("Zarvik.ini"));  // a folder in its place: the rename must fail
        Box seen;
        auto box = expect_box(seen);
        click(*w, ids::kExit);
        QVERIFY2(seen.text.contains(QString::fromUtf8("Не удалось сохранить настройки")), qPrintable(seen.text));
        QVERIFY(!w->isVisible());
    }

    void helpAndAbout() {
        {
            QFile help(file("Help.txt"));
            help.open(QIODevice::WriteOnly);
            help.write("\xCF\xF0\xE8\xE2\xE5\xF2 1251");  // "Привет" in Windows-1251
            help.write(QByteArray("\0hidden", 7));
        }
        CHelpDlg help;
        QVERIFY(help.load());
        QCOMPARE(help.findChild<QPlainTextEdit*>("ctl_1006")->toPlainText(), QString::fromUtf8("Привет 1251"));

        QFile::remove(file("Help.txt"));
        Box seen;
        auto box = expect_box(seen);
        CHelpDlg missing;
        QVERIFY(!missing.load());
        QCOMPARE(seen.caption, QString::fromUtf8("Внимание!"));
        QCOMPARE(seen.text, QString::fromUtf8("В папке программы отсутствует файл \"Help.txt\""));

        CAboutDlg about;
        QStringList labels;
        for (auto* l : about.findChildren<QLabel*>()) labels << l->text();
        QVERIFY(labels.contains(QString::fromUtf8("Загрузчик (Zarvik)")));
        QVERIFY(labels.contains(QString::fromUtf8("Версия 1.0 полная")));
        QVERIFY(labels.contains(QString("01.04.2024")));
        QCOMPARE(about.windowTitle(), QString::fromUtf8("О программе"));
    }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
