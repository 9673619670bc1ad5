#include "app/CAboutDlg.h"

#include <QIcon>
#include <QLabel>

#include "app/dialog_support.h"
#include "ui_CAboutDlg.h"

namespace zarvik {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::CAboutDlg>()) {
    ui_->setupUi(this);
    setFixedSize(apply_dialog_units(this));
    ui_->icon->setPixmap(window_icon().pixmap(ui_->icon->size()));
    connect(ui_->ctl_1, &QPushButton::clicked, this, &QDialog::accept);
}

CAboutDlg::~CAboutDlg() = default;

}  // namespace zarvik
