// Twin in the Win32 window: src/win/main_window.cpp (MainWindow).
#include "app/CVelborDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QStyle>
#include <QStyleOptionFrame>

#include "app/CAboutDlg.h"
#include "app/CHelpDlg.h"
#include "app/dialog_support.h"
#include "app/fitted_label.h"
#include "app/port_list_box.h"
#include "app/task_runner.h"
#include "presenter/control_ids.h"
#include "presenter/window_texts.h"
#include "ui_CVelborDlg.h"

namespace zarvik {
namespace {

QString qs(const std::string& utf8) { return QString::fromStdString(utf8); }

// The presenter's environment from the window's: Qt lists become plain ones.
PresenterEnvironment presenter_environment(const CVelborDlg::Environment& environment) {
    PresenterEnvironment out;
    if (environment.scan_ports) {
        out.scan_ports = [scan = environment.scan_ports] {
            std::vector<std::string> names;
            for (const QString& name : scan()) names.push_back(name.toStdString());
            return names;
        };
    }
    if (environment.describe_port) {
        out.describe_port = [describe = environment.describe_port](const std::string& name) {
            return describe(qs(name)).toStdString();
        };
    }
    out.make_port = environment.make_port;
    out.settings_folder = environment.settings_folder.toStdString();
    // Help is looked for in the working folder, beside the program (a build, Windows,
    // the macOS bundle), then where a Linux installation puts it.
    const QDir program(QCoreApplication::applicationDirPath());
    out.help_folders = {QDir::currentPath().toStdString(), program.path().toStdString(),
                        QDir::cleanPath(program.filePath(QStringLiteral("../share/zarvik"))).toStdString()};
    out.documents_folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).toStdString();
    return out;
}

}  // namespace

CVelborDlg::CVelborDlg(const Environment& environment, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::CVelborDlg>()), window_tasks_(new TaskRunner(this)) {
    ui_->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setAcceptDrops(true);
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
    control(ids::kStatusLine)->setMinimumWidth(character * 58);
    // The template's widths for the short fields, in characters of the font.
    for (int id : {ids::kFosc, ids::kTimeout}) control(id)->setMaximumWidth(character * 10);
    for (int id : {ids::kPortList, ids::kSpeedList}) control_as<QComboBox>(id)->setMinimumContentsLength(7);
    setWindowIcon(window_icon());
    QFont line_font(QStringLiteral("Tahoma"));
    line_font.setStyleHint(QFont::SansSerif);
    // The template's 16 pixels at 96 dpi, in points so that it grows with the screen.
    line_font.setPointSizeF(12);
    line_font.setWeight(QFont::Normal);
    control(ids::kConnectionLine)->setFont(line_font);
    for (int id : {ids::kFlashBrowse, ids::kEepromBrowse}) {
        auto* browse = control_as<QPushButton>(id);
        browse->setIcon(browse_icon());
        browse->setIconSize(QSize(17, 16));
    }

    presenter_ = std::make_unique<MainPresenter>(*this, presenter_environment(environment));

    // Every button and menu command goes to the presenter by its id.
    for (int id : {ids::kExit, ids::kConnect, ids::kFlashErase, ids::kFlashWrite, ids::kFlashVerify, ids::kFlashRead,
                   ids::kEepromErase, ids::kEepromWrite, ids::kEepromVerify, ids::kEepromRead, ids::kFlashBrowse,
                   ids::kEepromBrowse, ids::kStartProgram, ids::kConfigureLoader}) {
        if (id == ids::kExit) {
            connect(control_as<QPushButton>(id), &QPushButton::clicked, this, [this] { reject(); });
            continue;
        }
        connect(control_as<QPushButton>(id), &QPushButton::clicked, this, [this, id] { presenter_->on_command(id); });
    }
    connect(stop_button(), &QPushButton::clicked, this, [this] { presenter_->on_command(ids::kStop); });
    connect(help, &QAction::triggered, this, [this] { presenter_->on_command(ids::kHelpCommand); });
    connect(about, &QAction::triggered, this, [this] { presenter_->on_command(ids::kAboutCommand); });
    for (int id : {ids::kPortList, ids::kModelList, ids::kSpeedList}) {
        connect(control_as<QComboBox>(id), &QComboBox::activated, this,
                [this, id](int index) { presenter_->on_choice(id, index); });
    }
    connect(control_as<PortListBox>(ids::kPortList), &PortListBox::aboutToShowPopup, this,
            [this] { presenter_->on_port_list_opening(); });
    connect(control_as<QCheckBox>(ids::kResetDtr), &QCheckBox::toggled, this,
            [this](bool checked) { presenter_->on_checked(ids::kResetDtr, checked); });
    connect(&port_scan_timer_, &QTimer::timeout, this, [this] { presenter_->on_scan_tick(); });
    for (int id : {ids::kFosc, ids::kTimeout}) {
        connect(control_as<QLineEdit>(id), &QLineEdit::textEdited, this,
                [this, id](const QString& t) { presenter_->on_text_edited(id, t.toStdString()); });
    }

    presenter_->start();
    control(ids::kConnect)->setFocus();
}

CVelborDlg::~CVelborDlg() {
    // The presenter stops the line first, while the window its device thread posts to is whole.
    presenter_.reset();
    if (busy_cursor_) QApplication::restoreOverrideCursor();
}

QWidget* CVelborDlg::control(int id) const {
    if (id == ids::kStop) return ui_->stop;
    return find_control(this, id);
}

QPushButton* CVelborDlg::stop_button() const { return ui_->stop; }

void CVelborDlg::give_files(const QStringList& paths) {
    std::vector<std::string> files;
    for (const QString& path : paths) files.push_back(path.toStdString());
    presenter_->on_files_given(files);
}

// --- MainView ---

void CVelborDlg::post_to_ui(std::function<void()> task) { window_tasks_->post(std::move(task)); }

void CVelborDlg::set_text(int id, const std::string& text) {
    const QString shown = qs(text);
    QWidget* c = control(id);
    if (auto* label = qobject_cast<QLabel*>(c)) {
        if (label->text() != shown) label->setText(shown);  // the scan repeats its text every tick
    } else if (id == ids::kFlashPath || id == ids::kEepromPath) {
        paths_[id] = shown;
        fit_path(id);
    } else if (auto* edit = qobject_cast<QLineEdit*>(c)) {
        if (edit->text() != shown) edit->setText(shown);
    }
}

void CVelborDlg::fit_path(int id) {
    auto* edit = control_as<QLineEdit>(id);
    if (edit == nullptr) return;
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.lineWidth = edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit) : 0;
    // The text's own room: the contents less the margins the line edit keeps each side.
    const QMargins margins = edit->textMargins();
    const int room = edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit).width() - margins.left() -
                     margins.right() - 4;
    const QFontMetrics metrics(edit->font());
    const std::string fitted = window_text::fitted_path(paths_[id].toStdString(), [&](const std::string& text) {
        return metrics.horizontalAdvance(qs(text)) <= room;
    });
    if (edit->text() != qs(fitted)) edit->setText(qs(fitted));
    edit->setCursorPosition(0);
}

void CVelborDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    for (int id : {ids::kFlashPath, ids::kEepromPath}) fit_path(id);
}

void CVelborDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    for (int id : {ids::kFlashPath, ids::kEepromPath}) fit_path(id);
}

void CVelborDlg::set_tooltip(int id, const std::string& text) {
    if (QWidget* c = control(id)) c->setToolTip(qs(text));
}

void CVelborDlg::set_enabled(int id, bool enabled) {
    if (QWidget* c = control(id)) c->setEnabled(enabled);
}

void CVelborDlg::set_items(int id, const std::vector<ListItem>& items) {
    auto* list = control_as<QComboBox>(id);
    if (list == nullptr) return;
    list->clear();
    for (const ListItem& item : items) {
        list->addItem(qs(item.text));
        if (!item.tooltip.empty()) list->setItemData(list->count() - 1, qs(item.tooltip), Qt::ToolTipRole);
    }
    list->setCurrentIndex(-1);
}

void CVelborDlg::set_selection(int id, int index) {
    if (auto* list = control_as<QComboBox>(id); list != nullptr && list->currentIndex() != index) {
        list->setCurrentIndex(index);
    }
}

void CVelborDlg::set_checked(int id, bool checked) {
    if (auto* box = control_as<QCheckBox>(id); box != nullptr && box->isChecked() != checked) {
        const QSignalBlocker quiet(box);  // what the presenter says is no click of the user's
        box->setChecked(checked);
    }
}

void CVelborDlg::set_progress(int id, std::uint32_t value, std::uint32_t maximum) {
    auto* bar = control_as<QProgressBar>(id);
    if (bar == nullptr) return;
    const int top = static_cast<int>(std::max<std::uint32_t>(maximum, 1));
    if (bar->maximum() != top) bar->setRange(0, top);
    bar->setValue(static_cast<int>(std::min(value, maximum)));
}

void CVelborDlg::set_busy(bool busy) {
    if (busy == busy_cursor_) return;
    busy_cursor_ = busy;
    if (busy) {
        focus_before_ = QApplication::focusWidget();
        QApplication::setOverrideCursor(Qt::BusyCursor);
        stop_button()->setFocus();
    } else {
        QApplication::restoreOverrideCursor();
        if (focus_before_ != nullptr && focus_before_->isEnabled()) focus_before_->setFocus();
        focus_before_ = nullptr;
    }
}

void CVelborDlg::set_scan_timer(bool running) {
    if (running) {
        port_scan_timer_.start(MainPresenter::kScanIntervalMs);
    } else {
        port_scan_timer_.stop();
    }
}

void CVelborDlg::show_message(const std::string& caption, const std::string& text) {
    zarvik::show_message(this, qs(text), qs(caption));
}

bool CVelborDlg::ask_yes_no(const std::string& caption, const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, qs(caption), qs(text), QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

std::optional<std::string> CVelborDlg::choose_file(const FileDialogRequest& request) {
    QStringList filters;
    for (const FileFilter& filter : request.filters) {
        QStringList patterns;
        for (const std::string& extension : filter.extensions) patterns << QStringLiteral("*.") + qs(extension);
        if (patterns.isEmpty()) patterns << QStringLiteral("*");
        filters << qs(filter.name) + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QStringLiteral(")");
    }
    QFileDialog dialog(this, QString(), qs(request.folder));
    dialog.setNameFilters(filters);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (request.mode == FileDialogMode::Save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
    } else {
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first().toStdString();
}

void CVelborDlg::show_help(const HelpContent& help) {
    CHelpDlg window(this);
    window.set_content(help);
    window.exec();
}

void CVelborDlg::show_about(const AboutContent& about) {
    CAboutDlg box(this);
    box.set_content(about);
    box.exec();
}

void CVelborDlg::close_window() {
    closing_ = true;
    port_scan_timer_.stop();
    QDialog::done(QDialog::Rejected);
}

// --- What the user does ---

void CVelborDlg::reject() {
    if (closing_) return;
    presenter_->on_close();
}

void CVelborDlg::keyPressEvent(QKeyEvent* event) {
    // Esc is «Стоп» during an operation and nothing otherwise: it never closes the window
    // (QDialog would). An open drop-down list takes its Esc before the window sees it.
    if (event->key() == Qt::Key_Escape) {
        presenter_->on_escape();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CVelborDlg::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CVelborDlg::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) paths << url.toLocalFile();
    }
    give_files(paths);
    event->acceptProposedAction();
}

}  // namespace zarvik
