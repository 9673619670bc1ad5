#include "app/device_thread.h"

#include <QCoreApplication>
#include <QEvent>
#include <QSemaphore>

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

DeviceThread::DeviceThread() : state_(std::make_unique<ProgrammerState>()) {
    thread_.setObjectName(QStringLiteral("zarvik-device"));
    anchor_ = new TaskRunner;
    anchor_->moveToThread(&thread_);
    thread_.start();
    call([this] {
        port_ = std::make_unique<SerialPort>(clock_);
        port_->set_cancellation(&cancel_);
        forget_device();
    });
}

DeviceThread::~DeviceThread() {
    call([this] {
        programmer_.reset();
        port_.reset();  // puts back the line settings of a port still open
    });
    thread_.quit();
    thread_.wait();
    delete anchor_;
}

void DeviceThread::post(std::function<void()> task) {
    anchor_->post(std::move(task));
}

void DeviceThread::call(const std::function<void()>& task) {
    QSemaphore done;
    post([&task, &done] {
        task();
        done.release();
    });
    done.acquire();
}

void DeviceThread::forget_device() {
    const DeviceModel model = state_->model;
    programmer_.emplace(*state_, *port_, clock_);
    programmer_->set_cancellation(&cancel_);
    programmer_->set_model(model);
}

}  // namespace zarvik
