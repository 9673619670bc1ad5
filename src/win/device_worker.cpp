#include "win/device_worker.h"

#include <future>

namespace zarvik::win {

DeviceWorker::DeviceWorker()
    : port_(std::make_unique<SerialPort>(clock_)),
      state_(std::make_unique<ProgrammerState>()),
      thread_([this] { run(); }) {
    call([this] {
        port_->set_cancellation(&cancel_);
        forget_device();
    });
}

DeviceWorker::~DeviceWorker() {
    call([this] {
        programmer_.reset();
        port_.reset();  // puts back the line settings of a port still open
    });
    {
        const std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void DeviceWorker::post(std::function<void()> task) {
    {
        const std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

void DeviceWorker::call(const std::function<void()>& task) {
    std::promise<void> done;
    post([&task, &done] {
        task();
        done.set_value();
    });
    done.get_future().wait();
}

void DeviceWorker::forget_device() {
    const DeviceModel model = state_->model;
    programmer_.emplace(*state_, *port_, clock_);
    programmer_->set_cancellation(&cancel_);
    programmer_->set_model(model);
}

void DeviceWorker::run() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return quit_ || !tasks_.empty(); });
            if (tasks_.empty()) return;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
}

}  // namespace zarvik::win
