#include "presenter/device_worker.h"

namespace zarvik {

DeviceWorker::DeviceWorker() : thread_([this] { run(); }) {}

DeviceWorker::~DeviceWorker() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        tasks_.clear();
    }
    wake_.notify_all();
    thread_.join();
}

void DeviceWorker::post(std::function<void()> task) {
    {
        const std::lock_guard lock(mutex_);
        if (stopping_) return;
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

void DeviceWorker::call(const std::function<void()>& task) {
    std::mutex done_mutex;
    std::condition_variable done_signal;
    bool done = false;
    post([&] {
        task();
        const std::lock_guard lock(done_mutex);
        done = true;
        done_signal.notify_one();
    });
    std::unique_lock lock(done_mutex);
    done_signal.wait(lock, [&] { return done; });
}

void DeviceWorker::run() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
            if (stopping_) return;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
}

}  // namespace zarvik
