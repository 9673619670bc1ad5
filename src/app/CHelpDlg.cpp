#include "app/CHelpDlg.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLayout>
#include <QPlainTextEdit>
#include <QPushButton>

#include "app/dialog_support.h"
#include "text/language.h"
#include "programmer/status_texts.h"
#include "app/text_decoding.h"
#include "text/language.h"
#include "programmer/status_texts.h"
#include "ui_CHelpDlg.h"

namespace zarvik {
namespace {

void warn_missing(QWidget* owner) {
    show_message(owner, QCoreApplication::translate("CHelpDlg", "В папке программы отсутствует файл \"Help.txt\""),
                 QString::fromUtf8(tr_text("status", kWarningCaption)));
}

}  // namespace

CHelpDlg::CHelpDlg(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::CHelpDlg>()) {
    ui_->setupUi(this);
    setFont(dialog_font());
    // The template's field of 356 by 344 dialog units: 89 average characters by 43
    // lines of the font. The window may be made larger to read more at once.
    const QFontMetrics metrics(font());
    ui_->ctl_1006->setMinimumSize(metrics.averageCharWidth() * 60, metrics.lineSpacing() * 20);
    resize(metrics.averageCharWidth() * 89 + 2 * layout()->contentsMargins().left(),
           metrics.lineSpacing() * 43 + ui_->ctl_1->sizeHint().height() + 3 * layout()->spacing());
    connect(ui_->ctl_1, &QPushButton::clicked, this, &QDialog::accept);
}

CHelpDlg::~CHelpDlg() = default;

QString CHelpDlg::help_file_path() {
    QString here = QDir::current().filePath(QStringLiteral("Help.txt"));
    if (QFileInfo::exists(here)) return here;
    // Beside the program (a build, Windows, the macOS bundle), then where a Linux
    // installation puts it.
    const QDir program(QCoreApplication::applicationDirPath());
    for (const QString& shipped : {program.filePath(QStringLiteral("Help.txt")),
                                   program.filePath(QStringLiteral("../share/zarvik/Help.txt"))}) {
        if (QFileInfo::exists(shipped)) return QDir::cleanPath(shipped);
    }
    return here;
}

bool CHelpDlg::load() {
    QFile file(help_file_path());
    if (!file.open(QIODevice::ReadOnly)) {
        warn_missing(this);
        return false;
    }
    const QByteArray bytes = file.readAll();  // whole, whatever its length
    ui_->ctl_1006->setPlainText(decode_help_text(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()))));
    return true;
}

void CHelpDlg::check_help_file(QWidget* owner) {
    QFile file(help_file_path());
    if (!file.open(QIODevice::ReadOnly)) warn_missing(owner);
}

}  // namespace zarvik
