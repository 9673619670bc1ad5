#pragma once

#include <QDialog>

#include <memory>

#include "presenter/main_view.h"

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
    std::unique_ptr<Ui::CHelpDlg> ui_;
};

}  // namespace zarvik
