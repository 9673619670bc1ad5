// The window with real widgets, real dialogs and message boxes, the real serial port,
// and zarvik-sim on a pseudo-terminal. Runs offscreen. The window's rules are the
// presenter's, tested in tests/presenter; these tests keep to what only the real Qt
// window shows: each control bound to its id, the layout, the dialogs and boxes as they
// open, the keyboard, drag and drop, a window that stays live while the line is busy.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
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
#include <QTranslator>
#include <QRegularExpression>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QAbstractItemView>
#include <QScrollBar>
#include <QMouseEvent>
#include <QPointer>
#include <QProcess>
#include <QMimeData>
#include <QPointer>
#include <QStyle>
#include <QUrl>

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "app/CAboutDlg.h"
#include "text/language.h"
#include "app/CHelpDlg.h"
#include "app/CVelborDlg.h"
#include "app/control_ids.h"
#include "app/dialog_support.h"
#include "app/fitted_label.h"
#include "app/port_listing.h"
#include "presenter/window_texts.h"
#include "programmer/status_texts.h"
#include "serial/port_scan.h"
#include "serial/serial_port.h"
#include "sim/board/sim_loader.h"
#include "sim/pty/pty_server.h"
#include "support/busy_machine.h"
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

// Answers the next message box with `button` and tells what it offered.
std::unique_ptr<ModalDriver> answer_box(Box& seen, QMessageBox::StandardButton button, bool* no_by_default = nullptr) {
    return std::make_unique<ModalDriver>([&seen, button, no_by_default](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (box == nullptr) return;
        seen.caption = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon() != QMessageBox::NoIcon;
        seen.buttons = static_cast<int>(box->buttons().size());
        if (no_by_default != nullptr) *no_by_default = box->defaultButton() == box->button(QMessageBox::No);
        box->button(button)->click();
    });
}

// Counts the events of one kind that a widget has been given, and ends a wait for one.
class EventProbe : public QObject {
public:
    EventProbe(QWidget* target, QEvent::Type type) : type_(type) { target->installEventFilter(this); }
    // How long, in ms, until `cause` leads to such an event being handled.
    qint64 latency(const std::function<void()>& cause) {
        QEventLoop loop;
        loop_ = &loop;
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        QElapsedTimer timer;
        timer.start();
        cause();
        loop.exec();
        loop_ = nullptr;
        return timer.elapsed();
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == type_ && loop_ != nullptr) loop_->quit();
        return false;
    }

private:
    QEvent::Type type_;
    QEventLoop* loop_ = nullptr;
};

void post_click(QWidget* target) {
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    const QPointF global = target->mapToGlobal(at);
    QCoreApplication::postEvent(target, new QMouseEvent(QEvent::MouseButtonPress, at, global, Qt::LeftButton,
                                                        Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(target, new QMouseEvent(QEvent::MouseButtonRelease, at, global, Qt::LeftButton,
                                                        Qt::NoButton, Qt::NoModifier));
}

qint64 median(QList<qint64> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

std::unique_ptr<ModalDriver> cancel_dialog() {
    return std::make_unique<ModalDriver>([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
}

// A modal window that no driver answers (an error box the test did not expect, after a
// board that did not start or a file that did not load) would hold the test in its
// exec() until the runner's limit. It is closed after a while instead, and the test
// fails saying what it showed.
class UnansweredModalGuard : public QObject {
public:
    explicit UnansweredModalGuard(int limit_ms) : limit_ms_(limit_ms) {
        connect(&timer_, &QTimer::timeout, this, [this] { check(); });
        timer_.start(250);
    }
    const QStringList& closed() const { return closed_; }

private:
    void check() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != current_) {
            current_ = modal;
            since_.start();
            return;
        }
        if (modal == nullptr || !modal->isVisible() || since_.elapsed() < limit_ms_) return;
        QString what = modal->windowTitle();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) what += QStringLiteral(": ") + box->text();
        closed_ << what;
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        } else {
            modal->close();
        }
        current_ = nullptr;
    }

    int limit_ms_;
    QTimer timer_;
    QPointer<QWidget> current_;
    QElapsedTimer since_;
    QStringList closed_;
};

// How long a device operation may take on a busy machine before a test gives up on it.
constexpr int kOperationMs = 60000;

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> folder_;
    QString original_dir_;
    QStringList ports_;
    std::unique_ptr<UnansweredModalGuard> modal_guard_;

    std::unique_ptr<CVelborDlg> make_window() {
        CVelborDlg::Environment env;
        env.scan_ports = [this] { return ports_; };
        env.settings_folder = folder_->path();
        auto window = std::make_unique<CVelborDlg>(env);
        window->show();
        return window;
    }
    // A file field shows the whole path, or an ellipsis and as much of its end as fills
    // the field: one character more would not fit.
    static bool shows_path(CVelborDlg& w, int id, const QString& path) {
        auto* field = qobject_cast<QLineEdit*>(w.control(id));
        const QString shown = field->text();
        if (shown == path) return true;
        if (!shown.startsWith(QString::fromUtf8("…")) || !path.endsWith(shown.mid(1))) return false;
        const QString one_more = QString::fromUtf8("…") + path.right(shown.size());
        const QFontMetrics metrics(field->font());
        return metrics.horizontalAdvance(one_more) > field->width() - 12 && field->toolTip() == path;
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
        QTRY_VERIFY_WITH_TIMEOUT(!w.busy(), kOperationMs);
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
    // The controls side by side in a window and in each of its groups: inside the
    // window, apart from each other, and as large as their texts.
    static void check_placement(QWidget& w, int at_least) {
        QList<QWidget*> placed;
        for (QWidget* c : w.findChildren<QWidget*>()) {
            if (!c->isVisible()) continue;
            if (c->parentWidget() == &w || qobject_cast<QGroupBox*>(c->parentWidget()) != nullptr) placed << c;
        }
        QVERIFY(placed.size() >= at_least);
        for (int i = 0; i < placed.size(); ++i) {
            QWidget* a = placed[i];
            const QRect ra(a->mapTo(&w, QPoint(0, 0)), a->size());
            QVERIFY2(w.rect().contains(ra), qPrintable(a->objectName()));
            for (int j = i + 1; j < placed.size(); ++j) {
                QWidget* b = placed[j];
                if (a->isAncestorOf(b) || b->isAncestorOf(a)) continue;
                const QRect rb(b->mapTo(&w, QPoint(0, 0)), b->size());
                QVERIFY2(!ra.intersects(rb), qPrintable(a->objectName() + " overlaps " + b->objectName()));
            }
            if (auto* label = qobject_cast<QLabel*>(a); label != nullptr && !label->wordWrap()) {
                QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->text()));
                QVERIFY2(label->height() >= label->fontMetrics().height() || !label->pixmap().isNull(),
                         qPrintable(label->text()));
            }
            if (auto* button = qobject_cast<QPushButton*>(a)) {
                QVERIFY2(button->width() >= button->sizeHint().width(), qPrintable(button->text()));
            }
            if (auto* combo = qobject_cast<QComboBox*>(a)) {
                QVERIFY2(!combo->isEditable(), qPrintable(combo->objectName()));
                QVERIFY2(combo->maxVisibleItems() >= combo->count(), qPrintable(combo->objectName()));
            }
        }
    }


private slots:
    void initTestCase() {
        QVERIFY(install_qt_translation(*QCoreApplication::instance()));
        // The boards run in other processes; the window's port allows for a busy machine.
        qputenv(kExtraWaitVariable, QByteArray::number(static_cast<qint64>(testing::kBusyMachineExtraWaitMs)));
    }
    void init() {
        folder_ = std::make_unique<QTemporaryDir>();
        original_dir_ = QDir::currentPath();
        QDir::setCurrent(folder_->path());
        QFile help(file("Help.txt"));
        help.open(QIODevice::WriteOnly);
        help.write("Справка\n");
        ports_.clear();
        modal_guard_ = std::make_unique<UnansweredModalGuard>(5000);
    }
    void cleanup() {
        QDir::setCurrent(original_dir_);
        const QStringList unanswered = modal_guard_->closed();
        modal_guard_.reset();
        QVERIFY2(unanswered.isEmpty(), qPrintable("closed unanswered: " + unanswered.join(" | ")));
    }

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

    // The window's own timer drives the scan until a port is there; what the line says
    // and how the list is sorted are the presenter's (its tests count them).
    void scanTexts_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("line");
        QTest::newRow("none") << 0 << QString::fromUtf8("Нет доступного COM порта");
        QTest::newRow("3") << 3 << QString::fromUtf8("Доступно 3 COM порта");
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
        if (count >= 3) QCOMPARE(list->itemText(0), QString("/dev/ttyFAKE1"));
    }

    void speaksEnglishWhenAsked() {
        // The window's texts, the core's and the forms' change together; none is empty.
        QTranslator english;
        QVERIFY(english.load(QStringLiteral("zarvik_en"), QStringLiteral(ZARVIK_QM_DIR)));
        QCoreApplication::installTranslator(&english);
        set_language(Language::English);
        auto w = make_window();
        QTRY_COMPARE(text(*w, ids::kConnectionLine), QString("No serial port available"));
        const auto* connect = qobject_cast<QPushButton*>(w->control(ids::kConnect));
        QCOMPARE(connect->text(), QString("Connect"));
        QCOMPARE(w->windowTitle(), QString("Loader (Zarvik) (Version 1.0, full)"));
        for (QWidget* c : w->findChildren<QWidget*>()) {
            QString shown;
            if (auto* b = qobject_cast<QAbstractButton*>(c)) shown = b->text();
            if (auto* g = qobject_cast<QGroupBox*>(c)) shown = g->title();
            if (auto* l = qobject_cast<QLabel*>(c); l != nullptr && l->pixmap().isNull()) shown = l->text();
            QVERIFY2(!shown.contains(QRegularExpression(QStringLiteral("[А-Яа-яЁё]"))), qPrintable(shown));
        }
        w.reset();
        QCoreApplication::removeTranslator(&english);
        set_language(Language::Russian);
        auto russian = make_window();
        QCOMPARE(qobject_cast<QPushButton*>(russian->control(ids::kConnect))->text(), QString::fromUtf8("Соединить"));
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
        QVERIFY2(board.ready(), board.failure().c_str());
        testing::SimProcess silent({"--silent"});
        QVERIFY2(silent.ready(), silent.failure().c_str());
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
        QVERIFY2(board.ready(), board.failure().c_str());
        ports_ << board.path();
        auto w = make_window();
        open_board(*w, board.path());

        QString filter;
        auto pick = choose_file(ZARVIK_BLINK_HEX, &filter);
        click(*w, ids::kFlashBrowse);
        QVERIFY(pick->done());
        QCOMPARE(filter, QString::fromUtf8("Файлы программной памяти flash (*.hex *.elf);Все файлы (*)"));
        // What the presenter makes of the path: its end, when the checkout lies deep.
        QVERIFY(shows_path(*w, ids::kFlashPath, ZARVIK_BLINK_HEX));

        const auto status = [&] { return text(*w, ids::kStatusLine); };
        run(*w, ids::kFlashErase);
        QVERIFY2(status().startsWith(QString::fromUtf8("Стирание flash закончено!  Время стирания: ")), qPrintable(status()));
        QCOMPARE(qobject_cast<QProgressBar*>(w->control(ids::kFlashProgress))->value(), 0x1C00);
        run(*w, ids::kFlashWrite);
        QVERIFY2(status().startsWith(QString::fromUtf8("Запись flash закончена!  Время записи: ")), qPrintable(status()));
        // The board carries our loader: the window took its fast road and says so.
        QVERIFY2(status().endsWith(QString::fromUtf8("  (быстрый протокол)")), qPrintable(status()));
        run(*w, ids::kFlashVerify);
        QVERIFY2(status().startsWith(QString::fromUtf8("flash записан правильно!  Время чтения: ")), qPrintable(status()));

        auto save = choose_file(file("readback"));
        run(*w, ids::kFlashRead);
        QVERIFY(save->done());
        QVERIFY2(status().startsWith(QString::fromUtf8("Чтение flash закончено!  Время чтения: ")), qPrintable(status()));
        QVERIFY(QFileInfo::exists(file("readback.hex")));  // the extension rule

        auto pick_eep = choose_file(ZARVIK_BLINK_EEP, &filter);
        click(*w, ids::kEepromBrowse);
        QCOMPARE(filter, QString::fromUtf8("Файлы памяти данных EEPROM (*.eep *.hex);Все файлы (*)"));
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

    void connectSelectsTheDetectedModel_data() {
        QTest::addColumn<QString>("chip");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("after");
        QTest::addColumn<bool>("said");
        // Which model each chip selects is the presenter's rule (its test has every
        // pair); here the real list follows it, or stays.
        QTest::newRow("ATmega328 while ATmega8 is selected") << "ATmega328" << "ATmega8" << "ATmega328" << true;
        QTest::newRow("ATmega168 as selected") << "ATmega168" << "ATmega168" << "ATmega168" << false;
    }
    void connectSelectsTheDetectedModel() {
        QFETCH(QString, chip);
        QFETCH(QString, selected);
        QFETCH(QString, after);
        QFETCH(bool, said);
        testing::SimProcess board({"--model", chip});
        QVERIFY2(board.ready(), board.failure().c_str());
        ports_ << board.path();
        auto w = make_window();
        open_board(*w, board.path());
        choose(*w, ids::kModelList, selected);
        run(*w, ids::kConnect);
        QCOMPARE(text(*w, ids::kConnectionLine), QString::fromUtf8("Соединение установлено успешно!"));
        QCOMPARE(text(*w, ids::kModelList), after);
        QCOMPARE(QString::fromStdString(std::string(w->programmer_state().model.name)), after);
        // Then what the board's loader holds: zarvik-sim's is built for 16 MHz.
        const QString status = text(*w, ids::kStatusLine);
        const QString holds = QString::fromUtf8("Загрузчик платы: 16 МГц, ожидание 0,5 с");
        if (said) {
            QVERIFY2(status.startsWith(QString::fromUtf8("Подключён ")) &&
                         status.endsWith(QString::fromUtf8("в списке МК выбран ") + after + ". " + holds),
                     qPrintable(status));
        } else {
            QCOMPARE(status, holds);
        }
        // The model now in the list is the one the operations use, and they pass.
        run(*w, ids::kFlashErase);
        QVERIFY2(text(*w, ids::kStatusLine).startsWith(QString::fromUtf8("Стирание flash закончено!")),
                 qPrintable(text(*w, ids::kStatusLine)));
    }

    void refusalsExplainOrAsk() {
        testing::SimProcess board({"--model", "ATmega8"});
        QVERIFY2(board.ready(), board.failure().c_str());
        ports_ << board.path();
        auto w = make_window();
        open_board(*w, board.path());
        run(*w, ids::kConnect);

        // Another model chosen by hand: refused in a box, nothing sent, no phase text left.
        choose(*w, ids::kModelList, "ATmega328");
        Box wrong;
        auto box = expect_box(wrong);
        run(*w, ids::kFlashErase);
        QVERIFY(box->done());
        QCOMPARE(wrong.caption, QString::fromUtf8("Ошибка"));
        QVERIFY2(wrong.text.contains("ATmega8/88") && wrong.text.contains("ATmega328"), qPrintable(wrong.text));
        QCOMPARE(text(*w, ids::kStatusLine), QString());
        choose(*w, ids::kModelList, "ATmega8");

        // A wait under half a second asks, No by default; No sends nothing, Yes writes it.
        auto* timeout = qobject_cast<QLineEdit*>(w->control(ids::kTimeout));
        timeout->selectAll();
        QTest::keyClicks(timeout, "0,1");
        Box no;
        bool no_by_default = false;
        auto answer_no = answer_box(no, QMessageBox::No, &no_by_default);
        run(*w, ids::kConfigureLoader);
        QVERIFY(answer_no->done());
        QVERIFY(no_by_default);
        QCOMPARE(no.buttons, 2);
        QCOMPARE(no.caption, QString("Zarvik"));  // a question, not an error
        QCOMPARE(text(*w, ids::kStatusLine), QString());
        QMessageBox russian(QMessageBox::NoIcon, "", "", QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(russian.button(QMessageBox::Yes)->text().remove('&'), QString::fromUtf8("Да"));
        QCOMPARE(russian.button(QMessageBox::No)->text().remove('&'), QString::fromUtf8("Нет"));
        Box yes;
        auto answer_yes = answer_box(yes, QMessageBox::Yes);
        run(*w, ids::kConfigureLoader);
        QTRY_VERIFY_WITH_TIMEOUT(!w->busy(), kOperationMs);
        QCOMPARE(text(*w, ids::kStatusLine),
                 QString::fromUtf8("Настройка загрузчика выполнена на частоту 8 МГц и 0,1 секунды"));
    }

    void anUnconfirmedDeviceIsAskedAbout() {
        // A board whose loader's first block does not have the usual layout.
        SimLoader loader(*find_device_model("ATmega8"));
        std::fill_n(loader.flash().begin() + 0x1C00, 128, std::uint8_t{0});
        PtyServer server(loader);
        QVERIFY(server.open());
        std::atomic<bool> stop{false};
        std::thread serving([&] { server.serve(stop); });
        const QString path = QString::fromStdString(server.path());
        ports_ << path;
        {
            auto w = make_window();
            open_board(*w, path);
            run(*w, ids::kConnect);
            QCOMPARE(text(*w, ids::kModelList), QString("ATmega8"));
            Box no;
            bool no_by_default = false;
            auto answer_no = answer_box(no, QMessageBox::No, &no_by_default);
            run(*w, ids::kFlashErase);
            QVERIFY(answer_no->done());
            QVERIFY(no_by_default);
            QVERIFY2(no.text.contains(QString::fromUtf8("Устройство не опознано")), qPrintable(no.text));
            QCOMPARE(text(*w, ids::kStatusLine), QString());
            QCOMPARE(loader.flash()[0x1C00 - 1], std::uint8_t{0xFF});

            Box yes;
            auto answer_yes = answer_box(yes, QMessageBox::Yes);
            run(*w, ids::kFlashErase);
            QTRY_VERIFY_WITH_TIMEOUT(!w->busy(), kOperationMs);
            QVERIFY2(text(*w, ids::kStatusLine).startsWith(QString::fromUtf8("Стирание flash закончено!")),
                     qPrintable(text(*w, ids::kStatusLine)));
        }
        stop = true;
        serving.join();
    }

    void aLongOperationLeavesTheWindowLiveAndStopsAfterOneTransaction() {
        // EEPROM erase of an ATmega328 with the wire's timing: eight blocks of 1152 ms
        // (a loader of the original kind, which is waited for block by block).
        testing::SimProcess board({"--model", "ATmega328", "--wire", "--plain-loader"});
        QVERIFY2(board.ready(), board.failure().c_str());
        ports_ << board.path();
        auto w = make_window();
        open_board(*w, board.path());
        run(*w, ids::kConnect);
        QCOMPARE(text(*w, ids::kModelList), QString("ATmega328"));
        auto* bar = qobject_cast<QProgressBar*>(w->control(ids::kEepromProgress));
        QSignalSpy moved(bar, &QProgressBar::valueChanged);

        click(*w, ids::kEepromErase);
        QVERIFY(w->busy());
        QCOMPARE(text(*w, ids::kStatusLine), QString::fromUtf8("Стираем EEPROM"));
        const int locked[] = {ids::kConnect,     ids::kStartProgram, ids::kPortList,    ids::kModelList,
                              ids::kSpeedList,   ids::kFlashBrowse,  ids::kEepromBrowse, ids::kFlashErase,
                              ids::kFlashWrite,  ids::kFlashVerify,  ids::kFlashRead,    ids::kEepromErase,
                              ids::kEepromWrite, ids::kEepromVerify, ids::kEepromRead,   ids::kConfigureLoader};
        for (int id : locked) QVERIFY2(!w->control(id)->isEnabled(), qPrintable(QString::number(id)));
        QVERIFY(w->stop_button()->isEnabled());
        QVERIFY(w->control(ids::kExit)->isEnabled());
        // A click on a locked button is dropped now, not replayed when the erase ends.
        click(*w, ids::kFlashErase);

        // How long the window takes to paint and to take a click while the device thread
        // waits on the line: each is the event loop's delay, sampled often enough that
        // slices lost to a busy machine do not decide. A window that waited on the line
        // itself would answer at the end of a block of 1152 ms, half a block late on the
        // median: the bound lies well below that and well above what a live window
        // needs on a loaded machine.
        QWidget* status = w->control(ids::kStatusLine);
        EventProbe paints(status, QEvent::Paint);
        EventProbe clicks(status, QEvent::MouseButtonRelease);
        QList<qint64> paint_ms, click_ms;
        for (int i = 0; i < 15; ++i) {
            paint_ms << paints.latency([status] { status->update(); });
            click_ms << clicks.latency([status] { post_click(status); });
        }
        QVERIFY(w->busy());
        qInfo("event-loop delay during the erase, median of 15: paint %lld ms, click %lld ms", median(paint_ms),
              median(click_ms));
        QVERIFY2(median(paint_ms) < 250, qPrintable(QString::number(median(paint_ms))));
        QVERIFY2(median(click_ms) < 250, qPrintable(QString::number(median(click_ms))));

        // «Стоп» right after a block ended: the erase ends before the next one.
        QTRY_VERIFY_WITH_TIMEOUT(bar->value() >= 128, kOperationMs);
        const int reached = bar->value();
        QVERIFY(reached < 1024);
        post_click(w->stop_button());
        QTRY_VERIFY_WITH_TIMEOUT(!w->busy(), kOperationMs);
        const QString said = text(*w, ids::kStatusLine);
        QVERIFY2(said.startsWith(QString::fromUtf8("Прервано при стирании EEPROM, адрес ")), qPrintable(said));
        const int stopped = said.section(QString::fromUtf8("адрес "), 1).left(4).toInt(nullptr, 16);
        QVERIFY2(stopped <= reached + 128, qPrintable(said));
        QVERIFY(bar->value() < 1024);
        QVERIFY(!w->stop_button()->isEnabled());
        for (int id : locked) QVERIFY(w->control(id)->isEnabled());

        // Nothing was replayed, and the port still works.
        QTest::qWait(100);
        QCOMPARE(text(*w, ids::kStatusLine), said);
        QVERIFY(w->port_open());
        run(*w, ids::kConnect);
        QCOMPARE(text(*w, ids::kConnectionLine), QString::fromUtf8("Соединение установлено успешно!"));
    }

    // From programming the loader's first block until it reads back, neither «Стоп» nor
    // closing may cut the configuration short: the chip would be left without a loader.
    // The board answers 150 ms late, so the block's read-back alone takes half a second,
    // and the window tries both the moment the bar shows the block programmed.
    void theLoadersOwnBlockIsNeverCutShort() {
        testing::SimProcess board({"--model", "ATmega8", "--wire", "--late", "150"});
        QVERIFY2(board.ready(), board.failure().c_str());
        ports_ << board.path();
        auto w = make_window();
        open_board(*w, board.path());
        run(*w, ids::kConnect);
        QCOMPARE(text(*w, ids::kConnectionLine), QString::fromUtf8("Соединение установлено успешно!"));
        auto* bar = qobject_cast<QProgressBar*>(w->control(ids::kFlashProgress));

        Box refused;
        bool tried = false;
        bool still_open = false;
        std::unique_ptr<ModalDriver> box;
        connect(bar, &QProgressBar::valueChanged, this, [&](int value) {
            if (value != 2 || tried) return;
            tried = true;
            QTest::mouseClick(w->stop_button(), Qt::LeftButton);  // waits for the span's end
            box = expect_box(refused);
            w->close();
            still_open = w->isVisible();
        });
        click(*w, ids::kConfigureLoader);
        QVERIFY(w->busy());
        QCOMPARE(text(*w, ids::kStatusLine), QString::fromUtf8("Настраиваем загрузчик"));
        QTRY_VERIFY_WITH_TIMEOUT(!w->busy(), kOperationMs);
        QVERIFY(tried);
        QVERIFY(still_open);
        QVERIFY(box->done());
        QCOMPARE(refused.caption, QString::fromUtf8("Внимание!"));
        QVERIFY2(refused.text.contains(QString::fromUtf8("первый блок загрузчика")), qPrintable(refused.text));
        QCOMPARE(text(*w, ids::kStatusLine),
                 QString::fromUtf8("Настройка загрузчика выполнена на частоту 8 МГц и 5 секунд"));
        QVERIFY(w->isVisible());
        bar->disconnect(this);
    }

    void escStopsAndClosingAsksFirst() {
        testing::SimProcess board({"--model", "ATmega328", "--wire", "--plain-loader"});
        QVERIFY2(board.ready(), board.failure().c_str());
        ports_ << board.path();
        auto w = make_window();
        open_board(*w, board.path());
        run(*w, ids::kConnect);

        click(*w, ids::kEepromErase);
        QVERIFY(w->busy());
        QTest::keyClick(w.get(), Qt::Key_Escape);  // «Стоп», not the exit
        QTRY_VERIFY_WITH_TIMEOUT(!w->busy(), kOperationMs);
        QVERIFY(w->isVisible());
        QVERIFY(text(*w, ids::kStatusLine).startsWith(QString::fromUtf8("Прервано")));

        click(*w, ids::kEepromErase);
        Box no;
        bool no_by_default = false;
        auto answer_no = answer_box(no, QMessageBox::No, &no_by_default);
        w->close();
        QVERIFY(answer_no->done());
        QVERIFY(no_by_default);
        QVERIFY(w->isVisible());
        QVERIFY(w->busy());

        Box yes;
        auto answer_yes = answer_box(yes, QMessageBox::Yes);
        click(*w, ids::kExit);
        QVERIFY(answer_yes->done());
        QTRY_VERIFY_WITH_TIMEOUT(!w->isVisible(), kOperationMs);
        QVERIFY(!w->busy());
        QVERIFY(QFileInfo::exists(file("Zarvik.ini")));
    }

    // Every text each line can be given, in this font and at this screen's dpi (the
    // test runs again at 144 dpi): it fits, wrapped within the line's height; no two
    // controls overlap; no label or button is narrower than its text.
    void layoutFitsAndNothingOverlaps() {
        auto w = make_window();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        qInfo("logical dpi %d, device pixel ratio %.2f, dialog font %s", w->logicalDpiY(), w->devicePixelRatioF(),
              qPrintable(w->font().toString()));

        auto* connection = qobject_cast<FittedLabel*>(w->control(ids::kConnectionLine));
        auto* status = qobject_cast<FittedLabel*>(w->control(ids::kStatusLine));
        QVERIFY(connection != nullptr && status != nullptr);
        QStringList connection_texts{QString::fromUtf8(kNoPorts), QString::fromUtf8(kConnected),
                                     QString::fromUtf8(kNotConnected), QString::fromUtf8(kLineLost),
                                     QString::fromUtf8("Открыт порт /dev/pts/127. Выберите скорость"),
                                     QString::fromUtf8("Открыт порт /dev/ttyUSB10. Выберите скорость"),
                                     QString::fromUtf8("Не удалось открыть порт /dev/ttyACM10"),
                                     QString::fromUtf8("Установлена скорость 250000 бод")};
        for (int count : {1, 3, 5, 21, 100}) connection_texts << QString::fromStdString(port_count_text(count));

        QStringList status_texts;
        for (Operation op : {Operation::Erase, Operation::Write, Operation::Verify, Operation::Read, Operation::Configure}) {
            for (MemoryKind memory : {MemoryKind::Flash, MemoryKind::Eeprom}) {
                OperationOutcome o;
                o.operation = op;
                o.memory = memory;
                o.elapsed_ms = 999999;
                o.fosc_text = "7.3728";
                o.timeout_text = "12.52";
                status_texts << QString::fromStdString(status_text(o));
                o.result = OperationOutcome::Result::Interrupted;
                o.stopped_address = 0x7B80;
                status_texts << QString::fromStdString(status_text(o));
                o.result = OperationOutcome::Result::LinkFailure;
                for (auto [received, lost] : {std::pair{0u, false}, {2u, false}, {0u, true}}) {
                    o.link_failure = TransactionFailure{'e', 0x7B80, 128, received, lost};
                    status_texts << QString::fromStdString(status_text(o));
                }
                o.result = OperationOutcome::Result::Differences;
                o.differences.clear();
                for (std::uint32_t a = 0x7B00; a < 0x7B10; ++a) o.differences.push_back({a, 0x00, 0xFF});
                o.difference_count = 5000;
                status_texts << QString::fromStdString(status_text(o));
            }
        }
        for (const char* phase : {"Стираем Flash", "Стираем EEPROM", "Записываем Flash", "Записываем EEPROM",
                                  "Читаем Flash", "Читаем EEPROM", "Настраиваем загрузчик",
                                  "Подключён ATmega8/88 (загрузчик с адреса 1C00): в списке МК выбран ATmega8",
                                  "Программа запущена. Загрузчик снова ответит только после сброса платы"}) {
            status_texts << QString::fromUtf8(phase);
        }
        const auto check = [](FittedLabel* line, const QStringList& texts) {
            for (const QString& t : texts) {
                line->setText(t);
                QVERIFY2(line->fits(), qPrintable(QString("%1 does not fit in %2x%3").arg(t).arg(line->width()).arg(line->height())));
                QCOMPARE(line->shown_text(), t);
            }
        };
        check(connection, connection_texts);
        check(status, status_texts);
        // A text longer than any the program makes is cut short, whole in text().
        const QString too_long = status_texts.join(' ');
        status->setText(too_long);
        QVERIFY(!status->fits());
        QVERIFY(status->shown_text().endsWith(QChar(0x2026)));
        QCOMPARE(status->text(), too_long);

        check_placement(*w, 35);
        CAboutDlg about;
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        check_placement(about, 5);
        CHelpDlg help;
        help.set_content({"Помощь", "Справка"});
        help.show();
        QVERIFY(QTest::qWaitForWindowExposed(&help));
        check_placement(help, 2);
    }

    // Opening a tty raises DTR, which resets many boards: a real port is listed by
    // looking, never by opening it. A node that the system shows as opened (inotify)
    // would give it away; one that another process holds is left out.
    void portListingNeverOpensARealPort() {
        const QString port = file("ttyZARVIK0");
        {
            QFile node(port);
            QVERIFY(node.open(QIODevice::WriteOnly));
        }
        const int watch = inotify_init1(IN_NONBLOCK);
        QVERIFY(watch >= 0);
        QVERIFY(inotify_add_watch(watch, port.toLocal8Bit().constData(), IN_OPEN) >= 0);
        const auto opened = [watch] {
            char events[4096];
            return ::read(watch, events, sizeof events) > 0;
        };

        QCOMPARE(list_usable_ports({port, file("ttyZARVIK-missing")}), QStringList{port});
        QVERIFY(!describe_port(port).contains(QString("/")));
        QVERIFY2(!opened(), "the listing opened the port");

        QProcess holder;  // another program with the port open
        holder.setStandardInputFile(port);
        holder.start("sleep", {"30"});
        QVERIFY(holder.waitForStarted());
        (void)opened();  // the holder's own open
        QTRY_VERIFY_WITH_TIMEOUT(list_usable_ports({port}).isEmpty(), 20000);
        QVERIFY2(!opened(), "the listing opened the port");
        holder.kill();
        holder.waitForFinished();
        QTRY_COMPARE_WITH_TIMEOUT(list_usable_ports({port}), QStringList{port}, 20000);
        ::close(watch);

        // A pseudo-terminal has no modem lines: it is probed by opening, and found.
        testing::PtyPair pty;
        const QString pts = QString::fromStdString(pty.path());
        QCOMPARE(list_usable_ports({pts}), QStringList{pts});
    }

    // The list is scanned again each time it opens, keeps the open port and its choice,
    // and shows what the system says of each port beside its name.
    void thePortListRescansWhenOpened() {
        testing::PtyPair pty;
        const QString path = QString::fromStdString(pty.path());
        ports_ << path;
        CVelborDlg::Environment env;
        env.scan_ports = [this] { return ports_; };
        env.describe_port = [](const QString& name) {
            return name.endsWith("USB0") ? QString("FT232R USB UART, FTDI, 0403:6001") : QString();
        };
        env.settings_folder = folder_->path();
        CVelborDlg w(env);
        w.show();
        QTRY_COMPARE(w.scanning(), false);
        choose(w, ids::kPortList, path);
        QVERIFY(w.port_open());
        auto* list = qobject_cast<QComboBox*>(w.control(ids::kPortList));
        QCOMPARE(list->count(), 1);

        ports_ = QStringList{"/dev/ttyUSB0"};  // plugged in later; the open port is ours
        list->showPopup();
        QStringList shown;
        for (int i = 0; i < list->count(); ++i) shown << list->itemText(i);
        QCOMPARE(shown, (QStringList{path, "/dev/ttyUSB0"}));
        QCOMPARE(list->currentText(), path);
        QCOMPARE(list->itemData(1, Qt::ToolTipRole).toString(), QString("FT232R USB UART, FTDI, 0403:6001"));
        QVERIFY(list->view()->isVisible());
        QCOMPARE(list->maxVisibleItems(), 2);
        list->hidePopup();
        QVERIFY(w.port_open());

        // The ten speeds and the four models, all at once, without scrolling.
        for (int id : {ids::kSpeedList, ids::kModelList}) {
            auto* choices = qobject_cast<QComboBox*>(w.control(id));
            choices->showPopup();
            QTRY_VERIFY(choices->view()->isVisible());
            const QRect last = choices->view()->visualRect(choices->model()->index(choices->count() - 1, 0));
            const QRect first = choices->view()->visualRect(choices->model()->index(0, 0));
            const QRect visible = choices->view()->viewport()->rect();
            QVERIFY2(first.top() >= visible.top() && last.bottom() <= visible.bottom(), qPrintable(QString::number(id)));
            QVERIFY(!choices->view()->verticalScrollBar()->isVisible());
            choices->hidePopup();
        }
    }

    void browseTooltipsAndTheStartedProgram() {
        testing::SimProcess board({"--model", "ATmega8"});
        QVERIFY2(board.ready(), board.failure().c_str());
        ports_ << board.path();
        auto w = make_window();
        QCOMPARE(w->control(ids::kFlashBrowse)->toolTip(), QString::fromUtf8("Выбрать файл flash…"));
        QCOMPARE(w->control(ids::kEepromBrowse)->toolTip(), QString::fromUtf8("Выбрать файл EEPROM…"));
        open_board(*w, board.path());
        run(*w, ids::kConnect);
        run(*w, ids::kStartProgram);
        QCOMPARE(text(*w, ids::kStatusLine),
                 QString::fromUtf8("Программа запущена. Загрузчик снова ответит только после сброса платы"));
    }

    void loaderConfiguration() {
        testing::SimProcess board({"--model", "ATmega328"});
        QVERIFY2(board.ready(), board.failure().c_str());
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
                 QString::fromUtf8("Настройка загрузчика выполнена на частоту 7,3728 МГц и 5 секунд"));
        QCOMPARE(fosc->text(), QString("7.3728"));
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
        QTest::keyClick(w.get(), Qt::Key_Escape);  // never the exit
        QVERIFY(w->isVisible());
        click(*w, ids::kExit);  // the exit sequence
        QVERIFY(!w->isVisible());
        QFile ini(file("Zarvik.ini"));
        ini.open(QIODevice::ReadOnly);
        QCOMPARE(ini.readAll(), QByteArray("Fosc\t = 16\r\ntime_out = 5\r\nlast_model = ATmega8\r\n"));
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

    // Help and About through the menu, as the user opens them.
    void helpAndAbout() {
        {
            QFile help(file("Help.txt"));
            help.open(QIODevice::WriteOnly);
            help.write("\xCF\xF0\xE8\xE2\xE5\xF2 1251");  // "Привет" in Windows-1251
            help.write(QByteArray("\0hidden", 7));
        }
        auto w = make_window();
        QString title;
        QString shown;
        auto read = std::make_unique<ModalDriver>([&](QWidget* modal) {
            auto* help = qobject_cast<CHelpDlg*>(modal);
            if (help == nullptr) return;
            title = help->windowTitle();
            shown = qobject_cast<QPlainTextEdit*>(find_control(help, ids::kHelpText))->toPlainText();
            help->accept();
        });
        w->menu_bar()->actions().at(0)->trigger();
        QVERIFY(read->done());
        QCOMPARE(shown, QString::fromUtf8("Привет 1251"));
        QCOMPARE(title, QString::fromUtf8("Помощь"));  // not the template's "Dialog"

        QFile::remove(file("Help.txt"));
        Box seen;
        auto box = expect_box(seen);
        w->menu_bar()->actions().at(0)->trigger();
        QVERIFY(box->done());
        QCOMPARE(seen.caption, QString::fromUtf8("Внимание!"));
        QCOMPARE(seen.text, QString::fromUtf8("В папке программы отсутствует файл \"Help.txt\""));

        QStringList labels;
        QString about_title;
        bool whole_title = false;
        auto about = std::make_unique<ModalDriver>([&](QWidget* modal) {
            auto* dialog = qobject_cast<CAboutDlg*>(modal);
            if (dialog == nullptr) return;
            for (auto* l : dialog->findChildren<QLabel*>()) labels << l->text();
            about_title = dialog->windowTitle();
            // The caption fits the box's width beside the title bar's icon and buttons.
            const QFontMetrics caption(QApplication::font("QMdiSubWindowTitleBar"));
            whole_title = dialog->width() >= caption.horizontalAdvance(about_title) +
                                                 3 * dialog->style()->pixelMetric(QStyle::PM_TitleBarHeight);
            dialog->accept();
        });
        w->menu_bar()->actions().at(1)->trigger();
        QVERIFY(about->done());
        QVERIFY(labels.contains(QString::fromUtf8("Загрузчик (Zarvik)")));
        QVERIFY(labels.contains(QString::fromUtf8("Версия 1.0 полная")));
        QVERIFY(labels.contains(QString("01.04.2024")));
        QCOMPARE(about_title, QString::fromUtf8("О программе"));
        QVERIFY(whole_title);
    }

    // A file dropped onto the window, or named on its command line, fills its memory's path.
    void droppedAndGivenFilesFillThePaths() {
        auto w = make_window();
        w->give_files({"/tmp/x/program.elf", "/tmp/x/data.EEP"});
        QCOMPARE(text(*w, ids::kFlashPath), QString("/tmp/x/program.elf"));
        QCOMPARE(text(*w, ids::kEepromPath), QString("/tmp/x/data.EEP"));

        auto* mime = new QMimeData;
        mime->setUrls({QUrl::fromLocalFile(ZARVIK_BLINK_HEX), QUrl::fromLocalFile(file("notes.txt"))});
        const QPoint at = w->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(w.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(at), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(w.get(), &drop);
        // What the presenter makes of the path: its end, when the checkout lies deep.
        QVERIFY(shows_path(*w, ids::kFlashPath, ZARVIK_BLINK_HEX));
        QCOMPARE(text(*w, ids::kEepromPath), QString("/tmp/x/data.EEP"));
        delete mime;
    }

    // Nothing moves when a line's text wraps or an operation starts: the window keeps its
    // size, and «Стоп» stays where the user aims at it.
    void nothingMovesWhenATextWraps() {
        auto w = make_window();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QTRY_COMPARE(w->scanning(), true);
        QApplication::processEvents();
        const QSize size = w->size();
        const QRect stop(w->stop_button()->mapTo(w.get(), QPoint(0, 0)), w->stop_button()->size());
        const auto status_height = w->control(ids::kStatusLine)->height();
        const auto connection_height = w->control(ids::kConnectionLine)->height();
        const QString long_text = QString::fromUtf8(
            "Загрузчик ответил не полностью при стирании EEPROM: команда 'e', адрес 0380, получено 2 байт из 128 — и ещё немного текста");
        for (const QString& t : {long_text, QString(), QString::fromUtf8("Стираем EEPROM"), long_text + long_text}) {
            qobject_cast<QLabel*>(w->control(ids::kStatusLine))->setText(t);
            qobject_cast<QLabel*>(w->control(ids::kConnectionLine))->setText(t);
            w->stop_button()->setEnabled(!t.isEmpty());
            QApplication::processEvents();
            QCOMPARE(w->size(), size);
            QCOMPARE(QRect(w->stop_button()->mapTo(w.get(), QPoint(0, 0)), w->stop_button()->size()), stop);
            QCOMPARE(w->control(ids::kStatusLine)->height(), status_height);
            QCOMPARE(w->control(ids::kConnectionLine)->height(), connection_height);
        }
    }

    // The question whether to stop and close stays open when the operation ends before it
    // is answered: No keeps the window, Yes closes it at once.
    void theCloseQuestionWaitsForItsAnswer() {
        testing::SimProcess board({"--model", "ATmega328", "--wire", "--plain-loader"});  // its EEPROM erase takes a while
        ports_ << board.path();
        auto w = make_window();
        open_board(*w, board.path());
        run(*w, ids::kConnect);
        for (const bool yes : {false, true}) {
            click(*w, ids::kEepromErase);
            QVERIFY(w->busy());
            QString asked;
            bool open_after_the_end = false;
            // The user leaves the question open; the operation ends meanwhile («Стоп» pressed
            // by a keyboard shortcut the modal box does not hold back). Then the answer.
            auto answer_late = std::make_unique<ModalDriver>([&](QWidget* modal) {
                auto* question = qobject_cast<QMessageBox*>(modal);
                if (question == nullptr) return;
                asked = question->text();
                w->stop_button()->click();
                const bool ended = QTest::qWaitFor([&] { return !w->busy(); }, 20000);
                open_after_the_end = ended && question->isVisible();
                question->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
            });
            w->close();
            QVERIFY(answer_late->done());
            QCOMPARE(asked, QString::fromUtf8("Операция ещё не закончена. Прервать её и закрыть окно?"));
            QVERIFY(open_after_the_end);
            QVERIFY(!w->busy());
            QCOMPARE(w->isVisible(), !yes);
            if (!yes) QVERIFY(text(*w, ids::kStatusLine).startsWith(QString::fromUtf8("Прервано")));
        }
    }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
