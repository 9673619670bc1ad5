#include "app/CHelpDlg.h"

#include <QFontMetrics>
#include <QLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>

#include "app/dialog_support.h"
#include "ui_CHelpDlg.h"

namespace zarvik {

CHelpDlg::CHelpDlg(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::CHelpDlg>()) {
    ui_->setupUi(this);
    setFont(dialog_font());
    setWindowIcon(window_icon());
    // The template's field of 356 by 344 dialog units: 89 average characters by 43
    // lines of the font. The window may be made larger to read more at once.
    const QFontMetrics metrics(font());
    ui_->ctl_1006->setMinimumSize(metrics.averageCharWidth() * 60, metrics.lineSpacing() * 20);
    resize(metrics.averageCharWidth() * 89 + 2 * layout()->contentsMargins().left(),
           metrics.lineSpacing() * 43 + ui_->ctl_1->sizeHint().height() + 3 * layout()->spacing());
    connect(ui_->ctl_1, &QPushButton::clicked, this, &QDialog::accept);
}

CHelpDlg::~CHelpDlg() = default;

void CHelpDlg::set_content(const HelpContent& help) {
    setWindowTitle(QString::fromStdString(help.title));
    ui_->ctl_1006->setPlainText(QString::fromStdString(help.text));
    // Opened at the top with nothing selected, whatever the text field did before.
    QTextCursor top = ui_->ctl_1006->textCursor();
    top.movePosition(QTextCursor::Start);
    ui_->ctl_1006->setTextCursor(top);
    ui_->ctl_1006->verticalScrollBar()->setValue(0);
}

}  // namespace zarvik
