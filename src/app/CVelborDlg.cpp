#include "app/CVelborDlg.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>

#include "app/CAboutDlg.h"
#include "app/CHelpDlg.h"
#include "app/control_ids.h"
#include "app/dialog_support.h"
#include "app/fitted_label.h"
#include "app/port_list_box.h"
#include "app/settings_file.h"
#include "app/text_decoding.h"
#include "loader/chip_identity.h"
#include "memory/intel_hex_writer.h"
#include "text/language.h"
#include "programmer/status_texts.h"
#include "ui_CVelborDlg.h"

namespace zarvik {
namespace {

QString qs(const std::string& utf8) { return QString::fromStdString(utf8); }
QString qs(const char* utf8) { return QString::fromUtf8(utf8); }

// Runs on the device thread; hands every step to the window's thread, where the bar and
// the status line are painted in their turn.
class ForwardedProgress final : public ProgressObserver {
public:
    ForwardedProgress(TaskRunner* window, QProgressBar* bar, std::function<void(Phase)> on_phase)
        : window_(window), bar_(bar), phase_(std::move(on_phase)) {}
    void on_phase(Phase phase) override {
        window_->post([f = phase_, phase] { f(phase); });
    }
    void on_range(std::uint32_t maximum) override {
        window_->post([bar = bar_, maximum] { bar->setRange(0, std::max(static_cast<int>(maximum), 1)); });
    }
    void on_position(std::uint32_t position) override {
        window_->post([bar = bar_, position] { bar->setValue(std::min(static_cast<int>(position), bar->maximum())); });
    }

private:
    TaskRunner* window_;
    QProgressBar* bar_;
    std::function<void(Phase)> phase_;
};

// The one filter of each memory's open and save dialogs.
QString file_filter(MemoryKind memory) {
    return memory == MemoryKind::Flash
               ? QCoreApplication::translate("CVelborDlg", "Файлы программной памяти flash (*.hex)")
               : QCoreApplication::translate("CVelborDlg", "Файлы памяти данных EEPROM (*.eep)");
}

constexpr const char* kSpeeds[] = {"4800", "9600", "19200", "38400", "76800", "100000", "115200", "125000", "230400", "250000"};

// Every control that starts an operation or changes the port, speed, model, files or
// the loader's texts: disabled while an operation runs, so that none overlap.
constexpr int kLockedWhileBusy[] = {
    ids::kConnect,     ids::kStartProgram, ids::kPortList,    ids::kModelList,    ids::kSpeedList,
    ids::kFlashBrowse, ids::kEepromBrowse, ids::kFlashErase,  ids::kFlashWrite,   ids::kFlashVerify,
    ids::kFlashRead,   ids::kEepromErase,  ids::kEepromWrite, ids::kEepromVerify, ids::kEepromRead,
    ids::kFosc,        ids::kTimeout,      ids::kConfigureLoader,
};

const DeviceModel* model_for_loader_start(std::uint32_t start, const DeviceModel& selected) {
    if (selected.loader_start == start) return &selected;
    for (const auto& model : kDeviceModels) {
        if (model.loader_start == start) return &model;
    }
    return nullptr;
}

}  // namespace

CVelborDlg::CVelborDlg(Environment environment, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::CVelborDlg>()),
      environment_(std::move(environment)),
      window_tasks_(new TaskRunner(this)),
      device_(std::make_unique<DeviceThread>()) {
    ui_->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    menu_ = new QMenuBar(this);
    menu_->setNativeMenuBar(false);
    QAction* help = menu_->addAction(tr("Помощь"));
    help->setData(ids::kHelpCommand);
    QAction* about = menu_->addAction(tr("О программе ..."));
    about->setData(ids::kAboutCommand);
    setFont(dialog_font());
    layout()->setMenuBar(menu_);
    // The window is as large as its content in the font it has, and no larger.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    // As wide as the template's status line: 58 average characters of the dialog font.
    const int character = QFontMetrics(font()).averageCharWidth();
    ui_->ctl_1013->setMinimumWidth(character * 58);
    // The template's widths for the short fields, in characters of the font.
    for (QLineEdit* edit : {ui_->ctl_1076, ui_->ctl_1077}) edit->setMaximumWidth(character * 10);
    for (QComboBox* list : {static_cast<QComboBox*>(ui_->ctl_1000), ui_->ctl_1010}) list->setMinimumContentsLength(7);

    // The command table: every control and menu command with its handler, in one place.
    struct Command {
        int id;
        std::function<void()> run;
    };
    const Command commands[] = {
        {ids::kExit, [this] { reject(); }},
        {ids::kConnect, [this] { on_connect(); }},
        {ids::kFlashErase, [this] { on_erase(MemoryKind::Flash); }},
        {ids::kFlashWrite, [this] { on_write(MemoryKind::Flash); }},
        {ids::kFlashVerify, [this] { on_verify(MemoryKind::Flash); }},
        {ids::kFlashRead, [this] { on_read(MemoryKind::Flash); }},
        {ids::kEepromErase, [this] { on_erase(MemoryKind::Eeprom); }},
        {ids::kEepromWrite, [this] { on_write(MemoryKind::Eeprom); }},
        {ids::kEepromVerify, [this] { on_verify(MemoryKind::Eeprom); }},
        {ids::kEepromRead, [this] { on_read(MemoryKind::Eeprom); }},
        {ids::kFlashBrowse, [this] { on_browse(MemoryKind::Flash); }},
        {ids::kEepromBrowse, [this] { on_browse(MemoryKind::Eeprom); }},
        {ids::kStartProgram, [this] { on_start_program(); }},
        {ids::kConfigureLoader, [this] { on_configure_loader(); }},
    };
    for (const Command& command : commands) {
        connect(static_cast<QPushButton*>(control(command.id)), &QPushButton::clicked, this, command.run);
    }
    connect(stop_button(), &QPushButton::clicked, this, [this] { request_stop(); });
    connect(help, &QAction::triggered, this, [this] { on_help(); });
    connect(about, &QAction::triggered, this, [this] { on_about(); });
    connect(ui_->ctl_1001, &QComboBox::activated, this, [this](int i) { on_model_chosen(i); });
    connect(ui_->ctl_1000, &QComboBox::activated, this, [this](int i) { on_port_chosen(i); });
    connect(ui_->ctl_1010, &QComboBox::activated, this, [this](int i) { on_speed_chosen(i); });
    connect(ui_->ctl_1000, &PortListBox::aboutToShowPopup, this, [this] { rescan_ports(); });
    connect(&timer1_, &QTimer::timeout, this, [this] { on_scan_tick(); });
    // What is typed is the member's text at once, so a refresh never throws it away and
    // the loader configuration and the settings file use what the user sees.
    connect(ui_->ctl_1076, &QLineEdit::textEdited, this, [this](const QString& t) { fosc_text_ = t; });
    connect(ui_->ctl_1077, &QLineEdit::textEdited, this, [this](const QString& t) { timeout_text_ = t; });

    initialize();
}

CVelborDlg::~CVelborDlg() {
    // A window destroyed mid-operation still stops the line first, and gives the cursor back.
    device_->cancellation().request();
    device_.reset();
    if (busy_) QApplication::restoreOverrideCursor();
}

QWidget* CVelborDlg::control(int id) const { return find_control(this, id); }

QPushButton* CVelborDlg::stop_button() const { return ui_->stop; }

QProgressBar* CVelborDlg::progress_of(MemoryKind memory) const {
    return memory == MemoryKind::Flash ? ui_->ctl_1051 : ui_->ctl_1060;
}

void CVelborDlg::initialize() {
    refresh();
    setWindowIcon(window_icon());
    QFont line_font(QStringLiteral("Tahoma"));
    line_font.setStyleHint(QFont::SansSerif);
    // The template's 16 pixels at 96 dpi, in points so that it grows with the screen.
    line_font.setPointSizeF(12);
    line_font.setWeight(QFont::Normal);
    ui_->ctl_1012->setFont(line_font);
    CHelpDlg::check_help_file(nullptr);
    for (QPushButton* browse : {ui_->ctl_1049, ui_->ctl_1050}) {
        browse->setIcon(browse_icon());
        browse->setIconSize(QSize(17, 16));
    }
    for (const char* speed : kSpeeds) ui_->ctl_1010->addItem(qs(speed));
    ui_->ctl_1010->setCurrentIndex(-1);
    for (const auto& model : kDeviceModels) ui_->ctl_1001->addItem(qs(std::string(model.name)));
    ui_->ctl_1001->setCurrentIndex(0);
    std::string unreadable;
    const LoaderSettings settings = load_settings(environment_.settings_folder.toStdString(), &unreadable);
    settings_unreadable_ = !unreadable.empty();
    fosc_text_ = from_cp1251(settings.fosc);
    timeout_text_ = from_cp1251(settings.timeout);
    device_->call([this] { device_->programmer().set_model(kDefaultModel); });
    connected_ = false;
    speed_chosen_ = false;
    status_text_.clear();
    if (settings_unreadable_) {
        status_text_ = tr("Не удалось прочитать файл %1 (%2): он оставлен как есть, действуют значения 8 и 5")
                           .arg(QDir(environment_.settings_folder).filePath(qs(kSettingsFileName)), qs(unreadable));
    }
    refresh();
    ui_->ctl_1000->setCurrentIndex(-1);
    stop_button()->setEnabled(false);
    timer1_.start(10);
    ui_->ctl_1->setFocus();
}

void CVelborDlg::refresh() {
    ui_->ctl_1013->setText(status_text_);
    ui_->ctl_1076->setText(fosc_text_);
    ui_->ctl_1077->setText(timeout_text_);
    ui_->ctl_1047->setText(flash_path_);
    ui_->ctl_1048->setText(eeprom_path_);
}

void CVelborDlg::take_edits() {
    status_text_ = ui_->ctl_1013->text();
    fosc_text_ = ui_->ctl_1076->text();
    timeout_text_ = ui_->ctl_1077->text();
    flash_path_ = ui_->ctl_1047->text();
    eeprom_path_ = ui_->ctl_1048->text();
}

void CVelborDlg::set_connection_line(const QString& text) {
    if (ui_->ctl_1012->text() == text) return;  // the scan repeats its text every 10 ms
    ui_->ctl_1012->setText(text);
}

void CVelborDlg::set_status(const QString& text) {
    status_text_ = text;
    refresh();
}

void CVelborDlg::message(const QString& text) { show_message(this, text, qs(tr_text("status", kErrorCaption))); }

bool CVelborDlg::ask(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, qs(tr_text("status", kErrorCaption)), text, QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

bool CVelborDlg::refuse_without_port() {
    if (port_open_) return false;
    message(qs(tr_text("status", kPortNotOpen)));
    return true;
}

void CVelborDlg::report(const OperationOutcome& outcome) { set_status(qs(status_text(outcome))); }

void CVelborDlg::keyPressEvent(QKeyEvent* event) {
    // During an operation Esc is «Стоп», not the exit.
    if (busy_ && event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        request_stop();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CVelborDlg::reject() {
    if (busy_) {
        ask_then_stop_and_exit();
        return;
    }
    run_exit_sequence();
}

void CVelborDlg::ask_then_stop_and_exit() {
    if (exit_when_done_) return;
    if (device_->cancellation().held()) {
        show_message(this,
                     tr("Сейчас записывается первый блок загрузчика. Прервать запись нельзя: плата осталась бы без загрузчика. Окно можно будет закрыть, когда запись закончится."),
                     qs(tr_text("status", kWarningCaption)));
        return;
    }
    if (!ask(tr("Операция ещё не закончена. Прервать её и закрыть окно?"))) return;
    if (!busy_) {
        run_exit_sequence();  // it ended while the question was open
        return;
    }
    exit_when_done_ = true;
    request_stop();
}

void CVelborDlg::request_stop() {
    if (!busy_) return;
    // During a span that must not be cut, the request waits for its end.
    device_->cancellation().request();
    stop_button()->setEnabled(false);
}

void CVelborDlg::run_exit_sequence() {
    if (exited_) return;
    exited_ = true;
    timer1_.stop();
    device_->call([this] { device_->port().close(); });  // puts back the line settings the port had
    port_open_ = false;
    take_edits();
    const LoaderSettings typed{to_cp1251(fosc_text_), to_cp1251(timeout_text_)};
    // A file that was there but could not be read keeps what it holds, unless the user
    // typed values of their own to replace the defaults that stood in for it.
    const bool keep_unreadable = settings_unreadable_ && typed.fosc == LoaderSettings{}.fosc &&
                                 typed.timeout == LoaderSettings{}.timeout;
    if (!keep_unreadable) {
        if (auto error = save_settings(environment_.settings_folder.toStdString(), typed)) {
            show_message(this,
                         tr("Не удалось сохранить настройки в файл %1: %2")
                             .arg(QDir(environment_.settings_folder).filePath(qs(kSettingsFileName)), qs(*error)),
                         qs(tr_text("status", kErrorCaption)));
        }
    }
    QDialog::done(QDialog::Rejected);
}

void CVelborDlg::set_busy(bool busy) {
    if (busy == busy_) return;
    busy_ = busy;
    if (busy) {
        focus_before_ = QApplication::focusWidget();
        device_->cancellation().clear();
    }
    for (int id : kLockedWhileBusy) control(id)->setEnabled(!busy);
    stop_button()->setEnabled(busy);
    if (busy) {
        QApplication::setOverrideCursor(Qt::BusyCursor);
        stop_button()->setFocus();
    } else {
        QApplication::restoreOverrideCursor();
        if (focus_before_ != nullptr && focus_before_->isEnabled()) focus_before_->setFocus();
        focus_before_ = nullptr;
        device_->cancellation().clear();
    }
}

void CVelborDlg::run_operation(QProgressBar* bar, const QString& phase, const Work& work, const Finish& finish,
                               Attempt attempt) {
    set_busy(true);
    set_status(phase);
    device_->post([this, bar, phase, work, finish, attempt] {
        ForwardedProgress progress(window_tasks_, bar, [this, bar](Phase p) {
            // The core names its phase; the memory is the bar's.
            set_status(qs(phase_text(p, bar == ui_->ctl_1060 ? MemoryKind::Eeprom : MemoryKind::Flash)));
        });
        Programmer& programmer = device_->programmer();
        if (attempt.accept_unconfirmed) programmer.accept_unconfirmed_device();
        const OperationOutcome outcome = work(programmer, progress, attempt);
        window_tasks_->post([this, outcome, bar, phase, work, finish, attempt] {
            operation_ended(outcome, bar, phase, work, finish, attempt);
        });
    });
}

void CVelborDlg::operation_ended(const OperationOutcome& outcome, QProgressBar* bar, const QString& phase,
                                 const Work& work, const Finish& finish, Attempt attempt) {
    set_busy(false);
    if (exit_when_done_) {
        run_exit_sequence();
        return;
    }
    using Result = OperationOutcome::Result;
    if (outcome.result == Result::Refused &&
        (outcome.refusal == Refusal::WaitTooShort || outcome.refusal == Refusal::DeviceNotConfirmed)) {
        set_status(QString());  // nothing was sent; no phase text stays behind
        const bool short_wait = outcome.refusal == Refusal::WaitTooShort;
        const QString question = short_wait ? tr("Записать такое время ожидания всё же?")
                                            : tr("Если на плате загрузчик с другим первым блоком, можно продолжить без проверки. Продолжить?");
        if (!ask(qs(status_text(outcome)) + qs("\n\n") + question)) return;
        Attempt again = attempt;
        (short_wait ? again.allow_short_wait : again.accept_unconfirmed) = true;
        run_operation(bar, phase, work, finish, again);
        return;
    }
    if (outcome.result == Result::Refused || outcome.result == Result::FileFailure) {
        set_status(QString());
        message(qs(status_text(outcome)));
        return;
    }
    finish(outcome);
}

void CVelborDlg::on_scan_tick() {
    if (port_open_) {
        device_->call([this] { device_->port().close(); });
        port_open_ = false;
    }
    QStringList found = environment_.scan_ports ? environment_.scan_ports() : QStringList{};
    found.sort();
    if (found.isEmpty()) {
        // Every 10 ms while nothing is there: touch the widgets only when they change, so
        // that an idle window does not repaint a hundred times a second.
        if (ui_->ctl_1000->count() > 0) ui_->ctl_1000->clear();
        set_connection_line(qs(tr_text("status", kNoPorts)));
        if (ui_->ctl_1010->currentIndex() != -1) ui_->ctl_1010->setCurrentIndex(-1);
        return;
    }
    fill_port_list(found);
    ui_->ctl_1000->setCurrentIndex(-1);
    timer1_.stop();
    set_connection_line(qs(port_count_text(static_cast<int>(found.size()))));
}

void CVelborDlg::fill_port_list(const QStringList& ports) {
    ui_->ctl_1000->clear();
    for (const QString& name : ports) {
        ui_->ctl_1000->addItem(name);
        const QString description = environment_.describe_port ? environment_.describe_port(name) : QString();
        if (!description.isEmpty()) ui_->ctl_1000->setItemData(ui_->ctl_1000->count() - 1, description, Qt::ToolTipRole);
    }
}

void CVelborDlg::rescan_ports() {
    // The list as it is now, with the port this window holds open kept in it.
    if (timer1_.isActive() || busy_) return;
    QStringList found = environment_.scan_ports ? environment_.scan_ports() : QStringList{};
    if (port_open_ && !found.contains(port_name_)) found << port_name_;
    found.sort();
    const QString current = ui_->ctl_1000->currentText();
    const int index_before = ui_->ctl_1000->currentIndex();
    fill_port_list(found);
    ui_->ctl_1000->setCurrentIndex(index_before < 0 ? -1 : ui_->ctl_1000->findText(current));
}

void CVelborDlg::on_port_chosen(int index) {
    port_name_ = ui_->ctl_1000->itemText(index);
    bool opened = false;
    device_->call([this, &opened] {
        device_->port().close();
        opened = device_->port().open(port_name_.toStdString());
        device_->forget_device();  // another line may lead to another chip
    });
    port_open_ = opened;
    connected_ = false;
    if (opened) {
        set_connection_line(tr("Открыт порт %1. Выберите скорость").arg(port_name_));
    } else {
        set_connection_line(tr("Не удалось открыть порт %1").arg(port_name_));
    }
}

void CVelborDlg::on_speed_chosen(int index) {
    if (!port_open_) {
        ui_->ctl_1010->setCurrentIndex(-1);
        message(qs(tr_text("status", kPortNotOpen)));
        return;
    }
    chosen_speed_text_ = ui_->ctl_1010->itemText(index);
    const int baud = chosen_speed_text_.toInt();
    device_->call([this, baud] { device_->port().set_speed(baud); });
    speed_chosen_ = true;
    set_connection_line(tr("Установлена скорость %1 бод").arg(chosen_speed_text_));
}

void CVelborDlg::on_model_chosen(int index) {
    if (auto model = find_device_model(ui_->ctl_1001->itemText(index).toStdString())) {
        const DeviceModel chosen = *model;
        device_->call([this, chosen] { device_->programmer().set_model(chosen); });
    }
}

void CVelborDlg::select_model(const DeviceModel& model) {
    ui_->ctl_1001->setCurrentIndex(ui_->ctl_1001->findText(qs(std::string(model.name))));
    device_->call([this, model] { device_->programmer().set_model(model); });
}

void CVelborDlg::on_connect() {
    set_status(QString());
    if (refuse_without_port()) return;
    if (!speed_chosen_) {
        message(qs(tr_text("status", kSpeedNotChosen)));
        return;
    }
    set_busy(true);
    device_->post([this] {
        Programmer& programmer = device_->programmer();
        const bool connected = programmer.connect() == HandshakeOutcome::Connected;
        std::optional<ChipIdentity> identity;
        // Which chip answers, asked once for this connection: three block reads.
        if (connected) identity = programmer.identify_device();
        window_tasks_->post([this, connected, identity] { connect_done(connected, identity); });
    });
}

void CVelborDlg::connect_done(bool connected, std::optional<ChipIdentity> identity) {
    set_busy(false);
    if (exit_when_done_) {
        run_exit_sequence();
        return;
    }
    connected_ = connected;
    set_connection_line(qs(tr_text("status", connected ? kConnected : kNotConnected)));
    if (!identity || !identity->found()) return;
    const DeviceModel selected = device_->state().model;
    const DeviceModel* found = model_for_loader_start(*identity->loader_start, selected);
    if (found == nullptr || found->loader_start == selected.loader_start) return;
    select_model(*found);
    const QString address = QString::number(*identity->loader_start, 16).toUpper().rightJustified(4, QLatin1Char('0'));
    set_status(tr("Подключён %1 (загрузчик с адреса %2): в списке МК выбран %3")
                   .arg(qs(chip_name(*identity->loader_start)), address, qs(std::string(found->name))));
}

void CVelborDlg::on_start_program() {
    if (refuse_without_port()) return;
    bool sent = false;
    device_->call([this, &sent] { sent = device_->programmer().start_program(); });
    connected_ = false;
    set_status(sent ? qs(tr_text("status", kProgramStarted))
                    : tr("Не удалось отправить команду запуска программы"));
}

void CVelborDlg::on_erase(MemoryKind memory) {
    if (refuse_without_port()) return;
    run_operation(
        progress_of(memory), qs(phase_text(Phase::Erasing, memory)),
        [memory](Programmer& p, ProgressObserver& progress, const Attempt&) { return p.erase(memory, progress); },
        [this](const OperationOutcome& o) { report(o); });
}

void CVelborDlg::on_write(MemoryKind memory) {
    if (!port_open_) {
        set_status(QString());
        message(qs(tr_text("status", kPortNotOpen)));
        return;
    }
    if (path_of(memory).isEmpty()) {
        message(qs(tr_text("status", memory == MemoryKind::Flash ? kNoFlashFile : kNoEepromFile)));
        return;
    }
    const std::string path = path_of(memory).toStdString();
    run_operation(
        progress_of(memory), qs(phase_text(Phase::Writing, memory)),
        [memory, path](Programmer& p, ProgressObserver& progress, const Attempt&) {
            return p.write(memory, path, progress);
        },
        [this](const OperationOutcome& o) { report(o); });
}

void CVelborDlg::on_verify(MemoryKind memory) {
    set_status(QString());
    if (refuse_without_port()) return;
    if (path_of(memory).isEmpty()) {
        message(qs(tr_text("status", memory == MemoryKind::Flash ? kNoFlashFile : kNoEepromFile)));
        return;
    }
    const std::string path = path_of(memory).toStdString();
    run_operation(
        progress_of(memory), qs(phase_text(Phase::Reading, memory)),
        [memory, path](Programmer& p, ProgressObserver& progress, const Attempt&) {
            return p.verify(memory, path, progress);
        },
        [this](const OperationOutcome& o) { report(o); });
}

QString CVelborDlg::choose_save_file(MemoryKind memory) {
    const bool flash = memory == MemoryKind::Flash;
    QFileDialog dialog(this, QString(), QString(), file_filter(memory));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    const QString typed = dialog.selectedFiles().first();
    QString path = qs(with_required_extension(typed.toStdString(), flash ? ".hex" : ".eep"));
    // The dialog asked only about the name as typed; the extension may have made it
    // the name of another file that exists.
    if (path != typed && QFileInfo::exists(path)) {
        QMessageBox ask(QMessageBox::NoIcon, qs(tr_text("status", kWarningCaption)),
                        tr("Файл %1 уже существует. Заменить его?").arg(path), QMessageBox::Yes | QMessageBox::No, this);
        if (ask.exec() != QMessageBox::Yes) return {};
    }
    return path;
}

void CVelborDlg::on_read(MemoryKind memory) {
    progress_of(memory)->setValue(0);
    if (refuse_without_port()) return;
    const QString path = choose_save_file(memory);
    if (path.isEmpty()) return;
    const std::string target = path.toStdString();
    run_operation(
        progress_of(memory), qs(phase_text(Phase::Reading, memory)),
        [memory, target](Programmer& p, ProgressObserver& progress, const Attempt&) {
            const OperationOutcome read = p.read(memory, progress);
            return read.ok() ? p.save_read(read, target) : read;
        },
        [this](const OperationOutcome& o) { report(o); });
}

void CVelborDlg::on_browse(MemoryKind memory) {
    set_status(QString());
    progress_of(memory)->setValue(0);
    QFileDialog dialog(this, QString(), QString(), file_filter(memory));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    path_of(memory) = dialog.selectedFiles().first();
    refresh();
}

void CVelborDlg::on_configure_loader() {
    if (refuse_without_port()) return;
    take_edits();
    const std::string fosc = fosc_text_.toStdString();
    const std::string timeout = timeout_text_.toStdString();
    run_operation(
        ui_->ctl_1051, qs(phase_text(Phase::Configuring, MemoryKind::Flash)),
        [fosc, timeout](Programmer& p, ProgressObserver& progress, const Attempt& attempt) {
            return p.configure_loader(fosc, timeout, progress, ConfigureOptions{.allow_short_wait = attempt.allow_short_wait});
        },
        [this](const OperationOutcome& o) {
            fosc_text_ = qs(o.fosc_text);
            timeout_text_ = qs(o.timeout_text);
            report(o);
        });
}

void CVelborDlg::on_help() {
    CHelpDlg help(this);
    if (help.load()) help.exec();
}

void CVelborDlg::on_about() {
    CAboutDlg about(this);
    about.exec();
}

}  // namespace zarvik
