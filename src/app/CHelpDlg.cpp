// Twin in the Win32 window: help_procedure in src/win/main_window.cpp.
#include "app/CHelpDlg.h"

#include <QFontMetrics>
#include <QLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>

#include "app/dialog_support.h"
#include "presenter/control_ids.h"
#include "ui_CHelpDlg.h"

namespace zarvik {
namespace {

constexpr int kOk = 1;  // the template's OK button (IDOK)

}  // namespace

CHelpDlg::CHelpDlg(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::CHelpDlg>()) {
    ui_->setupUi(this);
    setFont(dialog_font());
    setWindowIcon(window_icon());
    // The template's field of 356 by 344 dialog units: 89 average characters by 43
    // lines of the font. The window may be made larger to read more at once.
    const QFontMetrics metrics(font());
    auto* ok = qobject_cast<QPushButton*>(find_control(this, kOk));
    text()->setMinimumSize(metrics.averageCharWidth() * 60, metrics.lineSpacing() * 20);
    resize(metrics.averageCharWidth() * 89 + 2 * layout()->contentsMargins().left(),
           metrics.lineSpacing() * 43 + ok->sizeHint().height() + 3 * layout()->spacing());
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

CHelpDlg::~CHelpDlg() = default;

QPlainTextEdit* CHelpDlg::text() const { return qobject_cast<QPlainTextEdit*>(find_control(this, ids::kHelpText)); }

void CHelpDlg::set_content(const HelpContent& help) {
    setWindowTitle(QString::fromStdString(help.title));
    text()->setPlainText(QString::fromStdString(help.text));
    // Opened at the top with nothing selected, whatever the text field did before.
    QTextCursor top = text()->textCursor();
    top.movePosition(QTextCursor::Start);
    text()->setTextCursor(top);
    text()->verticalScrollBar()->setValue(0);
}

}  // namespace zarvik
