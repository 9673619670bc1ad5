#include "app/CHelpDlg.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>

#include "app/dialog_support.h"
#include "app/text_decoding.h"
#include "programmer/status_texts.h"
#include "ui_CHelpDlg.h"

namespace zarvik {
namespace {

void warn_missing(QWidget* owner) {
    show_message(owner, QString::fromUtf8("В папке программы отсутствует файл \"Help.txt\""), QString::fromUtf8(kWarningCaption));
}

}  // namespace

CHelpDlg::CHelpDlg(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::CHelpDlg>()) {
    ui_->setupUi(this);
    setFixedSize(apply_dialog_units(this));
    connect(ui_->ctl_1, &QPushButton::clicked, this, &QDialog::accept);
}

CHelpDlg::~CHelpDlg() = default;

QString CHelpDlg::help_file_path() {
    QString here = QDir::current().filePath(QStringLiteral("Help.txt"));
    if (QFileInfo::exists(here)) return here;
    QString beside = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("Help.txt"));
    if (QFileInfo::exists(beside)) return beside;
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
