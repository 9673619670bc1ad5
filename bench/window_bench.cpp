// The window's start to its first paint, the CPU its 10 ms port scan costs while no
// port is present, and the cost of its listing that judges ports without opening them. Run under a display (xvfb-run) or with QT_QPA_PLATFORM=offscreen.
//   window_bench            both measurements
//   window_bench --once     one start, prints milliseconds to the first paint (used above)
//   window_bench --quick    the same, briefly
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "app/CVelborDlg.h"
#include "app/port_listing.h"
#include "serial/port_scan.h"

namespace {

std::int64_t process_start_ms;

std::int64_t now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class FirstPaint : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !seen_) {
            seen_ = true;
            std::printf("%lld\n", static_cast<long long>(now_ms() - process_start_ms));
            std::fflush(stdout);
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool seen_ = false;
};

// A folder like the one the program is started in: with its Help.txt, so that no
// missing-help warning stands between the start and the window.
void enter_program_folder(const QTemporaryDir& folder) {
    QDir::setCurrent(folder.path());
    QFile help(QDir(folder.path()).filePath(QStringLiteral("Help.txt")));
    help.open(QIODevice::WriteOnly);
    help.write("help\n");
}

int once(int argc, char** argv) {
    QApplication app(argc, argv);
    QTemporaryDir folder;
    enter_program_folder(folder);
    zarvik::CVelborDlg::Environment env;
    env.scan_ports = [] { return QStringList{}; };
    env.settings_folder = folder.path();
    zarvik::CVelborDlg dialog(env);
    FirstPaint watcher;
    dialog.installEventFilter(&watcher);
    dialog.show();
    return app.exec();
}

double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    process_start_ms = now_ms();
    if (argc > 1 && std::strcmp(argv[1], "--once") == 0) return once(argc, argv);
    // --quick (the test command's run): one start, a tenth of each measuring time.
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const int measure_ms = quick ? 1000 : 10000;

    // Start to first paint: fresh processes, the median of ten.
    std::vector<long long> starts;
    for (int i = 0; i < (quick ? 1 : 10); ++i) {
        // From the moment the process is started, loading of the program and Qt included.
        QProcess child;
        const auto t0 = now_ms();
        child.start(QString::fromLocal8Bit(argv[0]), {"--once"});
        child.waitForReadyRead(30000);
        starts.push_back(now_ms() - t0);
        child.waitForFinished(30000);
    }
    std::sort(starts.begin(), starts.end());
    std::printf("start to first paint: median %lld ms, min %lld ms, max %lld ms (goal under 300 ms)\n", starts[starts.size() / 2],
                starts.front(), starts.back());

    // The scan while no port is present: the system's port list is enumerated and four
    // missing ports are probed on every tick, for ten seconds of the event loop.
    QApplication app(argc, argv);
    QTemporaryDir folder;
    enter_program_folder(folder);
    zarvik::CVelborDlg::Environment env;
    int ticks = 0;
    env.scan_ports = [&ticks] {
        ++ticks;
        // What the window's own scan does, with the system's ports enumerated but left
        // unprobed (this machine's console is one) and four missing ports probed.
        (void)zarvik::system_serial_ports();
        QStringList found;
        for (const std::string& port :
             zarvik::scan_serial_ports({"/dev/ttyZARVIK0", "/dev/ttyZARVIK1", "ttyUSB-zarvik", "ttyACM-zarvik"}))
            found << QString::fromStdString(port);
        return found;
    };
    env.settings_folder = folder.path();
    zarvik::CVelborDlg dialog(env);
    dialog.show();
    QElapsedTimer wall;
    const double cpu0 = cpu_seconds();
    wall.start();
    QTimer::singleShot(measure_ms, &app, &QCoreApplication::quit);
    app.exec();
    const double cpu = cpu_seconds() - cpu0;
    const double seconds = static_cast<double>(wall.elapsed()) / 1000.0;
    std::printf("port scan with no port: %d ticks in %.1f s, %.2f %% of a core (goal under 1 %%), %.0f us a tick\n", ticks,
                seconds, 100.0 * cpu / seconds, 1e6 * cpu / std::max(ticks, 1));
    dialog.hide();

    // The window's own listing, which judges real ports without opening them: the
    // system's ports and four missing ones, as fast as it will go for two seconds.
    {
        QStringList candidates{"/dev/ttyZARVIK0", "/dev/ttyZARVIK1", "ttyUSB-zarvik", "ttyACM-zarvik"};
        for (const std::string& port : zarvik::system_serial_ports()) candidates << QString::fromStdString(port);
        QElapsedTimer listing;
        listing.start();
        const double listing_cpu0 = cpu_seconds();
        int calls = 0;
        QStringList usable;
        while (listing.elapsed() < measure_ms / 5) {
            usable = zarvik::list_usable_ports(candidates);
            ++calls;
        }
        const double listing_cpu = cpu_seconds() - listing_cpu0;
        std::printf("port listing without opening (%lld candidates, %lld usable): %d calls, %.0f us a call; "
                    "at one call per 10 ms tick, %.2f %% of a core\n",
                    static_cast<long long>(candidates.size()), static_cast<long long>(usable.size()), calls,
                    1e6 * listing_cpu / calls, 100.0 * (listing_cpu / calls) / 0.010);
    }

    // For reference: the same window idle with a 10 ms timer that does nothing at all.
    QStringList one{"ttyZARVIK-found"};
    zarvik::CVelborDlg::Environment idle_env;
    idle_env.scan_ports = [one] { return one; };
    idle_env.settings_folder = folder.path();
    zarvik::CVelborDlg idle(idle_env);
    idle.show();
    QTimer empty;
    int empty_ticks = 0;
    QObject::connect(&empty, &QTimer::timeout, [&empty_ticks] { ++empty_ticks; });
    empty.start(10);
    const double idle_cpu0 = cpu_seconds();
    wall.restart();
    QTimer::singleShot(measure_ms, &app, &QCoreApplication::quit);
    app.exec();
    const double idle_cpu = cpu_seconds() - idle_cpu0;
    const double idle_seconds = static_cast<double>(wall.elapsed()) / 1000.0;
    std::printf("reference, an empty 10 ms timer: %d ticks, %.2f %% of a core, %.0f us a tick\n", empty_ticks,
                100.0 * idle_cpu / idle_seconds, 1e6 * idle_cpu / std::max(empty_ticks, 1));
    return 0;
}
