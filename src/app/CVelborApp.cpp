#include "app/CVelborApp.h"

#include <QDir>
#include <QScreen>
#include <QTimer>

#include "app/CVelborDlg.h"
#include "app/dialog_support.h"
#include "app/port_listing.h"
#include "serial/port_scan.h"

namespace zarvik {

CVelborApp::CVelborApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Zarvik"));
    setApplicationVersion(QStringLiteral("1.0"));
    install_qt_translation(*this);
}

int CVelborApp::init_instance(const QStringList& extra_ports, const QString& screenshot) {
    CVelborDlg::Environment environment;
    environment.scan_ports = [extra_ports] { return list_usable_ports(serial_port_candidates(extra_ports)); };
    environment.describe_port = [](const QString& name) { return describe_port(name); };
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
