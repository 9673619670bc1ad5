#include "app/CVelborDlg.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>

#include <optional>

#include "app/CAboutDlg.h"
#include "app/CHelpDlg.h"
#include "app/control_ids.h"
#include "app/dialog_support.h"
#include "app/settings_file.h"
#include "app/text_decoding.h"
#include "memory/intel_hex_writer.h"
#include "programmer/status_texts.h"
#include "ui_CVelborDlg.h"

namespace zarvik {
namespace {

QString qs(const std::string& utf8) { return QString::fromStdString(utf8); }
QString qs(const char* utf8) { return QString::fromUtf8(utf8); }

// Moves a progress bar and the status line while a handler blocks the event loop:
// both are repainted at once, so the user sees the operation move.
class WindowProgress final : public ProgressObserver {
public:
    WindowProgress(QProgressBar* bar, std::function<void(Phase)> on_phase) : bar_(bar), phase_(std::move(on_phase)) {}
    void on_phase(Phase phase) override { phase_(phase); }
    void on_range(std::uint32_t maximum) override {
        maximum_ = static_cast<int>(maximum);
        bar_->setRange(0, std::max(maximum_, 1));
    }
    void on_position(std::uint32_t position) override {
        bar_->setValue(std::min(static_cast<int>(position), bar_->maximum()));
        bar_->repaint();
    }

private:
    QProgressBar* bar_;
    std::function<void(Phase)> phase_;
    int maximum_ = 0;
};

// The wait cursor from the start of device traffic to the end of the handler.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

// The one filter of each memory's open and save dialogs.
QString file_filter(MemoryKind memory) {
    return qs(memory == MemoryKind::Flash ? "Файлы программной памяти flash (*.hex)" : "Файлы памяти данных EEPROM (*.eep)");
}

constexpr const char* kSpeeds[] = {"4800", "9600", "19200", "38400", "76800", "100000", "115200", "125000", "230400", "250000"};

}  // namespace

CVelborDlg::CVelborDlg(Environment environment, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::CVelborDlg>()),
      environment_(std::move(environment)),
      port_(clock_),
      state_(std::make_unique<ProgrammerState>()),
      programmer_(*state_, port_, clock_) {
    ui_->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    menu_ = new QMenuBar(this);
    menu_->setNativeMenuBar(false);
    QAction* help = menu_->addAction(qs("Помощь"));
    help->setData(ids::kHelpCommand);
    QAction* about = menu_->addAction(qs("О программе ..."));
    about->setData(ids::kAboutCommand);
    menu_->setProperty("zarvikPlaced", true);
    const int menu_height = menu_->sizeHint().height();
    const QSize client = apply_dialog_units(this, menu_height);
    menu_->setGeometry(0, 0, client.width(), menu_height);
    setFixedSize(client);

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
    connect(help, &QAction::triggered, this, [this] { on_help(); });
    connect(about, &QAction::triggered, this, [this] { on_about(); });
    connect(ui_->ctl_1001, &QComboBox::activated, this, [this](int i) { on_model_chosen(i); });
    connect(ui_->ctl_1000, &QComboBox::activated, this, [this](int i) { on_port_chosen(i); });
    connect(ui_->ctl_1010, &QComboBox::activated, this, [this](int i) { on_speed_chosen(i); });
    connect(&timer1_, &QTimer::timeout, this, [this] { on_scan_tick(); });
    // What is typed is the member's text at once, so a refresh never throws it away and
    // the loader configuration and the settings file use what the user sees.
    connect(ui_->ctl_1076, &QLineEdit::textEdited, this, [this](const QString& t) { fosc_text_ = t; });
    connect(ui_->ctl_1077, &QLineEdit::textEdited, this, [this](const QString& t) { timeout_text_ = t; });

    initialize();
}

CVelborDlg::~CVelborDlg() = default;

QWidget* CVelborDlg::control(int id) const { return find_control(this, id); }

QProgressBar* CVelborDlg::progress_of(MemoryKind memory) const {
    return memory == MemoryKind::Flash ? ui_->ctl_1051 : ui_->ctl_1060;
}

void CVelborDlg::initialize() {
    refresh();
    setWindowIcon(window_icon());
    QFont line_font(QStringLiteral("Tahoma"));
    line_font.setStyleHint(QFont::SansSerif);
    line_font.setPixelSize(16);
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
    const LoaderSettings settings = load_settings(environment_.settings_folder.toStdString());
    fosc_text_ = from_cp1251(settings.fosc);
    timeout_text_ = from_cp1251(settings.timeout);
    programmer_.set_model(kDefaultModel);
    connected_ = false;
    speed_chosen_ = false;
    status_text_.clear();
    refresh();
    ui_->ctl_1000->setCurrentIndex(-1);
    timer1_.start(10);
    ui_->ctl_1->setFocus();
}

void CVelborDlg::refresh() {
    ui_->ctl_1013->setText(status_text_);
    ui_->ctl_1076->setText(fosc_text_);
    ui_->ctl_1077->setText(timeout_text_);
    ui_->ctl_1047->setText(flash_path_);
    ui_->ctl_1048->setText(eeprom_path_);
    ui_->ctl_1013->repaint();
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
    ui_->ctl_1012->repaint();
}

void CVelborDlg::message(const QString& text) { show_message(this, text, qs(kErrorCaption)); }

bool CVelborDlg::refuse_without_port() {
    if (port_.is_open()) return false;
    message(qs(kPortNotOpen));
    return true;
}

void CVelborDlg::report(const OperationOutcome& outcome) {
    status_text_ = qs(status_text(outcome));
    refresh();
}

void CVelborDlg::reject() { run_exit_sequence(); }

void CVelborDlg::run_exit_sequence() {
    if (exited_) return;
    exited_ = true;
    timer1_.stop();
    port_.close();  // puts back the line settings the port had
    take_edits();
    if (auto error = save_settings(environment_.settings_folder.toStdString(),
                                   LoaderSettings{to_cp1251(fosc_text_), to_cp1251(timeout_text_)})) {
        show_message(this,
                     qs("Не удалось сохранить настройки в файл %1: %2")
                         .arg(QDir(environment_.settings_folder).filePath(qs(kSettingsFileName)), qs(*error)),
                     qs(kErrorCaption));
    }
    QDialog::done(QDialog::Rejected);
}

void CVelborDlg::on_scan_tick() {
    port_.close();
    QStringList found = environment_.scan_ports ? environment_.scan_ports() : QStringList{};
    found.sort();
    if (found.isEmpty()) {
        // Every 10 ms while nothing is there: touch the widgets only when they change, so
        // that an idle window does not repaint a hundred times a second.
        if (ui_->ctl_1000->count() > 0) ui_->ctl_1000->clear();
        set_connection_line(qs(kNoPorts));
        if (ui_->ctl_1010->currentIndex() != -1) ui_->ctl_1010->setCurrentIndex(-1);
        return;
    }
    ui_->ctl_1000->clear();
    ui_->ctl_1000->addItems(found);
    ui_->ctl_1000->setCurrentIndex(-1);
    timer1_.stop();
    set_connection_line(qs(port_count_text(static_cast<int>(found.size()))));
}

void CVelborDlg::on_port_chosen(int index) {
    port_.close();
    port_name_ = ui_->ctl_1000->itemText(index);
    if (port_.open(port_name_.toStdString())) {
        set_connection_line(qs("Открыт порт ") + port_name_ + qs(". Выберите скорость"));
    } else {
        set_connection_line(qs("Не удалось открыть порт ") + port_name_);
    }
}

void CVelborDlg::on_speed_chosen(int index) {
    if (!port_.is_open()) {
        ui_->ctl_1010->setCurrentIndex(-1);
        message(qs(kPortNotOpen));
        return;
    }
    chosen_speed_text_ = ui_->ctl_1010->itemText(index);
    port_.set_speed(chosen_speed_text_.toInt());
    speed_chosen_ = true;
    set_connection_line(qs("Установлена скорость ") + chosen_speed_text_ + qs(" бод"));
}

void CVelborDlg::on_model_chosen(int index) {
    if (auto model = find_device_model(ui_->ctl_1001->itemText(index).toStdString())) programmer_.set_model(*model);
}

void CVelborDlg::on_connect() {
    status_text_.clear();
    refresh();
    if (refuse_without_port()) return;
    if (!speed_chosen_) {
        message(qs(kSpeedNotChosen));
        return;
    }
    WaitCursor wait;
    connected_ = programmer_.connect() == HandshakeOutcome::Connected;
    set_connection_line(qs(connected_ ? kConnected : kNotConnected));
}

void CVelborDlg::on_start_program() {
    if (refuse_without_port()) return;
    programmer_.start_program();
}

void CVelborDlg::on_erase(MemoryKind memory) {
    if (refuse_without_port()) return;
    WaitCursor wait;
    WindowProgress progress(progress_of(memory), [](Phase) {});
    report(programmer_.erase(memory, progress));
}

void CVelborDlg::on_write(MemoryKind memory) {
    if (!port_.is_open()) {
        status_text_.clear();
        refresh();
        message(qs(kPortNotOpen));
        return;
    }
    if (path_of(memory).isEmpty()) {
        message(qs(memory == MemoryKind::Flash ? kNoFlashFile : kNoEepromFile));
        return;
    }
    run_with_file(memory, [this, memory](ProgressObserver& progress) {
        return programmer_.write(memory, path_of(memory).toStdString(), progress);
    });
}

void CVelborDlg::on_verify(MemoryKind memory) {
    status_text_.clear();
    refresh();
    if (refuse_without_port()) return;
    if (path_of(memory).isEmpty()) {
        message(qs(memory == MemoryKind::Flash ? kNoFlashFile : kNoEepromFile));
        return;
    }
    run_with_file(memory, [this, memory](ProgressObserver& progress) {
        return programmer_.verify(memory, path_of(memory).toStdString(), progress);
    });
}

void CVelborDlg::run_with_file(MemoryKind memory, const std::function<OperationOutcome(ProgressObserver&)>& operation) {
    WindowProgress progress(progress_of(memory), [this, memory](Phase phase) {
        status_text_ = qs(phase_text(phase, memory));
        refresh();
    });
    std::optional<WaitCursor> wait;
    wait.emplace();
    const OperationOutcome outcome = operation(progress);
    wait.reset();
    if (outcome.result == OperationOutcome::Result::FileFailure || outcome.result == OperationOutcome::Result::Refused) {
        message(qs(status_text(outcome)));  // nothing was sent; the status line keeps its text
        return;
    }
    report(outcome);
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
        QMessageBox ask(QMessageBox::NoIcon, qs(kWarningCaption),
                        qs("Файл %1 уже существует. Заменить его?").arg(path), QMessageBox::Yes | QMessageBox::No, this);
        if (ask.exec() != QMessageBox::Yes) return {};
    }
    return path;
}

void CVelborDlg::on_read(MemoryKind memory) {
    progress_of(memory)->setValue(0);
    if (refuse_without_port()) return;
    const QString path = choose_save_file(memory);
    if (path.isEmpty()) return;
    // An export that cannot be written ends in a message box; the status line keeps
    // "Читаем ...".
    run_with_file(memory, [this, memory, &path](ProgressObserver& progress) {
        const OperationOutcome read = programmer_.read(memory, progress);
        return read.ok() ? programmer_.save_read(read, path.toStdString()) : read;
    });
}

void CVelborDlg::on_browse(MemoryKind memory) {
    status_text_.clear();
    refresh();
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
    WaitCursor wait;
    WindowProgress progress(ui_->ctl_1051, [](Phase) {});
    const OperationOutcome outcome =
        programmer_.configure_loader(fosc_text_.toStdString(), timeout_text_.toStdString(), progress);
    if (outcome.result == OperationOutcome::Result::Refused) {
        message(qs(status_text(outcome)));  // nothing sent, the edits stay as typed
        return;
    }
    fosc_text_ = qs(outcome.fosc_text);
    timeout_text_ = qs(outcome.timeout_text);
    report(outcome);
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
