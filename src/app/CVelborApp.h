#pragma once

#include <QApplication>
#include <QStringList>

namespace zarvik {

// The application: runs the main window modally; the program ends with it.
class CVelborApp : public QApplication {
    Q_OBJECT

public:
    CVelborApp(int& argc, char** argv);

    // Runs the main window until it ends. `extra_ports` joins the port scan (a simulated
    // board's virtual port); `screenshot` saves the window as a PNG and ends instead.
    int init_instance(const QStringList& extra_ports, const QString& screenshot = {});
};

}  // namespace zarvik
