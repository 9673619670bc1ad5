#include "app/CVelborApp.h"

#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QPushButton>

#include <memory>
#include <QScreen>
#include <QTimer>

#include "app/CVelborDlg.h"
#include "app/control_ids.h"
#include "app/dialog_support.h"
#include "app/port_listing.h"
#include "presenter/settings_location.h"
#include "serial/port_scan.h"
#include "zarvik_version.h"

namespace zarvik {

CVelborApp::CVelborApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Zarvik"));
    setApplicationVersion(QStringLiteral(ZARVIK_VERSION));
    install_qt_translation(*this);
}

namespace {

void choose(CVelborDlg& dialog, int id, const QString& item) {
    auto* list = qobject_cast<QComboBox*>(dialog.control(id));
    const int index = list->findText(item);
    if (index < 0) return;
    list->setCurrentIndex(index);
    emit list->activated(index);
}

// For the pictures of the window at work: port and speed chosen, connected, and an
// EEPROM erase under way when the picture is taken; then stopped and closed.
void take_busy_picture(CVelborDlg& dialog, const QString& port, const QString& path) {
    auto* steps = new QTimer(&dialog);
    auto step = std::make_shared<int>(0);
    auto started = std::make_shared<qint64>(0);
    QObject::connect(steps, &QTimer::timeout, &dialog, [&dialog, port, path, steps, step, started] {
        if (dialog.busy() && (*step < 2 || *step > 3)) return;
        switch (*step) {
            case 0:
                if (dialog.scanning()) return;
                choose(dialog, ids::kPortList, port);
                choose(dialog, ids::kSpeedList, QStringLiteral("115200"));
                qobject_cast<QPushButton*>(dialog.control(ids::kConnect))->click();
                break;
            case 1: qobject_cast<QPushButton*>(dialog.control(ids::kEepromErase))->click(); break;
            case 2: *started = QDateTime::currentMSecsSinceEpoch(); break;
            case 3:
                // Two blocks into the erase, with the bar moved.
                if (QDateTime::currentMSecsSinceEpoch() - *started < 2500) return;
                dialog.grab().save(path);
                dialog.stop_button()->click();
                break;
            default:
                steps->stop();
                dialog.reject();
                return;
        }
        ++*step;
    });
    steps->start(50);
}

}  // namespace

int CVelborApp::init_instance(const QStringList& extra_ports, const QString& screenshot, const QString& busy_screenshot,
                              const QStringList& files) {
    CVelborDlg::Environment environment;
    environment.scan_ports = [extra_ports] {
        std::vector<std::string> extra;
        for (const QString& port : extra_ports) extra.push_back(port.toStdString());
        QStringList candidates;
        for (const std::string& port : serial_port_candidates(extra)) candidates << QString::fromStdString(port);
        return list_usable_ports(candidates);
    };
    environment.describe_port = [](const QString& name) { return describe_port(name); };
    // The working folder, the program's or the per-user one: wherever a Zarvik.ini is.
    environment.settings_folder = QString::fromStdString(
        locate_settings_here(QCoreApplication::applicationFilePath().toStdString()).folder);
    CVelborDlg dialog(environment);
    dialog.give_files(files);
    QTimer shot;
    if (!busy_screenshot.isEmpty() && !extra_ports.isEmpty()) {
        take_busy_picture(dialog, extra_ports.first(), busy_screenshot);
    } else if (!screenshot.isEmpty()) {
        shot.setSingleShot(true);
        connect(&shot, &QTimer::timeout, &dialog, [&dialog, screenshot] {
            dialog.grab().save(screenshot);
            dialog.reject();
        });
        shot.start(500);
    }
    dialog.exec();
    return 0;
}

}  // namespace zarvik
