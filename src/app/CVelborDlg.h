#pragma once

#include <QDialog>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

#include "app/device_thread.h"
#include "programmer/outcome.h"
#include "programmer/programmer.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QMenuBar;
class QProgressBar;
class QPushButton;

namespace Ui {
class CVelborDlg;
}

namespace zarvik {

// What an operation is run with; a refusal that the user overrules runs it again.
struct OperationAttempt {
    bool allow_short_wait = false;
    bool accept_unconfirmed = false;
};

// The programmer's main window: owns the programmer state and the five texts it shows.
// Each control runs one handler; what talks to the device runs on the device thread,
// and the window stays live, with every control that could start another operation
// disabled, until it ends or «Стоп» ends it after the transaction under way.
class CVelborDlg : public QDialog {
    Q_OBJECT

public:
    struct Environment {
        // The port scan: the names of the ports that can be used now. Tests inject their own.
        std::function<QStringList()> scan_ports;
        // What the port list shows beside a name (an adapter's description); may be empty.
        std::function<QString(const QString&)> describe_port;
        // Where Zarvik.ini is kept; fixed at start-up.
        QString settings_folder;
    };

    explicit CVelborDlg(Environment environment, QWidget* parent = nullptr);
    ~CVelborDlg() override;

    QWidget* control(int id) const;
    QPushButton* stop_button() const;
    QMenuBar* menu_bar() const { return menu_; }
    bool port_open() const { return port_open_; }
    bool scanning() const { return timer1_.isActive(); }
    // An operation runs on the device thread.
    bool busy() const { return busy_; }
    // Read only while nothing runs.
    const ProgrammerState& programmer_state() const { return device_->state(); }

public slots:
    // Esc, the close box and «Выход»: the exit sequence; during an operation, asks first.
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    using Attempt = OperationAttempt;
    using Work = std::function<OperationOutcome(Programmer&, ProgressObserver&, const Attempt&)>;
    using Finish = std::function<void(const OperationOutcome&)>;

    void initialize();
    void refresh();
    void take_edits();
    void run_exit_sequence();
    void set_connection_line(const QString& text);
    void set_status(const QString& text);
    void report(const OperationOutcome& outcome);
    void message(const QString& text);
    bool ask(const QString& text);

    // Runs `work` on the device thread with `bar` following its progress; the phase text
    // is on the status line from the start. `finish` sees what was neither refused nor a
    // file failure.
    void run_operation(QProgressBar* bar, const QString& phase, const Work& work, const Finish& finish,
                       Attempt attempt = {});
    void operation_ended(const OperationOutcome& outcome, QProgressBar* bar, const QString& phase, const Work& work,
                         const Finish& finish, Attempt attempt);
    void set_busy(bool busy);
    void request_stop();
    void ask_then_stop_and_exit();
    void connect_done(bool connected, std::optional<ChipIdentity> identity);
    void select_model(const DeviceModel& model);
    void rescan_ports();
    void fill_port_list(const QStringList& ports);

    // The command table's handlers.
    void on_scan_tick();
    void on_port_chosen(int index);
    void on_speed_chosen(int index);
    void on_model_chosen(int index);
    void on_connect();
    void on_start_program();
    void on_erase(MemoryKind memory);
    void on_write(MemoryKind memory);
    void on_verify(MemoryKind memory);
    void on_read(MemoryKind memory);
    void on_browse(MemoryKind memory);
    void on_configure_loader();
    void on_help();
    void on_about();

    bool refuse_without_port();
    QString& path_of(MemoryKind memory) { return memory == MemoryKind::Flash ? flash_path_ : eeprom_path_; }
    QProgressBar* progress_of(MemoryKind memory) const;
    QString choose_save_file(MemoryKind memory);

    std::unique_ptr<Ui::CVelborDlg> ui_;
    Environment environment_;
    QMenuBar* menu_ = nullptr;
    QTimer timer1_;
    // What the device thread hands back runs here, on the window's thread.
    TaskRunner* window_tasks_;
    std::unique_ptr<DeviceThread> device_;
    bool port_open_ = false;
    bool exited_ = false;
    bool busy_ = false;
    bool exit_when_done_ = false;
    QWidget* focus_before_ = nullptr;
    // Zarvik.ini was there but could not be read: its defaults are not written back.
    bool settings_unreadable_ = false;

    // The bound texts: the members are the truth, the controls show them.
    QString status_text_;
    QString fosc_text_;
    QString timeout_text_;
    QString flash_path_;
    QString eeprom_path_;
    QString chosen_speed_text_;
    QString port_name_;
    bool speed_chosen_ = false;
    bool connected_ = false;
};

}  // namespace zarvik
