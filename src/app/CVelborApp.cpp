// Twin in the Win32 window: src/win/main_win.cpp.
#include "app/CVelborApp.h"

#include <QDir>

#include "app/CVelborDlg.h"
#include "app/dialog_support.h"
#include "app/port_listing.h"
#include "app/screenshot_tour.h"
#include "presenter/settings_location.h"
#include "serial/port_scan.h"
#include "zarvik_version.h"

namespace zarvik {

CVelborApp::CVelborApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Zarvik"));
    setApplicationVersion(QStringLiteral(ZARVIK_VERSION));
    install_qt_translation(*this);
}

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
    if (!busy_screenshot.isEmpty() && !extra_ports.isEmpty()) {
        take_busy_picture(dialog, extra_ports.first(), busy_screenshot);
    } else if (!screenshot.isEmpty()) {
        take_idle_picture(dialog, screenshot);
    }
    dialog.exec();
    return 0;
}

}  // namespace zarvik
