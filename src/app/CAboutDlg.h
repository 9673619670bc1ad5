// Twin in the Win32 window: about_procedure in src/win/main_window.cpp (template IDD_ABOUT in src/win/zarvik.rc).
#pragma once

#include <QDialog>

#include <memory>

#include "presenter/main_view.h"

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

    void set_content(const AboutContent& about);

private:
    // Wide enough for the whole caption, which the title bar would otherwise cut short.
    void fit_title();

    std::unique_ptr<Ui::CAboutDlg> ui_;
};

}  // namespace zarvik
