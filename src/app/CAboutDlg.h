#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class CAboutDlg;
}

namespace zarvik {

// The program's name, version and date, with its icon.
class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;

private:
    std::unique_ptr<Ui::CAboutDlg> ui_;
};

}  // namespace zarvik
