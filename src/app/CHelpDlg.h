#pragma once

#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class CHelpDlg;
}

namespace zarvik {

// Shows Help.txt in a read-only text field.
class CHelpDlg : public QDialog {
    Q_OBJECT

public:
    explicit CHelpDlg(QWidget* parent = nullptr);
    ~CHelpDlg() override;

    // Reads Help.txt afresh; on failure shows the missing-help warning and returns false,
    // so the window is never shown.
    bool load();

    // At start-up: warns once, without an owner, when Help.txt cannot be opened.
    static void check_help_file(QWidget* owner);

    // Where Help.txt is looked for: the current folder first, then beside the program.
    static QString help_file_path();

private:
    std::unique_ptr<Ui::CHelpDlg> ui_;
};

}  // namespace zarvik
