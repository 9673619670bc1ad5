#pragma once

#include <QDialog>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

#include "loader/clock.h"
#include "programmer/outcome.h"
#include "programmer/programmer.h"
#include "serial/serial_port.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QMenuBar;
class QProgressBar;

namespace Ui {
class CVelborDlg;
}

namespace zarvik {

// The programmer's main window: owns the port, the programmer state and the five texts
// it shows, and runs one handler per control from start to end.
class CVelborDlg : public QDialog {
    Q_OBJECT

public:
    struct Environment {
        // The port scan: the names of the ports that open now. Tests inject their own.
        std::function<QStringList()> scan_ports;
        // Where Zarvik.ini is kept; fixed at start-up.
        QString settings_folder;
    };

    explicit CVelborDlg(Environment environment, QWidget* parent = nullptr);
    ~CVelborDlg() override;

    QWidget* control(int id) const;
    QMenuBar* menu_bar() const { return menu_; }
    bool port_open() const { return port_.is_open(); }
    bool scanning() const { return timer1_.isActive(); }
    const ProgrammerState& programmer_state() const { return programmer_.state(); }

public slots:
    void reject() override;  // Esc, the close box and "Выход" all run the exit sequence

private:
    void initialize();
    void refresh();
    void take_edits();
    void run_exit_sequence();
    void set_connection_line(const QString& text);
    void report(const OperationOutcome& outcome);
    void message(const QString& text);

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
    // Runs a write, verify or read with the memory's progress bar, its phase texts and
    // the wait cursor; a file that cannot be used is a message box, the rest a status.
    void run_with_file(MemoryKind memory, const std::function<OperationOutcome(ProgressObserver&)>& operation);

    std::unique_ptr<Ui::CVelborDlg> ui_;
    Environment environment_;
    QMenuBar* menu_ = nullptr;
    QTimer timer1_;
    SteadyClock clock_;
    SerialPort port_;
    std::unique_ptr<ProgrammerState> state_;
    Programmer programmer_;
    bool exited_ = false;

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
