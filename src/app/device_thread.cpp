#include "app/device_thread.h"

namespace zarvik {

DeviceThread::DeviceThread() : state_(std::make_unique<ProgrammerState>()) {
    thread_.setObjectName(QStringLiteral("zarvik-device"));
    anchor_ = new QObject;
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
    QMetaObject::invokeMethod(anchor_, std::move(task), Qt::QueuedConnection);
}

void DeviceThread::call(const std::function<void()>& task) {
    QMetaObject::invokeMethod(anchor_, [&task] { task(); }, Qt::BlockingQueuedConnection);
}

void DeviceThread::forget_device() {
    const DeviceModel model = state_->model;
    programmer_.emplace(*state_, *port_, clock_);
    programmer_->set_cancellation(&cancel_);
    programmer_->set_model(model);
}

}  // namespace zarvik
