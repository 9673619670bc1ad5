// Twin in the Win32 window: src/win/main_window.cpp (MainWindow, over the IDD_MAIN template of src/win/zarvik.rc).
#pragma once

#include <QDialog>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>

#include "presenter/main_presenter.h"
#include "presenter/main_view.h"

class QMenuBar;
class QPushButton;

namespace Ui {
class CVelborDlg;
}

namespace zarvik {

class TaskRunner;

// The programmer's main window in Qt: a view over the presenter, which decides
// everything. It shows what the presenter tells it and passes on what the user does;
// nothing here looks at the programmer's state.
class CVelborDlg : public QDialog, public MainView {
    Q_OBJECT

public:
    struct Environment {
        // The port scan: the names of the ports that can be used now. Tests inject their own.
        std::function<QStringList()> scan_ports;
        // What the port list shows beside a name (an adapter's description); may be empty.
        std::function<QString(const QString&)> describe_port;
        // Where Zarvik.ini is kept; fixed at start-up.
        QString settings_folder;
        // The port the presenter talks through; the system's serial port when not given.
        std::function<std::unique_ptr<DevicePort>(Clock&)> make_port;
    };

    explicit CVelborDlg(const Environment& environment, QWidget* parent = nullptr);
    ~CVelborDlg() override;

    // A control by its template id (presenter/control_ids.h), «Стоп» included.
    QWidget* control(int id) const;
    QPushButton* stop_button() const;
    QMenuBar* menu_bar() const { return menu_; }
    // Files given on the command line or dropped: .hex/.elf fill the flash path, .eep the EEPROM's.
    void give_files(const QStringList& paths);

    // What the presenter says, for the tests and the demo pictures.
    bool port_open() const { return presenter_->port_open(); }
    bool scanning() const { return presenter_->scanning(); }
    bool busy() const { return presenter_->busy(); }
    ProgrammerState programmer_state() const { return presenter_->programmer_state(); }

    // --- MainView ---
    void post_to_ui(std::function<void()> task) override;
    void set_text(int id, const std::string& text) override;
    void set_tooltip(int id, const std::string& text) override;
    void set_enabled(int id, bool enabled) override;
    void set_items(int id, const std::vector<ListItem>& items) override;
    void set_selection(int id, int index) override;
    void set_checked(int id, bool checked) override;
    void set_progress(int id, std::uint32_t value, std::uint32_t maximum) override;
    void set_busy(bool busy) override;
    void set_scan_timer(bool running) override;
    void show_message(const std::string& caption, const std::string& text) override;
    bool ask_yes_no(const std::string& caption, const std::string& text) override;
    std::optional<std::string> choose_file(const FileDialogRequest& request) override;
    void show_help(const HelpContent& help) override;
    void show_about(const AboutContent& about) override;
    void close_window() override;

public slots:
    // Esc, the close box and «Выход».
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // A control by its id as the kind of widget it is; null when it is another kind.
    template <typename Widget>
    Widget* control_as(int id) const {
        return qobject_cast<Widget*>(control(id));
    }

    // Shows the whole path of a file field (kFlashPath, kEepromPath), or as much of its
    // end as the field's width holds.
    void fit_path(int id);

    std::unique_ptr<Ui::CVelborDlg> ui_;
    // The whole path each file field was given; the field shows what fits.
    std::map<int, QString> paths_;
    QMenuBar* menu_ = nullptr;
    // Looks for ports again while none is there (the presenter starts and stops it).
    QTimer port_scan_timer_;
    // What the device thread hands back runs here, on the window's thread.
    TaskRunner* window_tasks_;
    QPointer<QWidget> focus_before_;
    bool busy_cursor_ = false;
    bool closing_ = false;
    // Last: it goes first, while the window it shows on is whole.
    std::unique_ptr<MainPresenter> presenter_;
};

}  // namespace zarvik
