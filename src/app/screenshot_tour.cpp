#include "app/screenshot_tour.h"

#include <QComboBox>
#include <QDateTime>
#include <QPushButton>
#include <QTimer>

#include <memory>

#include "app/CVelborDlg.h"
#include "presenter/control_ids.h"

namespace zarvik {
namespace {

void choose(CVelborDlg& dialog, int id, const QString& item) {
    auto* list = qobject_cast<QComboBox*>(dialog.control(id));
    const int index = list->findText(item);
    if (index < 0) return;
    list->setCurrentIndex(index);
    emit list->activated(index);
}

void press(CVelborDlg& dialog, int id) { qobject_cast<QPushButton*>(dialog.control(id))->click(); }

}  // namespace

void take_idle_picture(CVelborDlg& dialog, const QString& path) {
    // Owned by the window, as the busy tour's timer is.
    auto* shot = new QTimer(&dialog);
    shot->setSingleShot(true);
    QObject::connect(shot, &QTimer::timeout, &dialog, [&dialog, path] {
        dialog.grab().save(path);
        dialog.reject();
    });
    shot->start(500);
}

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
                press(dialog, ids::kConnect);
                break;
            case 1: press(dialog, ids::kEepromErase); break;
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

}  // namespace zarvik
