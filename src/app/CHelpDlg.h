// Twin in the Win32 window: help_procedure in src/win/main_window.cpp (template IDD_HELP in src/win/zarvik.rc).
#pragma once

#include <QDialog>

#include <memory>

#include "presenter/main_view.h"

class QPlainTextEdit;

namespace Ui {
class CHelpDlg;
}

namespace zarvik {

// Shows the help text the presenter read, in a read-only field whose lines wrap.
class CHelpDlg : public QDialog {
    Q_OBJECT

public:
    explicit CHelpDlg(QWidget* parent = nullptr);
    ~CHelpDlg() override;

    void set_content(const HelpContent& help);

private:
    // The help's text field (ids::kHelpText).
    QPlainTextEdit* text() const;

    std::unique_ptr<Ui::CHelpDlg> ui_;
};

}  // namespace zarvik
