#include "app/task_runner.h"

#include <QCoreApplication>
#include <QEvent>

namespace zarvik {
namespace {

// A task travels as an event, and Qt's event queue keeps the order.
const QEvent::Type kTaskEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class TaskEvent final : public QEvent {
public:
    explicit TaskEvent(std::function<void()> task) : QEvent(kTaskEvent), task_(std::move(task)) {}
    void run() const { task_(); }

private:
    std::function<void()> task_;
};

}  // namespace

void TaskRunner::post(std::function<void()> task) { QCoreApplication::postEvent(this, new TaskEvent(std::move(task))); }

bool TaskRunner::event(QEvent* event) {
    if (event->type() != kTaskEvent) return QObject::event(event);
    static_cast<TaskEvent*>(event)->run();
    return true;
}

}  // namespace zarvik
