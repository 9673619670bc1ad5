#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace zarvik {

// One thread that runs the tasks posted to it, in order. The port and the programmer
// are touched only from its tasks, so an exchange is never interleaved with another.
class DeviceWorker {
public:
    DeviceWorker();
    // Lets the task under way end, drops those still queued, and joins the thread.
    ~DeviceWorker();
    DeviceWorker(const DeviceWorker&) = delete;
    DeviceWorker& operator=(const DeviceWorker&) = delete;

    // Runs `task` after the tasks posted before it.
    void post(std::function<void()> task);
    // Runs `task` there and waits for it: only for short work while nothing else runs,
    // or to wait until what was posted before it has ended.
    void call(const std::function<void()>& task);

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace zarvik
