// Twin in the Win32 window: about_procedure in src/win/main_window.cpp.
#include "app/CAboutDlg.h"

#include <QApplication>
#include <QFontMetrics>

#include <algorithm>
#include <QIcon>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QStyle>

#include "app/dialog_support.h"
#include "ui_CAboutDlg.h"

namespace zarvik {
namespace {

constexpr int kOk = 1;  // the template's OK button (IDOK)

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::CAboutDlg>()) {
    ui_->setupUi(this);
    setFont(dialog_font());
    setWindowIcon(window_icon());
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    // The template's 20 dialog units: as large as a message box's icon in this style.
    const int side = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    ui_->icon->setPixmap(window_icon().pixmap(QSize(side, side), devicePixelRatioF()));
    connect(qobject_cast<QPushButton*>(find_control(this, kOk)), &QPushButton::clicked, this, &QDialog::accept);
    fit_title();
}

CAboutDlg::~CAboutDlg() = default;

void CAboutDlg::set_content(const AboutContent& about) {
    setWindowTitle(QString::fromStdString(about.title));
    ui_->label_1->setText(QString::fromStdString(about.name));
    ui_->label_2->setText(QString::fromStdString(about.version));
    ui_->label_3->setText(QString::fromStdString(about.date));
    fit_title();
}

void CAboutDlg::fit_title() {
    // Roomy, as the template's box is, rather than tight around the three short lines;
    // and never narrower than the caption with the title bar's icon and buttons beside it.
    const QFontMetrics caption(QApplication::font("QMdiSubWindowTitleBar"));
    const int buttons = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this) * 4;
    setMinimumWidth(std::max(QFontMetrics(font()).averageCharWidth() * 40,
                             caption.horizontalAdvance(windowTitle()) + buttons));
}

}  // namespace zarvik
