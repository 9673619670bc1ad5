#include "app/CAboutDlg.h"

#include <QIcon>
#include <QFontMetrics>
#include <QLabel>
#include <QLayout>
#include <QStyle>

#include "app/dialog_support.h"
#include "ui_CAboutDlg.h"

namespace zarvik {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::CAboutDlg>()) {
    ui_->setupUi(this);
    setFont(dialog_font());
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    // The template's 20 dialog units: as large as a message box's icon in this style.
    const int side = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    ui_->icon->setPixmap(window_icon().pixmap(QSize(side, side), devicePixelRatioF()));
    // Roomy, as the template's box is, rather than tight around the three short lines.
    setMinimumWidth(QFontMetrics(font()).averageCharWidth() * 40);
    connect(ui_->ctl_1, &QPushButton::clicked, this, &QDialog::accept);
}

CAboutDlg::~CAboutDlg() = default;

}  // namespace zarvik
