#include "app/CVelborApp.h"

#include <QDir>
#include <QScreen>
#include <QTimer>

#include "app/CVelborDlg.h"
#include "serial/port_scan.h"
#include "zarvik_version.h"

namespace zarvik {

CVelborApp::CVelborApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Zarvik"));
    setApplicationVersion(QStringLiteral(ZARVIK_VERSION));
}

int CVelborApp::init_instance(const QStringList& extra_ports, const QString& screenshot) {
    CVelborDlg::Environment environment;
    environment.scan_ports = [extra_ports] {
        std::vector<std::string> extra;
        for (const QString& port : extra_ports) extra.push_back(port.toStdString());
        QStringList found;
        for (const std::string& port : scan_serial_ports(serial_port_candidates(extra))) found << QString::fromStdString(port);
        return found;
    };
    environment.settings_folder = QDir::currentPath();
    CVelborDlg dialog(std::move(environment));
    QTimer shot;
    if (!screenshot.isEmpty()) {
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
